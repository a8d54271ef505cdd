#include "protocol/exchange.h"

namespace quorvane::detail {

namespace {

// More than a socket buffer of several MiB holds in small datagrams; a flood
// that outruns the reading cannot hold a request back for ever.
constexpr int DROP_LIMIT = 65536;

}  // namespace

RequestBuffer::RequestBuffer(uint8_t opcode, const MacAddress& mac, std::span<const uint8_t> payload,
                             std::span<const uint8_t> more)
    : length_(BuildPacket(bytes_, opcode, REQUEST_MAGIC, mac, payload, more)) {}

void DropWaiting(Transport& link, std::span<uint8_t> buffer) {
    link.DropEarlierDatagrams(buffer, DROP_LIMIT);
}

std::optional<Reply> AwaitReply(Transport& link, const MacAddress* mac, uint8_t expectedOpcode,
                                std::span<uint8_t> buffer, std::chrono::milliseconds deadline) {
    for (;;) {
        const auto now = link.Now();
        if (now >= deadline) return std::nullopt;
        uint32_t sender = 0;
        const int received = link.Receive(sender, buffer, deadline - now);
        if (received == RECEIVE_NOTHING) return std::nullopt;
        if (received <= 0) continue;  // empty, or too long to be any reply
        if (static_cast<std::size_t>(received) > buffer.size())
            return std::nullopt;  // a transport out of contract
        const auto bytes = buffer.first(static_cast<std::size_t>(received));
        if (MatchReply(bytes, mac, expectedOpcode)) return Reply{bytes, sender};
    }
}

uint8_t RequestOpcode(std::span<const uint8_t> request) {
    return request.size() > OFFSET_OPCODE ? request[OFFSET_OPCODE] : 0;
}

bool ExchangeFailed(const ExchangeWatch& watch, ExchangeFailure failure) {
    if (watch.failure != nullptr) *watch.failure = failure;
    return false;
}

}  // namespace quorvane::detail
