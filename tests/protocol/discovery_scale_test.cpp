// Discovery on a large or busy network: merging by MAC, the bounds of a
// pass, and the extra rounds after an overflow or when asked for.

#include <gtest/gtest.h>

#include "protocol/device_protocol.h"
#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

MacAddress MacOf(uint32_t n) {
    return {0x02,
            0x00,
            static_cast<uint8_t>(n >> 24),
            static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 8),
            static_cast<uint8_t>(n)};
}

std::vector<uint8_t> Answer(uint32_t n) {
    return MakeReplyWords(OP_DISCOVER_REPLY, MacOf(n), {1, 2});
}

class DiscoveryPass : public ::testing::Test {
protected:
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol{link, chain};

    std::vector<MacAddress> WalkMacs() {
        std::vector<MacAddress> macs;
        chain.Rewind();
        while (const DeviceRecord* record = chain.Next()) macs.push_back(record->mac);
        return macs;
    }
};

TEST_F(DiscoveryPass, DeviceAnsweringTwiceIsListedOnceAtItsNewestReply) {
    link.responder = [](std::span<const uint8_t>, FakeTransport& self) {
        self.QueueReply(Answer(1), 0x0A000001, 10);
        self.QueueReply(Answer(2), 0x0A000002, 20);
        self.QueueReply(Answer(3), 0x0A000003, 30);
        self.QueueReply(Answer(1), 0x0A000009, 40);
    };
    ASSERT_TRUE(protocol.Discover(0xFFFF, 0xFFFF));
    EXPECT_EQ(WalkMacs(), (std::vector<MacAddress>{MacOf(1), MacOf(3), MacOf(2)}));
    EXPECT_EQ(chain.Head()->ipAddress, 0x0A000009u);  // where the newest reply came from
    EXPECT_EQ(protocol.LastDiscovery().devices, 3u);
}

TEST_F(DiscoveryPass, HoldsAtMost65536Devices) {
    link.responder = [](std::span<const uint8_t>, FakeTransport& self) {
        for (uint32_t n = 0; n < 65540; ++n) self.QueueReply(Answer(n));
    };
    ASSERT_TRUE(protocol.Discover(0xFFFF, 0xFFFF));
    const auto macs = WalkMacs();
    ASSERT_EQ(macs.size(), 65536u);
    EXPECT_EQ(macs.front(), MacOf(65535));  // the last one that found room
}

struct TimingCase {
    const char* name;
    std::function<void(FakeTransport&)> responder;
    int64_t passMillis;
    std::size_t devices;
};

void PrintTo(const TimingCase& c, std::ostream* out) {
    *out << c.name;
}

class PassLength : public ::testing::TestWithParam<TimingCase> {};

