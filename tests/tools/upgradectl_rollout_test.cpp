// Staged rollouts end to end against devsim: a canary that does not come
// back stops the others, a failure budget stops further starts, and a
// second run with --skip-firmware touches no device.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "upgradectl_fixture.h"

namespace quorvane::testing {
namespace {

using json = nlohmann::json;

std::map<std::string, std::string> ResultsOf(const json& report) {
    std::map<std::string, std::string> results;
    for (const json& device : report.at("devices")) results[device.at("mac")] = device.at("result");
    return results;
}

// Requests that change the device with `mac`.
int ProgrammingRequestsTo(const std::string& log, const std::string& mac) {
    int count = 0;
    for (const char* op : {"PROGRAM_MODE", "ERASE", "LOAD_BEGIN", "LOAD_BLOCK", "RESET"})
        count += Occurrences(log, std::string("rx ") + op + " " + mac);
    return count;
}

// The devices are listed 03, 02, 01, and neither 03 nor 02 answers again
// after its reset. In turn the first canary is 03; side by side, once 03
// is gone, it is 02.
TEST_F(UpgradectlEndToEnd, ACanaryThatDoesNotComeBackLeavesTheOthersNotStarted) {
    StartSimulator({"--devices", "3", "--reboot-ms", "300", "--firmware-after", "4.1.0 12/01/26", "--no-return",
                    "02:00:00:00:00:03", "--no-return", "02:00:00:00:00:02"});
    const fs::path package = MakePackage(ADMIT_ALL);
    const struct {
        const char* jobs;
        std::map<std::string, std::string> results;
        std::string canary;
        std::string line;
    } runs[] = {
        {"1",
         {{"02:00:00:00:00:01", "not-started"}, {"02:00:00:00:00:02", "not-started"}, {"02:00:00:00:00:03", "failed"}},
         "02:00:00:00:00:03",
         "upgradectl: a canary failed, so the run stopped; not started: 2 of 3 devices\n"},
        {"0",
         {{"02:00:00:00:00:01", "not-started"}, {"02:00:00:00:00:02", "failed"}},
         "02:00:00:00:00:02",
         "upgradectl: a canary failed, so the run stopped; not started: 1 of 2 devices\n"},
    };
    for (const auto& expected : runs) {
        SCOPED_TRACE(std::string("--jobs ") + expected.jobs);
        const fs::path events = Dir() / (std::string("events") + expected.jobs + ".jsonl");
        const auto run = Ctl({"--json", "--events", events.string(), "upgrade", package.string(), "--all", "--yes",
                              "--canary", "1", "--jobs", expected.jobs, "--verify-timeout", "1"});
        ASSERT_EQ(run.exitCode, 1) << run.err;
        const json report = json::parse(run.out);
        EXPECT_EQ(ResultsOf(report), expected.results);
        EXPECT_EQ(report.at("halt"), "canary-failed");
        EXPECT_NE(run.err.find(expected.line), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("upgradectl: 02:00:00:00:00:01: not started\n"), std::string::npos) << run.err;
        const std::string written = ReadFileText(events);
        EXPECT_EQ(CountLines(written, "{\"event\":\"stage\""), 1) << written;
        EXPECT_NE(written.find("\"stage\":\"canaries\",\"canaries\":1,\"passed\":false}"), std::string::npos)
            << written;
        EXPECT_EQ(CountLines(written, "{\"event\":\"device-start\""), 1) << written;
        EXPECT_GT(ProgrammingRequestsTo(Sim().Log(), expected.canary), 0);
    }
    EXPECT_EQ(ProgrammingRequestsTo(Sim().Log(), "02:00:00:00:00:01"), 0);
    // The devices that were not started are in the history as such.
    const json history = json::parse(Ctl({"--json", "history"}).out);
    ASSERT_EQ(history.size(), 5u) << history;
    int notStarted = 0;
    for (const json& entry : history) notStarted += entry.at("result") == "not started";
    EXPECT_EQ(notStarted, 3);
}

TEST_F(UpgradectlEndToEnd, ABudgetOfOneStopsTheRunAfterTheFirstFailure) {
    StartSimulator({"--devices", "3", "--silent", "ERASE", "--fault-device", "02:00:00:00:00:03"});
    const fs::path package = MakePackage(ADMIT_ALL);
    for (const char* refused : {"0", "0%", "101%", "1.5%"}) {
        const auto run = Ctl({"upgrade", package.string(), "--all", "--yes", "--max-failures", refused});
        EXPECT_EQ(run.exitCode, 2) << refused;
        EXPECT_NE(run.err.find(std::string("--max-failures: needs a count of at least 1 or a percentage from 1% "
                                           "to 100%, not '") + refused + "'"),
                  std::string::npos)
            << run.err;
    }
    EXPECT_EQ(ProgrammingRequests(Sim().Log()), 0);
    // 34% of 3 devices rounds up to 2 failures: one is not enough to stop.
    const auto dry = Ctl({"upgrade", package.string(), "--all", "--yes", "--max-failures", "34%", "--canary", "1",
                          "--dry-run"});
    ASSERT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_NE(dry.out.find("canaries: 02:00:00:00:00:03\nthen: 2 devices, once every canary was upgraded and came "
                           "back\nfailure budget: 2 devices\n"),
              std::string::npos)
        << dry.out;
    const auto run = Ctl({"--json", "upgrade", package.string(), "--all", "--yes", "--max-failures", "1"});
    ASSERT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(ResultsOf(json::parse(run.out)),
              (std::map<std::string, std::string>{{"02:00:00:00:00:01", "not-started"},
                                                  {"02:00:00:00:00:02", "not-started"},
                                                  {"02:00:00:00:00:03", "failed"}}));
    EXPECT_NE(run.err.find("upgradectl: the failure budget of 1 is reached (1 failed), so the run stopped; not "
                           "started: 2 of 3 devices\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ProgrammingRequestsTo(Sim().Log(), "02:00:00:00:00:02"), 0);
}

TEST_F(UpgradectlEndToEnd, TheSameCommandTwiceUpgradesNothingTheSecondTime) {
    StartSimulator({"--devices", "3", "--firmware-after", "4.1.0 12/01/26"});
    const fs::path package = MakePackage(ADMIT_ALL);
    const std::vector<std::string> command = {"--json", "upgrade", package.string(), "--all", "--yes", "--jobs",
                                              "0", "--expect", "3", "--skip-firmware", "4.1.0"};
    const auto first = Ctl(command);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(json::parse(first.out).at("succeeded"), 3);
    const int before = ProgrammingRequests(Sim().Log());
    const int loadsBefore = CountLines(Sim().Log(), "rx LOAD");
    EXPECT_EQ(loadsBefore, 3 * 8) << "LOAD_BEGIN, 6 blocks and LOAD_VERIFY for each device";

    const fs::path events = Dir() / "events.jsonl";
    std::vector<std::string> again = command;
    again.insert(again.begin() + 1, {"--events", events.string()});
    const auto second = Ctl(again);
    ASSERT_EQ(second.exitCode, 0) << second.err;
    const json report = json::parse(second.out);
    EXPECT_EQ(ResultsOf(report), (std::map<std::string, std::string>{{"02:00:00:00:00:01", "current"},
                                                                      {"02:00:00:00:00:02", "current"},
                                                                      {"02:00:00:00:00:03", "current"}}));
    EXPECT_EQ(report.at("current"), 3);
    EXPECT_EQ(report.at("succeeded"), 0);
    EXPECT_EQ(ProgrammingRequests(Sim().Log()), before) << "the second run sent a programming request";
    EXPECT_EQ(CountLines(Sim().Log(), "rx LOAD"), loadsBefore);
    EXPECT_NE(second.err.find("upgradectl: 02:00:00:00:00:02: current, firmware v QVN 4.1.0 12/01/26\n"),
              std::string::npos)
        << second.err;
    EXPECT_EQ(CountLines(ReadFileText(events), "{\"event\":\"device-skip\""), 3);
    EXPECT_NE(ReadFileText(events).find("\"key_id\":null,\"current\":3,\"not_started\":0}"), std::string::npos);
    EXPECT_NE(ReadFileText(events).find(
                  "\"mac\":\"02:00:00:00:00:03\",\"firmware\":\"v QVS 4.1.0 12/01/26\",\"result\":\"current\"}"),
              std::string::npos);

    const json history = json::parse(Ctl({"--json", "history", "--limit", "3"}).out);
    ASSERT_EQ(history.size(), 3u);
    for (const json& entry : history) EXPECT_EQ(entry.at("result"), "current") << entry;

    // The column's whole text matches one device; a near miss matches none.
    const auto near = Ctl({"--json", "upgrade", package.string(), "--all", "--yes", "--dry-run", "--skip-firmware",
                           "4.1.00"});
    EXPECT_EQ(json::parse(near.out).at("stages").at("current").size(), 0u) << near.out;
    const auto whole = Ctl({"upgrade", package.string(), "--all", "--yes", "--dry-run", "--skip-firmware",
                            "v QVN 4.1.0 12/01/26"});
    EXPECT_NE(whole.out.find("one stage: 1 device\ncurrent, not touched: 02:00:00:00:00:02 (v QVN 4.1.0 "
                             "12/01/26)\ncurrent, not touched: 02:00:00:00:00:01 (v QVN 4.1.0 12/01/26)\n"
                             "failure budget: none\n"),
              std::string::npos)
        << whole.out;
    // The run names its READ files for all three selected devices, current ones too.
    EXPECT_NE(whole.out.find("READBACK-020000000003.BIN)\n"), std::string::npos) << whole.out;
}

}  // namespace
}  // namespace quorvane::testing
