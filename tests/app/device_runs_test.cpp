// Devices upgraded side by side, each over a link of its own, and the
// question that offers the failed ones a new batch.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "app/upgrade_command.h"
#include "app_test_support.h"

namespace quorvane {
namespace {

using testing::ALWAYS_FAILS;
using testing::MakeReplyWords;
using testing::Prompt;
using testing::ScriptedNetwork;
using testing::ScriptedPrompter;
using testing::SimulatedDevice;
using testing::TestDevice;

constexpr MacAddress MAC_A{0x00, 0x50, 0xC2, 0x0A, 0xBB, 0x01};
constexpr MacAddress MAC_B{0x00, 0x50, 0xC2, 0x0A, 0xBB, 0x02};
constexpr MacAddress MAC_C{0x00, 0x50, 0xC2, 0x0A, 0xBB, 0x03};
constexpr MacAddress STRANGER{0x00, 0x50, 0xC2, 0x0A, 0xBB, 0x99};

const std::string GIVEN_UP =
    "I am sorry for the failure. Please retry the upgrade with a cross-over cable or when there is less "
    "network traffic.\nNote: The device will not function until the upgrade is completed.";
// Side by side, the apology comes once at the end, after the failed devices by name.
// ... and a line with why each failed.
const Prompt GIVEN_UP_BOX{false, 147,
                          "Upgrade failed on device with MAC address 00:50:c2:0a:bb:02.\n"
                          "00:50:c2:0a:bb:02: line 2 ERASE 3: no answer to ERASE after 16 sends\n" +
                              GIVEN_UP,
                          0};
const std::string RETRY_B =
    "Upgrade failed on the device with MAC address 00:50:c2:0a:bb:02.\n"
    "00:50:c2:0a:bb:02: line 2 ERASE 3: no answer to ERASE after 16 sends\n"
    "Would you like to retry the upgrade on it now?";
const Prompt RETRY_B_BOX{true, 162, RETRY_B, 0x14};

// What the command reports per device; calls come one at a time.
class DeviceProgress final : public UpgradeProgress {
public:
    void OnDeviceStart(std::size_t index, std::size_t, const DeviceRecord&) override { ++starts[index]; }
    void OnDeviceEnd(std::size_t index, bool succeeded) override { ended[index] = succeeded; }
    void OnDeviceCounters(std::size_t index, const DeviceCounters& c) override { counters[index] = c; }
    void OnDeviceLine(std::size_t index, int, std::string_view) override { ++lines[index]; }
    void OnLine(int, std::string_view) override { ADD_FAILURE() << "lines come with their device"; }
    void OnTransfer(std::string_view, uint64_t, uint64_t) override {}
    void OnDeviceError(std::size_t index, std::string_view error) override { errors[index] = error; }
    void OnJobsLowered(std::size_t asked, std::size_t had, std::string_view reason) override {
        lowered = std::to_string(asked) + " to " + std::to_string(had) + ": " + std::string(reason) +
                  (starts.empty() ? "" : " (after a device started)");
    }

    std::string lowered;
    std::map<std::size_t, std::string> errors;
    std::map<std::size_t, int> starts;
    std::map<std::size_t, bool> ended;
    std::map<std::size_t, DeviceCounters> counters;
    std::map<std::size_t, int> lines;
};

// Every device is reached through a network of its own, kept across
// batches, in which a stray reply of a device nobody asked arrives before
// each real one, and each reply takes 2, 4, 6, ... ms of virtual time.
class DeviceNetworks {
public:
    explicit DeviceNetworks(std::vector<SimulatedDevice> fleet) : fleet_(std::move(fleet)) {}

    LinkFactory Factory() {
        return [this](const DeviceRecord& record, std::string&) -> std::unique_ptr<Transport> {
            const std::lock_guard<std::mutex> guard(lock_);
            ++opened;
            auto& net = networks[record.mac];
            if (!net) net = MakeNetwork(record.mac);
            return std::make_unique<ForwardingTransport>(net->link);
        };
    }

