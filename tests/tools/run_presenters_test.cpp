// One run's model as upgradectl presents it: the events, the JSON report
// and the summary lines all say the same of each device, one of which fails.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/app_test_support.h"
#include "app/upgrade_run.h"
#include "tools/upgradectl/upgrade_monitor.h"

namespace quorvane::cli {
namespace {

using quorvane::testing::ALWAYS_FAILS;
using quorvane::testing::ScriptedNetwork;
using quorvane::testing::TestDevice;

TEST(RunPresenters, EventsReportAndSummaryComeFromOneModel) {
    test::TempFolder folder;
    UpgradePackage package;
    ASSERT_TRUE(package.Open(quorvane::testing::WriteTestPackage(folder.Path())));
    ScriptedNetwork network({TestDevice({0x02, 0, 0, 0, 0, 0x01}), TestDevice({0x02, 0, 0, 0, 0, 0x02}, {}, ALWAYS_FAILS),
                             TestDevice({0x02, 0, 0, 0, 0, 0x03})});
    std::vector<std::unique_ptr<DeviceRecord>> records;
    std::vector<DeviceRecord*> selected;
    for (std::size_t i = 0; i < 3; ++i) selected.push_back(records.emplace_back(network.RecordOf(i)).get());
    Restrictions restrictions;
    restrictions.wantedProductId = 1;
    EventStream events;
    std::string error;
    ASSERT_TRUE(events.Open((folder.Path() / "events.jsonl").string(), error)) << error;

    UpgradeRun run(network.protocol, &events, {}, package, nullptr, restrictions);
    // --yes, no retries, no terminal: plain lines, no questions.
    UpgradeMonitor monitor({true, 0, false}, false, false);
    monitor.Follow(run.Model());
    ASSERT_EQ(run.Confirm(selected, monitor.Prompts()), UpgradeOutcome::Stop::None);
    run.Execute({}, monitor.Prompts(), &monitor);
    run.Finish(run.ExitCode());

    std::vector<std::pair<std::string, bool>> done;
    std::ifstream lines(folder.Path() / "events.jsonl");
    for (std::string line; std::getline(lines, line);) {
        const auto event = nlohmann::json::parse(line);
        if (event["event"] == "device-done") done.emplace_back(event["mac"], event["ok"]);
        if (event["event"] == "run-done") {
            EXPECT_EQ(event["exit_code"], 1);
        }
    }
    const std::vector<std::pair<std::string, bool>> expected{
        {"02:00:00:00:00:01", true}, {"02:00:00:00:00:02", false}, {"02:00:00:00:00:03", true}};
    EXPECT_EQ(done, expected);

    const auto report = monitor.Report(run.Outcome(), run.ExitCode());
    EXPECT_EQ(report["succeeded"], 2);
    EXPECT_EQ(report["failed"], 1);
    ASSERT_EQ(report["devices"].size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(report["devices"][i]["mac"], expected[i].first);
        EXPECT_EQ(report["devices"][i]["ok"], expected[i].second);
        EXPECT_EQ(report["devices"][i]["attempts"], 1);
    }

    std::ostringstream summary;
    monitor.PrintSummary(summary);
    EXPECT_NE(summary.str().find("upgradectl: 02:00:00:00:00:02: failed, "), std::string::npos) << summary.str();
    EXPECT_NE(summary.str().find("upgradectl: 02:00:00:00:00:03: upgraded, "), std::string::npos) << summary.str();
}

}  // namespace
}  // namespace quorvane::cli
