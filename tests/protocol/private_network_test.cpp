// Discovery with the default endpoint, really broadcast to 255.255.255.255
// port 4101 - but only inside a network namespace of a forked child, where
// the one interface is the loopback and the broadcast cannot leave it.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "protocol/device_protocol.h"
#include "protocol/udp_endpoint.h"
#include "private_network_child.h"
#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

enum Result : int {
    RESPONDER_FAILED = FIRST_TEST_RESULT,
    START_FAILED,
    DISCOVERY_FAILED,
    WRONG_RECORD,
};

const char* Describe(int code) {
    switch (code) {
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

int DiscoverInPrivateNetwork() {
    if (const int entered = EnterPrivateNetwork(true); entered != PASSED) return entered;
    const int device = BindDeviceSocket(INADDR_ANY);
    if (device < 0) return RESPONDER_FAILED;
    uint32_t sender = 0;
    std::thread responder(AnswerOneDiscovery, device, std::ref(sender));
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
    ExpectPassesInChild(DiscoverInPrivateNetwork, Describe);
}

}  // namespace
}  // namespace quorvane::testing
