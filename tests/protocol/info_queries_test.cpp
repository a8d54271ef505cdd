// The information queries of a pass, run side by side over the scripted
// network: replies told apart by MAC, the retry rule per device, and one
// retry budget for the whole pass however many devices are silent.

#include "protocol/info_queries.h"

#include <gtest/gtest.h>

#include "protocol_test_util.h"
#include "support/scripted_device.h"

namespace quorvane::testing {
namespace {

MacAddress MacOf(uint32_t n) {
    return {0x02, 0x00, 0x00, 0x00, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

class InfoQueries : public ::testing::Test {
protected:
    ScriptedNetwork network;
    std::vector<std::unique_ptr<DeviceRecord>> owned;
    std::vector<DeviceRecord*> records;

    void AddDevices(uint32_t count) {
        for (uint32_t n = 0; n < count; ++n) {
            SimulatedDevice& device = network.Add(MacOf(n), 0x0A000000 + n);
            device.infoFlag = static_cast<uint8_t>(n);
            device.infoBlock = {0xB0, static_cast<uint8_t>(n)};
            owned.push_back(std::make_unique<DeviceRecord>());
            owned.back()->mac = MacOf(n);
            records.push_back(owned.back().get());
        }
    }
    int SendsTo(uint32_t n) const {
        int sends = 0;
        for (const auto& sent : network.link.sent)
            sends += std::equal(sent.bytes.begin() + OFFSET_MAC, sent.bytes.begin() + OFFSET_MAC + 6,
                                MacOf(n).begin());
        return sends;
    }
};

TEST_F(InfoQueries, OneSilentDeviceAmongManyCostsOneRetryBudget) {
    AddDevices(200);
    network.devices[37].answersInfo = false;
    const auto answered = QueryInfoAll(network.link, records);
    for (uint32_t n = 0; n < 200; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(answered[n], n != 37);
        EXPECT_EQ(SendsTo(n), n == 37 ? 16 : 1);
        if (n == 37) continue;
        EXPECT_EQ(records[n]->infoFlag, n);
        EXPECT_EQ(records[n]->infoBlock, (std::vector<uint8_t>{0xB0, static_cast<uint8_t>(n)}));
        EXPECT_EQ(records[n]->ipAddress, 0x0A000000 + n);
    }
    EXPECT_TRUE(records[37]->infoBlock.empty());
    EXPECT_EQ(network.link.virtualMillis, 16000);
    for (const auto& sent : network.link.sent) EXPECT_EQ(sent.bytes.size(), 14u);
}

TEST_F(InfoQueries, AtMost64DevicesAreAskedAtOnce) {
    AddDevices(100);
    for (auto& device : network.devices) device.answersInfo = false;
    const auto answered = QueryInfoAll(network.link, records);
    EXPECT_EQ(std::count(answered.begin(), answered.end(), true), 0);
    EXPECT_EQ(network.link.sent.size(), 1600u);
    // The first 64 start at once; the others when those have given up.
    int64_t firstToDevice64 = -1;
    for (const auto& sent : network.link.sent)
        if (sent.bytes[OFFSET_MAC + 5] == 64 && firstToDevice64 < 0) firstToDevice64 = sent.atMillis;
    EXPECT_EQ(network.link.sent[63].atMillis, 0);
    EXPECT_EQ(network.link.sent[64].atMillis, 1000);  // the first 64 again
    EXPECT_EQ(firstToDevice64, 16000);
    EXPECT_EQ(SendsTo(64), 16);
    EXPECT_EQ(network.link.virtualMillis, 32000);
}

TEST_F(InfoQueries, ReplyWaitingBeforeTheDeviceWasAskedDoesNotCount) {
    AddDevices(3);
    network.devices[1].answersInfo = false;
    network.link.QueueReply(MakeReply(OP_INFO_REPLY, MacOf(1), Hex("05")));
    const auto answered = QueryInfoAll(network.link, records);
    EXPECT_EQ(answered, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(SendsTo(1), 16);
}

TEST_F(InfoQueries, LostPacketsCostOnlyTheirOwnDevicesAResend) {
    AddDevices(10);
    int lost = 0;  // the first two requests to device 2 are lost
    auto respond = network.link.responder;
    network.link.responder = [&](std::span<const uint8_t> request, FakeTransport& self) {
        const bool toTwo =
            std::equal(request.begin() + OFFSET_MAC, request.begin() + OFFSET_MAC + 6, MacOf(2).begin());
        if (toTwo && lost++ < 2) return;
        respond(request, self);
    };
    const auto answered = QueryInfoAll(network.link, records);
    EXPECT_EQ(std::count(answered.begin(), answered.end(), true), 10);
    EXPECT_EQ(SendsTo(2), 3);
    EXPECT_EQ(network.link.sent.size(), 12u);
    EXPECT_EQ(network.link.virtualMillis, 2000);
}

TEST_F(InfoQueries, ReplyTooShortFailsThatAttemptOnly) {
    AddDevices(2);
    int shortOnes = 0;
    auto respond = network.link.responder;
    network.link.responder = [&](std::span<const uint8_t> request, FakeTransport& self) {
        if (request[OFFSET_MAC + 5] == 1 && shortOnes++ == 0) {
            auto twelve = MakeReply(OP_INFO_REPLY, MacOf(1));
            twelve.resize(12);
            self.QueueReply(twelve);
            return;
        }
        respond(request, self);
    };
    const auto answered = QueryInfoAll(network.link, records);
    EXPECT_EQ(answered, (std::vector<bool>{true, true}));
    EXPECT_EQ(SendsTo(1), 2);
    EXPECT_EQ(network.link.virtualMillis, 0);  // sent again at once, not after a wait
}

// A second device answering to the MAC of the first: a clone of another
// product, a duplicated datagram, or a clone at another address.
TEST(InfoQueriesSharedMac, ASecondAnswerForOneMacThatTellsSomethingElseMarksTheRecord) {
    struct Case {
        uint8_t flag;
        std::vector<uint8_t> block;
        uint32_t ip;
        SharedMac shared;
    } cases[] = {
        {0, {0xB0, 0x09}, 0x0A000001, SharedMac::TwoBlocks},
        {1, {0xB0, 0x00}, 0x0A000001, SharedMac::TwoBlocks},
        {0, {0xB0, 0x00, 0x00}, 0x0A000001, SharedMac::TwoBlocks},
        {0, {0xB0, 0x00}, 0x0A000001, SharedMac::No},
        {0, {0xB0, 0x00}, 0x0A0000C8, SharedMac::TwoAddresses},
    };
    for (const Case& c : cases) {
        ScriptedNetwork network;
        network.Add(EXAMPLE_MAC, 0x0A000001).infoBlock = {0xB0, 0x00};
        SimulatedDevice& clone = network.Add(EXAMPLE_MAC, c.ip);
        clone.infoFlag = c.flag;
        clone.infoBlock = c.block;
        DeviceRecord record;
        record.mac = EXAMPLE_MAC;
        // The clone's reply comes together with the first: it is read once every query has ended.
        EXPECT_EQ(QueryInfoAll(network.link, std::vector<DeviceRecord*>{&record}), std::vector<bool>{true});
        EXPECT_EQ(record.sharedMac, c.shared) << int(c.flag) << " " << c.block.size() << " " << c.ip;
        EXPECT_EQ(record.otherAddress, c.shared == SharedMac::TwoAddresses ? c.ip : 0);
        EXPECT_EQ(record.infoBlock, (std::vector<uint8_t>{0xB0, 0x00})) << "the first answer is kept";
    }
}

TEST_F(InfoQueries, ACloneThatAnswersLaterStillCountsWhileOthersAreAsked) {
    AddDevices(2);
    network.devices[1].answersInfo = false;  // keeps the pass open for 16 receive waits
    auto respond = network.link.responder;
    network.link.responder = [&](std::span<const uint8_t> request, FakeTransport& self) {
        respond(request, self);
        if (request[OFFSET_MAC + 5] == 0 && self.sent.size() == 1)
            self.QueueReply(MakeReply(OP_INFO_REPLY, MacOf(0), Hex("00 B0 77")), 0x0A000000, 2500);
    };
    EXPECT_EQ(QueryInfoAll(network.link, records), (std::vector<bool>{true, false}));
    EXPECT_EQ(records[0]->sharedMac, SharedMac::TwoBlocks);
    EXPECT_EQ(network.link.virtualMillis, 16000);
}

TEST_F(InfoQueries, AMacThatNamesNoSingleDeviceIsNeverAsked) {
    AddDevices(1);
    const MacAddress broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    network.Add(broadcast).infoBlock = {0xEE};  // would answer as the broadcast MAC
    DeviceRecord everyone;
    everyone.mac = broadcast;
    records.insert(records.begin(), &everyone);
    EXPECT_EQ(QueryInfoAll(network.link, records), (std::vector<bool>{false, true}));
    EXPECT_FALSE(network.protocol.QueryInfo(everyone));
    EXPECT_TRUE(everyone.infoBlock.empty());
    EXPECT_EQ(network.link.sent.size(), 1u) << "only the real device was asked";
}

TEST_F(InfoQueries, FailedSendEndsOnlyThatDevicesQuery) {
    AddDevices(3);
    network.link.failSendsFrom = 2;
    const auto answered = QueryInfoAll(network.link, records);
    EXPECT_EQ(answered, (std::vector<bool>{true, true, false}));
}

}  // namespace
}  // namespace quorvane::testing