TEST_P(PassLength, EndsAfterAQuietWaitOrTenWaitsInAll) {
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    link.responder = [&](std::span<const uint8_t> request, FakeTransport& self) {
        GetParam().responder(self);
        (void)request;
    };
    protocol.Discover(0xFFFF, 0xFFFF);
    EXPECT_EQ(link.virtualMillis, GetParam().passMillis);
    EXPECT_EQ(protocol.LastDiscovery().devices, GetParam().devices);
    EXPECT_EQ(link.sent.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, PassLength,
    ::testing::Values(
        TimingCase{"NoAnswer", [](FakeTransport&) {}, 1000, 0},
        // 900 ms apart keeps the pass going; 1100 ms apart ends it.
        TimingCase{"RepliesWithinAWaitOfEachOther",
                   [](FakeTransport& link) {
                       link.QueueReply(Answer(1), LOCALHOST, 900);
                       link.QueueReply(Answer(2), LOCALHOST, 1800);
                       link.QueueReply(Answer(3), LOCALHOST, 2900);
                   },
                   2800, 2},
        // Foreign traffic does not keep a pass alive.
        TimingCase{
            "ForeignFlood",
            [](FakeTransport& link) {
                link.QueueReply(Answer(1), LOCALHOST, 100);
                for (int i = 1; i < 200; ++i)
                    link.QueueReply(MakeReplyWords(OP_INFO_REPLY, MacOf(9), {1, 2}), LOCALHOST, 50 * i);
            },
            1100, 1},
        // A device repeating its reply for ever: the pass stops after ten waits.
        TimingCase{"EndlessReplies",
                   [](FakeTransport& link) {
                       for (int i = 1; i < 60; ++i) link.QueueReply(Answer(i % 3), LOCALHOST, 500 * i);
                   },
                   10000, 3},
        TimingCase{"OversizedDatagramsAreSkipped",
                   [](FakeTransport& link) {
                       link.QueueReply(std::vector<uint8_t>(3000, 1), LOCALHOST, 10);
                       link.QueueReply(Answer(1), LOCALHOST, 20);
                   },
                   1020, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct RoundsCase {
    const char* name;
    int roundsAsked;
    std::vector<bool> overflows;  // per round: the system drops datagrams
    std::vector<int> newDevices;  // per round: devices not seen before
    int roundsRun;
};

void PrintTo(const RoundsCase& c, std::ostream* out) {
    *out << c.name;
}

class Rounds : public ::testing::TestWithParam<RoundsCase> {};

TEST_P(Rounds, FollowOverflowsAndNewDevices) {
    const RoundsCase& c = GetParam();
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    protocol.SetDiscoverySettings({c.roundsAsked});
    uint32_t next = 0;
    link.responder = [&](std::span<const uint8_t>, FakeTransport& self) {
        const std::size_t round = self.sent.size() - 1;
        if (round < c.overflows.size() && c.overflows[round]) self.dropped += 7;
        // Every device seen so far answers again, then the new ones.
        for (uint32_t n = 0; n < next; ++n) self.QueueReply(Answer(n), LOCALHOST, 10);
        if (round < c.newDevices.size())
            for (int i = 0; i < c.newDevices[round]; ++i) self.QueueReply(Answer(next++), LOCALHOST, 20);
    };
    protocol.Discover(0xFFFF, 0xFFFF);
    EXPECT_EQ(static_cast<int>(link.sent.size()), c.roundsRun);
    EXPECT_EQ(protocol.LastDiscovery().rounds, c.roundsRun);
    for (const auto& sent : link.sent)
        EXPECT_EQ(sent.bytes, Hex("00 00 72 19 01 13 FF FF FF FF FF FF 04 00 FF FF FF FF"));
    uint32_t expectedDevices = 0;
    for (int r = 0; r < c.roundsRun && r < static_cast<int>(c.newDevices.size()); ++r)
        expectedDevices += c.newDevices[r];
    EXPECT_EQ(protocol.LastDiscovery().devices, expectedDevices);
    EXPECT_EQ(chain.Empty(), expectedDevices == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, Rounds,
    ::testing::Values(RoundsCase{"OneRoundByDefault", 1, {}, {5, 5}, 1},
                      RoundsCase{"OverflowBringsASecondRound", 1, {true}, {5, 5}, 2},
                      RoundsCase{
                          "OverflowBringsThreeRoundsAtMost", 1, {true, true, true, true}, {5, 5, 5, 5}, 3},
                      RoundsCase{"OverflowEvenWithoutNewDevices", 1, {true, true}, {5}, 3},
                      RoundsCase{"AskedRoundsWhileNewDevicesAppear", 4, {}, {5, 1, 1, 1, 1}, 4},
                      RoundsCase{"AskedRoundsEndWhenNothingNewAppears", 4, {}, {5, 2, 0, 3}, 3},
                      RoundsCase{"AskedRoundsAfterASilentFirstRound", 4, {}, {0, 3}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DiscoveryPass, WaitingDatagramsAreDroppedBeforeEachRound) {
    link.QueueReply(Answer(1));  // from an earlier pass
    EXPECT_FALSE(protocol.Discover(0xFFFF, 0xFFFF));
    EXPECT_TRUE(chain.Empty());
}

}  // namespace
}  // namespace quorvane::testing
