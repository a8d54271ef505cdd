#include "fake_transport.h"

#include <algorithm>

namespace quorvane::testing {

bool FakeTransport::Send(uint32_t address, std::span<const uint8_t> datagram) {
    const int index = static_cast<int>(sent.size());
    if (failSendsFrom >= 0 && index >= failSendsFrom) return false;
    sent.push_back({address, {datagram.begin(), datagram.end()}});
    if (responder) responder(datagram, *this);
    return true;
}

int FakeTransport::Receive(uint32_t& sender, std::span<uint8_t> buffer) {
    ++receives;
    if (pending_.empty()) {
        virtualMillis += waitMillis;
        return -1;
    }
    Pending next = std::move(pending_.front());
    pending_.pop_front();
    if (!next.isDatagram) {
        if (next.result < 0) virtualMillis += waitMillis;
        return next.result;
    }
    if (next.bytes.empty()) return 0;
    if (next.bytes.size() > buffer.size()) return -1;  // as the platform reports an oversized datagram
    std::copy(next.bytes.begin(), next.bytes.end(), buffer.begin());
    sender = next.sender;
    return static_cast<int>(next.bytes.size());
}

void FakeTransport::QueueReply(std::vector<uint8_t> bytes, uint32_t sender) {
    pending_.push_back({0, true, std::move(bytes), sender});
}

void FakeTransport::QueueResult(int result) {
    pending_.push_back({result, false, {}, 0});
}

std::vector<uint8_t> MakePacket(uint8_t opcode, uint32_t magic, const MacAddress& mac,
                                std::span<const uint8_t> payload) {
    std::vector<uint8_t> bytes(HEADER_SIZE + payload.size());
    PacketHeader header;
    header.opcode = opcode;
    header.magic = magic;
    header.mac = mac;
    header.payloadLength = static_cast<uint16_t>(payload.size());
    header.Encode(bytes);
    std::copy(payload.begin(), payload.end(), bytes.begin() + HEADER_SIZE);
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
