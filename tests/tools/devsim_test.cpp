// The simulated device without sockets: packet layouts, memory, LOAD and READ.

#include <gtest/gtest.h>

#include <numeric>

#include "protocol/info_block.h"
#include "tests/tools/devsim_packets.h"
#include "tools/devsim/info_block_builder.h"
#include "tools/devsim/simulator.h"

namespace quorvane::devsim {
namespace {

using namespace quorvane::devsim::testing;

Simulator MakeSimulator(std::size_t devices = 3, uint16_t blockSize = DEFAULT_BLOCK_SIZE) {
    auto profiles = DefaultProfiles(devices);
    for (auto& p : profiles) p.blockSize = blockSize;
    return Simulator(std::move(profiles), FaultOptions{});
}

// The one reply a request gets; fails the test when there is not exactly one.
std::vector<uint8_t> Only(Simulator& sim, const std::vector<uint8_t>& request) {
    auto replies = sim.Handle(request);
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? std::vector<uint8_t>{} : replies.front().bytes;
}

TEST(DevsimDiscovery, EveryDeviceAnswersWithItsMacAndTwoWords) {
    auto sim = MakeSimulator(3);
    const auto replies = sim.Handle(Discover());
    ASSERT_EQ(replies.size(), 3u);
    const MacAddress macs[] = {DEVICE_1, DEVICE_2, DEVICE_3};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& r = replies[i].bytes;
        ASSERT_EQ(r.size(), 18u);
        EXPECT_EQ(r[0], 0);
        EXPECT_EQ(r[OFFSET_OPCODE], OP_DISCOVER_REPLY);
        EXPECT_EQ(ReadU32(r, OFFSET_MAGIC), REPLY_MAGIC);
        EXPECT_TRUE(MatchReply(r, nullptr, OP_DISCOVER_REPLY));
        EXPECT_TRUE(MatchReply(r, &macs[i], OP_DISCOVER_REPLY));
        EXPECT_EQ(PayloadLength(r), 4);
        EXPECT_EQ(replies[i].delay.count(), 0);
    }
}

TEST(DevsimDiscovery, RequestsOfTheWrongShapeAreIgnored) {
    auto sim = MakeSimulator(2);
    const std::vector<std::vector<uint8_t>> ignored = {
        Request(OP_DISCOVER, DEVICE_1, Words({0xFFFF, 0xFFFF})),                    // not the broadcast MAC
        Request(OP_DISCOVER, BROADCAST_MAC, Words({0xFFFF, 0xFFFF}), REPLY_MAGIC),  // reply magic
        Request(OP_LOCK, BROADCAST_MAC),                                            // a command to everybody
        Request(OP_LOCK, MacAddress{0x02, 0, 0, 0, 0, 0x09}),                       // no such device
        Request(OP_LOCK, DEVICE_1, {}, REQUEST_MAGIC + 1),
        Request(11, DEVICE_1),                                     // unused opcode
        Request(OP_INFO_REPLY, DEVICE_1),                          // a reply opcode sent as request
        std::vector<uint8_t>{0x00, 0x00, 0x72, 0x19, 0x01, 0x13},  // shorter than a header
    };
    for (const auto& request : ignored) EXPECT_TRUE(sim.Handle(request).empty());
}

TEST(DevsimCommands, SimpleCommandsAnswerWithTheirOpcodeAndSetFlags) {
    auto sim = MakeSimulator(2);
    const VirtualDevice& device = sim.Devices()[1];
    for (uint8_t op : {OP_PROGRAM_MODE, OP_LOCK, OP_UNLOCK, OP_RESET}) {
        const auto reply = Only(sim, Request(op, DEVICE_2));
        EXPECT_TRUE(MatchReply(reply, &DEVICE_2, op)) << int(op);
        EXPECT_FALSE(MatchReply(reply, &DEVICE_1, op));
        EXPECT_EQ(reply.size(), HEADER_SIZE);
        if (op == OP_PROGRAM_MODE) {
            EXPECT_TRUE(device.ProgramMode());
        }
        if (op == OP_LOCK) {
            EXPECT_TRUE(device.Locked());
        }
        if (op == OP_UNLOCK) {
            EXPECT_FALSE(device.Locked());
        }
    }
    EXPECT_FALSE(device.ProgramMode());  // RESET leaves programming mode
    EXPECT_FALSE(sim.Devices()[0].ProgramMode());
}

TEST(DevsimInfo, BlockParsesBackToTheProfileValues) {
    auto profiles = DefaultProfiles(7);
    DeviceProfile custom;
    custom.mac = {0x00, 0x50, 0xC2, 0x1A, 0x2B, 0x3C};
    custom.vendorId = 0x1000;
    custom.deviceId = 0x50D8;
    custom.productId = 0xBEEF;
    custom.revisionId = 9;
    custom.versionSecond = 8;
    custom.versionThird = 7;
    custom.firmwareLetters = {'X', 'Y', 'Z'};
    custom.dateFirst = 2024;
    custom.dateSecond = 0;
    custom.dateThird = 31;
    custom.name = "seventeen chars!!";
    custom.workgroup = std::string(39, 'w');
    profiles.push_back(custom);
    for (const auto& p : profiles) {
        SCOPED_TRACE(FormatMac(p.mac));
        const auto block = BuildInfoBlock(p);
        ASSERT_EQ(block.size(), INFO_BLOCK_LENGTH);
        EXPECT_EQ(InfoBlock::Find(block, TAG_IDENTITY), 0u);
        EXPECT_EQ(InfoBlock::Find(block, TAG_FIRMWARE), 14u);
        EXPECT_EQ(InfoBlock::Find(block, TAG_NAMING), 14u + FIRMWARE_RECORD_LENGTH);
        uint16_t vendor = 0, deviceId = 0;
        EXPECT_TRUE(InfoBlock::VendorId(block, vendor));
        EXPECT_TRUE(InfoBlock::DeviceId(block, deviceId));
        EXPECT_EQ(vendor, p.vendorId);
        EXPECT_EQ(deviceId, p.deviceId);
        FirmwareFields f;
        EXPECT_TRUE(InfoBlock::Firmware(block, f));
        EXPECT_EQ(f.firmwareLetters, p.firmwareLetters);
        EXPECT_EQ(f.revisionId, p.revisionId);
        EXPECT_EQ(f.versionSecond, p.versionSecond);
        EXPECT_EQ(f.versionThird, p.versionThird);
        EXPECT_EQ(f.productId, p.productId);
        EXPECT_EQ(f.dateFirst, p.dateFirst);
        EXPECT_EQ(f.dateSecond, p.dateSecond);
        EXPECT_EQ(f.dateThird, p.dateThird);
        std::string name, group;
        EXPECT_TRUE(InfoBlock::Name(block, name));
        EXPECT_TRUE(InfoBlock::Workgroup(block, group));
        EXPECT_EQ(name, p.name);
        EXPECT_EQ(group, p.workgroup);
    }
}

TEST(DevsimInfo, RecordLayoutsHoldTheirFieldsAtTheirOffsets) {
    DeviceProfile p;
    p.vendorId = 0x1407;
    p.deviceId = 0x70FC;
    const auto block = BuildInfoBlock(p);
    // The identity record begins 0E 00 07 14 FC 70.
    const std::vector<uint8_t> head(block.begin(), block.begin() + 6);
    EXPECT_EQ(head, (std::vector<uint8_t>{0x0E, 0x00, 0x07, 0x14, 0xFC, 0x70}));
    const std::size_t fw = 14;
    EXPECT_EQ(block[fw], FIRMWARE_RECORD_LENGTH);
    EXPECT_EQ(block[fw + 1], TAG_FIRMWARE);
    EXPECT_EQ(block[fw + 2], ENTRY_REVISION);
    EXPECT_EQ(block[fw + 12], ENTRY_PRODUCT);
    EXPECT_EQ(block[fw + 22], ENTRY_LETTERS);
    const std::size_t naming = fw + FIRMWARE_RECORD_LENGTH;
    EXPECT_EQ(block[naming], 78);
    EXPECT_EQ(block[naming + 1], TAG_NAMING);
}

TEST(DevsimInfo, ReplyCarriesFlagAndBlockAsTheModeSays) {
    struct Case {
        InfoMode mode;
        std::size_t payload;
    } cases[] = {{InfoMode::Full, 1 + INFO_BLOCK_LENGTH}, {InfoMode::FlagOnly, 1}, {InfoMode::Empty, 0}};
    for (const auto& c : cases) {
        auto profiles = DefaultProfiles(1);
        profiles[0].infoMode = c.mode;
        profiles[0].infoFlag = 0x5A;
        Simulator sim(profiles, {});
        const auto reply = Only(sim, Request(OP_GET_INFO, DEVICE_1));
        ASSERT_TRUE(MatchReply(reply, &DEVICE_1, OP_INFO_REPLY));
        EXPECT_EQ(PayloadLength(reply), c.payload);
        EXPECT_EQ(reply.size(), HEADER_SIZE + c.payload);
        if (c.payload > 0) {
            EXPECT_EQ(reply[OFFSET_PAYLOAD], 0x5A);
        }
        if (c.mode == InfoMode::Full) {
            const std::vector<uint8_t> block(reply.begin() + 15, reply.end());
            EXPECT_EQ(block, BuildInfoBlock(profiles[0]));
        }
    }
}

TEST(DevsimErase, EchoesTheValueAndBlanksItsSegment) {
    auto sim = MakeSimulator(1);
    SparseMemory& memory = sim.Devices()[0].Memory();
    const auto data = Pattern(16);
    for (uint16_t value : {0, 3, 0x1234, 0xFFFF}) {
        memory.Write(LinearAddress(3, 0xFFF8), data);  // straddles segments 3 and 4
        memory.Write(LinearAddress(5, 0), data);
        const auto reply = Only(sim, Erase(DEVICE_1, value));
        ASSERT_TRUE(MatchReply(reply, &DEVICE_1, OP_ERASE));
        EXPECT_EQ(ReplyWord(reply), value);
        EXPECT_EQ(PayloadLength(reply), 2);
    }
    // After ERASE 0xFFFF everything is blank.
    EXPECT_TRUE(memory.Empty());
    memory.Write(LinearAddress(3, 0xFFF8), data);
    memory.Write(LinearAddress(5, 0), data);
    Only(sim, Erase(DEVICE_1, 3));
    EXPECT_EQ(memory.Read(LinearAddress(3, 0xFFF8), 8), std::vector<uint8_t>(8, 0xFF));
    EXPECT_EQ(memory.Read(LinearAddress(4, 0), 8), std::vector<uint8_t>(data.begin() + 8, data.end()));
    EXPECT_EQ(memory.Read(LinearAddress(5, 0), 16), data);
}

TEST(DevsimErase, ShortPayloadIsIgnored) {
    auto sim = MakeSimulator(1);
    EXPECT_TRUE(sim.Handle(Request(OP_ERASE, DEVICE_1)).empty());
    // Payload length naming more bytes than arrived.
    auto request = Erase(DEVICE_1, 3);
    WriteU16(request, OFFSET_PAYLOAD_LENGTH, 4);
    EXPECT_TRUE(sim.Handle(request).empty());
}

struct LoadCase {
    uint16_t blockSize;
    std::size_t imageSize;
};

class DevsimLoad : public ::testing::TestWithParam<LoadCase> {};

// Sends the image the way the program does: begin, blocks, verify.
uint8_t LoadImage(Simulator& sim, const std::vector<uint8_t>& image, uint16_t a, uint16_t b) {
    const auto begin = Only(sim, LoadBegin(DEVICE_1, a, b, static_cast<uint32_t>(image.size())));
    const uint16_t block = ReplyWord(begin);
    for (std::size_t at = 0, index = 0; at < image.size(); at += block, ++index) {
        const std::size_t n = std::min<std::size_t>(block, image.size() - at);
        const auto reply = Only(sim, LoadBlock(DEVICE_1, static_cast<uint16_t>(index),
                                               std::span<const uint8_t>(image.data() + at, n)));
        EXPECT_TRUE(MatchReply(reply, &DEVICE_1, OP_LOAD_BLOCK));
        EXPECT_EQ(ReplyWord(reply), index);
    }
    const auto verify = Only(sim, Request(OP_LOAD_VERIFY, DEVICE_1));
    EXPECT_EQ(PayloadLength(verify), 1);
    return verify[OFFSET_PAYLOAD];
}

TEST_P(DevsimLoad, StoresTheImageAndSumsItsBytes) {
    const auto [blockSize, imageSize] = GetParam();
    auto sim = MakeSimulator(1, blockSize);
    const auto begin = Only(sim, LoadBegin(DEVICE_1, 0x10, 0x0100, static_cast<uint32_t>(imageSize)));
    EXPECT_EQ(ReplyWord(begin), blockSize);
    const auto image = Pattern(imageSize, 7);
    const uint8_t checksum = LoadImage(sim, image, 0x10, 0x0100);
    EXPECT_EQ(checksum, static_cast<uint8_t>(std::accumulate(image.begin(), image.end(), 0u)));
    const auto segments = sim.Devices()[0].Memory().Segments();
    if (imageSize == 0) {
        EXPECT_TRUE(segments.empty());
        return;
    }
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].address, LinearAddress(0x10, 0x0100));
    EXPECT_EQ(segments[0].bytes, image);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DevsimLoad,
                         ::testing::Values(LoadCase{512, 0}, LoadCase{512, 1}, LoadCase{512, 512},
                                           LoadCase{512, 1100}, LoadCase{128, 70000}, LoadCase{1, 5}),
                         [](const auto& info) {
                             return "Block" + std::to_string(info.param.blockSize) + "Image" +
                                    std::to_string(info.param.imageSize);
                         });

