// --interface: requests go to the interface's directed broadcast and leave
// from its own address. Run inside a network namespace of a forked child,
// where the one interface is the loopback, so nothing leaves the machine.

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <thread>

#include "protocol/device_protocol.h"
#include "protocol/interfaces.h"
#include "protocol/udp_endpoint.h"
#include "private_network_child.h"
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

enum Result : int {
    LOOPBACK_NOT_LISTED = FIRST_TEST_RESULT,
    RESPONDER_FAILED,
    START_FAILED,
    DISCOVERY_FAILED,
    WRONG_SOURCE,
};

const char* Describe(int code) {
    switch (code) {
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

int DiscoverOverTheLoopbackInterface() {
    if (const int entered = EnterPrivateNetwork(false); entered != PASSED) return entered;
    const auto lo = FindIpv4Interface(ListIpv4Interfaces(), "lo");
    if (!lo || lo->address != 0x7F000001 || lo->broadcast != 0x7FFFFFFF) return LOOPBACK_NOT_LISTED;
    // Bound to the directed broadcast itself, the responder sees only
    // datagrams sent to that address.
    const int device = BindDeviceSocket(0x7FFFFFFF);
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
    ExpectPassesInChild(DiscoverOverTheLoopbackInterface, Describe);
}

}  // namespace
}  // namespace quorvane::testing
