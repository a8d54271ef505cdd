// Discovery and the information query: what the replies turn into.

#include <gtest/gtest.h>

#include "protocol/device_protocol.h"
#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

constexpr MacAddress MAC_A{0x00, 0x11, 0x22, 0x33, 0x44, 0x01};
constexpr MacAddress MAC_B{0x00, 0x11, 0x22, 0x33, 0x44, 0x02};
constexpr MacAddress MAC_C{0x00, 0x11, 0x22, 0x33, 0x44, 0x03};

class Discovery : public ::testing::Test {
protected:
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol{link, chain};

    void QueueDiscoveryReply(const MacAddress& mac, uint16_t word1, uint16_t word2, uint32_t sender) {
        link.QueueReply(MakeReplyWords(OP_DISCOVER_REPLY, mac, {word1, word2}), sender);
    }
    std::vector<MacAddress> WalkMacs() {
        std::vector<MacAddress> macs;
        while (const DeviceRecord* record = chain.Next()) macs.push_back(record->mac);
        return macs;
    }
};

TEST_F(Discovery, SendsTheExampleRequestOnceAndYieldsNewestReplyFirst) {
    link.responder = [&](std::span<const uint8_t>, FakeTransport&) {
        QueueDiscoveryReply(MAC_A, 0x0101, 0x0102, 0x0A000001);
        QueueDiscoveryReply(MAC_B, 0x0201, 0x0202, 0x0A000002);
        QueueDiscoveryReply(MAC_C, 0x0301, 0x0302, 0x0A000003);
    };
    ASSERT_TRUE(protocol.Discover(0xFFFF, 0xFFFF));
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].address, LIMITED_BROADCAST);
    EXPECT_EQ(link.sent[0].bytes, Hex("00 00 72 19 01 13 FF FF FF FF FF FF 04 00 FF FF FF FF"));

    const DeviceRecord* third = chain.Next();
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->mac, MAC_C);
    EXPECT_EQ(third->discoveryWord1, 0x0301);
    EXPECT_EQ(third->discoveryWord2, 0x0302);
    EXPECT_EQ(third->ipAddress, 0x0A000003u);
    EXPECT_TRUE(third->infoBlock.empty());
    EXPECT_EQ(third->infoFlag, 0);
    EXPECT_EQ(chain.Next()->mac, MAC_B);
    EXPECT_EQ(chain.Next()->mac, MAC_A);
    EXPECT_EQ(chain.Next(), nullptr);
}

TEST_F(Discovery, PassesItsParametersInTheRequest) {
    EXPECT_FALSE(protocol.Discover(0x1234, 0xABCD));
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].bytes, Hex("00 00 72 19 01 13 FF FF FF FF FF FF 04 00 34 12 CD AB"));
}

TEST_F(Discovery, MergesDuplicatesAndSkipsWhatIsNoDiscoveryReply) {
    auto requestMagic = MakeReplyWords(OP_DISCOVER_REPLY, MAC_C, {1, 2});
    WriteU32(requestMagic, OFFSET_MAGIC, REQUEST_MAGIC);
    auto seventeenBytes = MakeReplyWords(OP_DISCOVER_REPLY, MAC_C, {1, 2});
    seventeenBytes.pop_back();
    link.responder = [&](std::span<const uint8_t>, FakeTransport& self) {
        QueueDiscoveryReply(MAC_A, 1, 2, 1);
        self.QueueReply(requestMagic);
        self.QueueResult(0);
        self.QueueReply(seventeenBytes);
        self.QueueReply(MakeReplyWords(OP_INFO_REPLY, MAC_C, {1, 2}));
        QueueDiscoveryReply(MAC_A, 1, 2, 1);
    };
    ASSERT_TRUE(protocol.Discover(0xFFFF, 0xFFFF));
    EXPECT_EQ(WalkMacs(), (std::vector<MacAddress>{MAC_A}));
}

