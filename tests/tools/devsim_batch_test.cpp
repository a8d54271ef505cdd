// Requests read and replies sent many at a time: the due queue's order, the
// room a load takes ahead, and a burst of requests from many devices through
// the real socket loop, each device answered in order and after its delays.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <map>
#include <thread>

#include "tests/tools/devsim_packets.h"
#include "tools/devsim/reply_queue.h"
#include "tools/devsim/sparse_memory.h"
#include "tools/devsim/udp_server.h"

namespace quorvane::devsim {
namespace {

using namespace quorvane::devsim::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    return to;
}

struct QueueCase {
    const char* name;
    std::vector<std::pair<int, uint8_t>> added;  // due in us, the reply's one byte
    int now;
    std::vector<uint8_t> taken;  // in sending order
    std::size_t left;
};

class DevsimReplyQueue : public ::testing::TestWithParam<QueueCase> {};

TEST_P(DevsimReplyQueue, TakesWhatIsDueInDueThenArrivalOrder) {
    const QueueCase& c = GetParam();
    ReplyQueue queue;
    for (const auto& [due, byte] : c.added) queue.Add(Micros{due}, Loopback(1), std::vector<uint8_t>{byte});
    SendBatch out;
    queue.TakeDue(Micros{c.now}, out);
    std::vector<uint8_t> taken;
    for (std::size_t i = 0; i < out.Size(); ++i) taken.push_back(out.Bytes(i)[0]);
    EXPECT_EQ(taken, c.taken);
    EXPECT_EQ(queue.Size(), c.left);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DevsimReplyQueue,
    ::testing::Values(QueueCase{"DueOrder", {{30, 3}, {10, 1}, {20, 2}}, 30, {1, 2, 3}, 0},
                      QueueCase{"TiesKeepArrival", {{5, 7}, {5, 8}, {5, 9}}, 5, {7, 8, 9}, 0},
                      QueueCase{"LaterStays", {{10, 1}, {11, 2}, {9, 3}}, 10, {3, 1}, 1},
                      QueueCase{"NothingDue", {{10, 1}}, 9, {}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DevsimReplyQueue, ReusedSlotHoldsTheNewReplyOnly) {
    ReplyQueue queue;
    SendBatch out;
    queue.Add(Micros{1}, Loopback(1), std::vector<uint8_t>{1, 2, 3, 4});
    queue.TakeDue(Micros{1}, out);
    queue.Add(Micros{2}, Loopback(2), std::vector<uint8_t>{9});
    out.Clear();
    queue.TakeDue(Micros{2}, out);
    ASSERT_EQ(out.Size(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(out.Bytes(0).begin(), out.Bytes(0).end()), std::vector<uint8_t>{9});
    EXPECT_EQ(ntohs(out.To(0).sin_port), 2);
    EXPECT_EQ(queue.NextDue(), std::nullopt);
}

struct WriteCase {
    const char* name;
    uint64_t expectAt, expectLength;
    std::vector<std::pair<uint64_t, std::size_t>> writes;  // address, length of a pattern
};

class DevsimExpectedWrites : public ::testing::TestWithParam<WriteCase> {};

// The room taken ahead changes nothing that can be read back.
TEST_P(DevsimExpectedWrites, ReadBackAsWithoutTheHint) {
    const WriteCase& c = GetParam();
    SparseMemory hinted, plain;
    hinted.ExpectWrites(c.expectAt, c.expectLength);
    uint8_t salt = 0;
    for (const auto& [address, length] : c.writes) {
        const auto data = Pattern(length, salt++);
        hinted.Write(address, data);
        plain.Write(address, data);
    }
    ASSERT_EQ(hinted.Segments().size(), plain.Segments().size());
    for (std::size_t i = 0; i < plain.Segments().size(); ++i) {
        EXPECT_EQ(hinted.Segments()[i].address, plain.Segments()[i].address);
        EXPECT_EQ(hinted.Segments()[i].bytes, plain.Segments()[i].bytes);
    }
    EXPECT_EQ(hinted.Read(0x10000 - 8, 0x400), plain.Read(0x10000 - 8, 0x400));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DevsimExpectedWrites,
    ::testing::Values(
        WriteCase{"Appended", 0x10000, 1536, {{0x10000, 512}, {0x10200, 512}, {0x10400, 512}}},
        WriteCase{"ResentBlock", 0x10000, 1024, {{0x10000, 512}, {0x10200, 512}, {0x10000, 512}}},
        WriteCase{"PastTheHint", 0x10000, 100, {{0x10000, 512}, {0x10200, 512}}},
        WriteCase{"GapThenFill", 0x10000, 1024, {{0x10200, 512}, {0x10000, 512}}},
        WriteCase{"BehindOlderData", 0x10010, 64, {{0x10000, 16}, {0x10010, 32}, {0x10030, 32}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The socket loop of devsim in this process, on a loopback port.
class ServedSimulator {
public:
    explicit ServedSimulator(FaultOptions faults, std::size_t devices)
        : simulator_(DefaultProfiles(devices), std::move(faults)) {
        std::string error;
        opened_ = server_.Open({0x7F000001, 0}, error);
        if (opened_)
            thread_ = std::thread([this] {
                std::string failure;
                server_.Run(
                    simulator_, {&stop_, nullptr}, [] {}, failure);
            });
    }
    ~ServedSimulator() {
        stop_ = 1;
        if (thread_.joinable()) thread_.join();
    }
    bool Opened() const { return opened_; }
    uint16_t Port() const { return server_.BoundPort(); }

private:
    volatile std::sig_atomic_t stop_ = 0;
    Simulator simulator_;
    UdpServer server_;
    bool opened_ = false;
    std::thread thread_;
};

MacAddress Device(std::size_t number) {
    return {0x02, 0x00, 0x00, 0x00, static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)};
}

struct BurstCase {
    const char* name;
    std::size_t devices;
    int blocks;  // LOAD blocks per device, after a LOAD_BEGIN
    int blockDelayMs;
    int delayMs;
};

class DevsimBurst : public ::testing::TestWithParam<BurstCase> {};

// Every device's begin and blocks are sent at once, more than one receive
// takes (and few enough for a system's default socket buffer); each device must get its replies in request
// order, the n-th block no sooner than n stores after the burst.
TEST_P(DevsimBurst, EveryDeviceAnsweredInOrderAfterItsDelays) {
    const BurstCase& c = GetParam();
    FaultOptions faults;
    faults.blockDelayMs = c.blockDelayMs;
    faults.delayMs = c.delayMs;
    ServedSimulator served(faults, c.devices);
    ASSERT_TRUE(served.Opened());
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int room = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    const sockaddr_in to = Loopback(served.Port());
    const auto sent = Clock::now();
    for (int step = -1; step < c.blocks; ++step) {
        for (std::size_t d = 1; d <= c.devices; ++d) {
            const auto request = step < 0 ? LoadBegin(Device(d), 1, 0, 4096)
                                          : LoadBlock(Device(d), static_cast<uint16_t>(step), Pattern(512));
            sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
    }
    std::map<std::size_t, std::vector<int>> echoes;  // by device: -1 for the begin, then block indexes
    std::size_t replies = 0;
    const std::size_t expected = c.devices * static_cast<std::size_t>(c.blocks + 1);
    uint8_t reply[REPLY_CAPACITY];
    while (replies < expected) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 2000) <= 0) break;
        const ssize_t n = recv(fd, reply, sizeof reply, 0);
        ASSERT_GT(n, static_cast<ssize_t>(HEADER_SIZE));
        const auto since = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent);
        PacketHeader header;
        ASSERT_TRUE(PacketHeader::Decode({reply, static_cast<std::size_t>(n)}, header));
        const std::size_t device = header.mac[4] * 256u + header.mac[5];
        const bool block = header.opcode == OP_LOAD_BLOCK;
        echoes[device].push_back(block ? ReplyWord({reply, static_cast<std::size_t>(n)}) : -1);
        const int stores = block ? echoes[device].back() + 1 : 0;
        EXPECT_GE(since, std::chrono::milliseconds(stores * c.blockDelayMs + c.delayMs)) << device;
        ++replies;
    }
    close(fd);
    ASSERT_EQ(replies, expected);
    std::vector<int> inOrder{-1};
    for (int b = 0; b < c.blocks; ++b) inOrder.push_back(b);
    ASSERT_EQ(echoes.size(), c.devices);
    for (const auto& [device, got] : echoes) EXPECT_EQ(got, inOrder) << "device " << device;
}

INSTANTIATE_TEST_SUITE_P(Cases, DevsimBurst,
                         ::testing::Values(BurstCase{"AtOnce", 40, 3, 0, 0}, BurstCase{"Stored", 40, 3, 2, 0},
                                           BurstCase{"StoredAndDelayed", 40, 2, 1, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvane::devsim
