#include "protocol/network_options.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(NetworkOptions, NumbersAreDecimalDigitsWithinTheirRange) {
    struct Case {
        const char* text;
        OptionRange range;
        std::optional<int> expected;
    };
    const OptionRange port{1, 65535};
    const OptionRange wait{1, 60000};
    const Case cases[] = {
        {"4101", port, 4101},          {"1", port, 1},
        {"65535", port, 65535},        {"0", port, std::nullopt},
        {"65536", port, std::nullopt}, {"", port, std::nullopt},
        {"+5", port, std::nullopt},    {"-1", port, std::nullopt},
        {" 5", port, std::nullopt},    {"5 ", port, std::nullopt},
        {"0x10", port, std::nullopt},  {"99999999999", port, std::nullopt},
        {"60000", wait, 60000},        {"60001", wait, std::nullopt},
        {"soon", wait, std::nullopt},
    };
    EXPECT_EQ(PORT_OPTION_RANGE.lowest, 1);
    EXPECT_EQ(PORT_OPTION_RANGE.highest, 65535);
    EXPECT_EQ(WAIT_MS_OPTION_RANGE.lowest, 1);
    EXPECT_EQ(WAIT_MS_OPTION_RANGE.highest, 60000);
    for (const Case& c : cases) EXPECT_EQ(ParseOptionNumber(c.text, c.range), c.expected) << c.text;
}

TEST(NetworkOptions, ResolvesTheEndpointOrNamesTheFirstOptionRefused) {
    using Fault = NetworkOptionFault;
    using Text = std::optional<std::string>;
    const Text none;
    struct Case {
        NetworkOptionTexts texts;
        Fault fault;
        uint32_t address = 0;
        uint16_t port = 0;
        long waitMs = 0;
    };
    const Case cases[] = {
        {{none, none, none, none}, Fault::None, 0xFFFFFFFF, 4101, 1000},
        {{"127.0.0.1", none, "14101", "50"}, Fault::None, 0x7F000001, 14101, 50},
        {{"10.1.2", none, none, none}, Fault::Broadcast},
        {{"10.1.2.256", none, "0", none}, Fault::Broadcast},
        {{"127.0.0.1", "lo", none, none}, Fault::InterfaceWithBroadcast},
        {{none, "no-such-interface0", "0", none}, Fault::Interface},
        {{none, none, "0", "0"}, Fault::Port},
        {{none, none, "70000", none}, Fault::Port},
        {{none, none, "4101", "soon"}, Fault::WaitMs},
        {{none, none, none, "60001"}, Fault::WaitMs},
    };
    for (const Case& c : cases) {
        EndpointOptions out;
        out.port = 7;  // untouched when an option is refused
        EXPECT_EQ(ResolveNetworkOptions(c.texts, out), c.fault) << c.texts.broadcast.value_or("-");
        if (c.fault != Fault::None) {
            EXPECT_EQ(out.port, 7);
            continue;
        }
        EXPECT_EQ(out.broadcastAddress, c.address);
        EXPECT_EQ(out.port, c.port);
        EXPECT_EQ(out.receiveWait.count(), c.waitMs);
    }
}

TEST(NetworkOptions, AddressAndPortTakeAnyPortFromZero) {
    uint32_t address = 1;
    uint16_t port = 1;
    ASSERT_TRUE(ParseAddressAndPort("127.0.0.2:0", address, port));
    EXPECT_EQ(address, 0x7F000002u);
    EXPECT_EQ(port, 0);
    ASSERT_TRUE(ParseAddressAndPort("10.0.0.1:65535", address, port));
    EXPECT_EQ(port, 65535);
    for (const char* bad : {"10.0.0.1:65536", "10.0.0.1:+5", "10.0.0.1: 5", "10.0.0.1", "10.0.0:5", ":5"}) {
        EXPECT_FALSE(ParseAddressAndPort(bad, address, port)) << bad;
        EXPECT_EQ(port, 65535) << bad;
    }
}

}  // namespace
}  // namespace quorvane