TEST_F(Discovery, RepliesWhoseMacNamesNoSingleDeviceAreCountedNotFound) {
    const MacAddress broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const MacAddress ipv4Multicast{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01};
    const MacAddress localMulticast{0x03, 0x00, 0x00, 0x00, 0x00, 0x07};
    const MacAddress zero{};
    link.responder = [&](std::span<const uint8_t>, FakeTransport&) {
        for (const MacAddress& mac : {broadcast, ipv4Multicast, MAC_A, localMulticast, zero, broadcast})
            QueueDiscoveryReply(mac, 1, 2, 0x0A000001);
    };
    ASSERT_TRUE(protocol.Discover(0xFFFF, 0xFFFF));
    EXPECT_EQ(WalkMacs(), std::vector<MacAddress>{MAC_A});
    const DiscoveryReport& report = protocol.LastDiscovery();
    EXPECT_EQ(report.ignoredReplies, 5u);
    EXPECT_EQ(report.ignoredMacs, (std::vector<MacAddress>{broadcast, ipv4Multicast, localMulticast, zero}));
    EXPECT_FALSE(report.moreIgnoredMacs);
}

// MAC_A answers from two addresses, MAC_B twice from one (a duplicated datagram).
TEST_F(Discovery, OneMacFromTwoAddressesIsOneRecordMarkedShared) {
    link.responder = [&](std::span<const uint8_t>, FakeTransport&) {
        for (uint32_t sender : {0x7F000001, 0x7F000002}) QueueDiscoveryReply(MAC_A, 1, 2, sender);
        for (int copy = 0; copy < 2; ++copy) QueueDiscoveryReply(MAC_B, 1, 2, 0x7F000009);
    };
    ASSERT_TRUE(protocol.Discover(0xFFFF, 0xFFFF));
    const std::vector<DeviceRecord*> records = chain.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]->mac, MAC_A);
    EXPECT_EQ(records[1]->sharedMac, SharedMac::TwoAddresses);
    EXPECT_EQ(records[1]->ipAddress, 0x7F000002u);
    EXPECT_EQ(records[1]->otherAddress, 0x7F000001u);
    EXPECT_EQ(records[0]->sharedMac, SharedMac::No);
}

TEST_F(Discovery, NoAnswerGivesFalseWithAnEmptyChainAfterOneWait) {
    chain.Push().mac = MAC_A;  // left from an earlier pass
    EXPECT_FALSE(protocol.Discover(0xFFFF, 0xFFFF));
    EXPECT_TRUE(chain.Empty());
    EXPECT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.virtualMillis, link.waitMillis);
}

TEST_F(Discovery, OnlyShortRepliesAddNothing) {
    auto shortReply = MakeReplyWords(OP_DISCOVER_REPLY, MAC_A, {1});
    ScriptReplies(link, {{shortReply, shortReply}});
    EXPECT_FALSE(protocol.Discover(0xFFFF, 0xFFFF));
    EXPECT_TRUE(chain.Empty());
}

TEST_F(Discovery, FailedSendGivesFalseWithAnEmptyChain) {
    chain.Push().mac = MAC_A;
    link.failSendsFrom = 0;
    EXPECT_FALSE(protocol.Discover(0xFFFF, 0xFFFF));
    EXPECT_TRUE(chain.Empty());
    EXPECT_EQ(link.receives, 0);
}

TEST_F(Discovery, ANewPassReplacesTheOldRecords) {
    ScriptReplies(link, {{MakeReplyWords(OP_DISCOVER_REPLY, MAC_A, {1, 2})},
                         {MakeReplyWords(OP_DISCOVER_REPLY, MAC_B, {1, 2})}});
    ASSERT_TRUE(protocol.Discover(0xFFFF, 0xFFFF));
    ASSERT_TRUE(protocol.Discover(0xFFFF, 0xFFFF));
    EXPECT_EQ(WalkMacs(), std::vector<MacAddress>{MAC_B});
}

class InformationQuery : public ::testing::Test {
protected:
    static constexpr uint32_t NEW_ADDRESS = 0xC0A80064;
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol{link, chain};
    DeviceRecord device = ExampleDevice();

    void SetUp() override {
        device.infoFlag = 0x44;
        device.infoBlock = {9, 9, 9};
    }
    void AnswerWith(std::vector<uint8_t> reply) { ScriptReplies(link, {{std::move(reply)}}, NEW_ADDRESS); }
};

TEST_F(InformationQuery, PayloadLengthZeroChangesOnlyTheAddress) {
    AnswerWith(MakeReply(OP_INFO_REPLY, EXAMPLE_MAC));
    ASSERT_TRUE(protocol.QueryInfo(device));
    EXPECT_EQ(device.ipAddress, NEW_ADDRESS);
    EXPECT_EQ(device.infoFlag, 0x44);
    EXPECT_EQ(device.infoBlock, (std::vector<uint8_t>{9, 9, 9}));
}