    std::map<MacAddress, std::unique_ptr<ScriptedNetwork>> networks;
    int opened = 0;

private:
    std::unique_ptr<ScriptedNetwork> MakeNetwork(const MacAddress& mac) {
        auto net = std::make_unique<ScriptedNetwork>();
        for (const auto& device : fleet_)
            if (device.mac == mac) net->Add(device);
        auto answer = net->link.responder;
        net->link.responder = [answer, delay = int64_t{0}](std::span<const uint8_t> request,
                                                           testing::FakeTransport& link) mutable {
            delay += 2;
            link.virtualMillis += delay;
            link.QueueReply(MakeReplyWords(OP_ERASE, STRANGER, {3}));
            answer(request, link);
        };
        return net;
    }

    std::vector<SimulatedDevice> fleet_;
    std::mutex lock_;
};

class DeviceRunsTest : public ::testing::Test {
protected:
    void Open(std::vector<SimulatedDevice> fleet) {
        for (const auto& device : fleet) main_.Add(device);
        for (std::size_t i = 0; i < fleet.size(); ++i) records_.push_back(main_.RecordOf(i));
        for (const auto& record : records_) selected_.push_back(record.get());
        networks_ = std::make_unique<DeviceNetworks>(fleet);
        ASSERT_TRUE(package_.Open(testing::WriteTestPackage(scratch_.Path())));
    }
    UpgradeOutcome Run(FleetOptions options) {
        options.openLink = networks_->Factory();
        UpgradeOutcome outcome;
        testing::RunPlannedScripts(selected_, package_, main_.protocol, prompter_, &progress_, outcome, options);
        return outcome;
    }