TEST(DevsimLoadBlocks, ResentBlockCountsOnceAndMayCrossASegment) {
    auto sim = MakeSimulator(1, 4);
    const std::vector<uint8_t> first{0xFF, 0x02, 0x10, 0x20};
    const std::vector<uint8_t> second{0x01, 0x01};
    Only(sim, LoadBegin(DEVICE_1, 0x0002, 0xFFFE, 6));
    Only(sim, LoadBlock(DEVICE_1, 0, first));
    Only(sim, LoadBlock(DEVICE_1, 1, second));
    Only(sim, LoadBlock(DEVICE_1, 1, second));  // its reply was lost, so it came again
    const auto verify = Only(sim, Request(OP_LOAD_VERIFY, DEVICE_1));
    EXPECT_EQ(verify[OFFSET_PAYLOAD], static_cast<uint8_t>(0xFF + 0x02 + 0x10 + 0x20 + 1 + 1));
    const auto& memory = sim.Devices()[0].Memory();
    EXPECT_EQ(memory.Read(LinearAddress(2, 0xFFFE), 2), (std::vector<uint8_t>{0xFF, 0x02}));
    EXPECT_EQ(memory.Read(LinearAddress(3, 0), 4), (std::vector<uint8_t>{0x10, 0x20, 0x01, 0x01}));
}

