// The start's failure paths, walked with substituted socket calls so that no
// real port is occupied.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <set>

#include "protocol/socket_calls.h"
#include "protocol/udp_endpoint.h"

namespace quorvane::testing {
namespace {

// What the substituted bind sees and how it answers; one test at a time.
struct BindScript {
    std::vector<uint16_t> triedPorts;
    std::set<uint16_t> inUse;
    int otherError = 0;  // when set, every bind fails with it
};
BindScript script;

int ScriptedBind(int, const sockaddr* address, socklen_t) {
    const uint16_t port = ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
    script.triedPorts.push_back(port);
    if (script.otherError != 0) {
        errno = script.otherError;
        return -1;
    }
    if (script.inUse.count(port) != 0) {
        errno = EADDRINUSE;
        return -1;
    }
    return 0;
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                  std::filesystem::directory_iterator{}));
}

int Refuse(int) {
    errno = EINVAL;
    return -1;
}

class EndpointStart : public ::testing::Test {
protected:
    void SetUp() override { script = {}; }
    std::vector<uint16_t> PortsFrom(uint16_t first, uint16_t last) {
        std::vector<uint16_t> ports;
        for (uint32_t port = first; port <= last; ++port) ports.push_back(static_cast<uint16_t>(port));
        return ports;
    }
    void MarkInUse(const std::vector<uint16_t>& ports) { script.inUse.insert(ports.begin(), ports.end()); }
    detail::SocketCalls WithScriptedBind() {
        auto calls = detail::SystemSocketCalls();
        calls.bind = ScriptedBind;
        return calls;
    }
    CollectingSink sink;
    UdpEndpoint endpoint{EndpointOptions{}, &sink};
};

TEST_F(EndpointStart, FreePortZeroIsTheOnlyBind) {
    detail::ScopedSocketCalls calls(WithScriptedBind());
    ASSERT_TRUE(endpoint.Start());
    EXPECT_TRUE(endpoint.IsOpen());
    EXPECT_EQ(script.triedPorts, std::vector<uint16_t>{0});
    EXPECT_TRUE(sink.texts.empty());
}

TEST_F(EndpointStart, PortsInUseLeadThroughTheFixedRangeToTheLastPort) {
    detail::ScopedSocketCalls calls(WithScriptedBind());
    MarkInUse({0});
    MarkInUse(PortsFrom(BIND_PORT_FIRST, BIND_PORT_LAST - 1));
    ASSERT_TRUE(endpoint.Start());
    auto expected = PortsFrom(BIND_PORT_FIRST, BIND_PORT_LAST);
    expected.insert(expected.begin(), 0);
    EXPECT_EQ(script.triedPorts, expected);
    EXPECT_TRUE(endpoint.IsOpen());
}

TEST_F(EndpointStart, AllPortsInUseFailWithBindingError) {
    detail::ScopedSocketCalls calls(WithScriptedBind());
    MarkInUse({0});
    MarkInUse(PortsFrom(BIND_PORT_FIRST, BIND_PORT_LAST));
    const std::size_t descriptors = OpenDescriptors();
    EXPECT_FALSE(endpoint.Start());
    EXPECT_EQ(OpenDescriptors(), descriptors);  // the socket was closed again
    EXPECT_EQ(script.triedPorts.size(), 1u + BIND_PORT_LAST - BIND_PORT_FIRST + 1u);
    EXPECT_EQ(sink.texts, std::vector<std::string>{"BINDING ERROR"});
    EXPECT_FALSE(endpoint.IsOpen());
}

TEST_F(EndpointStart, OtherBindErrorsStopTheSearchAtOnce) {
    detail::ScopedSocketCalls calls(WithScriptedBind());
    script.otherError = EACCES;
    EXPECT_FALSE(endpoint.Start());
    EXPECT_EQ(script.triedPorts, std::vector<uint16_t>{0});
    EXPECT_EQ(sink.texts, std::vector<std::string>{"BINDING ERROR"});

    // The same after some fixed ports were in use.
    script = {};
    sink.texts.clear();
    MarkInUse({0, 4110, 4111});
    script.inUse.insert(4112);
    detail::ScopedSocketCalls failingLater(detail::SocketCalls{
        [](int socket, const sockaddr* address, socklen_t length) {
            const int result = ScriptedBind(socket, address, length);
            if (result != 0 && script.triedPorts.back() == 4112) errno = EADDRNOTAVAIL;
            return result;
        },
        detail::SystemSocketCalls().setNonBlocking, detail::SystemSocketCalls().allowBroadcast});
    EXPECT_FALSE(endpoint.Start());
    EXPECT_EQ(script.triedPorts, (std::vector<uint16_t>{0, 4110, 4111, 4112}));
}

TEST_F(EndpointStart, RefusedSocketOptionsReportTheirOwnTexts) {
    auto noNonBlocking = WithScriptedBind();
    noNonBlocking.setNonBlocking = Refuse;
    {
        detail::ScopedSocketCalls calls(noNonBlocking);
        EXPECT_FALSE(endpoint.Start());
    }
    auto noBroadcast = WithScriptedBind();
    noBroadcast.allowBroadcast = Refuse;
    {
        detail::ScopedSocketCalls calls(noBroadcast);
        EXPECT_FALSE(endpoint.Start());
    }
    EXPECT_EQ(sink.texts,
              (std::vector<std::string>{"ioctlsockets failed\n", "Error:  setsockopt() failed.\n"}));
    EXPECT_TRUE(script.triedPorts.empty());
    EXPECT_FALSE(endpoint.IsOpen());
}

TEST_F(EndpointStart, CloseWithoutSocketAndSendBeforeStartAreHarmless) {
    endpoint.Close();
    EXPECT_FALSE(endpoint.IsOpen());
    EXPECT_EQ(endpoint.LocalPort(), 0);
    const uint8_t byte = 0;
    EXPECT_FALSE(endpoint.Send(0x7F000001, std::span(&byte, 1)));
}

}  // namespace
}  // namespace quorvane::testing
