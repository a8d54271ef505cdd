#pragma once
// Building blocks shared by the exchanges: the request buffer, the wait for
// one matching reply, and the retry rule.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/packet.h"
#include "protocol/transport.h"

namespace quorvane::detail {

// A request laid out in the fixed send buffer: header written, payload
// fields filled by the caller from OFFSET_PAYLOAD on.
class RequestBuffer {
public:
    RequestBuffer(uint8_t opcode, const MacAddress& mac, uint16_t payloadLength);

    std::span<uint8_t> Bytes() { return bytes_; }
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

// Receives until a packet matches (`mac` null: any MAC) or a receive reports
// that nothing came within its wait. Empty receives and foreign packets keep
// the wait going.
std::optional<Reply> AwaitReply(Transport& link, const MacAddress* mac, uint8_t expectedOpcode,
                                std::span<uint8_t> buffer);

// Sends `request` up to MAX_SENDS times. Each attempt waits once; the first
// matching reply is handed to `accept`, whose verdict decides the attempt,
// so a wrong echo fails the attempt at once rather than waiting for a better
// packet. A send the platform refuses ends the exchange.
template <typename Accept>
bool Exchange(Transport& link, std::span<const uint8_t> request, const MacAddress& mac, uint8_t replyOpcode,
              Accept&& accept) {
    ReplyBuffer buffer;
    for (int send = 0; send < MAX_SENDS; ++send) {
        if (!link.Send(LIMITED_BROADCAST, request)) return false;
        const auto reply = AwaitReply(link, &mac, replyOpcode, buffer);
        if (reply && accept(*reply)) return true;
    }
    return false;
}

}  // namespace quorvane::detail
