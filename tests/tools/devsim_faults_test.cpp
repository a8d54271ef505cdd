// Fault injection of the simulator core: every option's effect, repeatable
// with a seed, and limited to the devices it names.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/tools/devsim_packets.h"
#include "tools/devsim/info_block_builder.h"
#include "tools/devsim/profile_file.h"
#include "tools/devsim/simulator.h"

namespace quorvane::devsim {
namespace {

using namespace quorvane::devsim::testing;
using namespace std::chrono_literals;

Simulator WithFaults(FaultOptions faults, std::size_t devices = 2) {
    return Simulator(DefaultProfiles(devices), std::move(faults));
}

std::size_t Answers(Simulator& sim, const std::vector<uint8_t>& request) {
    return sim.Handle(request).size();
}

TEST(DevsimFaults, SilentOpcodeIsNeverAnsweredButCounted) {
    FaultOptions f;
    f.silent = {OP_ERASE};
    auto sim = WithFaults(f);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Answers(sim, Erase(DEVICE_1, 1)), 0u);
    EXPECT_EQ(Answers(sim, Request(OP_LOCK, DEVICE_1)), 1u);
    EXPECT_EQ(sim.RequestCount(DEVICE_1, OP_ERASE), 3);
    EXPECT_EQ(sim.RequestCount(DEVICE_1, OP_LOCK), 1);
}

TEST(DevsimFaults, SilentRequestChangesNothing) {
    FaultOptions f;
    f.silent = {OP_LOAD_BEGIN};
    auto sim = WithFaults(f);
    EXPECT_EQ(Answers(sim, LoadBegin(DEVICE_1, 0, 0, 4)), 0u);
    EXPECT_FALSE(sim.Devices()[0].Loading());
}

TEST(DevsimFaults, DropFirstIgnoresExactlyKRequestsPerDevice) {
    FaultOptions f;
    f.dropFirst = {{OP_ERASE, 2}, {OP_GET_INFO, 0}};
    auto sim = WithFaults(f);
    EXPECT_EQ(Answers(sim, Erase(DEVICE_1, 1)), 0u);
    EXPECT_EQ(Answers(sim, Erase(DEVICE_1, 1)), 0u);
    EXPECT_EQ(Answers(sim, Erase(DEVICE_1, 1)), 1u);
    EXPECT_EQ(Answers(sim, Erase(DEVICE_1, 1)), 1u);
    // The count is kept per device.
    EXPECT_EQ(Answers(sim, Erase(DEVICE_2, 1)), 0u);
    EXPECT_EQ(Answers(sim, Request(OP_GET_INFO, DEVICE_1)), 1u);
    EXPECT_EQ(Answers(sim, Request(OP_LOCK, DEVICE_2)), 1u);
}

TEST(DevsimFaults, WrongEchoOnceSpoilsOnlyTheFirstReply) {
    FaultOptions f;
    f.wrongEchoOnce = {OP_ERASE, OP_LOAD_BLOCK, OP_READ, OP_LOAD_VERIFY};
    auto sim = WithFaults(f);
    const std::vector<uint8_t> data{1, 2, 3};
    EXPECT_EQ(ReplyWord(sim.Handle(Erase(DEVICE_1, 7))[0].bytes), 8);
    EXPECT_EQ(ReplyWord(sim.Handle(Erase(DEVICE_1, 7))[0].bytes), 7);
    sim.Handle(LoadBegin(DEVICE_1, 0, 0, 3));
    EXPECT_EQ(ReplyWord(sim.Handle(LoadBlock(DEVICE_1, 0, data))[0].bytes), 1);
    EXPECT_EQ(ReplyWord(sim.Handle(LoadBlock(DEVICE_1, 0, data))[0].bytes), 0);
    EXPECT_EQ(sim.Handle(Request(OP_LOAD_VERIFY, DEVICE_1))[0].bytes[OFFSET_PAYLOAD], 7);
    EXPECT_EQ(sim.Handle(Request(OP_LOAD_VERIFY, DEVICE_1))[0].bytes[OFFSET_PAYLOAD], 6);
    const auto shortRead = sim.Handle(Read(DEVICE_1, 8, 0, 0))[0].bytes;
    EXPECT_EQ(PayloadLength(shortRead), 7);
    EXPECT_EQ(shortRead.size(), HEADER_SIZE + 7);
    EXPECT_EQ(PayloadLength(sim.Handle(Read(DEVICE_1, 8, 0, 0))[0].bytes), 8);
    // Once per device: the second device gets its own spoiled first echo.
    EXPECT_EQ(ReplyWord(sim.Handle(Erase(DEVICE_2, 7))[0].bytes), 8);
}

TEST(DevsimFaults, BadChecksumIsAlwaysOneOff) {
    FaultOptions f;
    f.badChecksum = true;
    auto sim = WithFaults(f);
    const std::vector<uint8_t> data{0xFF, 0x02};
    sim.Handle(LoadBegin(DEVICE_1, 0, 0, 2));
    sim.Handle(LoadBlock(DEVICE_1, 0, data));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(sim.Handle(Request(OP_LOAD_VERIFY, DEVICE_1))[0].bytes[OFFSET_PAYLOAD], 2);
    EXPECT_EQ(sim.Devices()[0].LoadChecksum(), 1);
}

TEST(DevsimFaults, DuplicateSendsTwoEqualReplies) {
    FaultOptions f;
    f.duplicate = true;
    auto sim = WithFaults(f);
    const auto replies = sim.Handle(Erase(DEVICE_1, 4));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].bytes, replies[1].bytes);
    EXPECT_EQ(sim.Handle(Discover()).size(), 4u);
}

