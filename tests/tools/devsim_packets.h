#pragma once
// Request builders and reply readers for the simulator tests.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "protocol/packet.h"
#include "support/fake_transport.h"

namespace quorvane::devsim::testing {

inline const MacAddress DEVICE_1{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
inline const MacAddress DEVICE_2{0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
inline const MacAddress DEVICE_3{0x02, 0x00, 0x00, 0x00, 0x00, 0x03};

inline std::vector<uint8_t> Request(uint8_t opcode, const MacAddress& mac,
                                    std::span<const uint8_t> payload = {}, uint32_t magic = REQUEST_MAGIC) {
    return quorvane::testing::MakePacket(opcode, magic, mac, payload);
}

// Payload of little-endian 16-bit words.
inline std::vector<uint8_t> Words(std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> out(words.size() * 2);
    std::size_t at = 0;
    for (uint16_t w : words) {
        WriteU16(out, at, w);
        at += 2;
    }
    return out;
}

inline std::vector<uint8_t> Discover() {
    return Request(OP_DISCOVER, BROADCAST_MAC, Words({0xFFFF, 0xFFFF}));
}
inline std::vector<uint8_t> Erase(const MacAddress& mac, uint16_t value) {
    return Request(OP_ERASE, mac, Words({value}));
}
inline std::vector<uint8_t> LoadBegin(const MacAddress& mac, uint16_t a, uint16_t b, uint32_t total) {
    auto payload = Words({a, b, 0, 0});
    WriteU32(payload, 4, total);
    return Request(OP_LOAD_BEGIN, mac, payload);
}
inline std::vector<uint8_t> LoadBlock(const MacAddress& mac, uint16_t index, std::span<const uint8_t> data) {
    auto payload = Words({index});
    payload.insert(payload.end(), data.begin(), data.end());
    return Request(OP_LOAD_BLOCK, mac, payload);
}
inline std::vector<uint8_t> Read(const MacAddress& mac, uint16_t length, uint16_t a, uint16_t b) {
    return Request(OP_READ, mac, Words({length, a, b}));
}

inline uint16_t ReplyWord(std::span<const uint8_t> reply) {
    return ReadU16(reply, OFFSET_PAYLOAD);
}
inline uint16_t PayloadLength(std::span<const uint8_t> reply) {
    return ReadU16(reply, OFFSET_PAYLOAD_LENGTH);
}
inline std::vector<uint8_t> Payload(std::span<const uint8_t> reply) {
    return {reply.begin() + HEADER_SIZE, reply.end()};
}

// Deterministic test data: byte i is a mix of i and `salt`.
inline std::vector<uint8_t> Pattern(std::size_t length, uint8_t salt = 0) {
    std::vector<uint8_t> out(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>((i * 37 + (i >> 8) + salt) & 0xFF);
    return out;
}

}  // namespace quorvane::devsim::testing
