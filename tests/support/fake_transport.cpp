#include "fake_transport.h"

#include <algorithm>

namespace quorvane::testing {

bool FakeTransport::Send(uint32_t address, std::span<const uint8_t> datagram) {
    if (failSendsFrom >= 0 && sends >= failSendsFrom) return false;
    ++sends;
    if (keepSent) sent.push_back({address, {datagram.begin(), datagram.end()}, virtualMillis});
    if (responder) responder(datagram, *this);
    return true;
}

int FakeTransport::Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) {
    if (wait.count() > 0) ++receives;
    const int64_t until = virtualMillis + wait.count();
    if (pending_.empty() || pending_.front().arrival > until) {
        virtualMillis = until;
        return RECEIVE_NOTHING;
    }
    Pending next = std::move(pending_.front());
    pending_.pop_front();
    virtualMillis = std::max(virtualMillis, next.arrival);
    return Deliver(next, sender, buffer);
}

int FakeTransport::Deliver(Pending& next, uint32_t& sender, std::span<uint8_t> buffer) {
    if (!next.isDatagram) {
        if (next.result < 0) virtualMillis += waitMillis;
        return next.result;
    }
    if (next.bytes.empty()) return 0;
    if (next.bytes.size() > buffer.size()) return RECEIVE_OVERSIZED;
    std::copy(next.bytes.begin(), next.bytes.end(), buffer.begin());
    sender = next.sender;
    return static_cast<int>(next.bytes.size());
}

void FakeTransport::QueueReply(std::vector<uint8_t> bytes, uint32_t sender, int64_t afterMillis) {
    Pending item{0, true, std::move(bytes), sender, virtualMillis + afterMillis};
    // Behind everything that arrives no later, so equal times keep queue order.
    const auto at = std::upper_bound(pending_.begin(), pending_.end(), item.arrival,
                                     [](int64_t arrival, const Pending& p) { return arrival < p.arrival; });
    pending_.insert(at, std::move(item));
}

void FakeTransport::QueueResult(int result) {
    pending_.push_back({result, false, {}, 0, virtualMillis});
}

std::vector<uint8_t> MakePacket(uint8_t opcode, uint32_t magic, const MacAddress& mac,
                                std::span<const uint8_t> payload) {
    std::vector<uint8_t> bytes(HEADER_SIZE + payload.size());
    bytes.resize(BuildPacket(bytes, opcode, magic, mac, payload));
    return bytes;
}

std::vector<uint8_t> MakeReply(uint8_t opcode, const MacAddress& mac, std::span<const uint8_t> payload) {
    return MakePacket(opcode, REPLY_MAGIC, mac, payload);
}

std::vector<uint8_t> MakeReplyWords(uint8_t opcode, const MacAddress& mac,
                                    std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> payload(words.size() * 2);
    std::size_t offset = 0;
    for (uint16_t word : words) {
        WriteU16(payload, offset, word);
        offset += 2;
    }
    return MakeReply(opcode, mac, payload);
}

}  // namespace quorvane::testing
