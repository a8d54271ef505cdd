// One run's model as upgradectl presents it: the events, the JSON report
// and the summary lines all say the same of each device, one of which fails,
// whether the devices run in turn or side by side over links of their own.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <algorithm>
#include <mutex>

#include "app/app_test_support.h"
#include "app/upgrade_run.h"
#include "tools/upgradectl/upgrade_monitor.h"

namespace quorvane::cli {
namespace {

using quorvane::testing::ALWAYS_FAILS;
using quorvane::testing::ScriptedNetwork;
using quorvane::testing::TestDevice;

class RunPresenters : public ::testing::TestWithParam<std::size_t> {};

TEST_P(RunPresenters, EventsReportAndSummaryComeFromOneModel) {
    test::TempFolder folder;
    UpgradePackage package;
    ASSERT_TRUE(package.Open(quorvane::testing::WriteTestPackage(folder.Path())));
    const std::initializer_list<quorvane::testing::SimulatedDevice> fleet{
        TestDevice({0x02, 0, 0, 0, 0, 0x01}), TestDevice({0x02, 0, 0, 0, 0, 0x02}, {}, ALWAYS_FAILS),
        TestDevice({0x02, 0, 0, 0, 0, 0x03})};
    ScriptedNetwork network(fleet);
    // Side by side each device is reached over a network of its own.
    std::map<MacAddress, std::unique_ptr<ScriptedNetwork>> own;
    for (const auto& device : fleet)
        own[device.mac] = std::make_unique<ScriptedNetwork>(std::initializer_list<quorvane::testing::SimulatedDevice>{device});
    std::mutex lock;
    const LinkFactory openLink = [&](const DeviceRecord& record, std::string&) -> std::unique_ptr<Transport> {
        const std::lock_guard<std::mutex> guard(lock);
        return std::make_unique<ForwardingTransport>(own.at(record.mac)->link);
    };
    std::vector<std::unique_ptr<DeviceRecord>> records;
    std::vector<DeviceRecord*> selected;
    for (std::size_t i = 0; i < 3; ++i) selected.push_back(records.emplace_back(network.RecordOf(i)).get());
    Restrictions restrictions;
    restrictions.wantedProductId = 1;
    EventStream events;
    std::string error;
    ASSERT_TRUE(events.Open((folder.Path() / "events.jsonl").string(), error)) << error;

    UpgradeRun run(network.protocol, &events, openLink, package, nullptr, restrictions);
    // --yes, no retries, no terminal: plain lines, no questions.
    UpgradeMonitor monitor({true, 0, false}, false, false);
    monitor.Follow(run.Model());
    ASSERT_EQ(run.Confirm(selected, monitor.Prompts()), UpgradeOutcome::Stop::None);
    BatchOptions batch;
    batch.jobs = GetParam();
    run.Execute(batch, monitor.Prompts(), &monitor);
    run.Finish(run.ExitCode());

    std::vector<std::pair<std::string, bool>> done;
    std::vector<nlohmann::json> stream;
    std::ifstream lines(folder.Path() / "events.jsonl");
    for (std::string line; std::getline(lines, line);) {
        const auto event = nlohmann::json::parse(line);
        if (event["event"] == "device-done") done.emplace_back(event["mac"], event["ok"]);
        if (event["event"] == "run-done") {
            EXPECT_EQ(event["exit_code"], 1);
            // The report's spellings as well.
            EXPECT_EQ(event["exitCode"], 1);
            EXPECT_EQ(event["ok"], 2);
            EXPECT_EQ(event["succeeded"], 2);
        }
        stream.push_back(event);
    }
    // The stream opens with the wall-clock time of its t = 0, as the log file stamps it.
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(stream.front()["event"], "run-start");
    EXPECT_EQ(stream.front()["t"], 0.0);
    EXPECT_TRUE(std::regex_match(stream.front()["time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)")))
        << stream.front();
    const std::vector<std::pair<std::string, bool>> expected{
        {"02:00:00:00:00:01", true}, {"02:00:00:00:00:02", false}, {"02:00:00:00:00:03", true}};
    const bool sideBySide = GetParam() > 1;
    EXPECT_EQ(network.ScriptRuns().size(), sideBySide ? 0u : 3u);
    for (const auto& [mac, net] : own) EXPECT_EQ(net->ScriptRuns().size(), sideBySide ? 1u : 0u);
    // Side by side the devices end in any order; each ends once all the same.
    std::sort(done.begin(), done.end());
    EXPECT_EQ(done, expected);

    const auto report = monitor.Report(run.Outcome(), run.ExitCode());
    EXPECT_EQ(report["succeeded"], 2);
    EXPECT_EQ(report["failed"], 1);
    // The run-done event's spellings as well.
    EXPECT_EQ(report["ok"], 2);
    EXPECT_EQ(report["exitCode"], 1);
    EXPECT_EQ(report["exit_code"], 1);
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

INSTANTIATE_TEST_SUITE_P(InTurnAndSideBySide, RunPresenters, ::testing::Values(1, 3));

}  // namespace
}  // namespace quorvane::cli
