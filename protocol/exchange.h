#pragma once
// Building blocks shared by the exchanges: the request buffer, the wait for
// one matching reply, and the retry rule.

#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/exchange_failure.h"
#include "protocol/exchange_stats.h"
#include "protocol/packet.h"
#include "protocol/transport.h"

namespace quorvane::detail {

// A request laid out in the fixed send buffer: the header, then the payload
// parts. A request that would not fit is left empty and never sent.
class RequestBuffer {
public:
    RequestBuffer(uint8_t opcode, const MacAddress& mac, std::span<const uint8_t> payload = {},
                  std::span<const uint8_t> more = {});

    std::span<const uint8_t> Datagram() const { return std::span<const uint8_t>(bytes_).first(length_); }

private:
    std::array<uint8_t, REQUEST_CAPACITY> bytes_{};
    std::size_t length_ = 0;
};

using ReplyBuffer = std::array<uint8_t, REPLY_CAPACITY>;

struct Reply {
    std::span<const uint8_t> bytes;  // exactly the bytes received, never more
    uint32_t sender = 0;             // host order
};

// Reads and drops every datagram already waiting. Called before a request is
// sent: whatever was received before it cannot be its reply, and a late echo
// of an earlier attempt must not decide the next one.
void DropWaiting(Transport& link, std::span<uint8_t> buffer);

// Receives until a packet matches (`mac` null: any MAC) or `deadline` (on the
// transport's clock) has passed. Empty receives, oversized datagrams and
// foreign packets are skipped, but none of them moves the deadline.
std::optional<Reply> AwaitReply(Transport& link, const MacAddress* mac, uint8_t expectedOpcode,
                                std::span<uint8_t> buffer, std::chrono::milliseconds deadline);

// What an exchange is counted into and told to: all optional.
struct ExchangeWatch {
    ExchangeStats* stats = nullptr;      // the sends and how they were answered
    ExchangeFailure* failure = nullptr;  // why it failed; left alone on success
    SendListener* listener = nullptr;    // every send as it goes out
};

// The opcode a request datagram carries.
uint8_t RequestOpcode(std::span<const uint8_t> request);
// Notes why the exchange failed in `watch.failure`; always false, for the caller to return.
bool ExchangeFailed(const ExchangeWatch& watch, ExchangeFailure failure);

// Sends `request` up to `sends` times (MAX_SENDS). Each attempt lasts at most one
// receive wait from its send; every matching reply within it is handed to
// `accept` until one is accepted. A send the platform refuses ends the
// exchange. `watch` counts the sends and how they were answered, and
// hears why the exchange failed.
template <typename Accept>
bool Exchange(Transport& link, std::span<const uint8_t> request, const MacAddress& mac, uint8_t replyOpcode,
              Accept&& accept, const ExchangeWatch& watch = {}, int sends = MAX_SENDS) {
    // Starts from the caller's note (the value to echo); an empty request
    // carries no opcode, so the note's stays.
    ExchangeFailure failure = watch.failure != nullptr ? *watch.failure : ExchangeFailure{};
    if (!request.empty()) failure.opcode = RequestOpcode(request);
    if (request.empty()) {
        failure.fault = ExchangeFault::TooLarge;
        return ExchangeFailed(watch, failure);
    }
    ExchangeStats ignored;
    ExchangeStats& counts = watch.stats != nullptr ? *watch.stats : ignored;
    ReplyBuffer buffer;
    for (int send = 0; send < sends; ++send) {
        DropWaiting(link, buffer);
        // Taken before the send: on a near network the reply can be back
        // before the send call returns.
        const auto sentAt = link.FineNow();
        errno = 0;
        if (!link.Send(LIMITED_BROADCAST, request)) {
            failure.fault = ExchangeFault::NotSent;
            failure.systemError = errno;
            return ExchangeFailed(watch, failure);
        }
        ++counts.sends;
        ++failure.sends;
        if (send > 0) ++counts.resends;
        if (watch.listener != nullptr) watch.listener->OnSend(failure.opcode, send + 1, sends);
        const auto deadline = link.Now() + link.ReceiveWait();
        while (const auto reply = AwaitReply(link, &mac, replyOpcode, buffer, deadline)) {
            if (accept(*reply)) {
                counts.AddRoundTrip(link.FineNow() - sentAt);
                return true;
            }
            // A reply that does not answer this request (the echo of the
            // previous block, a read of another length) is a late or
            // duplicated answer to an earlier one: it must not end this
            // attempt, or a device that answers twice would use up all
            // sends in a burst of its own old replies.
            ++counts.badEchoes;
            ++failure.wrongReplies;
        }
        ++counts.timeouts;
    }
    failure.fault = failure.wrongReplies > 0 ? ExchangeFault::WrongReply : ExchangeFault::NoAnswer;
    return ExchangeFailed(watch, failure);
}

}  // namespace quorvane::detail
