#pragma once
// Building blocks shared by the exchanges: the request buffer, the wait for
// one matching reply, and the retry rule.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

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

// Sends `request` up to MAX_SENDS times. Each attempt lasts at most one
// receive wait from its send; every matching reply within it is handed to
// `accept` until one is accepted. A send the platform refuses ends the
// exchange. `stats`, when given, counts the sends and how they were answered.
template <typename Accept>
bool Exchange(Transport& link, std::span<const uint8_t> request, const MacAddress& mac, uint8_t replyOpcode,
              Accept&& accept, ExchangeStats* stats = nullptr) {
    if (request.empty()) return false;
    ExchangeStats ignored;
    ExchangeStats& counts = stats != nullptr ? *stats : ignored;
    ReplyBuffer buffer;
    for (int send = 0; send < MAX_SENDS; ++send) {
        DropWaiting(link, buffer);
        // Taken before the send: on a near network the reply can be back
        // before the send call returns.
        const auto sentAt = link.FineNow();
        if (!link.Send(LIMITED_BROADCAST, request)) return false;
        ++counts.sends;
        if (send > 0) ++counts.resends;
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
        }
        ++counts.timeouts;
    }
    return false;
}

}  // namespace quorvane::detail
