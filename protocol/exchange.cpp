#include "protocol/exchange.h"

#include <algorithm>

namespace quorvane::detail {

RequestBuffer::RequestBuffer(uint8_t opcode, const MacAddress& mac, uint16_t payloadLength)
    // Callers keep their payloads within the buffer; the clamp only keeps a
    // mistake from turning into a read past it.
    : length_(std::min<std::size_t>(HEADER_SIZE + payloadLength, REQUEST_CAPACITY)) {
    PacketHeader header;
    header.opcode = opcode;
    header.magic = REQUEST_MAGIC;
    header.mac = mac;
    header.payloadLength = payloadLength;
    header.Encode(bytes_);
}

std::optional<Reply> AwaitReply(Transport& link, const MacAddress* mac, uint8_t expectedOpcode,
                                std::span<uint8_t> buffer) {
    for (;;) {
        uint32_t sender = 0;
        const int received = link.Receive(sender, buffer);
        if (received < 0) return std::nullopt;
        if (received == 0) continue;
        if (static_cast<std::size_t>(received) > buffer.size())
            return std::nullopt;  // a transport out of contract
        const auto bytes = buffer.first(static_cast<std::size_t>(received));
        if (MatchReply(bytes, mac, expectedOpcode)) return Reply{bytes, sender};
    }
}

}  // namespace quorvane::detail
