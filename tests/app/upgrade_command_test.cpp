#include "app/upgrade_command.h"

#include <gtest/gtest.h>

#include <functional>

#include "app_test_support.h"

namespace quorvane {
namespace {

using testing::ALWAYS_FAILS;
using testing::Prompt;
using testing::ScriptedNetwork;
using testing::ScriptedPrompter;
using testing::SimulatedDevice;
using testing::TestDevice;
using Stop = UpgradeOutcome::Stop;

constexpr MacAddress MAC_A{0x00, 0x50, 0xC2, 0x0A, 0xBB, 0x01};
constexpr MacAddress MAC_B{0x00, 0x50, 0xC2, 0x0A, 0xBB, 0x02};
constexpr MacAddress MAC_C{0x00, 0x50, 0xC2, 0x0A, 0xBB, 0x03};

const std::string MAC_REFUSED =
    "The MAC address of the device is not compatible with this upgrade file. Please use the correct upgrade "
    "file !";
const std::string FIRMWARE_REFUSED =
    "The firmware currently inside this device is not compatible with this upgrade file. Please use the "
    "correct "
    "upgrade file !";
const std::string WARNING =
    "Devices selected for upgrade will lose their configuration settings. Do you wish to continue?";
const std::string GIVEN_UP =
    "I am sorry for the failure. Please retry the upgrade with a cross-over cable or when there is less "
    "network "
    "traffic.\nNote: The device will not function until the upgrade is completed.";
const std::string COMPLETE = "Upgrade complete. Please use the Manager to reconfigure any upgraded devices.";

// The question, then why the run failed: the test devices that fail leave the erase unanswered.
const std::string ERASE_UNANSWERED = "line 2 ERASE 3: no answer to ERASE after 16 sends";
std::string RetryText(const char* mac) {
    return std::string("Upgrade failed on device with MAC address ") + mac +
           ".\nWould you like to retry the upgrade now?\n\n" + ERASE_UNANSWERED;
}

const Prompt COMPLETE_BOX{false, 148, COMPLETE, BOX_OK | ICON_INFORMATION};
const Prompt GIVEN_UP_BOX{false, 147, GIVEN_UP, BOX_OK};

// Records what the command reports about each device.
class RecordingProgress final : public UpgradeProgress {
public:
    void OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord&) override {
        events.push_back("start " + std::to_string(index) + "/" + std::to_string(count));
    }
    void OnDeviceEnd(std::size_t index, bool succeeded) override {
        events.push_back("end " + std::to_string(index) + (succeeded ? " ok" : " failed"));
    }
    void OnLine(int, std::string_view) override { ++lines; }
    void OnTransfer(std::string_view, uint64_t, uint64_t) override {}
    bool StopRequested() const override { return stopWhen && stopWhen(*this); }

    std::vector<std::string> events;
    int lines = 0;
    std::function<bool(const RecordingProgress&)> stopWhen;  // e.g. an interrupt
};

class UpgradeCommandTest : public ::testing::Test {
protected:
    void Open(std::initializer_list<SimulatedDevice> devices) {
        fleet_ = std::make_unique<ScriptedNetwork>(devices);
        for (std::size_t i = 0; i < fleet_->devices.size(); ++i) records_.push_back(fleet_->RecordOf(i));
        ASSERT_TRUE(package_.Open(testing::WriteTestPackage(scratch_.Path())));
        restrictions_.wantedProductId = 1;
    }
    UpgradeOutcome Run(std::vector<std::size_t> selection, UpgradeProgress* progress = nullptr) {
        std::vector<DeviceRecord*> selected;
        for (std::size_t i : selection) selected.push_back(records_[i].get());
        return testing::RunWholeUpgrade(selected, package_, restrictions_, fleet_->protocol, prompter_, progress);
    }

