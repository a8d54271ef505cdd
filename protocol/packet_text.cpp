#include "protocol/packet_text.h"

#include <algorithm>
#include <cstdio>

#include "protocol/mac_text.h"
#include "protocol/opcode_names.h"
#include "protocol/packet.h"

namespace quorvane {
namespace {

std::string Format(const char* pattern, unsigned first, unsigned second = 0, unsigned third = 0) {
    char text[96];
    std::snprintf(text, sizeof text, pattern, first, second, third);
    return text;
}

// The fields after the header, or "" when the payload is too short to hold them.
std::string RequestFields(uint8_t opcode, std::span<const uint8_t> p) {
    switch (opcode) {
        case OP_DISCOVER:
            return p.size() >= 4 ? Format(" p1=0x%04x p2=0x%04x", ReadU16(p, 0), ReadU16(p, 2)) : "";
        case OP_ERASE:
            return p.size() >= 2 ? Format(" value=%u", ReadU16(p, 0)) : "";
        case OP_LOAD_BEGIN:
            return p.size() >= 8
                       ? Format(" addr=%04x:%04x length=%u", ReadU16(p, 0), ReadU16(p, 2), ReadU32(p, 4))
                       : "";
        case OP_LOAD_BLOCK:
            return p.size() >= 2
                       ? Format(" index=%u bytes=%u", ReadU16(p, 0), static_cast<unsigned>(p.size() - 2))
                       : "";
        case OP_READ:
            return p.size() >= 6
                       ? Format(" addr=%04x:%04x length=%u", ReadU16(p, 2), ReadU16(p, 4), ReadU16(p, 0))
                       : "";
        default:
            return "";
    }
}

std::string ReplyFields(uint8_t opcode, std::span<const uint8_t> p) {
    switch (opcode) {
        case OP_DISCOVER_REPLY:
            return p.size() >= 4 ? Format(" w1=0x%04x w2=0x%04x", ReadU16(p, 0), ReadU16(p, 2)) : "";
        case OP_INFO_REPLY:
            return p.empty() ? " empty"
                             : Format(" flag=%u block=%u", p[0], static_cast<unsigned>(p.size() - 1));
        case OP_ERASE:
        case OP_LOAD_BLOCK:
            return p.size() >= 2 ? Format(" echo=%u", ReadU16(p, 0)) : "";
        case OP_LOAD_BEGIN:
            return p.size() >= 2 ? Format(" block=%u", ReadU16(p, 0)) : "";
        case OP_LOAD_VERIFY:
            return p.size() >= 1 ? Format(" checksum=0x%02x", p[0]) : "";
        case OP_READ:
            return Format(" length=%u", static_cast<unsigned>(p.size()));
        default:
            return "";
    }
}

std::string Describe(std::span<const uint8_t> packet, bool request) {
    PacketHeader header;
    if (!PacketHeader::Decode(packet, header))
        return "short datagram of " + std::to_string(packet.size()) + " bytes";
    std::string line = OpcodeName(header.opcode) + " " + FormatMac(header.mac);
    if ((request && header.magic != REQUEST_MAGIC) || (!request && header.magic != REPLY_MAGIC)) {
        line += Format(" magic=0x%08x", header.magic);
    }
    const std::size_t available = packet.size() - HEADER_SIZE;
    const auto payload = packet.subspan(HEADER_SIZE, std::min<std::size_t>(available, header.payloadLength));
    return line + (request ? RequestFields(header.opcode, payload) : ReplyFields(header.opcode, payload));
}

}  // namespace

std::string DescribeRequest(std::span<const uint8_t> request) {
    return Describe(request, true);
}
std::string DescribeReply(std::span<const uint8_t> reply) {
    return Describe(reply, false);
}

std::string HexLines(std::span<const uint8_t> bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (std::size_t offset = 0; offset < bytes.size(); offset += 16) {
        text += Format("    %04x ", static_cast<unsigned>(offset));
        const std::size_t end = std::min(bytes.size(), offset + 16);
        for (std::size_t i = offset; i < end; ++i) {
            text += ' ';
            text += DIGITS[bytes[i] >> 4];
            text += DIGITS[bytes[i] & 0x0F];
        }
        text += '\n';
    }
    return text;
}

}  // namespace quorvane