TEST(DevsimFaults, DelaysAddUpAndBlocksQueueBehindTheFlashWrite) {
    FaultOptions f;
    f.delayMs = 30;
    f.blockDelayMs = 10;
    auto sim = WithFaults(f);
    const std::vector<uint8_t> data{1};
    EXPECT_EQ(sim.Handle(LoadBegin(DEVICE_1, 0, 0, 3), 1000ms)[0].delay, 30ms);
    EXPECT_EQ(sim.Handle(LoadBlock(DEVICE_1, 0, data), 1000ms)[0].delay, 40ms);
    // A second block arriving while the first is still being stored waits for it.
    EXPECT_EQ(sim.Handle(LoadBlock(DEVICE_1, 1, data), 1005ms)[0].delay, 45ms);
    EXPECT_EQ(sim.Handle(Request(OP_LOAD_VERIFY, DEVICE_1), 1010ms)[0].delay, 40ms);
    // Once the device is idle again only the reply delay remains.
    EXPECT_EQ(sim.Handle(Request(OP_LOAD_VERIFY, DEVICE_1), 2000ms)[0].delay, 30ms);
    // The other device's flash is not busy.
    sim.Handle(LoadBegin(DEVICE_2, 0, 0, 1), 1000ms);
    EXPECT_EQ(sim.Handle(LoadBlock(DEVICE_2, 0, data), 1000ms)[0].delay, 40ms);
}

TEST(DevsimFaults, ABlockSentAgainIsAnsweredWhenItsStoreEndsWithoutStoringAgain) {
    FaultOptions f;
    f.blockDelayMs = 120;
    auto sim = WithFaults(f);
    const std::vector<uint8_t> data{1};
    sim.Handle(LoadBegin(DEVICE_1, 0, 0, 2), 0ms);
    EXPECT_EQ(sim.Handle(LoadBlock(DEVICE_1, 0, data), 0ms)[0].delay, 120ms);
    // The program gave up waiting after 100 ms and sent the block again.
    EXPECT_EQ(sim.Handle(LoadBlock(DEVICE_1, 0, data), 100ms)[0].delay, 20ms);
    EXPECT_EQ(sim.Handle(LoadBlock(DEVICE_1, 0, data), 300ms)[0].delay, 0ms);
    EXPECT_EQ(sim.Handle(LoadBlock(DEVICE_1, 1, data), 300ms)[0].delay, 120ms);
    // A new load starts afresh, its block 0 included.
    sim.Handle(LoadBegin(DEVICE_1, 0, 0, 2), 1000ms);
    EXPECT_EQ(sim.Handle(LoadBlock(DEVICE_1, 0, data), 1000ms)[0].delay, 120ms);
}

