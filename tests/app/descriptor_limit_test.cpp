// The soft limit on open files is raised to the hard one, from wherever it
// starts, and what is in force afterwards is reported.

#include "app/descriptor_limit.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace quorvane {
namespace {

class DescriptorLimitTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved_), 0); }
    void TearDown() override { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    rlimit saved_{};
};

TEST_F(DescriptorLimitTest, TheSoftLimitBecomesTheHardOne) {
    if (saved_.rlim_max != RLIM_INFINITY && saved_.rlim_max <= 64)
        GTEST_SKIP() << "hard limit too low to lower";
    const struct {
        const char* name;
        rlim_t soft;  // 0: the hard limit itself
    } cases[] = {{"a low soft limit", 64}, {"the usual default", 1024}, {"already at the hard limit", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const rlimit start{c.soft == 0 ? saved_.rlim_max : c.soft, saved_.rlim_max};
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &start), 0);
        const DescriptorLimit result = RaiseDescriptorLimit();
        rlimit now{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &now), 0);
        EXPECT_EQ(result.error, 0);
        EXPECT_EQ(now.rlim_cur, saved_.rlim_max);
        EXPECT_EQ(result.soft, static_cast<std::size_t>(now.rlim_cur));
        EXPECT_EQ(result.hard, static_cast<std::size_t>(saved_.rlim_max));
    }
}

}  // namespace
}  // namespace quorvane
