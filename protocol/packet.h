#pragma once
// The device packet: a 14-byte header followed by an opcode-specific payload.
// Every multi-byte number on the wire is little-endian, the magics included.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvane {

using MacAddress = std::array<uint8_t, 6>;

inline constexpr uint32_t REQUEST_MAGIC = 0x13011972;
inline constexpr uint32_t REPLY_MAGIC = 0x30061996;
inline constexpr uint16_t DEVICE_PORT = 4101;
inline constexpr uint32_t LIMITED_BROADCAST = 0xFFFFFFFF;  // 255.255.255.255, host order

inline constexpr std::size_t HEADER_SIZE = 14;
inline constexpr std::size_t REQUEST_CAPACITY = 1504;
inline constexpr std::size_t REPLY_CAPACITY = 1488;
inline constexpr int MAX_SENDS = 16;
// LOAD_BLOCK numbers its blocks in 16 bits: no block of a transfer has a
// higher number, so a file goes in at most this many full blocks and the
// partial one after them.
inline constexpr uint16_t MAX_BLOCK_NUMBER = 0xFFFF;

// Header field offsets.
inline constexpr std::size_t OFFSET_OPCODE = 1;
inline constexpr std::size_t OFFSET_MAGIC = 2;
inline constexpr std::size_t OFFSET_MAC = 6;
inline constexpr std::size_t OFFSET_PAYLOAD_LENGTH = 12;
inline constexpr std::size_t OFFSET_PAYLOAD = 14;

enum Opcode : uint8_t {
    OP_DISCOVER = 0,
    OP_DISCOVER_REPLY = 1,
    OP_LOCK = 2,
    OP_UNLOCK = 3,
    OP_ERASE = 4,
    OP_LOAD_BEGIN = 5,
    OP_LOAD_VERIFY = 6,
    OP_LOAD_BLOCK = 7,
    OP_RESET = 8,
    OP_PROGRAM_MODE = 9,
    OP_READ = 10,
    OP_GET_INFO = 12,
    OP_INFO_REPLY = 13,
};

inline constexpr MacAddress BROADCAST_MAC{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// False for a MAC that cannot name one device: a group address (lowest bit
// of the first byte set; the broadcast address is one) or all zeros. A
// device takes a request sent to the broadcast MAC as its own, so a reply
// carrying such a MAC must never become a device that requests then name.
constexpr bool NamesOneDevice(const MacAddress& mac) {
    if ((mac[0] & 0x01) != 0) return false;
    for (uint8_t byte : mac)
        if (byte != 0) return true;
    return false;
}

inline uint16_t ReadU16(std::span<const uint8_t> bytes, std::size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline uint32_t ReadU32(std::span<const uint8_t> bytes, std::size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

inline void WriteU16(std::span<uint8_t> bytes, std::size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteU32(std::span<uint8_t> bytes, std::size_t offset, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The header as it stands at the start of every request and reply.
struct PacketHeader {
    uint8_t reserved = 0;
    uint8_t opcode = 0;
    uint32_t magic = 0;
    MacAddress mac{};
    uint16_t payloadLength = 0;

    // Writes the 14 header bytes; `bytes` must hold at least HEADER_SIZE.
    void Encode(std::span<uint8_t> bytes) const;
    // Reads the header; false when fewer than HEADER_SIZE bytes are given.
    static bool Decode(std::span<const uint8_t> bytes, PacketHeader& out);
};

// Lays out one packet in `out`: the header, whose payload length counts
// both parts, then `payload` and `more` in that order. Returns the packet's
// length, or 0 (and writes nothing) when it does not fit. Requests, the
// simulator's replies and the tests' packets are all built here.
std::size_t BuildPacket(std::span<uint8_t> out, uint8_t opcode, uint32_t magic, const MacAddress& mac,
                        std::span<const uint8_t> payload, std::span<const uint8_t> more = {});

// True when `received` is the awaited reply: reply magic, the expected opcode
// and, unless `mac` is null (discovery), the target's MAC. Byte 0, the payload
// length and the datagram length take no part in the match.
bool MatchReply(std::span<const uint8_t> received, const MacAddress* mac, uint8_t expectedOpcode);

}  // namespace quorvane
