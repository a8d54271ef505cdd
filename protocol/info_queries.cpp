#include "protocol/info_queries.h"

#include <algorithm>
#include <unordered_map>

#include "protocol/exchange.h"
#include "protocol/info_reply.h"

namespace quorvane {

namespace {

using std::chrono::milliseconds;

constexpr int WAITING_READ_LIMIT = 65536;

uint64_t MacKey(std::span<const uint8_t> mac) {
    uint64_t key = 0;
    for (uint8_t byte : mac) key = (key << 8) | byte;
    return key;
}

class InfoQueries {
public:
    InfoQueries(Transport& link, std::span<DeviceRecord* const> records, std::size_t outstanding)
        : link_(link),
          records_(records),
          outstanding_(std::max<std::size_t>(outstanding, 1)),
          answered_(records.size(), false) {}

    std::vector<bool> Run() {
        while (next_ < records_.size() || !open_.empty()) {
            // Whatever arrived while requests were being sent is dispatched
            // before any attempt is judged late or sent again.
            ReadWaiting();
            RetryLate();
            StartMore();
            AwaitEarliestDeadline();
        }
        // A second device with the last answered MAC may have answered in
        // the same instant; its reply is waiting already.
        ReadWaiting();
        return answered_;
    }

private:
    struct Attempt {
        std::size_t record = 0;
        int sends = 0;
        milliseconds deadline{0};
    };

    // What the reply that ended a device's query told, to hold later
    // replies for the same MAC against.
    struct Answer {
        std::size_t record = 0;
        std::vector<uint8_t> payload;
    };

    void ReadWaiting() {
        // Bounded, so that a flood cannot hold the sending back for ever.
        for (int read = 0; read < WAITING_READ_LIMIT; ++read) {
            uint32_t sender = 0;
            const int received = link_.Receive(sender, buffer_, milliseconds(0));
            if (received == RECEIVE_NOTHING) return;
            if (received > 0) Dispatch(received, sender);
        }
    }

    void AwaitEarliestDeadline() {
        if (open_.empty()) return;
        milliseconds earliest = milliseconds::max();
        for (const auto& [key, attempt] : open_) earliest = std::min(earliest, attempt.deadline);
        for (;;) {
            const auto now = link_.Now();
            if (now >= earliest) return;
            uint32_t sender = 0;
            const int received = link_.Receive(sender, buffer_, earliest - now);
            if (received == RECEIVE_NOTHING) return;
            // A finished query frees a place for the next device at once.
            if (received > 0 && Dispatch(received, sender)) return;
        }
    }

    // True when the datagram ended a device's query.
    bool Dispatch(int received, uint32_t sender) {
        if (static_cast<std::size_t>(received) > buffer_.size()) return false;
        const auto bytes = std::span<const uint8_t>(buffer_).first(static_cast<std::size_t>(received));
        if (!MatchReply(bytes, nullptr, OP_INFO_REPLY)) return false;
        const detail::Reply reply{bytes, sender};
        const uint64_t key = MacKey(bytes.subspan(OFFSET_MAC, 6));
        const auto found = open_.find(key);
        if (found == open_.end()) {
            // Late, duplicated, or from a second device with that MAC.
            if (const auto earlier = answers_.find(key); earlier != answers_.end())
                CompareLater(earlier->second, reply);
            return false;
        }
        const std::size_t index = found->second.record;
        if (!detail::StoreInformationReply(*records_[index], reply)) {
            found->second.deadline = link_.Now();  // that attempt failed; the request goes again
            return false;
        }
        const auto payload = detail::InformationPayload(reply);
        answers_.insert_or_assign(key, Answer{index, {payload.begin(), payload.end()}});
        answered_[index] = true;
        open_.erase(found);
        return true;
    }

    // A duplicated datagram repeats the first reply from its address; a
    // reply from another address, or one that tells something else, comes
    // from another device answering to the same MAC.
    void CompareLater(const Answer& answer, const detail::Reply& reply) {
        if (reply.bytes.size() < OFFSET_PAYLOAD) return;  // tells nothing either way
        const auto payload = detail::InformationPayload(reply);
        DeviceRecord& record = *records_[answer.record];
        if (reply.sender != record.ipAddress) {
            record.sharedMac = SharedMac::TwoAddresses;
            record.otherAddress = reply.sender;
        } else if (!std::equal(payload.begin(), payload.end(), answer.payload.begin(),
                               answer.payload.end()) &&
                   record.sharedMac == SharedMac::No) {
            record.sharedMac = SharedMac::TwoBlocks;  // two addresses, when known, say more
        }
    }

    void RetryLate() {
        const auto now = link_.Now();
        for (auto it = open_.begin(); it != open_.end();) {
            Attempt& attempt = it->second;
            const bool late = attempt.deadline <= now;
            if (late && (attempt.sends >= MAX_SENDS || !Send(attempt))) {
                it = open_.erase(it);
            } else {
                ++it;
            }
        }
    }

    void StartMore() {
        while (open_.size() < outstanding_ && next_ < records_.size()) {
            // Every device would take a request to such a MAC, and none
            // could answer it as that MAC: it is not asked.
            if (!NamesOneDevice(records_[next_]->mac)) {
                ++next_;
                continue;
            }
            const uint64_t key = MacKey(records_[next_]->mac);
            // The same MAC twice: replies could not be told apart, so the
            // second waits until the first has ended.
            if (open_.count(key) != 0) return;
            Attempt attempt{next_++, 0, {}};
            if (Send(attempt)) open_.emplace(key, attempt);
        }
    }

    bool Send(Attempt& attempt) {
        const detail::RequestBuffer request(OP_GET_INFO, records_[attempt.record]->mac);
        if (!link_.Send(LIMITED_BROADCAST, request.Datagram())) return false;
        ++attempt.sends;
        attempt.deadline = link_.Now() + link_.ReceiveWait();
        return true;
    }

    Transport& link_;
    std::span<DeviceRecord* const> records_;
    std::size_t outstanding_;
    std::vector<bool> answered_;
    std::size_t next_ = 0;
    std::unordered_map<uint64_t, Attempt> open_;
    std::unordered_map<uint64_t, Answer> answers_;  // by MAC, for every device that answered
    detail::ReplyBuffer buffer_{};
};

}  // namespace

std::vector<bool> QueryInfoAll(Transport& link, std::span<DeviceRecord* const> records,
                               std::size_t outstanding) {
    return InfoQueries(link, records, outstanding).Run();
}

std::vector<FoundDevice> DiscoverAndQueryAll(DeviceProtocol& protocol) {
    if (!protocol.Discover(0xFFFF, 0xFFFF)) return {};
    const std::vector<DeviceRecord*> records = protocol.Chain().Records();
    const std::vector<bool> answered = QueryInfoAll(protocol.Link(), records);
    std::vector<FoundDevice> found;
    found.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) found.push_back({records[i], answered[i]});
    return found;
}

}  // namespace quorvane
