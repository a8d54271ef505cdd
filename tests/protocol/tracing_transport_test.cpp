// The packet trace: the line each request and reply gives, the receive
// results that are not replies, the bytes at -vv, the log file's stamps,
// and whole entries when several transports share one sink.

#include "protocol/tracing_transport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/trace_sink.h"
#include "protocol/utc_time.h"
#include "support/fake_transport.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::FakeTransport;
using testing::MakePacket;
using testing::MakeReply;

const MacAddress DEVICE{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
const MacAddress EVERY{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// A fake transport under the tracer whose replies come back 412 µs after
// each request on the tracer's clock.
struct TracedLink {
    explicit TracedLink(int detail) : sink(screen, detail) {}
    std::ostringstream screen;
    TraceSink sink;
    FakeTransport fake;
    std::chrono::steady_clock::time_point now{};
    TracingTransport tracer{fake, &sink, [this] { return now; }};

    // Sends `request`, lets `reply` arrive 412 µs later and receives it.
    void Exchange(const std::vector<uint8_t>& request, const std::vector<uint8_t>& reply) {
        fake.responder = [this, reply](std::span<const uint8_t>, FakeTransport& link) {
            link.QueueReply(reply);
            now += 412us;
        };
        ASSERT_TRUE(tracer.Send(0xFFFFFFFF, request));
        std::array<uint8_t, REPLY_CAPACITY> buffer{};
        uint32_t sender = 0;
        ASSERT_EQ(tracer.Receive(sender, buffer), static_cast<int>(reply.size()));
    }
};

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> bytes) {
    return bytes;
}

std::vector<uint8_t> Request(uint8_t opcode, std::vector<uint8_t> payload = {},
                             const MacAddress& mac = DEVICE) {
    return MakePacket(opcode, REQUEST_MAGIC, mac, payload);
}

TEST(TracingTransport, EveryOpcodeIsNamedWithItsFieldsSizeAndRoundTrip) {
    const std::vector<uint8_t> readData(128, 0x11);
    const struct {
        std::vector<uint8_t> request;
        std::vector<uint8_t> reply;
        const char* text;
    } cases[] = {
        {Request(OP_DISCOVER, {0xFF, 0xFF, 0xFF, 0xFF}, EVERY),
         MakeReply(OP_DISCOVER_REPLY, DEVICE, Bytes({0, 0, 0, 0})),
         "-> DISCOVER ff:ff:ff:ff:ff:ff p1=0xffff p2=0xffff, 18 bytes\n"
         "<- DISCOVER_REPLY 02:00:00:00:00:01 w1=0x0000 w2=0x0000, 18 bytes from 127.0.0.1 after 0.412 ms\n"},
        {Request(OP_GET_INFO), MakeReply(OP_INFO_REPLY, DEVICE, Bytes({1, 0xAA, 0xBB, 0xCC})),
         "-> GET_INFO 02:00:00:00:00:01, 14 bytes\n"
         "<- INFO_REPLY 02:00:00:00:00:01 flag=1 block=3, 18 bytes from 127.0.0.1 after 0.412 ms\n"},
        {Request(OP_PROGRAM_MODE), MakeReply(OP_PROGRAM_MODE, DEVICE),
         "-> PROGRAM_MODE 02:00:00:00:00:01, 14 bytes\n"
         "<- PROGRAM_MODE 02:00:00:00:00:01, 14 bytes from 127.0.0.1 after 0.412 ms\n"},
        {Request(OP_LOCK), MakeReply(OP_LOCK, DEVICE),
         "-> LOCK 02:00:00:00:00:01, 14 bytes\n<- LOCK 02:00:00:00:00:01, 14 bytes from 127.0.0.1 after "
         "0.412 ms\n"},
        {Request(OP_UNLOCK), MakeReply(OP_UNLOCK, DEVICE),
         "-> UNLOCK 02:00:00:00:00:01, 14 bytes\n"
         "<- UNLOCK 02:00:00:00:00:01, 14 bytes from 127.0.0.1 after 0.412 ms\n"},
        {Request(OP_ERASE, {3, 0}), MakeReply(OP_ERASE, DEVICE, Bytes({3, 0})),
         "-> ERASE 02:00:00:00:00:01 value=3, 16 bytes\n"
         "<- ERASE 02:00:00:00:00:01 echo=3, 16 bytes from 127.0.0.1 after 0.412 ms\n"},
        {Request(OP_LOAD_BEGIN, {1, 0, 0, 0, 0x31, 0x75, 0, 0}),
         MakeReply(OP_LOAD_BEGIN, DEVICE, Bytes({0, 2})),
         "-> LOAD_BEGIN 02:00:00:00:00:01 addr=0001:0000 length=30001, 22 bytes\n"
         "<- LOAD_BEGIN 02:00:00:00:00:01 block=512, 16 bytes from 127.0.0.1 after 0.412 ms\n"},
        {Request(OP_LOAD_BLOCK, {2, 0, 9, 9, 9, 9}), MakeReply(OP_LOAD_BLOCK, DEVICE, Bytes({2, 0})),
         "-> LOAD_BLOCK 02:00:00:00:00:01 index=2 bytes=4, 20 bytes\n"
         "<- LOAD_BLOCK 02:00:00:00:00:01 echo=2, 16 bytes from 127.0.0.1 after 0.412 ms\n"},
        {Request(OP_LOAD_VERIFY), MakeReply(OP_LOAD_VERIFY, DEVICE, Bytes({0x5A})),
         "-> LOAD_VERIFY 02:00:00:00:00:01, 14 bytes\n"
         "<- LOAD_VERIFY 02:00:00:00:00:01 checksum=0x5a, 15 bytes from 127.0.0.1 after 0.412 ms\n"},
        {Request(OP_READ, {128, 0, 1, 0, 0x00, 0x73}), MakeReply(OP_READ, DEVICE, readData),
         "-> READ 02:00:00:00:00:01 addr=0001:7300 length=128, 20 bytes\n"
         "<- READ 02:00:00:00:00:01 length=128, 142 bytes from 127.0.0.1 after 0.412 ms\n"},
        {Request(OP_RESET), MakeReply(OP_RESET, DEVICE),
         "-> RESET 02:00:00:00:00:01, 14 bytes\n"
         "<- RESET 02:00:00:00:00:01, 14 bytes from 127.0.0.1 after 0.412 ms\n"},
    };
    for (const auto& c : cases) {
        TracedLink link(TRACE_PACKETS);
        link.Exchange(c.request, c.reply);
        EXPECT_EQ(link.screen.str(), c.text);
    }
}

TEST(TracingTransport, ReceivesWithoutAReplySayWhatHappened) {
    TracedLink link(TRACE_PACKETS);
    std::array<uint8_t, 16> small{};
    uint32_t sender = 0;
    link.fake.QueueResult(0);
    link.fake.QueueReply(std::vector<uint8_t>(40, 0));
    EXPECT_EQ(link.tracer.Receive(sender, small), 0);
    EXPECT_EQ(link.tracer.Receive(sender, small), RECEIVE_OVERSIZED);
    EXPECT_EQ(link.tracer.Receive(sender, small), RECEIVE_NOTHING);
    // A look at what is already waiting ends empty all the time: no line.
    EXPECT_EQ(link.tracer.Receive(sender, small, 0ms), RECEIVE_NOTHING);
    // What waits when a request is about to go is dropped, and said to be;
    // a reply nobody asked for has no round trip.
    link.fake.QueueReply(MakeReply(OP_ERASE, DEVICE, Bytes({3, 0})));
    link.tracer.DropEarlierDatagrams(small, 4);
    link.fake.QueueReply(MakeReply(OP_RESET, DEVICE));
    EXPECT_EQ(link.tracer.Receive(sender, small), 14);
    EXPECT_EQ(
        link.screen.str(),
        "<- an empty datagram, or the wait failed\n"
        "<- a datagram of more than 16 bytes, dropped\n"
        "<- nothing within 1000 ms\n"
        "<- ERASE 02:00:00:00:00:01 echo=3, 16 bytes from 127.0.0.1, dropped: it came before the request\n"
        "<- RESET 02:00:00:00:00:01, 14 bytes from 127.0.0.1\n");
}

TEST(TracingTransport, DoubleVerboseAddsTheBytesAndOffWritesNothing) {
    TracedLink hex(TRACE_HEX);
    hex.Exchange(Request(OP_ERASE, {3, 0}), MakeReply(OP_ERASE, DEVICE, Bytes({3, 0})));
    EXPECT_EQ(hex.screen.str(),
              "-> ERASE 02:00:00:00:00:01 value=3, 16 bytes\n"
              "    0000  00 04 72 19 01 13 02 00 00 00 00 01 02 00 03 00\n"
              "<- ERASE 02:00:00:00:00:01 echo=3, 16 bytes from 127.0.0.1 after 0.412 ms\n"
              "    0000  00 04 96 19 06 30 02 00 00 00 00 01 02 00 03 00\n");

    TracedLink off(TRACE_OFF);
    off.Exchange(Request(OP_ERASE, {3, 0}), MakeReply(OP_ERASE, DEVICE, Bytes({3, 0})));
    EXPECT_EQ(off.screen.str(), "");
}

TEST(TracingTransport, ARefusedSendIsSaidToBeNotSent) {
    TracedLink link(TRACE_PACKETS);
    link.fake.failSendsFrom = 0;
    EXPECT_FALSE(link.tracer.Send(0xFFFFFFFF, Request(OP_RESET)));
    EXPECT_EQ(link.screen.str(),
              "-> RESET 02:00:00:00:00:01, 14 bytes\n-> not sent: the system refused the datagram\n");
}

TEST(TraceSink, TheLogFileStampsEachEntryAndKeepsTheScreenAsAsked) {
    const auto path = std::filesystem::temp_directory_path() / ("trace-" + std::to_string(getpid()) + ".log");
    std::ostringstream screen;
    TraceSink sink(screen, TRACE_OFF);
    std::string error;
    ASSERT_TRUE(sink.OpenLog(path, TRACE_OFF, error)) << error;
    EXPECT_EQ(sink.Detail(), TRACE_PACKETS);  // a log file traces at least the lines
    sink.Write("-> RESET 02:00:00:00:00:01, 14 bytes", "    0000  00 08\n");
    ASSERT_TRUE(sink.CloseLog(error)) << error;
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    EXPECT_TRUE(std::regex_match(
        text, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z -> RESET 02:00:00:00:00:01, 14 bytes\n)")))
        << text;
    EXPECT_EQ(screen.str(), "");

    EXPECT_FALSE(sink.OpenLog("/nonexistent-folder/x.log", TRACE_HEX, error));
    EXPECT_EQ(error, "cannot write log file /nonexistent-folder/x.log: No such file or directory");
}

// The stamp of log entries and of the events' run-start: UTC, microseconds
// kept with their leading zeros, none rounded up into the next second.
TEST(UtcTimeText, WritesIso8601InUtcWithMicroseconds) {
    using std::chrono::microseconds;
    using std::chrono::system_clock;
    const struct {
        long long micros;
        const char* text;
    } cases[] = {
        {1796835339123456LL, "2026-12-09T16:55:39.123456Z"},
        {1796835339000042LL, "2026-12-09T16:55:39.000042Z"},
        {1796835339999999LL, "2026-12-09T16:55:39.999999Z"},
        {0, "1970-01-01T00:00:00.000000Z"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UtcTimeText(system_clock::time_point(microseconds(c.micros))), c.text) << c.micros;
}

// Upgrades run side by side, one transport each, over one sink: every entry
// (a line and its bytes) must stay whole.
TEST(TraceSink, EntriesOfTransportsOnSeveralThreadsNeverInterleave) {
    std::ostringstream screen;
    TraceSink sink(screen, TRACE_HEX);
    auto run = [&sink](uint8_t last) {
        FakeTransport fake;
        TracingTransport tracer(fake, &sink);
        const MacAddress mac{0x02, 0, 0, 0, 0, last};
        const std::vector<uint8_t> request =
            MakePacket(OP_LOAD_BLOCK, REQUEST_MAGIC, mac, std::vector<uint8_t>(64, last));
        for (int i = 0; i < 200; ++i) tracer.Send(0xFFFFFFFF, request);
    };
    std::thread first(run, 0x01);
    std::thread second(run, 0x02);
    first.join();
    second.join();
    std::istringstream lines(screen.str());
    std::string line;
    int entries = 0;
    while (std::getline(lines, line)) {
        const char mac = line.at(line.find("02:00:00:00:00:0") + 16);
        const std::string byte = std::string(" 0") + mac;
        ASSERT_TRUE(std::getline(lines, line));  // 0000: the header, then the payload's first bytes
        for (int row = 0; row < 4; ++row) {
            ASSERT_TRUE(std::getline(lines, line));
            EXPECT_NE(line.find(byte + byte), std::string::npos) << "entry " << entries << ": " << line;
        }
        ++entries;
    }
    EXPECT_EQ(entries, 400);
}

}  // namespace
}  // namespace quorvane