    test::TempFolder scratch_;
    UpgradePackage package_;
    std::unique_ptr<ScriptedNetwork> fleet_;
    std::vector<std::unique_ptr<DeviceRecord>> records_;
    Restrictions restrictions_;
    ScriptedPrompter prompter_;
};

TEST_F(UpgradeCommandTest, NoSelectionDoesNothing) {
    Open({TestDevice(MAC_A)});
    const UpgradeOutcome outcome = Run({});
    EXPECT_EQ(outcome.stop, Stop::NothingSelected);
    EXPECT_EQ(outcome.dialogResult, 0);
    EXPECT_TRUE(prompter_.prompts.empty());
    EXPECT_TRUE(fleet_->link.sent.empty());
}

TEST_F(UpgradeCommandTest, CompatibilityChecks) {
    struct Case {
        const char* what;
        bool macRestricted;
        MacAddress wantedMac;
        uint16_t wantedProduct;
        uint16_t wantedRevision;
        uint16_t deviceProduct;
        uint8_t deviceRevision;
        Stop expected;
    } cases[] = {
        {"MAC equal", true, MAC_A, 1, 0, 1, 4, Stop::None},
        {"MAC differs in the last byte", true, MAC_B, 1, 0, 1, 4, Stop::MacRefused},
        {"MAC differs in the first byte",
         true,
         {0x01, 0x50, 0xC2, 0x0A, 0xBB, 0x01},
         1,
         0,
         1,
         4,
         Stop::MacRefused},
        {"no MAC key", false, MAC_B, 1, 0, 1, 4, Stop::None},
        {"wanted 1 admits 0", false, {}, 1, 0, 0, 4, Stop::None},
        {"wanted 1 refuses 2", false, {}, 1, 0, 2, 4, Stop::FirmwareRefused},
        {"wanted 0 admits 0", false, {}, 0, 0, 0, 4, Stop::None},
        {"wanted 0 refuses 1", false, {}, 0, 0, 1, 4, Stop::FirmwareRefused},
        {"wanted 2 refuses 0", false, {}, 2, 0, 0, 4, Stop::FirmwareRefused},
        {"revision matches", false, {}, 1, 4, 1, 4, Stop::None},
        {"revision differs", false, {}, 1, 5, 1, 4, Stop::FirmwareRefused},
        {"revision compared in 16 bits", false, {}, 1, 0x104, 1, 4, Stop::FirmwareRefused},
        {"MAC refused before firmware", true, MAC_B, 7, 9, 1, 4, Stop::MacRefused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder scratch;
        UpgradePackage package;
        ASSERT_TRUE(package.Open(testing::WriteTestPackage(scratch.Path())));
        ScriptedNetwork fleet(
            {TestDevice(MAC_A, {.productId = c.deviceProduct, .revisionId = c.deviceRevision})});
        auto record = fleet.RecordOf(0);
        Restrictions restrictions;
        restrictions.macRestricted = c.macRestricted;
        restrictions.wantedMac = c.wantedMac;
        restrictions.wantedProductId = c.wantedProduct;
        restrictions.wantedRevisionId = c.wantedRevision;
        ScriptedPrompter prompter;
        const UpgradeOutcome outcome =
            testing::RunWholeUpgrade({record.get()}, package, restrictions, fleet.protocol, prompter);
        EXPECT_EQ(outcome.stop, c.expected);
        if (c.expected == Stop::None) {
            EXPECT_EQ(prompter.prompts, std::vector<Prompt>{COMPLETE_BOX});
            EXPECT_EQ(outcome.dialogResult, REFRESH_RESULT);
            continue;
        }
        const Prompt refusal = c.expected == Stop::MacRefused ? Prompt{false, 153, MAC_REFUSED, BOX_OK}
                                                              : Prompt{false, 152, FIRMWARE_REFUSED, BOX_OK};
        // The message keeps its text; a line naming the device and its values follows.
        ASSERT_EQ(prompter.prompts.size(), 1u);
        EXPECT_EQ(prompter.prompts[0].id, refusal.id);
        EXPECT_EQ(prompter.prompts[0].style, refusal.style);
        EXPECT_TRUE(prompter.prompts[0].text.starts_with(refusal.text + "\n00:50:c2:0a:bb:01: "))
            << prompter.prompts[0].text;
        EXPECT_TRUE(fleet.link.sent.empty());
        EXPECT_EQ(outcome.dialogResult, 0);
    }
}

// The first case also has the package's MAC key refuse: the shared MAC is named first.
TEST_F(UpgradeCommandTest, AMacThatAnsweredAsTwoDevicesIsRefusedBeforeAnyDeviceIsTouched) {
    const std::pair<std::size_t, const char*> cases[] = {{0, "00:50:c2:0a:bb:01"}, {1, "00:50:c2:0a:bb:02"}};
    for (const auto& [shared, mac] : cases) {
        ScriptedNetwork fleet({TestDevice(MAC_A), TestDevice(MAC_B)});
        auto first = fleet.RecordOf(0), second = fleet.RecordOf(1);
        (shared == 0 ? first : second)->sharedMac =
            shared == 0 ? SharedMac::TwoAddresses : SharedMac::TwoBlocks;
        Restrictions restrictions;
        restrictions.wantedProductId = 1;
        restrictions.macRestricted = shared == 0;
        restrictions.wantedMac = MAC_C;
        ScriptedPrompter prompter;
        UpgradeOutcome outcome;
        outcome.stop = CheckAndConfirm({first.get(), second.get()}, restrictions, prompter);
        EXPECT_EQ(outcome.stop, Stop::MacShared);
        EXPECT_EQ(ExitCodeOf(outcome), 3);
        const std::string text =
            std::string("The MAC address ") + mac +
            " answered as more than one device. Requests are addressed by MAC alone, so it "
            "cannot be upgraded until every device has a MAC of its own.";
        EXPECT_EQ(prompter.prompts, (std::vector<Prompt>{{false, 170, text, BOX_OK}}));
        EXPECT_TRUE(fleet.link.sent.empty());
    }
}

TEST_F(UpgradeCommandTest, EverySelectedDeviceIsCheckedBeforeAnyIsTouched) {
    Open({TestDevice(MAC_A, {.productId = 2}), TestDevice(MAC_B, {.productId = 1})});
    const UpgradeOutcome outcome = Run({0, 1});
    EXPECT_EQ(outcome.stop, Stop::FirmwareRefused);
    EXPECT_EQ(prompter_.Ids(), std::vector<int>{152});
    EXPECT_TRUE(fleet_->link.sent.empty());
}

TEST_F(UpgradeCommandTest, MacCheckCoversTheLaterDevicesToo) {
    Open({TestDevice(MAC_A), TestDevice(MAC_B)});
    restrictions_.macRestricted = true;
    restrictions_.wantedMac = MAC_A;
    EXPECT_EQ(Run({0, 1}).stop, Stop::MacRefused);
    EXPECT_EQ(prompter_.Ids(), std::vector<int>{153});
    EXPECT_TRUE(fleet_->link.sent.empty());
}

TEST_F(UpgradeCommandTest, DeclinedWarningTouchesNoDevice) {
    Open({TestDevice(MAC_A)});
    restrictions_.defaultsWarning = 1;
    prompter_.answers = {false};
    EXPECT_EQ(Run({0}).stop, Stop::WarningDeclined);
    EXPECT_EQ(prompter_.prompts, (std::vector<Prompt>{{true, 149, WARNING, BOX_YES_NO | ICON_QUESTION}}));
    EXPECT_TRUE(fleet_->link.sent.empty());
}

// Listed, the devices are asked about once, with their count, after the
// warning's text when the package gives it; No touches no device.
TEST_F(UpgradeCommandTest, ListedDevicesAreAskedAboutOnceWithTheirCount) {
    struct Case {
        std::size_t devices;
        uint16_t warning;
        int id;
        std::string text;
        Stop declined;
    };
    const Case cases[] = {
        {2, 0, 182, "Upgrade these 2 devices?", Stop::DevicesDeclined},
        {1, 0, 183, "Upgrade this device?", Stop::DevicesDeclined},
        {2, 1, 149, WARNING + "\nUpgrade these 2 devices?", Stop::WarningDeclined},
    };
    for (const Case& c : cases) {
        for (const bool yes : {false, true}) {
            ScriptedNetwork fleet({TestDevice(MAC_A), TestDevice(MAC_B)});
            auto first = fleet.RecordOf(0), second = fleet.RecordOf(1);
            std::vector<DeviceRecord*> selected = {first.get(), second.get()};
            selected.resize(c.devices);
            Restrictions restrictions;
            restrictions.wantedProductId = 1;
            restrictions.defaultsWarning = c.warning;
            ScriptedPrompter prompter;
            prompter.answers = {yes};
            UpgradeOutcome outcome;
            outcome.stop = CheckAndConfirm(selected, restrictions, prompter, DeviceQuestion::Listed);
            EXPECT_EQ(outcome.stop, yes ? Stop::None : c.declined) << c.text;
            EXPECT_EQ(ExitCodeOf(outcome), yes ? 0 : 3);
            EXPECT_EQ(prompter.prompts, (std::vector<Prompt>{{true, c.id, c.text, BOX_YES_NO | ICON_QUESTION}}));
            EXPECT_TRUE(fleet.link.sent.empty());
        }
    }
}

TEST_F(UpgradeCommandTest, AcceptedWarningRunsTheScript) {
    Open({TestDevice(MAC_A)});
    restrictions_.defaultsWarning = 0x100;  // any nonzero value asks
    prompter_.answers = {true};
    const UpgradeOutcome outcome = Run({0});
    EXPECT_EQ(prompter_.Ids(), (std::vector<int>{149, 148}));
    EXPECT_EQ(outcome.succeeded, 1u);
    EXPECT_EQ(fleet_->ScriptRuns(), std::vector<MacAddress>{MAC_A});
}

TEST_F(UpgradeCommandTest, RetryRerunsTheWholeScriptThenGivesUp) {
    Open({TestDevice(MAC_A, {}, ALWAYS_FAILS)});
    prompter_.answers = {true, false};
    RecordingProgress progress;
    const UpgradeOutcome outcome = Run({0}, &progress);
    const Prompt retry{true, 146, RetryText("00:50:c2:0a:bb:01"), BOX_YES_NO | ICON_STOP};
    EXPECT_EQ(prompter_.prompts, (std::vector<Prompt>{retry, retry, GIVEN_UP_BOX}));
    EXPECT_EQ(fleet_->ScriptRuns(), (std::vector<MacAddress>{MAC_A, MAC_A}));
    EXPECT_EQ(progress.events, (std::vector<std::string>{"start 0/1", "start 0/1", "end 0 failed"}));
    EXPECT_GT(progress.lines, 0);  // the script's lines reach the same observer
    EXPECT_EQ(outcome.failed, 1u);
    EXPECT_EQ(outcome.succeeded, 0u);
    EXPECT_EQ(outcome.dialogResult, 0);
}

TEST_F(UpgradeCommandTest, RetryThatSucceedsCountsAsUpgraded) {
    Open({TestDevice(MAC_A, {}, 1)});
    prompter_.answers = {true};
    const UpgradeOutcome outcome = Run({0});
    EXPECT_EQ(prompter_.Ids(), (std::vector<int>{146, 148}));
    EXPECT_EQ(outcome.succeeded, 1u);
    EXPECT_EQ(outcome.dialogResult, REFRESH_RESULT);
}

TEST_F(UpgradeCommandTest, FailedDeviceInTheMiddleDoesNotStopTheOthers) {
    Open({TestDevice(MAC_A), TestDevice(MAC_B, {}, ALWAYS_FAILS), TestDevice(MAC_C)});
    prompter_.answers = {false};
    RecordingProgress progress;
    const UpgradeOutcome outcome = Run({0, 1, 2}, &progress);
    EXPECT_EQ(prompter_.prompts,
              (std::vector<Prompt>{{true, 146, RetryText("00:50:c2:0a:bb:02"), BOX_YES_NO | ICON_STOP},
                                   GIVEN_UP_BOX,
                                   {false, 148, COMPLETE + "\n\n00:50:c2:0a:bb:02: " + ERASE_UNANSWERED,
                                    BOX_OK | ICON_INFORMATION}}));
    EXPECT_EQ(fleet_->ScriptRuns(), (std::vector<MacAddress>{MAC_A, MAC_B, MAC_C}));
    EXPECT_EQ(progress.events, (std::vector<std::string>{"start 0/3", "end 0 ok", "start 1/3", "end 1 failed",
                                                         "start 2/3", "end 2 ok"}));
    EXPECT_EQ(outcome.stop, Stop::None);
    EXPECT_EQ(outcome.succeeded, 2u);
    EXPECT_EQ(outcome.failed, 1u);
    EXPECT_EQ(outcome.dialogResult, REFRESH_RESULT);
}

TEST_F(UpgradeCommandTest, AllFailingLeavesTheDialogOpen) {
    Open({TestDevice(MAC_A, {}, ALWAYS_FAILS), TestDevice(MAC_B, {}, ALWAYS_FAILS)});
    prompter_.answers = {false, false};
    const UpgradeOutcome outcome = Run({1, 0});
    EXPECT_EQ(prompter_.Ids(), (std::vector<int>{146, 147, 146, 147}));
    EXPECT_EQ(prompter_.prompts[0].text, RetryText("00:50:c2:0a:bb:02"));  // list order, not array order
    EXPECT_EQ(outcome.failed, 2u);
    EXPECT_EQ(outcome.dialogResult, 0);
}

TEST_F(UpgradeCommandTest, StopRequestEndsTheRunWithoutRetryPromptOrFurtherDevice) {
    struct Case {
        const char* what;
        std::function<bool(const RecordingProgress&)> stopWhen;
        std::vector<std::string> trace;  // requests sent
        std::vector<std::string> events;
        std::size_t succeeded;
    };
    const Case cases[] = {
        {"mid-script: after the first line's exchange",
         [](const RecordingProgress& p) { return p.lines >= 2; },
         {"PROGRAMMODE"},
         {"start 0/2", "end 0 failed"},
         0},
        {"between two devices",
         [](const RecordingProgress& p) { return p.events.size() >= 2; },
         {"PROGRAMMODE", "ERASE 3", "RESET"},
         {"start 0/2", "end 0 ok"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder scratch;
        UpgradePackage package;
        ASSERT_TRUE(package.Open(testing::WriteTestPackage(scratch.Path())));
        ScriptedNetwork fleet({TestDevice(MAC_A), TestDevice(MAC_B)});
        auto a = fleet.RecordOf(0);
        auto b = fleet.RecordOf(1);
        ScriptedPrompter prompter;  // fails the test on any question
        RecordingProgress progress;
        progress.stopWhen = c.stopWhen;
        UpgradeOutcome outcome;
        testing::RunPlannedScripts({a.get(), b.get()}, package, fleet.protocol, prompter, &progress, outcome);
        ReportCompletion(outcome, prompter);
        EXPECT_EQ(outcome.stop, Stop::Interrupted);
        EXPECT_EQ(fleet.Trace(), c.trace);
        EXPECT_EQ(progress.events, c.events);
        EXPECT_TRUE(prompter.prompts.empty()) << "no retry, no given-up and no completion message";
        EXPECT_EQ(outcome.succeeded, c.succeeded);
        EXPECT_EQ(outcome.failed, 1 - c.succeeded);
        EXPECT_EQ(outcome.dialogResult, 0);
    }
}

// Two devices READ into files of their own; one that is another output of
// the run refuses the selection before any question or datagram, while one
// device alone keeps the script's name, which clashes with nothing.
TEST_F(UpgradeCommandTest, ADeviceReadFileThatIsAnotherOutputRefusesTheSelection) {
    ScriptedNetwork fleet({TestDevice(MAC_A), TestDevice(MAC_B)});
    auto a = fleet.RecordOf(0);
    auto b = fleet.RecordOf(1);
    const std::filesystem::path path = scratch_.Path() / "read.upk";
    ASSERT_TRUE(WritePackage(path, StandardMembers("SETPROGRAMMODE\nREAD readback.bin 1:0 16\nRESET\n",
                                                   testing::TEST_RESTRICTIONS)));
    ASSERT_TRUE(package_.Open(path));
    restrictions_.wantedProductId = 1;
    const std::string folder = package_.PackageFolder().string();
    RunOutputs outputs;
    outputs.logFile = folder + "/READBACK-0050C20ABB02.BIN";
    UpgradeRun run(fleet.protocol, nullptr, {}, package_, nullptr, restrictions_, outputs);

    EXPECT_EQ(run.Confirm({a.get(), b.get()}, prompter_), Stop::ReadsClash);
    const std::string file = folder + "/READBACK-0050C20ABB02.BIN";
    EXPECT_EQ(prompter_.prompts,
              (std::vector<Prompt>{{false, 126,
                                    "--log-file " + file + " and the READ of program.cmd line 2 (" + file +
                                        ") are one file; nothing was done",
                                    BOX_OK}}));
    EXPECT_EQ(run.ExitCode(), 2);
    EXPECT_TRUE(fleet.link.sent.empty());

    prompter_.prompts.clear();
    EXPECT_EQ(run.Confirm({b.get()}, prompter_), Stop::None);
    EXPECT_TRUE(prompter_.prompts.empty());
}

TEST(RunsSideBySide, MoreThanOneAtOnceAndMoreThanOneDevice) {
    const struct {
        std::size_t jobs;
        std::size_t devices;
        bool sideBySide;
    } cases[] = {{1, 8, false}, {0, 1, false}, {0, 2, true}, {2, 1, false},
                 {2, 2, true},  {4096, 3, true}, {0, 0, false}};
    for (const auto& c : cases)
        EXPECT_EQ(RunsSideBySide(c.jobs, c.devices), c.sideBySide) << c.jobs << " at once, " << c.devices;
}

}  // namespace
}  // namespace quorvane
