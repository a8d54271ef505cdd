// The pace both front ends show: rate and time left of a transfer, told
// only once it has run long enough, and started afresh for each transfer.

#include "app/transfer_pace.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(TransferPace, EachTransferIsTimedFromItsFirstStep) {
    PaceMeter meter;
    EXPECT_FALSE(meter.Step("A.BIN", 0, 4096, milliseconds(10000)).known);
    EXPECT_FALSE(meter.Step("A.BIN", 1024, 4096, milliseconds(10400)).known) << "before half a second";
    const TransferPace a = meter.Step("A.BIN", 2048, 4096, milliseconds(11000));
    ASSERT_TRUE(a.known);
    EXPECT_DOUBLE_EQ(a.bytesPerSecond, 2048.0);
    EXPECT_EQ(a.left, seconds(1));
    // Another file starts its own clock, even without a step at zero.
    EXPECT_FALSE(meter.Step("B.BIN", 512, 1024, milliseconds(11100)).known);
    const TransferPace b = meter.Step("B.BIN", 768, 1024, milliseconds(11600));
    ASSERT_TRUE(b.known);
    EXPECT_DOUBLE_EQ(b.bytesPerSecond, 1536.0);
    EXPECT_EQ(b.left, seconds(0)) << "a sixth of a second rounds to none";
    // A retry of the same file starts again at zero.
    EXPECT_FALSE(meter.Step("B.BIN", 0, 1024, milliseconds(20000)).known);
    EXPECT_EQ(meter.Step("B.BIN", 100, 1000, milliseconds(21000)).left, seconds(9));
}

TEST(TransferPace, TimeLeftAsMinutesAndSeconds) {
    const std::pair<long long, const char*> cases[] = {{0, "0:00"}, {9, "0:09"}, {65, "1:05"}, {3700, "61:40"}};
    for (const auto& [time, text] : cases) EXPECT_EQ(MinutesAndSeconds(seconds(time)), text) << time;
}

}  // namespace
}  // namespace quorvane
