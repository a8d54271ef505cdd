// The simulator's configuration: command line, device profiles, default
// devices, opcode names and memory dumps.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "protocol/opcode_names.h"
#include "tests/tools/devsim_packets.h"
#include "tools/devsim/devsim_options.h"
#include "tools/devsim/memory_dump.h"
#include "tools/devsim/profile_file.h"
#include "tools/devsim/simulator.h"
#include "tools/devsim/udp_server.h"

namespace quorvane::devsim {
namespace {

int Parse(std::vector<const char*> args, DevsimConfig& config, std::string* output = nullptr) {
    args.insert(args.begin(), "devsim");
    std::ostringstream out, err;
    const int code = ParseDevsimOptions(static_cast<int>(args.size()), args.data(), config, out, err);
    if (output) *output = out.str() + err.str();
    return code;
}

TEST(DevsimOptions, DefaultsListenOnLoopbackWithThreeDevices) {
    DevsimConfig config;
    ASSERT_EQ(Parse({}, config), -1);
    EXPECT_EQ(config.listen, "127.0.0.1:4101");
    EXPECT_EQ(config.devices, 3u);
    EXPECT_EQ(config.blockSize, 512);
    EXPECT_EQ(config.faults.dropFraction, 0.0);
    EXPECT_TRUE(config.faults.silent.empty());
}

TEST(DevsimOptions, FaultOptionsAreResolved) {
    DevsimConfig config;
    ASSERT_EQ(Parse({"--listen",
                     "127.0.0.1:0",
                     "--drop",
                     "0.25",
                     "--drop-mode",
                     "replies",
                     "--seed",
                     "9",
                     "--drop-first",
                     "ERASE:2",
                     "--drop-first",
                     "load_block:1",
                     "--silent",
                     "LOCKDEVICE,reset",
                     "--wrong-echo-once",
                     "READ",
                     "--bad-checksum",
                     "--duplicate",
                     "--delay-ms",
                     "15",
                     "--block-delay-ms",
                     "3",
                     "--fault-device",
                     "02:00:00:00:00:02",
                     "-v"},
                    config),
              -1);
    const FaultOptions& f = config.faults;
    EXPECT_EQ(config.listen, "127.0.0.1:0");
    EXPECT_TRUE(config.verbose);
    EXPECT_EQ(f.dropFraction, 0.25);
    EXPECT_EQ(f.dropMode, DropMode::Replies);
    EXPECT_EQ(f.seed, 9u);
    EXPECT_EQ(f.dropFirst, (std::map<uint8_t, int>{{OP_ERASE, 2}, {OP_LOAD_BLOCK, 1}}));
    EXPECT_EQ(f.silent, (std::set<uint8_t>{OP_LOCK, OP_RESET}));
    EXPECT_EQ(f.wrongEchoOnce, (std::set<uint8_t>{OP_READ}));
    EXPECT_TRUE(f.badChecksum);
    EXPECT_TRUE(f.duplicate);
    EXPECT_EQ(f.delayMs, 15);
    EXPECT_EQ(f.blockDelayMs, 3);
    ASSERT_EQ(f.devices.size(), 1u);
    EXPECT_EQ(f.devices[0], (MacAddress{2, 0, 0, 0, 0, 2}));
}

TEST(DevsimOptions, UsageErrorsGiveExitTwoAndHelpGivesZero) {
    const std::vector<std::vector<const char*>> bad = {
        {"--drop", "1.5"},
        {"--drop-first", "ERASE"},
        {"--drop-first", "ERASE:x"},
        {"--silent", "BOGUS"},
        {"--wrong-echo-once", "LOCK"},
        {"--fault-device", "02:00"},
        {"--devices", "0"},
        {"--block-size", "0"},
        {"--drop-mode", "sideways"},
        {"--no-such-option"},
        {"--devices", "2", "--profile", "/etc/hostname"},
    };
    for (const auto& args : bad) {
        DevsimConfig config;
        EXPECT_EQ(Parse(args, config), EXIT_USAGE) << args[0];
    }
    DevsimConfig config;
    std::string help;
    EXPECT_EQ(Parse({"--help"}, config, &help), 0);
    EXPECT_NE(help.find("--listen"), std::string::npos);
    EXPECT_NE(help.find("--fault-device"), std::string::npos);
}

TEST(DevsimOptions, ListenAddressParsing) {
    ListenAddress where;
    ASSERT_TRUE(ParseListenAddress("127.0.0.1:0", where));
    EXPECT_EQ(where.address, 0x7F000001u);
    EXPECT_EQ(where.port, 0);
    ASSERT_TRUE(ParseListenAddress("10.1.2.3:4101", where));
    EXPECT_EQ(where.address, 0x0A010203u);
    EXPECT_EQ(where.port, 4101);
    for (const char* bad :
         {"127.0.0.1", "127.0.0.1:", "127.0.0.1:70000", "localhost:4101", "1.2.3:5", ":5"}) {
        EXPECT_FALSE(ParseListenAddress(bad, where)) << bad;
    }
}

TEST(DevsimOpcodes, NamesRoundTripAndScriptKeywordsAreAccepted) {
    for (int op = 0; op <= 13; ++op) {
        if (op == 11) continue;
        const auto parsed = ParseOpcodeName(OpcodeName(static_cast<uint8_t>(op)));
        ASSERT_TRUE(parsed) << op;
        EXPECT_EQ(*parsed, op);
    }
    EXPECT_EQ(OpcodeName(11), "OP_11");
    EXPECT_EQ(ParseOpcodeName("setprogrammode"), OP_PROGRAM_MODE);
    EXPECT_EQ(ParseOpcodeName("load-block"), OP_LOAD_BLOCK);
    EXPECT_EQ(ParseOpcodeName("7"), OP_LOAD_BLOCK);
    EXPECT_FALSE(ParseOpcodeName("256"));
    EXPECT_FALSE(ParseOpcodeName(""));
    EXPECT_FALSE(ParseOpcodeName("ERASEX"));
}

TEST(DevsimProfiles, DefaultsAreVariedAndRepeatable) {
    const auto profiles = DefaultProfiles(300);
    EXPECT_EQ(FormatMac(profiles[0].mac), "02:00:00:00:00:01");
    EXPECT_EQ(FormatMac(profiles[299].mac), "02:00:00:00:01:2c");
    std::set<MacAddress> macs;
    std::set<uint16_t> vendors, deviceIds;
    std::set<std::string> names;
    for (const auto& p : profiles) {
        macs.insert(p.mac);
        vendors.insert(p.vendorId);
        deviceIds.insert(p.deviceId);
        names.insert(p.name);
        EXPECT_LT(p.name.size(), NAME_ROOM);
        EXPECT_EQ(p.blockSize, DEFAULT_BLOCK_SIZE);
    }
    EXPECT_EQ(macs.size(), 300u);
    EXPECT_EQ(vendors, (std::set<uint16_t>{0x1000, 0x1407}));
    EXPECT_GE(deviceIds.size(), 3u);
    EXPECT_TRUE(names.count(""));  // some device shows its MAC-derived name
    // The first three share product and revision, so one package admits them all.
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(profiles[i].productId, profiles[0].productId);
        EXPECT_EQ(profiles[i].revisionId, profiles[0].revisionId);
    }
    EXPECT_EQ(DefaultProfiles(5)[4].name, profiles[4].name);
}

TEST(DevsimProfiles, LinesSetTheirKeysAndInheritTheRest) {
    std::istringstream in(
        "# two devices\n"
        "\n"
        "mac=00:50:C2:1A:2B:3C vendor=0x1000 device=0x50D8 product=513 version=9.8.7 letters=XY "
        "date=2024/12/31 name=\"Boiler Room 7\" workgroup=Ops block=256 flag=5 info=flag discovery=1,0x2 "
        "firmware_after=\"9.9.0 2026/12/1\"\n"
        "  mac=02-00-00-00-00-09   # comment after a field\n");
    std::vector<DeviceProfile> profiles;
    std::string error;
    ASSERT_TRUE(ParseProfiles(in, profiles, error, 128)) << error;
    ASSERT_EQ(profiles.size(), 2u);
    const DeviceProfile& p = profiles[0];
    EXPECT_EQ(FormatMac(p.mac), "00:50:c2:1a:2b:3c");
    EXPECT_EQ(p.vendorId, 0x1000);
    EXPECT_EQ(p.deviceId, 0x50D8);
    EXPECT_EQ(p.productId, 513);
    EXPECT_EQ(p.revisionId, 9);
    EXPECT_EQ(p.versionSecond, 8);
    EXPECT_EQ(p.versionThird, 7);
    EXPECT_EQ(p.firmwareLetters, (std::array<char, 3>{'X', 'Y', ' '}));
    EXPECT_EQ(p.dateFirst, 2024);
    EXPECT_EQ(p.dateSecond, 12);
    EXPECT_EQ(p.dateThird, 31);
    EXPECT_EQ(p.name, "Boiler Room 7");
    EXPECT_EQ(p.workgroup, "Ops");
    EXPECT_EQ(p.blockSize, 256);
    EXPECT_EQ(p.infoFlag, 5);
    EXPECT_EQ(p.infoMode, InfoMode::FlagOnly);
    EXPECT_EQ(p.discoveryWord1, 1);
    EXPECT_EQ(p.discoveryWord2, 2);
    ASSERT_TRUE(p.firmwareAfter.has_value());
    EXPECT_EQ(p.firmwareAfter->versionSecond, 9);
    EXPECT_EQ(p.firmwareAfter->dateFirst, 2026);
    EXPECT_FALSE(profiles[1].firmwareAfter.has_value());
    // The second line takes the second default device's values, with the given block size.
    DeviceProfile expected = DefaultProfiles(2)[1];
    EXPECT_EQ(FormatMac(profiles[1].mac), "02:00:00:00:00:09");
    EXPECT_EQ(profiles[1].name, expected.name);
    EXPECT_EQ(profiles[1].deviceId, expected.deviceId);
    EXPECT_EQ(profiles[1].blockSize, 128);
}

TEST(DevsimProfiles, BadLinesAreReportedWithTheirNumber) {
    const std::pair<const char*, const char*> cases[] = {
        {"mac=02:00:00:00:00:01 colour=red\n", "line 1: unknown key 'colour'"},
        {"\nvendor=0x10000\n", "line 2: bad value for vendor"},
        {"name=\"open quote\n", "line 1: unterminated quote"},
        {"mac=02:00:00:00:00:01\nmac=02:00:00:00:00:01\n", "line 2: MAC 02:00:00:00:00:01 used twice"},
        {"name=\"nineteen characters\"\n", "line 1: bad value for name"},
        {"block=0\n", "line 1: bad value for block"},
        {"version=1.2\n", "line 1: bad value for version"},
        {"letters=ABCD\n", "line 1: bad value for letters"},
        {"firmware_after=4.1.0\n", "line 1: bad value for firmware_after"},
        {"info=maybe\n", "line 1: bad value for info"},
        {"clone=1\n", "line 1: bad value for clone"},
        {"justaword\n", "line 1: field without '='"},
        {"# nothing\n", "no device"},
    };
    for (const auto& [text, message] : cases) {
        std::istringstream in(text);
        std::vector<DeviceProfile> profiles;
        std::string error;
        EXPECT_FALSE(ParseProfiles(in, profiles, error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << error;
        EXPECT_TRUE(profiles.empty());
    }
}

// A cloned unit: both devices take every request to their one MAC and each
// answers for itself, the clone with its own block.
TEST(DevsimProfiles, ACloneSharesAnEarlierMacAndAnswersBesideIt) {
    std::istringstream in("mac=02:00:00:00:00:01\nmac=02:00:00:00:00:02\nmac=02:00:00:00:00:01 clone=yes\n");
    std::vector<DeviceProfile> profiles;
    std::string error;
    ASSERT_TRUE(ParseProfiles(in, profiles, error)) << error;
    ASSERT_EQ(profiles.size(), 3u);
    EXPECT_EQ(DumpFileStem(profiles[2]), "020000000001-2");
    Simulator simulator(profiles, FaultOptions{});
    const auto info = simulator.Handle(testing::Request(OP_GET_INFO, testing::DEVICE_1));
    ASSERT_EQ(info.size(), 2u);
    EXPECT_NE(info[0].bytes, info[1].bytes) << "the clone is the third default device";
    EXPECT_EQ(simulator.Handle(testing::Request(OP_LOCK, testing::DEVICE_1)).size(), 2u);
    EXPECT_TRUE(simulator.Devices()[0].Locked());
    EXPECT_TRUE(simulator.Devices()[2].Locked());
    EXPECT_FALSE(simulator.Devices()[1].Locked());
}

class DevsimDump : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("devsim_dump_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::vector<uint8_t> Binary(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::filesystem::path dir_;
};

TEST_F(DevsimDump, StretchesReadBackAndBinaryFillsGaps) {
    VirtualDevice device(DefaultProfiles(1)[0]);
    device.Memory().Write(LinearAddress(0x10, 0), std::vector<uint8_t>{0x01, 0xAB});
    device.Memory().Write(LinearAddress(0x10, 4), std::vector<uint8_t>{0x00});
    std::string error;
    ASSERT_TRUE(WriteMemoryDump(dir_.string(), device, error)) << error;
    std::vector<MemorySegment> segments;
    ASSERT_TRUE(ReadMemoryDump((dir_ / "020000000001.mem").string(), segments));
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].address, LinearAddress(0x10, 0));
    EXPECT_EQ(segments[0].bytes, (std::vector<uint8_t>{0x01, 0xAB}));
    EXPECT_EQ(segments[1].address, LinearAddress(0x10, 4));
    EXPECT_EQ(Binary("020000000001.bin"), (std::vector<uint8_t>{0x01, 0xAB, 0xFF, 0xFF, 0x00}));
    std::ifstream mem(dir_ / "020000000001.mem");
    std::string header, span;
    std::getline(mem, header);
    std::getline(mem, span);
    EXPECT_EQ(header, "# devsim memory of 02:00:00:00:00:01");
    EXPECT_EQ(span, "span 0010:0000 5");
}

TEST_F(DevsimDump, EmptyMemoryGivesNoStretchAndAnEmptyBinary) {
    VirtualDevice device(DefaultProfiles(2)[1]);
    std::string error;
    ASSERT_TRUE(WriteMemoryDump(dir_.string(), device, error));
    std::vector<MemorySegment> segments{{1, {1}}};
    ASSERT_TRUE(ReadMemoryDump((dir_ / "020000000002.mem").string(), segments));
    EXPECT_TRUE(segments.empty());
    EXPECT_TRUE(std::filesystem::exists(dir_ / "020000000002.bin"));
    EXPECT_TRUE(Binary("020000000002.bin").empty());
}

TEST_F(DevsimDump, MissingFolderIsMadeButABlockedOneFails) {
    VirtualDevice device(DefaultProfiles(1)[0]);
    std::string error;
    ASSERT_TRUE(WriteMemoryDump((dir_ / "made" / "here").string(), device, error)) << error;
    EXPECT_TRUE(std::filesystem::exists(dir_ / "made" / "here" / "020000000001.mem"));
    std::ofstream(dir_ / "file") << "in the way";
    EXPECT_FALSE(WriteMemoryDump((dir_ / "file" / "sub").string(), device, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace quorvane::devsim
