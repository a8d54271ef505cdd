#include "protocol/discovery.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <vector>

#include "protocol/exchange.h"

namespace quorvane {

namespace {

using detail::Reply;

constexpr std::size_t DISCOVERY_REPLY_SIZE = OFFSET_PAYLOAD + 4;

uint64_t MacKey(const MacAddress& mac) {
    uint64_t key = 0;
    for (uint8_t byte : mac) key = (key << 8) | byte;
    return key;
}

// The devices of one pass, one entry per MAC, each stamped with the
// sequence number of its newest reply.
class FoundDevices {
public:
    explicit FoundDevices(std::size_t limit) : limit_(limit) {}

    // True when the reply names a device not seen before in this pass.
    bool Add(const MacAddress& mac, const Reply& reply) {
        Entry entry;
        entry.mac = mac;
        entry.word1 = ReadU16(reply.bytes, OFFSET_PAYLOAD);
        entry.word2 = ReadU16(reply.bytes, OFFSET_PAYLOAD + 2);
        entry.address = reply.sender;
        entry.newest = ++sequence_;
        const auto [at, isNew] = index_.try_emplace(MacKey(entry.mac), entries_.size());
        if (!isNew) {
            Replace(entries_[at->second], entry);
            return false;
        }
        if (entries_.size() >= limit_) {
            index_.erase(at);  // the pass is full; later devices are not kept
            return false;
        }
        entries_.push_back(entry);
        return true;
    }

    std::size_t Size() const { return entries_.size(); }

    // Pushes oldest first, so the chain's head is the newest reply.
    void FillChain(DeviceChain& chain) const {
        std::vector<std::size_t> order(entries_.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return entries_[a].newest < entries_[b].newest; });
        for (std::size_t i : order) {
            const Entry& entry = entries_[i];
            DeviceRecord& record = chain.Push();
            record.discoveryWord1 = entry.word1;
            record.discoveryWord2 = entry.word2;
            record.mac = entry.mac;
            record.ipAddress = entry.address;
            record.sharedMac = entry.shared;
            record.otherAddress = entry.otherAddress;
        }
    }

private:
    struct Entry {
        MacAddress mac{};
        uint16_t word1 = 0;
        uint16_t word2 = 0;
        uint32_t address = 0;
        uint64_t newest = 0;
        SharedMac shared = SharedMac::No;
        uint32_t otherAddress = 0;
    };

    // The newest reply's words and address count. One device answers from
    // one address, so a second address means a second device with this MAC.
    static void Replace(Entry& known, const Entry& newer) {
        Entry merged = newer;
        merged.shared = known.shared;
        merged.otherAddress = known.otherAddress;
        if (known.address != newer.address) {
            merged.shared = SharedMac::TwoAddresses;
            merged.otherAddress = known.address;
        }
        known = merged;
    }

    std::size_t limit_;
    uint64_t sequence_ = 0;
    std::vector<Entry> entries_;
    std::unordered_map<uint64_t, std::size_t> index_;
};

struct RoundResult {
    bool sent = false;
    bool overflowed = false;
    std::size_t newDevices = 0;
};

void NoteIgnored(const MacAddress& mac, DiscoveryReport& report) {
    ++report.ignoredReplies;
    auto& macs = report.ignoredMacs;
    if (std::find(macs.begin(), macs.end(), mac) != macs.end()) return;
    if (macs.size() < DISCOVERY_IGNORED_MACS_KEPT)
        macs.push_back(mac);
    else
        report.moreIgnoredMacs = true;
}

RoundResult RunRound(Transport& link, std::span<const uint8_t> request, FoundDevices& found,
                     DiscoveryReport& report) {
    RoundResult result;
    detail::ReplyBuffer buffer;
    detail::DropWaiting(link, buffer);
    const uint64_t droppedBefore = link.DroppedDatagrams();
    if (!link.Send(LIMITED_BROADCAST, request)) return result;
    result.sent = true;
    const auto wait = link.ReceiveWait();
    const auto end = link.Now() + DISCOVERY_PASS_WAITS * wait;
    auto quietUntil = link.Now() + wait;
    while (const auto reply =
               detail::AwaitReply(link, nullptr, OP_DISCOVER_REPLY, buffer, std::min(quietUntil, end))) {
        if (reply->bytes.size() < DISCOVERY_REPLY_SIZE) continue;  // too short to describe a device
        MacAddress mac{};
        std::copy_n(reply->bytes.begin() + OFFSET_MAC, mac.size(), mac.begin());
        if (!NamesOneDevice(mac)) {
            NoteIgnored(mac, report);
            continue;
        }
        if (found.Add(mac, *reply)) ++result.newDevices;
        quietUntil = link.Now() + wait;
    }
    result.overflowed = link.DroppedDatagrams() != droppedBefore;
    return result;
}

bool AnotherRound(const DiscoverySettings& settings, int roundsDone, const RoundResult& last) {
    if (!last.sent) return false;
    if (last.overflowed && roundsDone < DISCOVERY_OVERFLOW_ROUNDS) return true;
    return roundsDone < settings.rounds && last.newDevices > 0;
}

}  // namespace

bool DiscoverDevices(Transport& link, DeviceChain& chain, uint16_t first, uint16_t second,
                     const DiscoverySettings& settings, DiscoveryReport& report) {
    chain.Clear();
    report = {};
    uint8_t words[4];
    WriteU16(words, 0, first);
    WriteU16(words, 2, second);
    const detail::RequestBuffer request(OP_DISCOVER, BROADCAST_MAC, words);
    FoundDevices found(DISCOVERY_MAX_DEVICES);
    RoundResult round;
    do {
        round = RunRound(link, request.Datagram(), found, report);
        if (!round.sent) break;
        ++report.rounds;
        if (round.overflowed) ++report.overflowedRounds;
    } while (AnotherRound(settings, report.rounds, round));
    found.FillChain(chain);
    report.devices = found.Size();
    return found.Size() > 0;
}

}  // namespace quorvane
