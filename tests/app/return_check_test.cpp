// The wait for a device to come back after its RESET, on the virtual clock.
#include "app/return_check.h"

#include <gtest/gtest.h>

#include "app_test_support.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::FirmwareRecord;
using testing::IdentityRecord;
using testing::Join;
using testing::ScriptedNetwork;

constexpr MacAddress DEVICE{0x02, 0x00, 0x00, 0x00, 0x00, 0x05};

std::vector<uint8_t> BlockWith(uint8_t second, uint8_t third, uint16_t dateFirst, uint8_t dateThird) {
    return Join({IdentityRecord(0x1407, 0x70FC), FirmwareRecord(4, 0x0101, second, third, dateFirst, 1, dateThird, "QVN")});
}

TEST(ReturnCheckTest, ADeviceIsAskedUntilItAnswersOrTheTimeIsOver) {
    const struct Case {
        const char* what;
        int64_t bootMillis;  // -1: never back
        bool newFirmware;
        ReturnOutcome outcome;
        std::string after;
        std::chrono::milliseconds waited;
        int queries;  // one send each, one receive wait (1 s here) apart
    } cases[] = {
        {"back after 3 s, new firmware", 3000, true, ReturnOutcome::Verified, "v QVN 4.1.0 12/01/26", 3000ms, 4},
        {"back at once, same firmware", 0, false, ReturnOutcome::Unchanged, "v QVN 4.0.2 06/01/15", 0ms, 1},
        {"never back", -1, true, ReturnOutcome::Missing, "", 10000ms, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedNetwork net;
        testing::SimulatedDevice& device = net.Add(DEVICE);
        device.infoBlock = BlockWith(0, 2, 6, 15);
        device.bootMillis = c.bootMillis;
        if (c.newFirmware) device.infoBlockAfterReset = BlockWith(1, 0, 12, 26);
        auto record = net.RecordOf(0);
        const std::string before = FirmwareTextOf(*record);
        EXPECT_EQ(before, "v QVN 4.0.2 06/01/15");
        ASSERT_TRUE(net.protocol.Reset(*record));
        const ReturnCheck check = AwaitReturn(net.protocol, *record, before, 10s, {});
        EXPECT_EQ(check.outcome, c.outcome);
        EXPECT_EQ(check.firmwareBefore, before);
        EXPECT_EQ(check.firmwareAfter, c.after);
        EXPECT_EQ(check.waited, c.waited);
        EXPECT_EQ(net.Sends(OP_GET_INFO), c.queries);
    }
    EXPECT_STREQ(ReturnWord(ReturnOutcome::NotReset), "not-reset");
    EXPECT_STREQ(ReturnWord(ReturnOutcome::Missing), "missing");
}

TEST(ReturnCheckTest, AStopEndsTheWait) {
    ScriptedNetwork net;
    net.Add(DEVICE).bootMillis = -1;
    auto record = net.RecordOf(0);
    ASSERT_TRUE(net.protocol.Reset(*record));
    int asked = 0;
    const ReturnCheck check = AwaitReturn(net.protocol, *record, "x", 60s, [&] { return ++asked > 3; });
    EXPECT_EQ(check.outcome, ReturnOutcome::Off) << "not seen back, but not missing either";
    EXPECT_EQ(check.waited, 3000ms) << "three queries, then the stop";
    EXPECT_EQ(net.Sends(OP_GET_INFO), 3);
}

}  // namespace
}  // namespace quorvane