TEST(DevsimLoadBlocks, BlockOutsideALoadIsIgnored) {
    auto sim = MakeSimulator(1);
    const std::vector<uint8_t> data{1, 2, 3};
    EXPECT_TRUE(sim.Handle(LoadBlock(DEVICE_1, 0, data)).empty());
    Only(sim, LoadBegin(DEVICE_1, 0, 0, 3));
    Only(sim, Request(OP_RESET, DEVICE_1));
    EXPECT_TRUE(sim.Handle(LoadBlock(DEVICE_1, 0, data)).empty());
    EXPECT_TRUE(sim.Devices()[0].Memory().Empty());
    // A verify without a load sums nothing.
    EXPECT_EQ(Only(sim, Request(OP_LOAD_VERIFY, DEVICE_1))[OFFSET_PAYLOAD], 0);
}

TEST(DevsimRead, AnswersFromMemoryWithBlankBytesElsewhere) {
    auto sim = MakeSimulator(1);
    sim.Devices()[0].Memory().Write(LinearAddress(0x10, 0x80), std::vector<uint8_t>{0xAA, 0xBB, 0x00});
    struct Case {
        uint16_t length, a, b;
        std::vector<uint8_t> expected;
    } cases[] = {
        {4, 0x10, 0x7F, {0xFF, 0xAA, 0xBB, 0x00}},
        {2, 0x10, 0x82, {0x00, 0xFF}},
        {3, 0x11, 0x80, {0xFF, 0xFF, 0xFF}},
        {0, 0x10, 0x80, {}},
    };
    for (const auto& c : cases) {
        const auto reply = Only(sim, Read(DEVICE_1, c.length, c.a, c.b));
        ASSERT_TRUE(MatchReply(reply, &DEVICE_1, OP_READ));
        EXPECT_EQ(PayloadLength(reply), c.length);
        EXPECT_EQ(Payload(reply), c.expected);
    }
}

