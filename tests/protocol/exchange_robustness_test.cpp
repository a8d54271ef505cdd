// Exchanges on a busy network: datagrams waiting before a request, late and
// duplicated echoes, foreign floods and oversized datagrams, all on the
// virtual clock.

#include <gtest/gtest.h>

#include <functional>

#include "protocol/device_protocol.h"
#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

struct BusyCase {
    const char* name;
    // Queues traffic before the exchange and sets the responder.
    std::function<void(FakeTransport&)> network;
    bool succeeds;
    std::size_t sends;
    int64_t millis;  // virtual time the exchange took
};

void PrintTo(const BusyCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<uint8_t> EraseEcho(uint16_t value) {
    return MakeReplyWords(OP_ERASE, EXAMPLE_MAC, {value});
}

class BusyNetwork : public ::testing::TestWithParam<BusyCase> {};

TEST_P(BusyNetwork, EraseThree) {
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    GetParam().network(link);
    EXPECT_EQ(protocol.Erase(ExampleDevice(), 3), GetParam().succeeds);
    EXPECT_EQ(link.sent.size(), GetParam().sends);
    EXPECT_EQ(link.virtualMillis, GetParam().millis);
    // Every attempt but the first starts exactly one receive wait after the one before.
    for (std::size_t i = 1; i < link.sent.size(); ++i) EXPECT_EQ(link.sent[i].atMillis, 1000 * int64_t(i));
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, BusyNetwork,
    ::testing::Values(
        // The right echo was waiting before the request went out: it cannot
        // be this request's reply, and the device is silent.
        BusyCase{"WaitingEchoIsNotTheReply", [](FakeTransport& link) { link.QueueReply(EraseEcho(3)); },
                 false, 16, 16000},
        // A late wrong echo already waiting is dropped, not a failed attempt.
        BusyCase{"WaitingWrongEchoIsDropped",
                 [](FakeTransport& link) {
                     link.QueueReply(EraseEcho(2));
                     ScriptReplies(link, {{EraseEcho(3)}});
                 },
                 true, 1, 0},
        // Foreign datagrams every 50 ms for ever: each attempt still ends
        // one second after its send.
        BusyCase{"ForeignFloodDoesNotStretchTheWait",
                 [](FakeTransport& link) {
                     link.responder = [](std::span<const uint8_t>, FakeTransport& self) {
                         for (int i = 1; i <= 40; ++i)
                             self.QueueReply(MakeReplyWords(OP_ERASE, OTHER_MAC, {3}), LOCALHOST, 50 * i);
                     };
                 },
                 false, 16, 16000},
        // The reply comes 900 ms after the send, behind a stream of other
        // traffic: still within the attempt.
        BusyCase{"ReplyBehindForeignTrafficWithinTheWait",
                 [](FakeTransport& link) {
                     link.responder = [](std::span<const uint8_t>, FakeTransport& self) {
                         for (int i = 1; i <= 8; ++i)
                             self.QueueReply(MakeReplyWords(OP_LOCK, EXAMPLE_MAC, {}), LOCALHOST, 100 * i);
                         self.QueueReply(EraseEcho(3), LOCALHOST, 900);
                     };
                 },
                 true, 1, 900},
        // The reply 1100 ms after the send belongs to no attempt of its own:
        // the second attempt drops it before its send and gets its own answer.
        BusyCase{"ReplySlowerThanOneWaitIsLeftToTheNextAttempt",
                 [](FakeTransport& link) {
                     link.responder = [](std::span<const uint8_t>, FakeTransport& self) {
                         self.QueueReply(EraseEcho(3), LOCALHOST, self.sent.size() == 1 ? 1100 : 10);
                     };
                 },
                 true, 2, 1010},
        // An oversized datagram is skipped and the wait goes on.
        BusyCase{"OversizedDatagramIsIgnored",
                 [](FakeTransport& link) {
                     link.responder = [](std::span<const uint8_t>, FakeTransport& self) {
                         self.QueueReply(std::vector<uint8_t>(2000, 0x55), LOCALHOST, 10);
                         self.QueueReply(EraseEcho(3), LOCALHOST, 20);
                     };
                 },
                 true, 1, 20},
        BusyCase{"OnlyOversizedDatagramsLeaveTheDeviceUnanswered",
                 [](FakeTransport& link) {
                     link.responder = [](std::span<const uint8_t>, FakeTransport& self) {
                         for (int i = 0; i < 5; ++i)
                             self.QueueReply(std::vector<uint8_t>(1489, 0x55), LOCALHOST, 100 * i);
                     };
                 },
                 false, 16, 16000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DuplicatedReplies, EchoOfThePreviousBlockNeverFailsTheNextOne) {
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    // Every reply comes twice; the copy is waiting when the next block goes.
    link.responder = [](std::span<const uint8_t> request, FakeTransport& self) {
        const auto echo = MakeReplyWords(OP_LOAD_BLOCK, EXAMPLE_MAC, {ReadU16(request, OFFSET_PAYLOAD)});
        self.QueueReply(echo, LOCALHOST, 5);
        self.QueueReply(echo, LOCALHOST, 5);
    };
    const uint8_t data[] = {1, 2, 3};
    for (uint16_t block = 0; block < 4; ++block)
        ASSERT_TRUE(protocol.LoadBlock(ExampleDevice(), block, data));
    EXPECT_EQ(link.sent.size(), 4u);  // one send per block
}

// The copy comes only after the next request went out, so the drain before
// the send cannot catch it: it is skipped as an answer to another block.
TEST(DuplicatedReplies, LateCopiesOfOldEchoesAreSkippedNotCountedAsFailures) {
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    link.responder = [](std::span<const uint8_t> request, FakeTransport& self) {
        const uint16_t block = ReadU16(request, OFFSET_PAYLOAD);
        // A backlog of old echoes reaches the program first, then the answer.
        for (uint16_t old = 0; old < block; ++old)
            for (int copy = 0; copy < 20; ++copy)
                self.QueueReply(MakeReplyWords(OP_LOAD_BLOCK, EXAMPLE_MAC, {old}), LOCALHOST, 1);
        self.QueueReply(MakeReplyWords(OP_LOAD_BLOCK, EXAMPLE_MAC, {block}), LOCALHOST, 2);
    };
    const uint8_t data[] = {9};
    for (uint16_t block = 0; block < 3; ++block)
        ASSERT_TRUE(protocol.LoadBlock(ExampleDevice(), block, data));
    EXPECT_EQ(link.sent.size(), 3u);
}

}  // namespace
}  // namespace quorvane::testing
