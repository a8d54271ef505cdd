// --interface: requests go to the interface's directed broadcast and leave
// from its own address. Run inside a network namespace of a forked child,
// where the one interface is the loopback, so nothing leaves the machine.

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
#include <functional>
#include <optional>
#include <thread>

#include "protocol/device_protocol.h"
#include "protocol/interfaces.h"
#include "protocol/udp_endpoint.h"
#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

TEST(Interfaces, BroadcastIsTheReportedOneElseTheNetmasks) {
    struct Case {
        uint32_t address, netmask;
        std::optional<uint32_t> reported;
        uint32_t expected;
    };
    const Case cases[] = {
        {0x0A010203, 0xFFFFFF00, std::nullopt, 0x0A0102FF},  // 10.1.2.3/24 -> 10.1.2.255
        {0x7F000001, 0xFF000000, std::nullopt, 0x7FFFFFFF},  // the loopback -> 127.255.255.255
        {0xC0A80105, 0xFFFFFF00, 0xC0A801FF, 0xC0A801FF},    // reported by the system
        {0xC0A80105, 0xFFFF0000, 0xC0A801FF, 0xC0A801FF},    // reported wins over the netmask
    };
    for (const Case& c : cases) EXPECT_EQ(BroadcastOf(c.address, c.netmask, c.reported), c.expected);
}

enum ChildResult : int {
    PASSED = 0,
    NO_PERMISSION = 10,
    NO_IP_TOOL = 11,
    SETUP_FAILED = 12,
    LOOPBACK_NOT_LISTED = 13,
    RESPONDER_FAILED = 14,
    START_FAILED = 15,
    DISCOVERY_FAILED = 16,
    WRONG_SOURCE = 17,
};

const char* Describe(int code) {
    switch (code) {
        case SETUP_FAILED:
            return "could not bring up the loopback";
        case LOOPBACK_NOT_LISTED:
            return "lo is not listed as 127.0.0.1 with broadcast 127.255.255.255";
        case RESPONDER_FAILED:
            return "responder could not bind 127.255.255.255:4101";
        case START_FAILED:
            return "endpoint did not start on the interface's address";
        case DISCOVERY_FAILED:
            return "the directed broadcast did not reach the device, or its reply got lost";
        case WRONG_SOURCE:
            return "the request did not leave from the interface's address";
        default:
            return "unexpected end of the child";
    }
}

// Bound to the directed broadcast itself, the responder sees only datagrams
// sent to that address. It answers the sender and reports its address.
int BindBroadcastPort() {
    const int device = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(DEVICE_PORT);
    local.sin_addr.s_addr = htonl(0x7FFFFFFF);
    if (device < 0 || ::bind(device, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return -1;
    return device;
}

void AnswerOneDiscovery(int device, uint32_t& sender) {
    pollfd ready{device, POLLIN, 0};
    if (::poll(&ready, 1, 5000) != 1) return;
    uint8_t request[64];
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::recvfrom(device, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&peer), &length) != 18)
        return;
    sender = ntohl(peer.sin_addr.s_addr);
    const auto reply = MakeReplyWords(OP_DISCOVER_REPLY, EXAMPLE_MAC, {0x0A0B, 0x0C0D});
    ::sendto(device, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
}

int RunInPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) return errno == EPERM ? NO_PERMISSION : SETUP_FAILED;
    const int link = std::system("ip link set lo up >/dev/null 2>&1");
    if (WIFEXITED(link) && WEXITSTATUS(link) == 127) return NO_IP_TOOL;
    if (link != 0) return SETUP_FAILED;

    const auto lo = FindIpv4Interface(ListIpv4Interfaces(), "lo");
    if (!lo || lo->address != 0x7F000001 || lo->broadcast != 0x7FFFFFFF) return LOOPBACK_NOT_LISTED;
    const int device = BindBroadcastPort();
    if (device < 0) return RESPONDER_FAILED;
    uint32_t sender = 0;
    std::thread responder(AnswerOneDiscovery, device, std::ref(sender));
    EndpointOptions options;
    options.broadcastAddress = lo->broadcast;
    options.localAddress = lo->address;
    UdpEndpoint endpoint(options);
    DeviceChain chain;
    DeviceProtocol protocol(endpoint, chain);
    int result = PASSED;
    if (!endpoint.Start())
        result = START_FAILED;
    else if (!protocol.Discover(0xFFFF, 0xFFFF) || chain.Next() == nullptr)
        result = DISCOVERY_FAILED;
    responder.join();
    ::close(device);
    if (result == PASSED && sender != 0x7F000001) result = WRONG_SOURCE;
    return result;
}

TEST(InterfaceNetwork, RequestsGoToTheDirectedBroadcastFromTheInterfacesAddress) {
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
