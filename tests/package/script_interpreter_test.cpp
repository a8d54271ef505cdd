#include "package/script_interpreter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "package/package_check.h"
#include "package/restrictions.h"
#include "package/upgrade_package.h"
#include "package_fixture.h"
#include "support/scripted_device.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::MemoryByte;
using testing::ScriptedNetwork;
using testing::SimulatedDevice;
using Trace = std::vector<std::string>;

const MacAddress DEVICE_MAC{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

std::vector<uint8_t> Pattern(std::size_t size, uint8_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

std::vector<uint8_t> Memory(uint16_t a, uint16_t b, std::size_t length) {
    std::vector<uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = MemoryByte(a, static_cast<uint16_t>(b + i));
    return bytes;
}

class Recorder final : public ScriptObserver {
public:
    void OnLine(int lineNumber, std::string_view line) override { lines.emplace_back(lineNumber, line); }
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override {
        transfers.push_back(std::string(fileName) + " " + std::to_string(done) + "/" + std::to_string(total));
    }
    std::vector<std::pair<int, std::string>> lines;
    std::vector<std::string> transfers;
};

class Interpreter : public ::testing::Test {
protected:
    Interpreter() : device(net.Add(DEVICE_MAC)) {
        record.mac = DEVICE_MAC;
        fs::create_directories(PackageFolder());
    }

    // The package lives in a folder of its own, so anything written beside
    // it (or above it) can be checked.
    fs::path PackageFolder() const { return folder.Path() / "pkg"; }

    void OpenScript(const std::string& script, std::vector<PackageMember> data = {}) {
        package.Close();
        const auto path = PackageFolder() / "test.upk";
        ASSERT_TRUE(WritePackage(path, StandardMembers(script, "PRODUCTID 1\n", std::move(data))));
        ASSERT_TRUE(package.Open(path));
    }

    bool Run(ScriptObserver* observer = nullptr) {
        const bool result = RunUpgradeScript(package, net.protocol, record, observer);
        return result;
    }

    // DownloadFile of `bytes` written to a plain file.
    bool Download(const std::vector<uint8_t>& bytes, uint16_t a = 0, uint16_t b = 0) {
        const auto file = folder.File("DATA.BIN");
        EXPECT_TRUE(test::WriteBytes(file, bytes));
        return DownloadFile(net.protocol, record, a, b, file);
    }

    test::TempFolder folder;
    ScriptedNetwork net;
    SimulatedDevice& device;
    DeviceRecord record;
    UpgradePackage package;
};

TEST_F(Interpreter, FullScriptRunsEveryCommandInOrder) {
    device.blockSize = 128;
    const auto firmware = Pattern(300);
    OpenScript(
        "; upgrade script\n"
        "SETPROGRAMMODE\n"
        "LOCKDEVICE\n"
        "ERASE 3\n"
        "LOAD fw.bin 0x10:0x2000\n"
        "READ dump.bin 0x10:0x80 200\n"
        "UNLOCKDEVICE\n"
        "RESET\n",
        {{"fw.bin", firmware}});
    ASSERT_TRUE(Run());
    EXPECT_EQ(net.Trace(),
              (Trace{"PROGRAMMODE", "LOCK", "ERASE 3", "BEGIN 0x10:0x2000 300", "BLOCK 0 128", "BLOCK 1 128",
                     "BLOCK 2 44", "VERIFY", "READ 128 0x10:0x80", "READ 72 0x10:0x100", "UNLOCK", "RESET"}));
    EXPECT_EQ(device.Loaded(), firmware);
    EXPECT_EQ(test::ReadBytes(PackageFolder() / "DUMP.BIN"), Memory(0x10, 0x80, 200));
    // Every request went out once, to the broadcast address.
    EXPECT_EQ(net.link.sent.size(), 12u);
    for (const auto& sent : net.link.sent) EXPECT_EQ(sent.address, LIMITED_BROADCAST);
}

// A package opened from memory runs as one opened from a file, but writes
// nothing: READ output is kept by the package, a failed READ keeps what it read.
TEST_F(Interpreter, PackageInMemoryRunsTheSameAndWritesNothing) {
    struct Case {
        const char* script;
        int silentReadAnswers;  // -1: the device answers every READ
        bool succeeds;
        Trace trace;
        std::size_t kept;  // bytes of DUMP.BIN kept
    };
    const Case cases[] = {
        {"LOAD fw.bin 0x10:0x2000\nREAD dump.bin 0x10:0x80 200\nRESET\n", -1, true,
         {"BEGIN 0x10:0x2000 300", "BLOCK 0 128", "BLOCK 1 128", "BLOCK 2 44", "VERIFY", "READ 128 0x10:0x80",
          "READ 72 0x10:0x100", "RESET"},
         200},
        {"READ dump.bin 0x10:0x80 300\nRESET\n", 1, false, {}, 128},
        {"LOAD missing.bin 0:0\nRESET\n", -1, false, {}, 0},
    };
    device.blockSize = 128;
    const auto firmware = Pattern(300);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        device.silentOpcode = c.silentReadAnswers < 0 ? -1 : OP_READ;
        device.answersBeforeSilence = c.silentReadAnswers < 0 ? 0 : c.silentReadAnswers;
        net.link.sent.clear();
        package.Close();
        ASSERT_TRUE(package.OpenInMemory(EncodePackage(StandardMembers(c.script, "PRODUCTID 1\n", {{"fw.bin", firmware}}))));
        EXPECT_TRUE(package.PrivateFolder().empty());
        EXPECT_EQ(Run(), c.succeeds);
        if (c.succeeds) {
            EXPECT_EQ(net.Trace(), c.trace);
        }
        const std::string* dump = package.Output("DUMP.BIN");
        EXPECT_EQ(dump != nullptr, c.kept > 0);
        if (dump != nullptr) {
            EXPECT_EQ(std::vector<uint8_t>(dump->begin(), dump->end()), Memory(0x10, 0x80, c.kept));
        }
        EXPECT_TRUE(fs::is_empty(PackageFolder()));
    }
    EXPECT_EQ(device.Loaded(), firmware);
}

TEST(ReadOutputFor, TheMacGoesBeforeTheExtensionInUpperCaseHex) {
    const MacAddress mac = {0x00, 0x50, 0xc2, 0x1a, 0x2b, 0x3c};
    const std::pair<const char*, const char*> cases[] = {
        {"READBACK.BIN", "READBACK-0050C21A2B3C.BIN"},
        {"DUMP", "DUMP-0050C21A2B3C"},
        {"A.B.BIN", "A.B-0050C21A2B3C.BIN"},
        {".BIN", ".BIN-0050C21A2B3C"},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(ReadOutputFor(name, mac, ReadNames::PerDevice), expected) << name;
    EXPECT_EQ(ReadOutputFor("/p/READBACK.BIN", mac, ReadNames::PerDevice), "/p/READBACK-0050C21A2B3C.BIN");
    EXPECT_EQ(ReadOutputFor("/p/READBACK.BIN", mac, ReadNames::Shared), "/p/READBACK.BIN");
}

// Run per device, READ keeps the device's bytes under its own name only.
TEST_F(Interpreter, ReadPerDeviceWritesTheNameWithTheMac) {
    ASSERT_TRUE(package.OpenInMemory(
        EncodePackage(StandardMembers("READ dump.bin 0x10:0x80 4\n", "PRODUCTID 1\n", {}))));
    std::vector<PlannedCommand> plan;
    ASSERT_TRUE(ReadScriptPlan(package, plan));
    ASSERT_TRUE(RunPlan(plan, package, net.protocol, record, nullptr, ReadNames::PerDevice));
    EXPECT_EQ(package.Output("DUMP.BIN"), nullptr);
    const std::string* dump = package.Output("DUMP-020000000001.BIN");
    ASSERT_NE(dump, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(dump->begin(), dump->end()), Memory(0x10, 0x80, 4));
}

TEST_F(Interpreter, LoadBlockLayout) {
    struct Case {
        std::size_t size;
        uint16_t blockSize;
        Trace trace;
    };
    const Case cases[] = {
        {10, 64, {"BEGIN 0x1:0x2 10", "BLOCK 0 10", "VERIFY"}},
        {128, 64, {"BEGIN 0x1:0x2 128", "BLOCK 0 64", "BLOCK 1 64", "VERIFY"}},
        {130, 64, {"BEGIN 0x1:0x2 130", "BLOCK 0 64", "BLOCK 1 64", "BLOCK 2 2", "VERIFY"}},
        {0, 64, {"BEGIN 0x1:0x2 0", "VERIFY"}},
        {513, 512, {"BEGIN 0x1:0x2 513", "BLOCK 0 512", "BLOCK 1 1", "VERIFY"}},
        {3, 1, {"BEGIN 0x1:0x2 3", "BLOCK 0 1", "BLOCK 1 1", "BLOCK 2 1", "VERIFY"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        net.link.sent.clear();
        device.blockSize = c.blockSize;
        const auto bytes = Pattern(c.size, static_cast<uint8_t>(c.size));
        EXPECT_TRUE(Download(bytes, 1, 2));
        EXPECT_EQ(net.Trace(), c.trace);
        EXPECT_EQ(device.Loaded(), bytes);
    }
}

TEST_F(Interpreter, ChecksumIsTheByteSumModulo256) {
    EXPECT_EQ(ByteSum(std::vector<uint8_t>{0xFF, 0x02}), 0x101u);
    EXPECT_EQ(ByteSum(std::vector<uint8_t>(1000, 0xFF)), 255000u);
    EXPECT_EQ(ByteSum({}), 0u);

    struct Case {
        std::vector<uint8_t> bytes;
        int reported;
        bool accepted;
    };
    const Case cases[] = {
        {{0xFF, 0x02}, 0x01, true},
        {{0xFF, 0x02}, 0x00, false},
        {{}, 0x00, true},
        {{}, 0x01, false},
        {std::vector<uint8_t>(200, 0x81), (200 * 0x81) & 0xFF, true},  // sums across blocks wrap
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        net.link.sent.clear();
        device.reportedChecksum = c.reported;
        EXPECT_EQ(Download(c.bytes), c.accepted);
        // A mismatch resets the device once; a match sends no reset.
        EXPECT_EQ(net.Sends(OP_RESET), c.accepted ? 0 : 1);
    }
}

TEST_F(Interpreter, FailuresDuringLoad) {
    struct Case {
        const char* what;
        void (*setUp)(SimulatedDevice&);
        Trace trace;
    };
    const Case cases[] = {
        {"LoadBegin unanswered",
         [](SimulatedDevice& d) { d.silentOpcode = OP_LOAD_BEGIN; },
         {"BEGIN 0x0:0x0 130", "RESET"}},
        {"block 1 unanswered",
         [](SimulatedDevice& d) { d.silentBlock = 1; },
         {"BEGIN 0x0:0x0 130", "BLOCK 0 64", "BLOCK 1 64"}},
        {"partial block unanswered",
         [](SimulatedDevice& d) { d.silentBlock = 2; },
         {"BEGIN 0x0:0x0 130", "BLOCK 0 64", "BLOCK 1 64", "BLOCK 2 2"}},
        {"verify unanswered",
         [](SimulatedDevice& d) { d.silentOpcode = OP_LOAD_VERIFY; },
         {"BEGIN 0x0:0x0 130", "BLOCK 0 64", "BLOCK 1 64", "BLOCK 2 2", "VERIFY", "RESET"}},
        {"checksum differs",
         [](SimulatedDevice& d) { d.reportedChecksum = 0x5A; },
         {"BEGIN 0x0:0x0 130", "BLOCK 0 64", "BLOCK 1 64", "BLOCK 2 2", "VERIFY", "RESET"}},
        {"block size 0", [](SimulatedDevice& d) { d.blockSize = 0; }, {"BEGIN 0x0:0x0 130", "RESET"}},
        {"block size 513", [](SimulatedDevice& d) { d.blockSize = 513; }, {"BEGIN 0x0:0x0 130", "RESET"}},
    };
    const auto bytes = Pattern(130);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        net.link.sent.clear();
        device = SimulatedDevice{};
        device.mac = DEVICE_MAC;
        c.setUp(device);
        EXPECT_FALSE(Download(bytes));
        EXPECT_EQ(net.Trace(), c.trace);
        // The folded trace hides repeats: the reset goes out exactly once or not at all.
        const bool resets = c.trace.back() == "RESET";
        EXPECT_EQ(net.Sends(OP_RESET), resets ? 1 : 0);
    }
}

TEST_F(Interpreter, LoadBeyondTheBlockCounterFails) {
    // 65,536 full blocks of one byte: the block number would wrap.
    device.blockSize = 1;
    EXPECT_FALSE(Download(std::vector<uint8_t>(0x10000, 0)));
    EXPECT_EQ(net.Trace(), (Trace{"BEGIN 0x0:0x0 65536", "RESET"}));

    // No block size can carry this file: nothing is sent at all.
    net.link.sent.clear();
    const auto huge = folder.File("HUGE.BIN");
    ASSERT_TRUE(test::WriteBytes(huge, {}));
    fs::resize_file(huge, uint64_t{0x10000} * LOAD_BUFFER);
    EXPECT_FALSE(DownloadFile(net.protocol, record, 0, 0, huge));
    EXPECT_TRUE(net.link.sent.empty());
}

TEST_F(Interpreter, FileThatShrinksDuringTheTransferFailsWithoutStaleBytes) {
    const auto file = folder.File("SHRINK.BIN");
    ASSERT_TRUE(test::WriteBytes(file, Pattern(200)));
    auto respond = net.link.responder;
    net.link.responder = [&](std::span<const uint8_t> request, testing::FakeTransport& link) {
        if (request[OFFSET_OPCODE] == OP_LOAD_BEGIN) fs::resize_file(file, 100);
        respond(request, link);
    };
    EXPECT_FALSE(DownloadFile(net.protocol, record, 0, 0, file));
    // Only whole blocks that the file still held went out; no verify, no reset.
    EXPECT_EQ(net.Trace(), (Trace{"BEGIN 0x0:0x0 200", "BLOCK 0 64"}));
}

TEST_F(Interpreter, UnreadableLoadFileSendsNothing) {
    EXPECT_FALSE(DownloadFile(net.protocol, record, 0, 0, folder.File("NONE.BIN")));
    EXPECT_TRUE(net.link.sent.empty());
}

TEST_F(Interpreter, LoadExtractsAndRemovesItsMember) {
    OpenScript("LOAD Fw.Bin 0:0\n", {{"FW.BIN", Pattern(100)}});
    ASSERT_TRUE(Run());
    EXPECT_EQ(device.Loaded(), Pattern(100));
    EXPECT_FALSE(fs::exists(package.DataFile("FW.BIN")));

    // A failed transfer leaves the extracted file until the package closes.
    device.silentBlock = 0;
    net.link.sent.clear();
    EXPECT_FALSE(Run());
    EXPECT_TRUE(fs::exists(package.DataFile("FW.BIN")));
    EXPECT_EQ(net.Sends(OP_RESET), 0);
    // Nothing was extracted beside the package.
    EXPECT_FALSE(fs::exists(PackageFolder() / "FW.BIN"));
}

TEST_F(Interpreter, LoadingTheTextMembersLeavesTheirWorkingCopiesAlone) {
    OpenScript("LOAD program.cmd 0:0\nLOAD restriction.ini 0:0\n");
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Run());  // the script is still there for a retry or the next device
    uint16_t product = 0;
    EXPECT_TRUE(Restrictions::LookupNumber(package, "PRODUCTID", product));
    EXPECT_EQ(product, 1);
}

TEST_F(Interpreter, CommandsThatFailBeforeAnyExchange) {
    std::vector<PackageMember> data{{"FW.BIN", Pattern(10)}, {"../UP.BIN", Pattern(10)},
                                    {"..", Pattern(10)},     {"A\\B", Pattern(10)},
                                    {"A\tB", Pattern(10)},   {std::string(100, 'N'), Pattern(10)}};
    const std::string longName(100, 'N');
    const char* scripts[] = {
        "LOAD MISSING.BIN 0:0",  // member not in the package
        "LOAD  FW.BIN 0:0",      // two spaces: the name token is empty
        "LOAD",                  // no name at all
        "LOAD ../up.bin 0:0",    // names that would leave their folder
        "LOAD .. 0:0",
        "LOAD a\\b 0:0",
        "LOAD a\tb 0:0",
        "READ ../up.bin 0:0 10",
        "READ . 0:0 10",
        "READ a\\b 0:0 10",
        "READ",
        "READ out.bin 0:0 0x800000",  // 2^23 bytes would wrap the request counter
        "READ out.bin 0:0 -1",
    };
    for (const char* line : scripts) {
        SCOPED_TRACE(line);
        OpenScript(std::string(line) + "\nRESET\n", data);
        net.link.sent.clear();
        EXPECT_FALSE(Run());
        EXPECT_TRUE(net.link.sent.empty());
    }
    for (const std::string& line : {"LOAD " + longName + " 0:0", "READ " + longName + " 0:0 1"}) {
        SCOPED_TRACE(line.substr(0, 6));
        OpenScript(line + "\n", data);
        net.link.sent.clear();
        EXPECT_FALSE(Run());
        EXPECT_TRUE(net.link.sent.empty());
    }
    // Nothing was written next to the package or above it.
    EXPECT_FALSE(fs::exists(folder.File("UP.BIN")));
    EXPECT_FALSE(fs::exists(PackageFolder() / "OUT.BIN"));
    EXPECT_FALSE(fs::exists(PackageFolder() / longName));
}

TEST_F(Interpreter, NamesOfNinetyNineCharactersStillWork) {
    const std::string name(99, 'N');
    OpenScript("LOAD " + name + " 0:0\nREAD " + std::string(99, 'r') + " 0:0 3\n", {{name, Pattern(5)}});
    EXPECT_TRUE(Run());
    EXPECT_EQ(device.Loaded(), Pattern(5));
    EXPECT_EQ(test::ReadBytes(PackageFolder() / std::string(99, 'R')), Memory(0, 0, 3));
}

TEST_F(Interpreter, ReadRequests) {
    struct Case {
        const char* line;
        Trace trace;
        uint16_t a;
        uint16_t b;
        std::size_t length;
    };
    const Case cases[] = {
        {"READ out.bin 0x10:0x80 0", {}, 0x10, 0x80, 0},
        {"READ out.bin 0x10:0x80 200", {"READ 128 0x10:0x80", "READ 72 0x10:0x100"}, 0x10, 0x80, 200},
        {"READ out.bin 0x10:0x80 256", {"READ 128 0x10:0x80", "READ 128 0x10:0x100"}, 0x10, 0x80, 256},
        {"READ out.bin 7:0xFFC0 256", {"READ 128 0x7:0xffc0", "READ 128 0x7:0x40"}, 7, 0xFFC0, 256},
        {"READ out.bin 7:0xFFC0 130", {"READ 128 0x7:0xffc0", "READ 2 0x7:0x40"}, 7, 0xFFC0, 130},
        {"read out.bin 5 1", {"READ 1 0x5:0x0"}, 5, 0, 1},  // a pair without ':' leaves b at 0
        {"READ out.bin 1:2", {}, 1, 2, 0},                  // no length reads nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto output = PackageFolder() / "OUT.BIN";
        ASSERT_TRUE(test::WriteText(output, "old contents"));
        OpenScript(std::string(c.line) + "\n");
        net.link.sent.clear();
        EXPECT_TRUE(Run());
        EXPECT_EQ(net.Trace(), c.trace);
        EXPECT_EQ(test::ReadBytes(output), Memory(c.a, c.b, c.length));
    }
}

TEST_F(Interpreter, ReadNameIsUpperCasedBesideThePackage) {
    OpenScript("READ Dump.bin 0:0 4\n");
    ASSERT_TRUE(Run());
    EXPECT_TRUE(fs::exists(PackageFolder() / "DUMP.BIN"));
    EXPECT_FALSE(fs::exists(PackageFolder() / "Dump.bin"));
    EXPECT_FALSE(fs::exists(package.WorkFile("DUMP.BIN")));
}

TEST_F(Interpreter, ReadNeverOverwritesTheOpenPackage) {
    // The package file is test.upk; a READ of that name upper-cases to TEST.UPK,
    // so the package is written under that name to make the two meet.
    package.Close();
    const auto path = PackageFolder() / "TEST.UPK";
    ASSERT_TRUE(WritePackage(path, StandardMembers("READ test.upk 0:0 4\n", "PRODUCTID 1\n")));
    const auto before = test::ReadBytes(path);
    ASSERT_TRUE(package.Open(path));
    net.link.sent.clear();
    EXPECT_FALSE(Run());
    EXPECT_TRUE(net.link.sent.empty());
    EXPECT_EQ(test::ReadBytes(path), before);
}

TEST_F(Interpreter, ReadNeverFollowsALinkOrWritesIntoAFifo) {
    const auto target = folder.File("victim.txt");
    ASSERT_TRUE(test::WriteText(target, "keep me"));
    fs::create_symlink(target, PackageFolder() / "OUT.BIN");
    OpenScript("READ out.bin 1:0 4\n");
    net.link.sent.clear();
    EXPECT_FALSE(Run());
    EXPECT_TRUE(net.link.sent.empty());
    EXPECT_EQ(test::ReadText(target), "keep me");

    fs::remove(PackageFolder() / "OUT.BIN");
    ASSERT_EQ(::mkfifo((PackageFolder() / "OUT.BIN").c_str(), 0600), 0);
    EXPECT_FALSE(Run());  // would block forever if the FIFO were opened for writing
    EXPECT_TRUE(net.link.sent.empty());
}

TEST_F(Interpreter, PreparedLoadMemberServesEveryRun) {
    OpenScript("LOAD fw.bin 0:0\n", {{"FW.BIN", Pattern(100)}});
    ASSERT_EQ(package.PrepareData("FW.BIN"), ExtractStatus::Done);
    const auto prepared = package.PreparedData("FW.BIN");
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Run());
    EXPECT_EQ(device.Loaded(), Pattern(100));
    EXPECT_EQ(test::ReadBytes(prepared), Pattern(100));
    package.Close();
    EXPECT_FALSE(fs::exists(prepared));
}

TEST_F(Interpreter, FailedReadKeepsWhatWasRead) {
    device.silentOpcode = OP_READ;
    device.answersBeforeSilence = 1;
    OpenScript("READ out.bin 1:0 300\nRESET\n");
    EXPECT_FALSE(Run());
    EXPECT_EQ(test::ReadBytes(PackageFolder() / "OUT.BIN"), Memory(1, 0, 128));
    EXPECT_EQ(net.Sends(OP_READ), 1 + MAX_SENDS);
    EXPECT_EQ(net.Sends(OP_RESET), 0);
}

TEST_F(Interpreter, KeywordsAndSkippedLines) {
    struct Case {
        const char* script;
        Trace trace;
    };
    const std::string longKeyword = std::string(100, 'R') + "\nRESET\n";
    const Case cases[] = {
        {"; only comments\n\n   \n  ; more\n", {}},
        {"", {}},
        {"setProgramMode\nRESETT\nlockdevice\nBOGUS 1 2\nunlockDevice\nreset\n",
         {"PROGRAMMODE", "LOCK", "UNLOCK", "RESET"}},
        {"ERASE\nERASE 0x10005\nERASE -1\nerase 7 extra\n", {"ERASE 0", "ERASE 5", "ERASE 65535", "ERASE 7"}},
        {"RESET ; the last line has no line feed", {"RESET"}},
        {longKeyword.c_str(), {"RESET"}},  // a keyword too long for the buffer is skipped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        OpenScript(c.script);
        net.link.sent.clear();
        EXPECT_TRUE(Run());
        EXPECT_EQ(net.Trace(), c.trace);
    }
}

TEST_F(Interpreter, FirstFailingCommandEndsTheRun) {
    struct Case {
        uint8_t silent;
        Trace trace;
    };
    const Case cases[] = {
        {OP_PROGRAM_MODE, {"PROGRAMMODE"}},
        {OP_LOCK, {"PROGRAMMODE", "LOCK"}},
        {OP_ERASE, {"PROGRAMMODE", "LOCK", "ERASE 2"}},
        {OP_UNLOCK, {"PROGRAMMODE", "LOCK", "ERASE 2", "UNLOCK"}},
        {OP_RESET, {"PROGRAMMODE", "LOCK", "ERASE 2", "UNLOCK", "RESET"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.silent);
        device.silentOpcode = c.silent;
        OpenScript("SETPROGRAMMODE\nLOCKDEVICE\nERASE 2\nUNLOCKDEVICE\nRESET\nLOCKDEVICE\n");
        net.link.sent.clear();
        EXPECT_FALSE(Run());
        EXPECT_EQ(net.Trace(), c.trace);
        EXPECT_EQ(net.Sends(c.silent), MAX_SENDS);
    }
}

TEST_F(Interpreter, EraseEchoMustMatch) {
    // A device that echoes another value fails the erase after all its sends.
    auto respond = net.link.responder;
    net.link.responder = [&](std::span<const uint8_t> request, testing::FakeTransport& link) {
        if (request[OFFSET_OPCODE] != OP_ERASE) return respond(request, link);
        link.QueueReply(testing::MakeReplyWords(OP_ERASE, DEVICE_MAC, {9}));
    };
    OpenScript("ERASE 3\nRESET\n");
    EXPECT_FALSE(Run());
    EXPECT_EQ(net.Trace(), Trace{"ERASE 3"});
}

TEST_F(Interpreter, MissingScriptSendsNothing) {
    OpenScript("RESET\n");
    fs::remove(package.WorkFile("PROGRAM.CMD"));
    EXPECT_FALSE(Run());
    EXPECT_TRUE(net.link.sent.empty());
}

TEST_F(Interpreter, ARetryRunsTheScriptFromItsFirstLine) {
    device.silentOpcode = OP_ERASE;
    OpenScript("LOCKDEVICE\nERASE 1\nRESET\n");
    EXPECT_FALSE(Run());
    device.silentOpcode = -1;
    net.link.sent.clear();
    EXPECT_TRUE(Run());
    EXPECT_EQ(net.Trace(), (Trace{"LOCK", "ERASE 1", "RESET"}));
}

// Read line by line, or from the package check's plan as a run takes it:
// every line with tokens is told, the unknown ones too.
TEST_F(Interpreter, ObserverSeesLinesAndTransfers) {
    device.blockSize = 64;
    OpenScript("; header\n\nRESET\n  load fw.bin 0:0  ; data\nNOSUCH 1\nREAD out.bin 0:0 130\n",
               {{"FW.BIN", Pattern(130)}});
    const std::vector<PlannedCommand> checked = CheckPackage(package, PackageFolder()).plan;
    for (const bool fromCheck : {false, true}) {
        SCOPED_TRACE(fromCheck ? "the check's plan" : "the script");
        Recorder recorder;
        ASSERT_TRUE(fromCheck ? RunPlan(checked, package, net.protocol, record, &recorder) : Run(&recorder));
        EXPECT_EQ(recorder.lines,
                  (std::vector<std::pair<int, std::string>>{
                      {3, "RESET"}, {4, "load fw.bin 0:0"}, {5, "NOSUCH 1"}, {6, "READ out.bin 0:0 130"}}));
        EXPECT_EQ(recorder.transfers, (std::vector<std::string>{
                                          "FW.BIN 0/130", "FW.BIN 64/130", "FW.BIN 128/130", "FW.BIN 130/130",
                                          "OUT.BIN 0/130", "OUT.BIN 128/130", "OUT.BIN 130/130"}));
    }
}

}  // namespace
}  // namespace quorvane
