#include "protocol/packet.h"

#include <algorithm>

namespace quorvane {

namespace {

// Opcode and magic are the first fields a reply is judged by; the MAC ends
// at byte 11, so anything shorter cannot be a reply to anything.
constexpr std::size_t MATCH_BYTES = OFFSET_MAC + 6;

}  // namespace

void PacketHeader::Encode(std::span<uint8_t> bytes) const {
    bytes[0] = reserved;
    bytes[OFFSET_OPCODE] = opcode;
    WriteU32(bytes, OFFSET_MAGIC, magic);
    std::copy(mac.begin(), mac.end(), bytes.begin() + OFFSET_MAC);
    WriteU16(bytes, OFFSET_PAYLOAD_LENGTH, payloadLength);
}

bool PacketHeader::Decode(std::span<const uint8_t> bytes, PacketHeader& out) {
    if (bytes.size() < HEADER_SIZE) return false;
    out.reserved = bytes[0];
    out.opcode = bytes[OFFSET_OPCODE];
    out.magic = ReadU32(bytes, OFFSET_MAGIC);
    std::copy_n(bytes.begin() + OFFSET_MAC, out.mac.size(), out.mac.begin());
    out.payloadLength = ReadU16(bytes, OFFSET_PAYLOAD_LENGTH);
    return true;
}

std::size_t BuildPacket(std::span<uint8_t> out, uint8_t opcode, uint32_t magic, const MacAddress& mac,
                        std::span<const uint8_t> payload, std::span<const uint8_t> more) {
    const std::size_t length = HEADER_SIZE + payload.size() + more.size();
    // The payload length field has 16 bits; anything longer has no packet form.
    if (length > out.size() || length - HEADER_SIZE > 0xFFFF) return 0;
    PacketHeader header;
    header.opcode = opcode;
    header.magic = magic;
    header.mac = mac;
    header.payloadLength = static_cast<uint16_t>(length - HEADER_SIZE);
    header.Encode(out);
    const auto tail = std::copy(payload.begin(), payload.end(), out.begin() + HEADER_SIZE);
    std::copy(more.begin(), more.end(), tail);
    return length;
}

bool MatchReply(std::span<const uint8_t> received, const MacAddress* mac, uint8_t expectedOpcode) {
    if (received.size() < MATCH_BYTES) return false;
    if (ReadU32(received, OFFSET_MAGIC) != REPLY_MAGIC) return false;
    if (received[OFFSET_OPCODE] != expectedOpcode) return false;
    if (mac == nullptr) return true;
    return std::equal(mac->begin(), mac->end(), received.begin() + OFFSET_MAC);
}

}  // namespace quorvane