TEST(DevsimFaults, DelaysCountFromTheMicrosecondTheRequestArrived) {
    FaultOptions f;
    f.blockDelayMs = 1;
    auto sim = WithFaults(f);
    std::vector<std::string> log;
    sim.SetLog([&log](const std::string& line) { log.push_back(line); });
    const std::vector<uint8_t> data{1};
    sim.Handle(LoadBegin(DEVICE_1, 0, 0, 3), 1000ms);
    const struct {
        uint16_t block;
        std::chrono::microseconds arrival;
        std::chrono::microseconds delay;
        const char* logged;
    } cases[] = {
        {0, 1000300us, 1000us, " delay=1ms"},      // late in a millisecond: still the whole store
        {1, 1000800us, 1500us, " delay=1.500ms"},  // while block 0 is stored: waits 0.5 ms for it
        {2, 1005000us, 1000us, " delay=1ms"},      // idle again
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block);
        log.clear();
        const auto replies = sim.Handle(LoadBlock(DEVICE_1, c.block, data), c.arrival);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].delay, c.delay);
        ASSERT_FALSE(log.empty());
        EXPECT_TRUE(log.back().ends_with(c.logged)) << log.back();
    }
}

TEST(DevsimFaults, RequestsReachOnlyTheDeviceTheyNameAmongThousands) {
    std::vector<DeviceProfile> profiles = DefaultProfiles(5000);
    Simulator sim(profiles, {});
    const MacAddress last = profiles.back().mac;
    const auto replies = sim.Handle(Request(OP_LOCK, last));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(std::equal(last.begin(), last.end(), replies[0].bytes.begin() + OFFSET_MAC));
    EXPECT_TRUE(sim.Find(last)->Locked());
    EXPECT_FALSE(sim.Find(profiles.front().mac)->Locked());
    EXPECT_EQ(sim.Handle(Discover()).size(), 5000u);
}

// Which of `count` LOCK requests got no answer.
std::vector<bool> LossPattern(const FaultOptions& f, int count, const MacAddress& mac = DEVICE_1) {
    auto sim = WithFaults(f);
    std::vector<bool> lost;
    for (int i = 0; i < count; ++i) lost.push_back(sim.Handle(Request(OP_LOCK, mac)).empty());
    return lost;
}

TEST(DevsimFaults, RandomDropsFollowTheFractionAndTheSeed) {
    FaultOptions f;
    f.dropFraction = 0.3;
    f.dropMode = DropMode::Requests;
    f.seed = 42;
    const auto first = LossPattern(f, 2000);
    EXPECT_EQ(first, LossPattern(f, 2000));  // same seed, same losses
    const auto lost = std::count(first.begin(), first.end(), true);
    EXPECT_GT(lost, 500);
    EXPECT_LT(lost, 700);
    f.seed = 43;
    EXPECT_NE(first, LossPattern(f, 2000));
    EXPECT_NE(first, LossPattern(f, 2000, DEVICE_2));  // each device has its own stream
    // Both directions: a request survives both draws with probability 0.49.
    f.dropMode = DropMode::Both;
    const auto both = LossPattern(f, 2000);
    const auto lostBoth = std::count(both.begin(), both.end(), true);
    EXPECT_GT(lostBoth, 920);
    EXPECT_LT(lostBoth, 1120);
    f.dropFraction = 1.0;
    const auto all = LossPattern(f, 50);
    EXPECT_EQ(std::count(all.begin(), all.end(), false), 0);
}

TEST(DevsimFaults, DroppedRequestChangesNothingButDroppedReplyDoes) {
    FaultOptions f;
    f.dropFraction = 1.0;
    f.dropMode = DropMode::Requests;
    auto requestsLost = WithFaults(f);
    EXPECT_TRUE(requestsLost.Handle(LoadBegin(DEVICE_1, 0, 0, 1)).empty());
    EXPECT_FALSE(requestsLost.Devices()[0].Loading());
    f.dropMode = DropMode::Replies;
    auto repliesLost = WithFaults(f);
    EXPECT_TRUE(repliesLost.Handle(LoadBegin(DEVICE_1, 0, 0, 1)).empty());
    EXPECT_TRUE(repliesLost.Devices()[0].Loading());
}

TEST(DevsimFaults, FaultDeviceLimitsEveryFaultToThatDevice) {
    FaultOptions f;
    f.silent = {OP_LOCK};
    f.duplicate = true;
    f.delayMs = 5;
    f.devices = {DEVICE_2};
    auto sim = WithFaults(f, 3);
    EXPECT_EQ(Answers(sim, Request(OP_LOCK, DEVICE_1)), 1u);
    EXPECT_EQ(Answers(sim, Request(OP_LOCK, DEVICE_2)), 0u);
    const auto replies = sim.Handle(Discover());
    ASSERT_EQ(replies.size(), 4u);  // device 2 twice
    EXPECT_EQ(replies[0].delay, 0ms);
    EXPECT_EQ(replies[1].delay, 5ms);
    EXPECT_EQ(replies[3].delay, 0ms);
}

