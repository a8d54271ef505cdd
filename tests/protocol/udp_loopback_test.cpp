// The endpoint over real UDP on 127.0.0.1, against a responder socket owned
// by the test.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "protocol/device_protocol.h"
#include "protocol/recording_transport.h"
#include "protocol/udp_endpoint.h"
#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

// A plain socket on 127.0.0.1 standing in for a device.
class Responder {
public:
    Responder() {
        socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound_ = socket_ >= 0 && ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        socklen_t length = sizeof local;
        if (bound_) ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
    }
    ~Responder() {
        if (socket_ >= 0) ::close(socket_);
    }
    bool Bound() const { return bound_; }
    uint16_t Port() const { return port_; }

    // Waits up to two seconds for one datagram; remembers who sent it.
    std::optional<std::vector<uint8_t>> Take() {
        pollfd ready{socket_, POLLIN, 0};
        if (::poll(&ready, 1, 2000) != 1) return std::nullopt;
        std::vector<uint8_t> bytes(2048);
        socklen_t length = sizeof peer_;
        const ssize_t n =
            ::recvfrom(socket_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&peer_), &length);
        if (n < 0) return std::nullopt;
        bytes.resize(static_cast<std::size_t>(n));
        return bytes;
    }
    void SendTo(uint16_t port, std::span<const uint8_t> bytes) {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(socket_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
    }
    void Answer(std::span<const uint8_t> bytes) { SendTo(ntohs(peer_.sin_port), bytes); }

private:
    int socket_ = -1;
    bool bound_ = false;
    uint16_t port_ = 0;
    sockaddr_in peer_{};
};

class Loopback : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(responder.Bound());
        EndpointOptions options;
        options.broadcastAddress = LOCALHOST;
        options.port = responder.Port();
        options.receiveWait = 100ms;
        endpoint = std::make_unique<UdpEndpoint>(options, &sink);
        ASSERT_TRUE(endpoint->Start());
        ASSERT_NE(endpoint->LocalPort(), 0);
    }
    int ReceiveInto(std::vector<uint8_t>& buffer, uint32_t& sender) {
        return endpoint->Receive(sender, buffer);
    }

    Responder responder;
    CollectingSink sink;
    std::unique_ptr<UdpEndpoint> endpoint;
};

TEST_F(Loopback, BroadcastSendReachesTheConfiguredAddressAndTheAnswerComesBack) {
    const auto request = Hex("00 02 72 19 01 13 02 00 00 00 00 01 00 00");
    ASSERT_TRUE(endpoint->Send(LIMITED_BROADCAST, request));
    EXPECT_EQ(responder.Take(), request);
    responder.Answer(Hex("01 02 03 04 05"));

    std::vector<uint8_t> buffer(16, 0xEE);
    uint32_t sender = 0;
    ASSERT_EQ(ReceiveInto(buffer, sender), 5);
    EXPECT_EQ(sender, LOCALHOST);
    EXPECT_EQ(buffer, Hex("01 02 03 04 05 EE EE EE EE EE EE EE EE EE EE EE"));
    EXPECT_TRUE(sink.texts.empty());
}

TEST_F(Loopback, SendToAnOrdinaryAddressGoesThereUnchanged) {
    ASSERT_TRUE(endpoint->Send(LOCALHOST, Hex("AB")));
    EXPECT_EQ(responder.Take(), Hex("AB"));
}

TEST_F(Loopback, NothingArrivingGivesMinusOneAfterTheWait) {
    std::vector<uint8_t> buffer(16);
    uint32_t sender = 0x12345678;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceiveInto(buffer, sender), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
    EXPECT_EQ(sender, 0x12345678u);
}

TEST_F(Loopback, EmptyAndOversizedDatagramsAreReportedAndConsumed) {
    std::vector<uint8_t> buffer(8, 0xEE);
    uint32_t sender = 0x12345678;
    responder.SendTo(endpoint->LocalPort(), {});
    EXPECT_EQ(ReceiveInto(buffer, sender), 0);
    responder.SendTo(endpoint->LocalPort(), std::vector<uint8_t>(9, 0x11));
    EXPECT_EQ(ReceiveInto(buffer, sender), -2);  // told apart from nothing, so a wait can go on
    EXPECT_EQ(sender, 0x12345678u);
    responder.SendTo(endpoint->LocalPort(), std::vector<uint8_t>(8, 0x22));  // exactly fits
    EXPECT_EQ(ReceiveInto(buffer, sender), 8);
    EXPECT_EQ(buffer, std::vector<uint8_t>(8, 0x22));
    EXPECT_EQ(ReceiveInto(buffer, sender), -1);  // nothing left over from the oversized one
}

// Right after the start the queue is read empty; once arrival times come,
// the drop only marks the time. Both must leave nothing old behind.
TEST_F(Loopback, DatagramsThatArrivedBeforeADropAreNeverReturned) {
    std::vector<uint8_t> buffer(8);
    uint32_t sender = 0;
    for (const bool warmedUp : {false, true}) {
        SCOPED_TRACE(warmedUp ? "by arrival time" : "by reading");
        if (warmedUp) {
            for (int i = 0; i < 200 && !endpoint->SkipsByArrivalTime(); ++i) {
                responder.SendTo(endpoint->LocalPort(), std::vector<uint8_t>(1, 0x00));
                std::this_thread::sleep_for(5ms);
                while (ReceiveInto(buffer, sender) > 0) {
                }
            }
            ASSERT_TRUE(endpoint->SkipsByArrivalTime());
        }
        responder.SendTo(endpoint->LocalPort(), std::vector<uint8_t>(3, 0x01));
        responder.SendTo(endpoint->LocalPort(), std::vector<uint8_t>(4, 0x02));
        std::this_thread::sleep_for(20ms);  // both are queued on the socket
        endpoint->DropEarlierDatagrams(buffer, 100);
        responder.SendTo(endpoint->LocalPort(), std::vector<uint8_t>(5, 0x03));
        ASSERT_EQ(ReceiveInto(buffer, sender), 5);
        EXPECT_EQ(buffer[0], 0x03);
        EXPECT_EQ(ReceiveInto(buffer, sender), -1);
    }
}