TEST_F(InformationQuery, PayloadLengthOneSetsTheFlagAndLeavesNoBlock) {
    AnswerWith(MakeReply(OP_INFO_REPLY, EXAMPLE_MAC, Hex("01")));
    ASSERT_TRUE(protocol.QueryInfo(device));
    EXPECT_EQ(device.infoFlag, 1);
    EXPECT_EQ(DeviceRecord::InfoLength(&device), 0);
    EXPECT_EQ(device.ipAddress, NEW_ADDRESS);
}

TEST_F(InformationQuery, LongerPayloadReplacesTheBlock) {
    AnswerWith(MakeReply(OP_INFO_REPLY, EXAMPLE_MAC, Hex("07 0E 00 07 14 FC 70")));
    ASSERT_TRUE(protocol.QueryInfo(device));
    EXPECT_EQ(device.infoFlag, 7);
    EXPECT_EQ(device.infoBlock, Hex("0E 00 07 14 FC 70"));
    EXPECT_EQ(DeviceRecord::InfoLength(&device), 6);
}

TEST_F(InformationQuery, PayloadLengthBeyondTheDatagramIsCutToTheBytesReceived) {
    auto reply = MakeReply(OP_INFO_REPLY, EXAMPLE_MAC, Hex("07 0E 00 07 14"));
    WriteU16(reply, OFFSET_PAYLOAD_LENGTH, 200);
    AnswerWith(reply);
    ASSERT_TRUE(protocol.QueryInfo(device));
    EXPECT_EQ(device.infoFlag, 7);
    EXPECT_EQ(device.infoBlock, Hex("0E 00 07 14"));
}

TEST_F(InformationQuery, PayloadLengthNamingBytesOfWhichNoneArrivedActsAsEmpty) {
    auto reply = MakeReply(OP_INFO_REPLY, EXAMPLE_MAC);
    WriteU16(reply, OFFSET_PAYLOAD_LENGTH, 5);
    AnswerWith(reply);
    ASSERT_TRUE(protocol.QueryInfo(device));
    EXPECT_EQ(device.infoFlag, 0x44);
    EXPECT_EQ(device.infoBlock, (std::vector<uint8_t>{9, 9, 9}));
    EXPECT_EQ(device.ipAddress, NEW_ADDRESS);
}

TEST_F(InformationQuery, ReplyWithoutPayloadLengthFailsTheAttempt) {
    auto twelveBytes = MakeReply(OP_INFO_REPLY, EXAMPLE_MAC);
    twelveBytes.resize(12);
    ScriptReplies(link, {{twelveBytes}, {MakeReply(OP_INFO_REPLY, EXAMPLE_MAC, Hex("02 AB CD"))}},
                  NEW_ADDRESS);
    ASSERT_TRUE(protocol.QueryInfo(device));
    EXPECT_EQ(link.sent.size(), 2u);
    EXPECT_EQ(device.infoBlock, Hex("AB CD"));
}

TEST_F(InformationQuery, SilentDeviceLeavesTheRecordUnchanged) {
    link.responder = [](std::span<const uint8_t>, FakeTransport& self) {
        self.QueueReply(MakeReply(OP_INFO_REPLY, OTHER_MAC, Hex("01 02 03")), NEW_ADDRESS);
    };
    EXPECT_FALSE(protocol.QueryInfo(device));
    EXPECT_EQ(link.sent.size(), static_cast<std::size_t>(MAX_SENDS));
    EXPECT_EQ(device.ipAddress, ExampleDevice().ipAddress);
    EXPECT_EQ(device.infoFlag, 0x44);
    EXPECT_EQ(device.infoBlock, (std::vector<uint8_t>{9, 9, 9}));
}

TEST_F(InformationQuery, LargestReplyIsCopiedWhole) {
    std::vector<uint8_t> payload(REPLY_CAPACITY - HEADER_SIZE, 0x42);
    AnswerWith(MakeReply(OP_INFO_REPLY, EXAMPLE_MAC, payload));
    ASSERT_TRUE(protocol.QueryInfo(device));
    EXPECT_EQ(device.infoBlock.size(), payload.size() - 1);
}

}  // namespace
}  // namespace quorvane::testing