TEST(DevsimFaults, LogNamesEachEventWithOpcodeAndMac) {
    FaultOptions f;
    f.dropFirst = {{OP_ERASE, 1}};
    auto sim = WithFaults(f);
    std::vector<std::string> lines;
    sim.SetLog([&](const std::string& line) { lines.push_back(line); });
    sim.Handle(Erase(DEVICE_1, 3));
    sim.Handle(Erase(DEVICE_1, 3));
    sim.Handle(Request(OP_LOCK, MacAddress{1, 2, 3, 4, 5, 6}));
    const std::vector<std::string> expected{
        "rx ERASE 02:00:00:00:00:01 value=3", "drop-rx ERASE 02:00:00:00:00:01 value=3 (first 1)",
        "rx ERASE 02:00:00:00:00:01 value=3", "tx ERASE 02:00:00:00:00:01 echo=3",
        "ignored LOCK 01:02:03:04:05:06",
    };
    EXPECT_EQ(lines, expected);
}

// The information block a device reports now, without the flag byte.
std::vector<uint8_t> ReportedBlock(Simulator& sim, const MacAddress& mac, Micros now) {
    const auto replies = sim.Handle(Request(OP_GET_INFO, mac), now);
    if (replies.empty()) return {};
    std::vector<uint8_t> payload = Payload(replies.front().bytes);
    return {payload.begin() + 1, payload.end()};
}

TEST(DevsimRestart, ALoadAndAResetReportTheNewFirmwareAndABootIsSilent) {
    std::vector<DeviceProfile> profiles = DefaultProfiles(2);
    FirmwareRelease release;
    ASSERT_TRUE(ParseFirmwareRelease("4.1.0 12/01/26", release));
    for (auto& p : profiles) p.firmwareAfter = release;
    DeviceProfile after = profiles[0];
    after.Report(release);
    EXPECT_EQ(after.versionSecond, 1);
    EXPECT_EQ(after.dateFirst, 12);
    EXPECT_EQ(after.dateThird, 26);
    FaultOptions faults;
    faults.rebootMs = 3000;
    faults.noReturn = {DEVICE_2};
    Simulator sim(profiles, faults);
    const std::vector<uint8_t> before = BuildInfoBlock(profiles[0]);
    ASSERT_EQ(ReportedBlock(sim, DEVICE_1, 0s), before);
    // A reset without a load keeps the firmware; the boot is silent all the same.
    ASSERT_EQ(sim.Handle(Request(OP_RESET, DEVICE_1), 1s).size(), 1u);
    EXPECT_TRUE(ReportedBlock(sim, DEVICE_1, 3999ms).empty());
    EXPECT_EQ(ReportedBlock(sim, DEVICE_1, 4s), before);

    ASSERT_EQ(sim.Handle(LoadBegin(DEVICE_1, 1, 0, 4), 5s).size(), 1u);
    ASSERT_EQ(sim.Handle(Request(OP_RESET, DEVICE_1), 6s).size(), 1u);
    EXPECT_EQ(sim.Handle(Discover(), 8s).size(), 1u) << "the booting device does not answer discovery either";
    EXPECT_EQ(ReportedBlock(sim, DEVICE_1, 9s), BuildInfoBlock(after));

    ASSERT_EQ(sim.Handle(Request(OP_RESET, DEVICE_2), 0s).size(), 1u);
    EXPECT_TRUE(ReportedBlock(sim, DEVICE_2, 3600s).empty()) << "--no-return: never again";
}

TEST(DevsimRestart, FirmwareReleasesParseAsVersionAndDate) {
    FirmwareRelease release;
    for (const char* bad : {"4.1.0", "4.1 12/01/26", "4.1.0 12/01", "4.1.256 1/1/1", ""})
        EXPECT_FALSE(ParseFirmwareRelease(bad, release)) << bad;
    ASSERT_TRUE(ParseFirmwareRelease("3.2.1 1000/2/3", release));
    EXPECT_EQ(release.revisionId, 3);
    EXPECT_EQ(release.versionThird, 1);
    EXPECT_EQ(release.dateFirst, 1000);
    EXPECT_EQ(release.dateSecond, 2);
}

}  // namespace
}  // namespace quorvane::devsim
