// Staged runs over the fake transport and its virtual clock: canaries that
// must come back before the others start, a failure budget that stops
// further starts while the devices under way finish, and the texts the
// options take.

#include "app/rollout_gate.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "app/upgrade_command.h"
#include "app_test_support.h"

namespace quorvane {
namespace {

using testing::ALWAYS_FAILS;
using testing::ScriptedNetwork;
using testing::SimulatedDevice;
using testing::TestDevice;

TEST(FailureBudget, CountsAndPercentagesThatRoundUp) {
    const struct {
        const char* text;
        std::size_t selected;
        std::size_t limit;
    } cases[] = {
        {"10%", 5, 1}, {"34%", 3, 2}, {"100%", 4, 4}, {"1%", 250, 3}, {"50%", 4, 2},
        {"3", 10, 3},  {"12", 4, 12}, {"007", 9, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<FailureBudget> budget = ParseFailureBudget(c.text);
        ASSERT_TRUE(budget.has_value());
        EXPECT_EQ(FailureLimit(*budget, c.selected), c.limit);
    }
    for (const char* refused : {"0", "0%", "101%", "", "%", "-1", "+2", "1.5%", "2 ", " 2", "2%%", "abc", "4294967297"})
        EXPECT_FALSE(ParseFailureBudget(refused).has_value()) << refused;
    EXPECT_EQ(FailureLimit({}, 10), 0u);  // no budget given: no limit
}

TEST(SkipFirmware, MatchesTheColumnTextOrTheVersionAloneExactly) {
    const std::string column = "v QVN 4.1.0 12/01/26";
    const struct {
        const char* wanted;
        bool matches;
    } cases[] = {
        {"v QVN 4.1.0 12/01/26", true}, {"4.1.0", true},         {"4.1", false},
        {"4.1.00", false},              {"4.1.0 ", false},       {"v QVN 4.1.0", false},
        {"v QVN 4.1.0 12/01/27", false}, {"4.1.0 12/01/26", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(FirmwareMatches(column, "4.1.0", c.wanted), c.matches) << c.wanted;
    // A device that shows no version matches by its column text only.
    EXPECT_FALSE(FirmwareMatches("Upgrade", "", ""));
}

constexpr MacAddress MacOf(int n) {
    return {0x00, 0x50, 0xC2, 0x0A, 0xBB, static_cast<uint8_t>(n)};
}

// What a device of a case does: runs its script and comes back at once,
// comes back after 5 s of booting, fails its script every time, or runs
// it and never answers again; or is current and left alone.
enum class Kind { Ok, SlowReturn, Fails, Gone, Current };

SimulatedDevice DeviceOf(int n, Kind kind) {
    SimulatedDevice device = TestDevice(MacOf(n), {}, kind == Kind::Fails ? ALWAYS_FAILS : 0);
    if (kind == Kind::SlowReturn) device.bootMillis = 5000;
    if (kind == Kind::Gone) device.bootMillis = -1;
    return device;
}

// Each device's own link reaches a network of its own. In turn the script
// runs over the main network and only the wait after the reset over the
// device's own, where the device was never reset: there it is made to
// boot, or stay silent, as it would after its reset.
class OwnNetworks {
public:
    explicit OwnNetworks(std::vector<SimulatedDevice> fleet) : fleet_(std::move(fleet)) {}

    LinkFactory Factory() {
        return [this](const DeviceRecord& record, std::string&) -> std::unique_ptr<Transport> {
            const std::lock_guard<std::mutex> guard(lock_);
            auto& net = networks_[record.mac];
            if (!net) {
                net = std::make_unique<ScriptedNetwork>();
                for (SimulatedDevice device : fleet_)
                    if (device.mac == record.mac) {
                        device.bootedAt = device.bootMillis;
                        device.answersInfo = device.bootMillis >= 0;
                        net->Add(device);
                    }
            }
            return std::make_unique<ForwardingTransport>(net->link);
        };
    }
    // Whether the device was sent any request of its script.
    bool ScriptRan(const MacAddress& mac) const {
        auto found = networks_.find(mac);
        return found != networks_.end() && !found->second->ScriptRuns().empty();
    }

private:
    std::vector<SimulatedDevice> fleet_;
    std::mutex lock_;
    std::map<MacAddress, std::unique_ptr<ScriptedNetwork>> networks_;
};

// Says no to every question and records the stage's end.
class StageRecorder final : public UpgradeProgress, public Prompter {
public:
    void OnDeviceStart(std::size_t, std::size_t, const DeviceRecord&) override {}
    void OnDeviceEnd(std::size_t, bool) override {}
    void OnLine(int, std::string_view) override {}
    void OnTransfer(std::string_view, uint64_t, uint64_t) override {}
    void OnDeviceSkipped(std::size_t index) override { skipped.push_back(index); }
    void OnCanariesDone(std::size_t canaries, bool passed) override {
        stage = std::to_string(canaries) + (passed ? " passed" : " failed");
    }
    void Tell(int, const std::string&, unsigned) override {}
    bool Ask(int, const std::string&, unsigned) override { return false; }
    bool AskAbout(int, const std::string&, unsigned, const std::vector<AdmittedDevice>&) override { return true; }

    std::vector<std::size_t> skipped;
    std::string stage;
};

struct StagedCase {
    const char* what;
    std::size_t jobs;
    std::size_t canaries;
    FailureBudget budget;
    std::vector<Kind> devices;
    std::vector<std::string> results;  // ResultWord of each device
    RolloutHalt halt;
    std::string stage;  // "2 passed", "1 failed"; empty: no canaries
};

const StagedCase STAGED_CASES[] = {
    {"a canary that does not come back stops the others, in turn",
     1, 1, {}, {Kind::Gone, Kind::Ok, Kind::Ok},
     {"failed", "not-started", "not-started"}, RolloutHalt::CanaryFailed, "1 failed"},
    {"a canary that does not come back stops the others, side by side",
     0, 1, {}, {Kind::Gone, Kind::Ok, Kind::Ok},
     {"failed", "not-started", "not-started"}, RolloutHalt::CanaryFailed, "1 failed"},
    {"a canary is done only once it came back after 5 s",
     1, 1, {}, {Kind::SlowReturn, Kind::Ok},
     {"upgraded", "upgraded"}, RolloutHalt::None, "1 passed"},
    {"the second canary fails its script, side by side",
     0, 2, {}, {Kind::Ok, Kind::Fails, Kind::Ok, Kind::Ok},
     {"upgraded", "failed", "not-started", "not-started"}, RolloutHalt::CanaryFailed, "2 failed"},
    {"canaries that pass let the others start, a later failure among them",
     2, 2, {}, {Kind::Ok, Kind::Ok, Kind::Fails, Kind::Ok},
     {"upgraded", "upgraded", "failed", "upgraded"}, RolloutHalt::None, "2 passed"},
    {"a current device is no canary",
     1, 1, {}, {Kind::Current, Kind::Gone, Kind::Ok},
     {"current", "failed", "not-started"}, RolloutHalt::CanaryFailed, "1 failed"},
    {"one failure reaches a budget of 1: no further device starts",
     1, 0, {1, false}, {Kind::Fails, Kind::Ok, Kind::Ok},
     {"failed", "not-started", "not-started"}, RolloutHalt::BudgetReached, ""},
    {"the device still waiting for its return when the budget is reached finishes",
     1, 0, {1, false}, {Kind::SlowReturn, Kind::Fails, Kind::Ok},
     {"upgraded", "failed", "not-started"}, RolloutHalt::BudgetReached, ""},
    {"50% of 4 is 2 failures",
     1, 0, {50, true}, {Kind::Fails, Kind::Ok, Kind::Fails, Kind::Ok},
     {"failed", "upgraded", "failed", "not-started"}, RolloutHalt::BudgetReached, ""},
    {"10% of 5 rounds up to 1 failure",
     1, 0, {10, true}, {Kind::Ok, Kind::Fails, Kind::Ok, Kind::Ok, Kind::Ok},
     {"upgraded", "failed", "not-started", "not-started", "not-started"}, RolloutHalt::BudgetReached, ""},
    {"a budget reached by the last device leaves nothing out",
     0, 0, {1, false}, {Kind::Ok, Kind::Ok, Kind::Fails},
     {"upgraded", "upgraded", "failed"}, RolloutHalt::None, ""},
};

void PrintTo(const StagedCase& c, std::ostream* out) {
    *out << c.what;
}

class StagedRuns : public ::testing::TestWithParam<StagedCase> {};

TEST_P(StagedRuns, StartOnlyWhatTheGateLets) {
    const StagedCase& c = GetParam();
    std::vector<SimulatedDevice> fleet;
    ScriptedNetwork main;
    for (std::size_t i = 0; i < c.devices.size(); ++i) {
        fleet.push_back(DeviceOf(static_cast<int>(i) + 1, c.devices[i]));
        main.Add(fleet.back());
    }
    std::vector<std::unique_ptr<DeviceRecord>> records;
    std::vector<DeviceRecord*> selected;
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        records.push_back(main.RecordOf(i));
        selected.push_back(records.back().get());
    }
    test::TempFolder scratch;
    UpgradePackage package;
    ASSERT_TRUE(package.Open(testing::WriteTestPackage(scratch.Path())));
    const PackageCheck check = CheckPackage(package, package.PackageFolder());
    RunModel model(selected);
    for (std::size_t i = 0; i < c.devices.size(); ++i)
        if (c.devices[i] == Kind::Current) model.devices[i].state = DeviceState::Current;
    const RolloutStages stages = StagesOf(model, {c.canaries, c.budget, "4.1.0"});
    OwnNetworks own(fleet);
    FleetOptions options{.jobs = c.jobs, .openLink = own.Factory(), .returnLimit = std::chrono::seconds(10)};
    options.canaries = stages.canaries;
    options.failureLimit = stages.failureLimit;
    StageRecorder recorder;
    UpgradeOutcome outcome;
    RunScripts(model, check.plan, package, main.protocol, recorder, &recorder, outcome, options);

    std::vector<std::string> results;
    for (const DeviceResult& device : model.devices) results.push_back(ResultWord(device));
    EXPECT_EQ(results, c.results);
    EXPECT_EQ(outcome.halt, c.halt);
    EXPECT_EQ(recorder.stage, c.stage);
    std::size_t notStarted = 0;
    for (std::size_t i = 0; i < c.results.size(); ++i) {
        if (c.results[i] != "not-started" && c.results[i] != "current") continue;
        notStarted += c.results[i] == "not-started";
        // Never sent a request of its script, in turn nor side by side.
        EXPECT_EQ(model.devices[i].counters.attempts, 0) << i;
        EXPECT_FALSE(own.ScriptRan(MacOf(static_cast<int>(i) + 1))) << i;
        const auto ran = main.ScriptRuns();
        EXPECT_EQ(std::count(ran.begin(), ran.end(), MacOf(static_cast<int>(i) + 1)), 0) << i;
    }
    EXPECT_EQ(outcome.notStarted, notStarted);
    EXPECT_EQ(ExitCodeOf(outcome), outcome.failed > 0 ? 1 : 0);
    EXPECT_EQ(HaltText(outcome).empty(), c.halt == RolloutHalt::None);
}

INSTANTIATE_TEST_SUITE_P(Table, StagedRuns, ::testing::ValuesIn(STAGED_CASES));

// A retried device counts by its last end: a retry that succeeds takes its
// failure back.
TEST(RolloutGate, ARetryThatSucceedsTakesItsFailureBack) {
    RolloutGate gate(3, {0}, 1);
    EXPECT_TRUE(gate.MayStart());
    gate.Ended(0, false);
    EXPECT_EQ(gate.Halted(), RolloutHalt::CanaryFailed);
    gate.Ended(0, true);
    EXPECT_TRUE(gate.MayStart());
    EXPECT_TRUE(gate.CanariesPassed());
    gate.Ended(2, false);
    EXPECT_EQ(gate.Halted(), RolloutHalt::BudgetReached);
    EXPECT_EQ(gate.Failures(), 1u);
}

}  // namespace
}  // namespace quorvane
