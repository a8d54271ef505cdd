// Discovery with the default endpoint, really broadcast to 255.255.255.255
// port 4101 - but only inside a network namespace of a forked child, where
// the one interface is the loopback and the broadcast cannot leave it.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "protocol/device_protocol.h"
#include "protocol/udp_endpoint.h"
#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

enum ChildResult : int {
    PASSED = 0,
    NO_PERMISSION = 10,
    NO_IP_TOOL = 11,
    SETUP_FAILED = 12,
    RESPONDER_FAILED = 13,
    START_FAILED = 14,
    DISCOVERY_FAILED = 15,
    WRONG_RECORD = 16,
};

const char* Describe(int code) {
    switch (code) {
        case SETUP_FAILED:
            return "could not bring up the loopback or its default route";
        case RESPONDER_FAILED:
            return "responder could not bind 0.0.0.0:4101";
        case START_FAILED:
            return "endpoint did not start";
        case DISCOVERY_FAILED:
            return "discovery found no device";
        case WRONG_RECORD:
            return "discovered record does not carry the reply's fields";
        default:
            return "unexpected end of the child";
    }
}

int BindDevicePort() {
    const int device = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(DEVICE_PORT);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (device < 0 || ::bind(device, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return -1;
    return device;
}

// Answers one discovery request, as a device would.
void AnswerOneDiscovery(int device) {
    pollfd ready{device, POLLIN, 0};
    if (::poll(&ready, 1, 5000) != 1) return;
    uint8_t request[64];
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const ssize_t n =
        ::recvfrom(device, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&peer), &length);
    if (n != 18 || !std::equal(BROADCAST_MAC.begin(), BROADCAST_MAC.end(), request + OFFSET_MAC)) return;
    const auto reply = MakeReplyWords(OP_DISCOVER_REPLY, EXAMPLE_MAC, {0x0A0B, 0x0C0D});
    ::sendto(device, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
}

int RunInPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) return errno == EPERM ? NO_PERMISSION : SETUP_FAILED;
    const int link = std::system("ip link set lo up >/dev/null 2>&1");
    if (WIFEXITED(link) && WEXITSTATUS(link) == 127) return NO_IP_TOOL;
    if (link != 0 || std::system("ip route add default dev lo >/dev/null 2>&1") != 0) return SETUP_FAILED;

    const int device = BindDevicePort();
    if (device < 0) return RESPONDER_FAILED;
    std::thread responder(AnswerOneDiscovery, device);
    UdpEndpoint endpoint;  // 255.255.255.255, port 4101, one-second wait
    DeviceChain chain;
    DeviceProtocol protocol(endpoint, chain);
    int result = PASSED;
    if (!endpoint.Start()) {
        result = START_FAILED;
    } else if (!protocol.Discover(0xFFFF, 0xFFFF)) {
        result = DISCOVERY_FAILED;
    } else {
        const DeviceRecord* record = chain.Next();
        if (record == nullptr || record->mac != EXAMPLE_MAC || record->discoveryWord1 != 0x0A0B ||
            record->discoveryWord2 != 0x0C0D || chain.Next() != nullptr)
            result = WRONG_RECORD;
    }
    responder.join();
    ::close(device);
    return result;
}

TEST(PrivateNetwork, DiscoveryBroadcastReachesADeviceOnTheDevicePort) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(30);  // a hung child must not hang the suite
        ::_exit(RunInPrivateNetwork());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal "
                                   << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    const int code = WEXITSTATUS(status);
    if (code == NO_PERMISSION) GTEST_SKIP() << "creating a network namespace is not permitted here (EPERM)";
    if (code == NO_IP_TOOL) GTEST_SKIP() << "the 'ip' tool is missing; cannot set up the private network";
    EXPECT_EQ(code, PASSED) << Describe(code);
}

}  // namespace
}  // namespace quorvane::testing
