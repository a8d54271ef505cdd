#include "protocol/packet.h"

#include <gtest/gtest.h>

#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

TEST(PacketHeader, EncodesTheExampleEraseHeaderAndDecodesItBack) {
    PacketHeader header;
    header.opcode = OP_ERASE;
    header.magic = REQUEST_MAGIC;
    header.mac = EXAMPLE_MAC;
    header.payloadLength = 2;
    std::vector<uint8_t> bytes(HEADER_SIZE, 0xEE);
    header.Encode(bytes);
    EXPECT_EQ(bytes, Hex("00 04 72 19 01 13 02 00 00 00 00 01 02 00"));

    bytes[0] = 0x5A;
    PacketHeader decoded;
    ASSERT_TRUE(PacketHeader::Decode(bytes, decoded));
    EXPECT_EQ(decoded.reserved, 0x5A);
    EXPECT_EQ(decoded.opcode, OP_ERASE);
    EXPECT_EQ(decoded.magic, REQUEST_MAGIC);
    EXPECT_EQ(decoded.mac, EXAMPLE_MAC);
    EXPECT_EQ(decoded.payloadLength, 2);
}

TEST(PacketHeader, DecodeRefusesFewerThanFourteenBytesAndLeavesTheOutputAlone) {
    const auto bytes = Hex("00 04 96 19 06 30 02 00 00 00 00 01 02");
    PacketHeader decoded;
    decoded.opcode = 0x77;
    EXPECT_FALSE(PacketHeader::Decode(bytes, decoded));
    EXPECT_EQ(decoded.opcode, 0x77);
}

struct MatchCase {
    const char* name;
    std::string bytes;
    bool withMac;
    uint8_t opcode;
    bool matches;
};

void PrintTo(const MatchCase& c, std::ostream* out) {
    *out << c.name;
}

class MatchReplyTable : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchReplyTable, DecidesByMagicOpcodeAndMacOnly) {
    const MatchCase& c = GetParam();
    const auto bytes = Hex(c.bytes);
    EXPECT_EQ(MatchReply(bytes, c.withMac ? &EXAMPLE_MAC : nullptr, c.opcode), c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Packet, MatchReplyTable,
    ::testing::Values(
        MatchCase{"ExampleEraseReply", "00 04 96 19 06 30 02 00 00 00 00 01 02 00 03 00", true, OP_ERASE,
                  true},
        MatchCase{"ByteZeroIgnored", "FF 04 96 19 06 30 02 00 00 00 00 01 02 00 03 00", true, OP_ERASE, true},
        MatchCase{"RequestMagicDropped", "00 04 72 19 01 13 02 00 00 00 00 01 02 00 03 00", true, OP_ERASE,
                  false},
        MatchCase{"MagicOneByteOff", "00 04 96 19 06 31 02 00 00 00 00 01 02 00 03 00", true, OP_ERASE,
                  false},
        MatchCase{"OtherOpcode", "00 05 96 19 06 30 02 00 00 00 00 01 02 00 03 00", true, OP_ERASE, false},
        MatchCase{"LastMacByteDiffers", "00 04 96 19 06 30 02 00 00 00 00 02 02 00 03 00", true, OP_ERASE,
                  false},
        MatchCase{"FirstMacByteDiffers", "00 04 96 19 06 30 03 00 00 00 00 01 02 00 03 00", true, OP_ERASE,
                  false},
        MatchCase{"PayloadLengthIgnored", "00 04 96 19 06 30 02 00 00 00 00 01 FF FF", true, OP_ERASE, true},
        MatchCase{"TwelveBytesSuffice", "00 04 96 19 06 30 02 00 00 00 00 01", true, OP_ERASE, true},
        MatchCase{"ElevenBytesNever", "00 04 96 19 06 30 02 00 00 00 00", true, OP_ERASE, false},
        MatchCase{"ElevenBytesNeverEvenForDiscovery", "00 01 96 19 06 30 02 00 00 00 00", false,
                  OP_DISCOVER_REPLY, false},
        MatchCase{"EmptyNever", "", false, OP_DISCOVER, false},
        MatchCase{"DiscoveryAnyMac", "00 01 96 19 06 30 AA BB CC DD EE FF 04 00 01 00 02 00", false,
                  OP_DISCOVER_REPLY, true},
        MatchCase{"DiscoveryRequestMagic", "00 01 72 19 01 13 AA BB CC DD EE FF 04 00 01 00 02 00", false,
                  OP_DISCOVER_REPLY, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvane::testing
