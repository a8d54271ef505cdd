// The nine command exchanges and the information query over the scripted
// transport: request bytes, the match and retry rules, and out-values.

#include <gtest/gtest.h>

#include <functional>

#include "protocol/device_protocol.h"
#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

class Exchanges : public ::testing::Test {
protected:
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol{link, chain};
    DeviceRecord device = ExampleDevice();

    std::vector<uint8_t> Reply(uint8_t opcode, const std::string& payload,
                               const MacAddress& mac = EXAMPLE_MAC) {
        return MakeReply(opcode, mac, Hex(payload));
    }
    void ExpectOnlyIdenticalSends(std::size_t count) {
        ASSERT_EQ(link.sent.size(), count);
        for (const auto& sent : link.sent) {
            EXPECT_EQ(sent.address, LIMITED_BROADCAST);
            EXPECT_EQ(sent.bytes, link.sent.front().bytes);
        }
    }
};

struct RequestCase {
    const char* name;
    std::function<bool(DeviceProtocol&, DeviceRecord&)> run;
    std::string bytes;
};

void PrintTo(const RequestCase& c, std::ostream* out) {
    *out << c.name;
}

class RequestBytes : public ::testing::TestWithParam<RequestCase> {};

// The device never answers, so every exchange also shows its full retry
// count with identical bytes each time.
TEST_P(RequestBytes, AreExactAndRepeatedSixteenTimesToTheLimitedBroadcast) {
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    DeviceRecord device = ExampleDevice();
    EXPECT_FALSE(GetParam().run(protocol, device));
    ASSERT_EQ(link.sent.size(), static_cast<std::size_t>(MAX_SENDS));
    for (const auto& sent : link.sent) {
        EXPECT_EQ(sent.address, LIMITED_BROADCAST);
        EXPECT_EQ(sent.bytes, Hex(GetParam().bytes));
    }
    EXPECT_EQ(link.virtualMillis, MAX_SENDS * link.waitMillis);  // each attempt waited once
}

const uint8_t BLOCK_DATA[] = {0xAA, 0xBB, 0xCC};
uint8_t readBuffer[256];