TEST(DevsimRead, LengthIsCappedAtWhatOneReplyHolds) {
    auto sim = MakeSimulator(1);
    const auto reply = Only(sim, Read(DEVICE_1, 4000, 0, 0));
    EXPECT_EQ(PayloadLength(reply), MAX_READ_LENGTH);
    EXPECT_EQ(reply.size(), REPLY_CAPACITY);
}

TEST(DevsimMemory, WritesMergeAndErasesSplit) {
    SparseMemory memory;
    memory.Write(10, std::vector<uint8_t>{1, 2, 3});
    memory.Write(20, std::vector<uint8_t>{4, 5});
    memory.Write(13, std::vector<uint8_t>{9});  // touches the first stretch
    ASSERT_EQ(memory.Segments().size(), 2u);
    memory.Write(12, std::vector<uint8_t>(9, 7));  // bridges both, overwriting
    auto segments = memory.Segments();
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].address, 10u);
    EXPECT_EQ(segments[0].bytes, (std::vector<uint8_t>{1, 2, 7, 7, 7, 7, 7, 7, 7, 7, 7, 5}));
    memory.Erase(13, 15);
    segments = memory.Segments();
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].bytes, (std::vector<uint8_t>{1, 2, 7}));
    EXPECT_EQ(segments[1].address, 15u);
    EXPECT_EQ(memory.Read(12, 4), (std::vector<uint8_t>{7, 0xFF, 0xFF, 7}));
    memory.Write(8, std::vector<uint8_t>{3, 4});  // ends where the first stretch begins
    EXPECT_EQ(memory.Segments().front().address, 8u);
    EXPECT_EQ(memory.Read(8, 4), (std::vector<uint8_t>{3, 4, 1, 2}));
    memory.Erase(0, 100);
    EXPECT_TRUE(memory.Empty());
}

TEST(DevsimMemory, ABlockByBlockImageBecomesOneStretch) {
    SparseMemory memory;
    const auto image = Pattern(1 << 20, 5);
    for (std::size_t at = 0; at < image.size(); at += 512) {
        memory.Write(LinearAddress(1, 0) + at, std::span<const uint8_t>(image.data() + at, 512));
    }
    const auto segments = memory.Segments();
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].bytes, image);
}

}  // namespace
}  // namespace quorvane::devsim