    test::TempFolder scratch_;
    UpgradePackage package_;
    ScriptedNetwork main_;
    std::vector<std::unique_ptr<DeviceRecord>> records_;
    std::vector<DeviceRecord*> selected_;
    std::unique_ptr<DeviceNetworks> networks_;
    ScriptedPrompter prompter_;
    DeviceProgress progress_;
};

TEST_F(DeviceRunsTest, EachDeviceGetsExactlyItsOwnRequestsOverItsOwnLink) {
    Open({TestDevice(MAC_A), TestDevice(MAC_B), TestDevice(MAC_C)});
    const UpgradeOutcome outcome = Run({.jobs = 0, .openLink = nullptr});
    EXPECT_EQ(outcome.succeeded, 3u);
    EXPECT_EQ(outcome.failed, 0u);
    EXPECT_TRUE(main_.link.sent.empty()) << "the command's own link stays unused";
    ASSERT_EQ(networks_->opened, 3);
    for (const MacAddress& mac : {MAC_A, MAC_B, MAC_C}) {
        ScriptedNetwork* net = networks_->networks[mac].get();
        ASSERT_NE(net, nullptr);
        EXPECT_EQ(net->Trace(), (std::vector<std::string>{"PROGRAMMODE", "ERASE 3", "RESET"}));
        EXPECT_EQ(net->ScriptRuns(), std::vector<MacAddress>{mac});
        EXPECT_EQ(net->link.sent.size(), 3u) << "the strangers' replies never cost a resend";
    }
    EXPECT_TRUE(prompter_.prompts.empty());
    EXPECT_EQ(progress_.lines, (std::map<std::size_t, int>{{0, 3}, {1, 3}, {2, 3}}));
    EXPECT_EQ(progress_.ended, (std::map<std::size_t, bool>{{0, true}, {1, true}, {2, true}}));
}

TEST_F(DeviceRunsTest, CountersCoverEveryRunOfTheDevice) {
    // B's first run gets no erase reply: 16 erase sends, then a second run.
    Open({TestDevice(MAC_A), TestDevice(MAC_B, {}, 1)});
    const UpgradeOutcome outcome = Run({.jobs = 2, .retries = 1, .openLink = nullptr});
    EXPECT_EQ(outcome.succeeded, 2u);
    struct Case {
        std::size_t device;
        int attempts;
        uint64_t sends, resends, timeouts, answered;
        int64_t rttMinUs, rttMaxUs, rttAvgUs;
    } cases[] = {
        // 3 answered sends taking 2, 4 and 6 ms.
        {0, 1, 3, 0, 0, 3, 2000, 6000, 4000},
        // program mode (2 ms), 16 unanswered erases (4..34 ms), then 3 answered (36, 38, 40 ms).
        {1, 2, 20, 15, 16, 4, 2000, 40000, 29000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        const DeviceCounters& counted = progress_.counters.at(c.device);
        EXPECT_EQ(counted.attempts, c.attempts);
        EXPECT_EQ(counted.exchanges.sends, c.sends);
        EXPECT_EQ(counted.exchanges.resends, c.resends);
        EXPECT_EQ(counted.exchanges.timeouts, c.timeouts);
        EXPECT_EQ(counted.exchanges.answered, c.answered);
        EXPECT_EQ(counted.exchanges.badEchoes, 0u) << "a stranger's reply is not a bad echo";
        EXPECT_EQ(counted.exchanges.rttMin.count(), c.rttMinUs);
        EXPECT_EQ(counted.exchanges.rttMax.count(), c.rttMaxUs);
        EXPECT_EQ(counted.exchanges.RttAverage().count(), c.rttAvgUs);
    }
    EXPECT_TRUE(prompter_.prompts.empty()) << "side by side, retries ask nothing";
}

TEST_F(DeviceRunsTest, FailedDevicesAreOfferedTogetherOnceTheBatchIsDone) {
    struct Case {
        const char* what;
        int failingRuns;
        std::deque<bool> answers;
        std::vector<Prompt> prompts;
        std::size_t succeeded;
        std::size_t runsOfB;
    } cases[] = {
        {"declined", ALWAYS_FAILS, {false}, {RETRY_B_BOX, GIVEN_UP_BOX}, 1, 1},
        {"retried, failed again, declined",
         ALWAYS_FAILS,
         {true, false},
         {RETRY_B_BOX, RETRY_B_BOX, GIVEN_UP_BOX},
         1,
         2},
        {"retried and upgraded", 1, {true}, {RETRY_B_BOX}, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder scratch;
        UpgradePackage package;
        ASSERT_TRUE(package.Open(testing::WriteTestPackage(scratch.Path())));
        ScriptedNetwork main({TestDevice(MAC_A), TestDevice(MAC_B)});
        auto a = main.RecordOf(0);
        auto b = main.RecordOf(1);
        DeviceNetworks deviceNets({TestDevice(MAC_A), TestDevice(MAC_B, {}, c.failingRuns)});
        ScriptedPrompter prompter;
        prompter.answers = c.answers;
        UpgradeOutcome outcome;
        testing::RunPlannedScripts({a.get(), b.get()}, package, main.protocol, prompter, nullptr, outcome,
                   {.jobs = 2, .askAfterBatch = true, .openLink = deviceNets.Factory()});
        EXPECT_EQ(prompter.prompts, c.prompts);
        EXPECT_EQ(outcome.succeeded, c.succeeded);
        EXPECT_EQ(outcome.failed, 2 - c.succeeded);
        EXPECT_EQ(deviceNets.networks[MAC_A]->ScriptRuns().size(), 1u) << "an upgraded device is left alone";
        EXPECT_EQ(deviceNets.networks[MAC_B]->ScriptRuns().size(), c.runsOfB);
    }
}

// Two failed devices are offered in one question, each with why it failed.
TEST_F(DeviceRunsTest, TheQuestionAfterTheBatchSaysWhyEachDeviceFailed) {
    test::TempFolder scratch;
    UpgradePackage package;
    ASSERT_TRUE(package.Open(testing::WriteTestPackage(scratch.Path())));
    ScriptedNetwork main({TestDevice(MAC_A), TestDevice(MAC_B)});
    auto a = main.RecordOf(0);
    auto b = main.RecordOf(1);
    DeviceNetworks deviceNets({TestDevice(MAC_A, {}, ALWAYS_FAILS), TestDevice(MAC_B, {}, ALWAYS_FAILS)});
    ScriptedPrompter prompter;
    prompter.answers = {false};
    UpgradeOutcome outcome;
    testing::RunPlannedScripts({a.get(), b.get()}, package, main.protocol, prompter, nullptr, outcome,
                               {.jobs = 2, .askAfterBatch = true, .openLink = deviceNets.Factory()});
    ASSERT_FALSE(prompter.prompts.empty());
    EXPECT_EQ(
        prompter.prompts[0],
        (Prompt{true, 161,
                "Upgrade failed on the devices with MAC addresses 00:50:c2:0a:bb:01, 00:50:c2:0a:bb:02.\n"
                "00:50:c2:0a:bb:01: line 2 ERASE 3: no answer to ERASE after 16 sends\n"
                "00:50:c2:0a:bb:02: line 2 ERASE 3: no answer to ERASE after 16 sends\n"
                "Would you like to retry the upgrade on them now?",
                BOX_YES_NO | ICON_STOP}));
    EXPECT_EQ(outcome.failed, 2u);
}

// Side by side, a device that ran its script and did not come back is
// told as such: no retry would bring it back, and no network advice is its.
// The wait is not in the seconds of its script.
TEST_F(DeviceRunsTest, ADeviceThatDidNotComeBackIsNeitherRetriedNorGivenTheNetworkAdvice) {
    SimulatedDevice back = TestDevice(MAC_A);
    back.bootMillis = 3000;
    SimulatedDevice gone = TestDevice(MAC_B);
    gone.bootMillis = -1;
    Open({back, gone});
    prompter_.answers = {true};  // a retry question, were one asked, would be answered yes
    const UpgradeOutcome outcome =
        Run({.jobs = 2, .askAfterBatch = true, .openLink = nullptr, .returnLimit = std::chrono::seconds(10)});
    EXPECT_EQ(outcome.succeeded, 1u);
    EXPECT_EQ(outcome.failed, 1u);
    EXPECT_EQ(prompter_.prompts,
              (std::vector<Prompt>{{false, 218, "Device 00:50:c2:0a:bb:02 did not come back within 10 s after its reset",
                                    BOX_OK | ICON_STOP}}));
    EXPECT_EQ(networks_->networks[MAC_B]->ScriptRuns().size(), 1u);
    // Three answered requests of 2, 4 and 6 ms (and the strangers' replies).
    EXPECT_LT(progress_.counters.at(0).elapsed, std::chrono::milliseconds(100));
}

// The links of the devices that run at once are opened before any starts;
// when the process runs out, fewer run at once, or none fails half-way.
TEST_F(DeviceRunsTest, LinksAreOpenedBeforeAnyDeviceStartsAndTooFewLowerTheJobs) {
    const std::string noRoom =
        "Upgrade failed on device with MAC address 00:50:c2:0a:bb:01.\n"
        "Upgrade failed on device with MAC address 00:50:c2:0a:bb:02.\n"
        "Upgrade failed on device with MAC address 00:50:c2:0a:bb:03.\n"
        "The upgrade stopped because of a problem on this computer, not on the network:\n"
        "00:50:c2:0a:bb:01: cannot open a socket for the device: Too many open files\n"
        "00:50:c2:0a:bb:02: cannot open a socket for the device: Too many open files\n"
        "00:50:c2:0a:bb:03: cannot open a socket for the device: Too many open files\n"
        "Note: A device whose upgrade had begun will not function until the upgrade is completed.";
    struct Case {
        int linksBeforeStart;  // links the process can have until a device has started
        std::string lowered;
        std::size_t succeeded;
        std::vector<Prompt> prompts;
    } cases[] = {
        {3, "", 3, {}},
        {2, "3 to 2: Too many open files", 3, {}},
        {0, "", 0, {{false, 165, noRoom, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.linksBeforeStart);
        test::TempFolder scratch;
        UpgradePackage package;
        ASSERT_TRUE(package.Open(testing::WriteTestPackage(scratch.Path())));
        const std::vector<SimulatedDevice> fleet{TestDevice(MAC_A), TestDevice(MAC_B), TestDevice(MAC_C)};
        ScriptedNetwork main;
        std::vector<std::unique_ptr<DeviceRecord>> records;
        std::vector<DeviceRecord*> selected;
        for (const auto& device : fleet) main.Add(device);
        for (std::size_t i = 0; i < fleet.size(); ++i) selected.push_back(records.emplace_back(main.RecordOf(i)).get());
        DeviceNetworks deviceNets(fleet);
        LinkFactory real = deviceNets.Factory();
        DeviceProgress progress;
        ScriptedPrompter prompter;
        int opened = 0;
        FleetOptions options{.jobs = 3, .openLink = [&](const DeviceRecord& record, std::string& reason) {
                                 if (progress.starts.empty() && opened >= c.linksBeforeStart) {
                                     reason = "Too many open files";
                                     return std::unique_ptr<Transport>();
                                 }
                                 ++opened;
                                 return real(record, reason);
                             }};
        UpgradeOutcome outcome;
        testing::RunPlannedScripts(selected, package, main.protocol, prompter, &progress, outcome, options);
        EXPECT_EQ(progress.lowered, c.lowered);
        EXPECT_EQ(outcome.succeeded, c.succeeded);
        EXPECT_EQ(prompter.prompts, c.prompts);
        EXPECT_EQ(deviceNets.networks.empty(), c.succeeded == 0) << "a device without a link is sent nothing";
    }
}


// In turn, each wait after a RESET holds a socket while the next devices
// run; once the descriptors left are only what the next device's files
// need, a device is waited for before the next starts instead, and every
// device still comes back upgraded.
TEST_F(DeviceRunsTest, WaitsInTurnKeepNoSocketTheNextDeviceNeeds) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_TRUE(package_.Open(testing::WriteTestPackage(scratch_.Path())));
    std::size_t open = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++open;
    struct Case {
        rlim_t room;  // descriptors the process may open beyond those it has
        int waitLinks;
    } cases[] = {{64, 3}, {9, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room);
        std::vector<SimulatedDevice> fleet;
        for (const MacAddress& mac : {MAC_A, MAC_B, MAC_C}) {
            fleet.push_back(TestDevice(mac));
            fleet.back().bootMillis = 3000;
        }
        ScriptedNetwork main;
        std::vector<std::unique_ptr<DeviceRecord>> records;
        std::vector<DeviceRecord*> selected;
        for (const auto& device : fleet) main.Add(device);
        for (std::size_t i = 0; i < fleet.size(); ++i) selected.push_back(records.emplace_back(main.RecordOf(i)).get());
        DeviceNetworks deviceNets(fleet);
        DeviceProgress progress;
        ScriptedPrompter prompter;
        UpgradeOutcome outcome;
        rlimit lowered = saved;
        lowered.rlim_cur = static_cast<rlim_t>(open) + c.room;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        testing::RunPlannedScripts(selected, package_, main.protocol, prompter, &progress, outcome,
                                   {.jobs = 1, .openLink = deviceNets.Factory(), .returnLimit = std::chrono::seconds(10)});
        ::setrlimit(RLIMIT_NOFILE, &saved);
        EXPECT_EQ(outcome.succeeded, 3u);
        EXPECT_EQ(outcome.failed, 0u);
        EXPECT_EQ(progress.errors, (std::map<std::size_t, std::string>{}));
        EXPECT_EQ(deviceNets.opened, c.waitLinks);
    }
}

}  // namespace
}  // namespace quorvane