// Each frame of a capture file as (UDP source port, payload size).
std::vector<std::pair<uint16_t, std::size_t>> CapturedFrames(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<std::pair<uint16_t, std::size_t>> frames;
    for (std::size_t at = 24; at + 16 + 28 <= bytes.size();) {
        const std::size_t length = bytes[at + 8] | bytes[at + 9] << 8 | bytes[at + 10] << 16;
        const std::size_t frame = at + 16;
        frames.emplace_back(static_cast<uint16_t>(bytes[frame + 20] << 8 | bytes[frame + 21]), length - 28);
        at = frame + length;
    }
    return frames;
}

// A datagram from an unexpected port, set aside by the socket as older than
// the request, is still in the capture, with the port it really came from.
TEST_F(Loopback, CaptureOverTheSocketKeepsSourcePortsAndWhatWasSetAside) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("loopback_capture_" + std::to_string(::getpid()) + ".pcap");
    PcapWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(path, error)) << error;
    RecordingTransport recorder(*endpoint);
    recorder.RecordInto(writer, *endpoint);
    Responder stranger;
    ASSERT_NE(stranger.Port(), responder.Port());

    std::vector<uint8_t> buffer(8);
    uint32_t sender = 0;
    stranger.SendTo(endpoint->LocalPort(), std::vector<uint8_t>(3, 0x01));
    std::this_thread::sleep_for(20ms);
    recorder.DropEarlierDatagrams(buffer, 100);
    stranger.SendTo(endpoint->LocalPort(), std::vector<uint8_t>(5, 0x02));
    ASSERT_EQ(recorder.Receive(sender, buffer), 5);
    ASSERT_TRUE(writer.Close(error)) << error;

    const std::vector<std::pair<uint16_t, std::size_t>> expected = {{stranger.Port(), 3u},
                                                                    {stranger.Port(), 5u}};
    EXPECT_EQ(CapturedFrames(path), expected);
    std::filesystem::remove(path);
}

TEST_F(Loopback, ExchangeRunsOverRealUdp) {
    DeviceChain chain;
    DeviceProtocol protocol(*endpoint, chain);
    std::thread device([&] {
        // A silent first attempt, then the echo.
        if (!responder.Take()) return;
        const auto request = responder.Take();
        if (!request) return;
        responder.Answer(MakeReplyWords(OP_ERASE, EXAMPLE_MAC, {ReadU16(*request, OFFSET_PAYLOAD)}));
    });
    EXPECT_TRUE(protocol.Erase(ExampleDevice(), 0x0102));
    device.join();
}

TEST_F(Loopback, DiscoveryCollectsEveryAnswer) {
    DeviceChain chain;
    DeviceProtocol protocol(*endpoint, chain);
    std::thread devices([&] {
        if (!responder.Take()) return;
        responder.Answer(MakeReplyWords(OP_DISCOVER_REPLY, EXAMPLE_MAC, {1, 2}));
        responder.Answer(MakeReplyWords(OP_DISCOVER_REPLY, OTHER_MAC, {3, 4}));
    });
    EXPECT_TRUE(protocol.Discover(0xFFFF, 0xFFFF));
    devices.join();
    const DeviceRecord* newest = chain.Next();
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->mac, OTHER_MAC);
    EXPECT_EQ(newest->ipAddress, LOCALHOST);
    ASSERT_NE(chain.Next(), nullptr);
    EXPECT_EQ(chain.Next(), nullptr);
}

TEST_F(Loopback, CloseEndsTheSocket) {
    endpoint->Close();
    EXPECT_FALSE(endpoint->IsOpen());
    EXPECT_FALSE(endpoint->Send(LIMITED_BROADCAST, Hex("00")));
    endpoint->Close();
}

TEST_F(Loopback, AsksForALargeReceiveBufferAndCountsWhatTheSystemDropped) {
    // The request is 8 MiB; a system with a lower ceiling grants less, but
    // always more than its 212,992-byte default.
    EXPECT_GT(endpoint->ReceiveBufferBytes(), 212992);
    EXPECT_EQ(endpoint->DroppedDatagrams(), 0u);
    // More small datagrams than the buffer can hold, all before one is read.
    const auto datagram = MakeReplyWords(OP_DISCOVER_REPLY, EXAMPLE_MAC, {1, 2});
    const int flood = endpoint->ReceiveBufferBytes() / 256;
    for (int i = 0; i < flood; ++i) responder.SendTo(endpoint->LocalPort(), datagram);
    std::vector<uint8_t> buffer(REPLY_CAPACITY);
    uint32_t sender = 0;
    int read = 0;
    while (ReceiveInto(buffer, sender) > 0) ++read;
    EXPECT_LT(read, flood);
    EXPECT_EQ(endpoint->DroppedDatagrams(), static_cast<uint64_t>(flood - read));
}

}  // namespace
}  // namespace quorvane::testing