INSTANTIATE_TEST_SUITE_P(
    Exchanges, RequestBytes,
    ::testing::Values(
        RequestCase{"SetProgramMode", [](auto& p, auto& d) { return p.SetProgramMode(d); },
                    "00 09 72 19 01 13 02 00 00 00 00 01 00 00"},
        RequestCase{"Lock", [](auto& p, auto& d) { return p.Lock(d); },
                    "00 02 72 19 01 13 02 00 00 00 00 01 00 00"},
        RequestCase{"Unlock", [](auto& p, auto& d) { return p.Unlock(d); },
                    "00 03 72 19 01 13 02 00 00 00 00 01 00 00"},
        RequestCase{"Reset", [](auto& p, auto& d) { return p.Reset(d); },
                    "00 08 72 19 01 13 02 00 00 00 00 01 00 00"},
        RequestCase{"EraseThree", [](auto& p, auto& d) { return p.Erase(d, 3); },
                    "00 04 72 19 01 13 02 00 00 00 00 01 02 00 03 00"},
        RequestCase{"Erase", [](auto& p, auto& d) { return p.Erase(d, 0x1234); },
                    "00 04 72 19 01 13 02 00 00 00 00 01 02 00 34 12"},
        RequestCase{"LoadBegin",
                    [](auto& p, auto& d) {
                        uint16_t size = 0;
                        return p.LoadBegin(d, 0x0102, 0x0304, 0x0A0B0C0D, size);
                    },
                    "00 05 72 19 01 13 02 00 00 00 00 01 08 00 02 01 04 03 0D 0C 0B 0A"},
        RequestCase{"LoadBlock", [](auto& p, auto& d) { return p.LoadBlock(d, 0x0201, BLOCK_DATA); },
                    "00 07 72 19 01 13 02 00 00 00 00 01 05 00 01 02 AA BB CC"},
        RequestCase{"LoadBlockWithoutData", [](auto& p, auto& d) { return p.LoadBlock(d, 7, {}); },
                    "00 07 72 19 01 13 02 00 00 00 00 01 02 00 07 00"},
        RequestCase{"LoadVerify",
                    [](auto& p, auto& d) {
                        uint8_t checksum = 0;
                        return p.LoadVerify(d, checksum);
                    },
                    "00 06 72 19 01 13 02 00 00 00 00 01 00 00"},
        RequestCase{"Read", [](auto& p, auto& d) { return p.Read(d, 128, 0x1000, 0x0020, readBuffer); },
                    "00 0A 72 19 01 13 02 00 00 00 00 01 06 00 80 00 00 10 20 00"},
        RequestCase{"QueryInfo", [](auto& p, auto& d) { return p.QueryInfo(d); },
                    "00 0C 72 19 01 13 02 00 00 00 00 01 00 00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Exchanges, ExampleEraseReplyIsAcceptedAfterOneSend) {
    ScriptReplies(link, {{Hex("00 04 96 19 06 30 02 00 00 00 00 01 02 00 03 00")}});
    EXPECT_TRUE(protocol.Erase(device, 3));
    EXPECT_EQ(link.sent.size(), 1u);
}

TEST_F(Exchanges, ForeignPacketsAndEmptyReceivesKeepTheWaitGoing) {
    auto requestMagic = Reply(OP_LOCK, "");
    WriteU32(requestMagic, OFFSET_MAGIC, REQUEST_MAGIC);
    auto nonZeroByteZero = Reply(OP_LOCK, "");
    nonZeroByteZero[0] = 0x80;
    link.responder = [&](std::span<const uint8_t>, FakeTransport& self) {
        self.QueueReply(requestMagic);
        self.QueueReply(Reply(OP_LOCK, "", OTHER_MAC));
        self.QueueReply(Reply(OP_UNLOCK, ""));
        self.QueueResult(0);
        self.QueueReply(nonZeroByteZero);
    };
    EXPECT_TRUE(protocol.Lock(device));
    EXPECT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.receives, 5);
}

TEST_F(Exchanges, OnlyForeignPacketsLeaveTheDeviceUnanswered) {
    link.responder = [&](std::span<const uint8_t>, FakeTransport& self) {
        self.QueueReply(Reply(OP_RESET, "", OTHER_MAC));
    };
    EXPECT_FALSE(protocol.Reset(device));
    ExpectOnlyIdenticalSends(MAX_SENDS);
}

TEST_F(Exchanges, AnswerOnTheLastSendStillSucceeds) {
    std::vector<Datagrams> script(MAX_SENDS);
    script.back() = {Reply(OP_UNLOCK, "")};
    ScriptReplies(link, script);
    EXPECT_TRUE(protocol.Unlock(device));
    ExpectOnlyIdenticalSends(MAX_SENDS);
}

TEST_F(Exchanges, LateEchoOfThePreviousBlockDoesNotAnswerAndTheSameBlockGoesAgain) {
    ScriptReplies(link, {{Reply(OP_LOAD_BLOCK, "04 00")}, {Reply(OP_LOAD_BLOCK, "05 00")}});
    const uint8_t data[] = {1, 2, 3, 4};
    EXPECT_TRUE(protocol.LoadBlock(device, 5, data));
    ExpectOnlyIdenticalSends(2);
}

TEST_F(Exchanges, EraseEchoMismatchIsSkippedAndTheWaitGoesOn) {
    // A wrong echo is an old or duplicated answer: the right one behind it
    // within the same wait answers the request.
    ScriptReplies(link, {{Reply(OP_ERASE, "02 00"), Reply(OP_ERASE, "03 00")}});
    EXPECT_TRUE(protocol.Erase(device, 3));
    ExpectOnlyIdenticalSends(1);
    EXPECT_EQ(link.receives, 2);
    // Only wrong echoes: every attempt waits out its receive wait.
    link.sent.clear();
    link.virtualMillis = 0;
    link.responder = [&](std::span<const uint8_t>, FakeTransport& self) {
        for (int i = 0; i < 3; ++i) self.QueueReply(Reply(OP_ERASE, "02 00"), LOCALHOST, 10 * i);
    };
    EXPECT_FALSE(protocol.Erase(device, 3));
    ExpectOnlyIdenticalSends(16);
    EXPECT_EQ(link.virtualMillis, 16000);
}

TEST_F(Exchanges, ReplyTooShortForItsFieldFailsTheAttempt) {
    struct Case {
        uint8_t opcode;
        std::function<bool()> run;
    };
    uint16_t blockSize = 0xBEEF;
    uint8_t checksum = 0x5A;
    const std::vector<Case> cases = {
        {OP_ERASE, [&] { return protocol.Erase(device, 0); }},
        {OP_LOAD_BEGIN, [&] { return protocol.LoadBegin(device, 0, 0, 0, blockSize); }},
        {OP_LOAD_BLOCK, [&] { return protocol.LoadBlock(device, 0, {}); }},
        {OP_LOAD_VERIFY, [&] { return protocol.LoadVerify(device, checksum); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.opcode));
        link.sent.clear();
        // The header claims a payload the datagram does not carry.
        auto shortReply = Reply(c.opcode, "");
        WriteU16(shortReply, OFFSET_PAYLOAD_LENGTH, 2);
        link.responder = [&](std::span<const uint8_t>, FakeTransport& self) { self.QueueReply(shortReply); };
        EXPECT_FALSE(c.run());
        EXPECT_EQ(link.sent.size(), static_cast<std::size_t>(MAX_SENDS));
    }
    EXPECT_EQ(blockSize, 0xBEEF);
    EXPECT_EQ(checksum, 0x5A);
}

TEST_F(Exchanges, FailedSendEndsTheExchangeAtOnce) {
    link.failSendsFrom = 0;
    EXPECT_FALSE(protocol.SetProgramMode(device));
    EXPECT_EQ(link.receives, 0);

    link.failSendsFrom = 3;  // three silent attempts, then the fourth send fails
    EXPECT_FALSE(protocol.SetProgramMode(device));
    EXPECT_EQ(link.sent.size(), 3u);
    EXPECT_EQ(link.receives, 3);
}

TEST_F(Exchanges, OutValuesArriveOnSuccess) {
    ScriptReplies(link, {{Reply(OP_LOAD_BEGIN, "00 02")}, {Reply(OP_LOAD_VERIFY, "A5 77")}});
    uint16_t blockSize = 0;
    ASSERT_TRUE(protocol.LoadBegin(device, 1, 2, 3, blockSize));
    EXPECT_EQ(blockSize, 0x0200);
    uint8_t checksum = 0;
    ASSERT_TRUE(protocol.LoadVerify(device, checksum));
    EXPECT_EQ(checksum, 0xA5);
}

TEST_F(Exchanges, OutValuesStayUntouchedWhenTheDeviceIsSilent) {
    uint16_t blockSize = 0x1111;
    uint8_t checksum = 0x22;
    std::vector<uint8_t> out(8, 0x33);
    EXPECT_FALSE(protocol.LoadBegin(device, 1, 2, 3, blockSize));
    EXPECT_FALSE(protocol.LoadVerify(device, checksum));
    EXPECT_FALSE(protocol.Read(device, 4, 0, 0, out));
    EXPECT_EQ(blockSize, 0x1111);
    EXPECT_EQ(checksum, 0x22);
    EXPECT_EQ(out, std::vector<uint8_t>(8, 0x33));
}

TEST_F(Exchanges, ReadCopiesExactlyTheLengthAskedFor) {
    auto reply = Reply(OP_READ, "10 20 30 40 50 60");
    WriteU16(reply, OFFSET_PAYLOAD_LENGTH, 4);  // trailing bytes beyond the length are not data
    ScriptReplies(link, {{reply}});
    std::vector<uint8_t> out(6, 0xEE);
    ASSERT_TRUE(protocol.Read(device, 4, 0, 0, out));
    EXPECT_EQ(out, Hex("10 20 30 40 EE EE"));
}

TEST_F(Exchanges, ReadRejectsWrongLengthFieldAndTooFewDataBytes) {
    auto lengthOneShort = Reply(OP_READ, "10 20 30 40");
    WriteU16(lengthOneShort, OFFSET_PAYLOAD_LENGTH, 3);
    auto bytesOneShort = Reply(OP_READ, "10 20 30");
    WriteU16(bytesOneShort, OFFSET_PAYLOAD_LENGTH, 4);
    std::vector<uint8_t> out(4, 0xEE);

    ScriptReplies(link, {{lengthOneShort}, {bytesOneShort}, {Reply(OP_READ, "01 02 03 04")}});
    ASSERT_TRUE(protocol.Read(device, 4, 0, 0, out));
    EXPECT_EQ(out, Hex("01 02 03 04"));
    ExpectOnlyIdenticalSends(3);

    link.sent.clear();
    out.assign(4, 0xEE);
    link.responder = [&](std::span<const uint8_t>, FakeTransport& self) { self.QueueReply(bytesOneShort); };
    EXPECT_FALSE(protocol.Read(device, 4, 0, 0, out));
    EXPECT_EQ(link.sent.size(), static_cast<std::size_t>(MAX_SENDS));
    EXPECT_EQ(out, std::vector<uint8_t>(4, 0xEE));
}

TEST_F(Exchanges, RequestsThatCannotBeHeldAreRefusedWithoutSending) {
    std::vector<uint8_t> small(3);
    EXPECT_FALSE(protocol.Read(device, 4, 0, 0, small));
    const std::vector<uint8_t> tooLarge(REQUEST_CAPACITY - HEADER_SIZE - 1);
    EXPECT_FALSE(protocol.LoadBlock(device, 1, tooLarge));
    EXPECT_TRUE(link.sent.empty());

    const std::vector<uint8_t> largest(REQUEST_CAPACITY - HEADER_SIZE - 2, 0x7E);
    ScriptReplies(link, {{Reply(OP_LOAD_BLOCK, "01 00")}});
    EXPECT_TRUE(protocol.LoadBlock(device, 1, largest));
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].bytes.size(), REQUEST_CAPACITY);
    EXPECT_EQ(ReadU16(link.sent[0].bytes, OFFSET_PAYLOAD_LENGTH), REQUEST_CAPACITY - HEADER_SIZE);
    EXPECT_EQ(link.sent[0].bytes.back(), 0x7E);
}

}  // namespace
}  // namespace quorvane::testing
