// The parts of upgradectl that decide things without a device:
// the prompter's answers, the progress bar and the table.

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "protocol/socket_calls.h"
#include "res/string_ids.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/fleet_board.h"
#include "tools/upgradectl/progress_bar.h"
#include "tools/upgradectl/terminal_prompter.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

struct PromptRun {
    std::istringstream in;
    std::ostringstream err;
    TerminalPrompter prompter;

    PromptRun(PromptPolicy policy, const std::string& typed) : in(typed), prompter(policy, in, err) {}
    bool Warning() { return prompter.Ask(IDS_CONFIGURATION_WARNING, "lose settings?", 0x24); }
    bool Retry() { return prompter.Ask(IDS_RETRY_PROMPT, "retry?", 0x14); }
};

TEST(UpgradectlPrompter, ConfigurationWarningNeedsYesFlagOrAnAnswerOnATerminal) {
    struct Case {
        PromptPolicy policy;
        const char* typed;
        bool answer;
    };
    const Case cases[] = {
        {{true, 0, false}, "", true},       // --yes
        {{true, 0, true}, "n\n", true},     // --yes wins without asking
        {{false, 0, false}, "y\n", false},  // no terminal: declined, nothing read
        {{false, 0, true}, "y\n", true},    {{false, 0, true}, "YES\n", true},
        {{false, 0, true}, "\n", false},                                    // the default is No
        {{false, 0, true}, "yep\n", false}, {{false, 0, true}, "", false},  // end of input
    };
    for (const auto& c : cases) {
        PromptRun run(c.policy, c.typed);
        EXPECT_EQ(run.Warning(), c.answer) << "typed '" << c.typed << "'";
        EXPECT_NE(run.err.str().find("lose settings?"), std::string::npos) << "the question is shown";
    }
}

TEST(UpgradectlPrompter, RetryQuestionIsAnsweredYesRetriesTimesPerDevice) {
    PromptRun run({true, 2, true}, "y\ny\ny\ny\n");
    run.prompter.DeviceStarted(0);
    EXPECT_TRUE(run.Retry());
    run.prompter.DeviceStarted(0);  // the retry run of the same device keeps the count
    EXPECT_TRUE(run.Retry());
    run.prompter.DeviceStarted(0);
    EXPECT_FALSE(run.Retry());
    run.prompter.DeviceStarted(1);  // a new device has its own allowance
    EXPECT_TRUE(run.Retry());

    PromptRun none({true, 0, true}, "y\n");
    none.prompter.DeviceStarted(0);
    EXPECT_FALSE(none.Retry()) << "without --retries a failed run is not repeated, whatever is typed";
}

TEST(UpgradectlPrompter, MessagesGoToTheErrorStreamAsWritten) {
    PromptRun run({}, "");
    run.prompter.Tell(IDS_UPGRADE_COMPLETE, "Upgrade complete.\nSecond line", 0x40);
    EXPECT_EQ(run.err.str(), "Upgrade complete.\nSecond line\n");
}

TEST(UpgradectlProgressBar, FillsInProportionAndNeverOverflows) {
    EXPECT_EQ(ProgressBar::Bar(0, 100, 10), "[----------]   0%");
    EXPECT_EQ(ProgressBar::Bar(55, 100, 10), "[#####-----]  55%");
    EXPECT_EQ(ProgressBar::Bar(100, 100, 10), "[##########] 100%");
    EXPECT_EQ(ProgressBar::Bar(150, 100, 10), "[##########] 100%");
    EXPECT_EQ(ProgressBar::Bar(0, 0, 4), "[####] 100%") << "an empty transfer is complete";
}

TEST(UpgradectlProgressBar, DrawsDeviceLineAndTransferAndEndsWithAResultLine) {
    std::ostringstream out;
    StatusLine status(out, 200);
    ProgressBar bar(status, out);
    DeviceRecord record;
    record.mac = {0x02, 0, 0, 0, 0, 0x01};
    bar.OnDeviceStart(0, 3, record);
    bar.OnLine(4, "LOAD FIRMWARE.BIN 1:0");
    bar.OnTransfer("FIRMWARE.BIN", 512, 1024);
    const std::string drawn = out.str();
    EXPECT_NE(drawn.find("[1/3 02:00:00:00:00:01] [############------------]  50% 512/1024  line 4: LOAD "
                         "FIRMWARE.BIN 1:0"),
              std::string::npos)
        << drawn;
    bar.OnDeviceEnd(0, false);
    EXPECT_NE(out.str().rfind("\r\x1b[2K[1/3 02:00:00:00:00:01] failed\n"), std::string::npos) << out.str();
}

TEST(UpgradectlFleetBoard, RateAndEtaOnceTimeHasPassed) {
    using Seconds = std::chrono::duration<double>;
    EXPECT_EQ(FleetBoard::RateAndEta(0, 1024, Seconds(2)), "");
    EXPECT_EQ(FleetBoard::RateAndEta(512, 1024, Seconds(0.4)), "") << "too soon to tell";
    EXPECT_EQ(FleetBoard::RateAndEta(81920, 163840, Seconds(1)), "80.0 KiB/s ETA 0:01");
    EXPECT_EQ(FleetBoard::RateAndEta(10240, 1024000, Seconds(1)), "10.0 KiB/s ETA 1:39");
}

TEST(UpgradectlFleetBoard, DrawsALinePerDeviceUnderWayAndLeavesALineForEachDone) {
    std::ostringstream out;
    FleetBoard board(out, 2, 80);
    board.Start(0, "[1/2 02:00:00:00:00:01]");
    board.Start(1, "[2/2 02:00:00:00:00:02]");
    board.Transfer(1, "IMAGE.BIN", 1024, 1024);
    EXPECT_NE(out.str().find("[1/2 02:00:00:00:00:01] starting\n"
                             "[2/2 02:00:00:00:00:02] IMAGE.BIN [##########] 100%\n"
                             "total: 0 of 2 done, 2 running, 1024 bytes\n"),
              std::string::npos)
        << out.str();
    board.End(0, "failed", false);
    EXPECT_NE(out.str().find("\x1b[3A\r\x1b[J[1/2 02:00:00:00:00:01] failed\n"
                             "[2/2 02:00:00:00:00:02] IMAGE.BIN [##########] 100%\n"
                             "total: 1 of 2 done (1 failed), 1 running, 1024 bytes\n"),
              std::string::npos)
        << out.str();
    board.End(1, "upgraded", true);
    EXPECT_TRUE(out.str().ends_with("\x1b[2A\r\x1b[J[2/2 02:00:00:00:00:02] upgraded\n"))
        << "nothing is drawn once no device is under way:\n"
        << out.str();
}

TEST(UpgradectlTextTable, PadsColumnsToTheWidestCell) {
    TextTable table({"A", "Long header"});
    table.AddRow({"wide cell", "x"});
    table.AddRow({"b"});
    std::ostringstream out;
    table.Print(out);
    EXPECT_EQ(out.str(),
              "A          Long header\n"
              "---------  -----------\n"
              "wide cell  x\n"
              "b          \n");
}

TEST(UpgradectlTextTable, ControlBytesFromDevicesNeverReachTheTerminal) {
    TextTable table({"Name"});
    table.AddRow({"\x1b]0;owned\x07lab\r\n\x7f"});
    std::ostringstream out;
    table.Print(out);
    EXPECT_EQ(out.str(), "Name\n----------------\n?]0;owned?lab???\n");
    EXPECT_EQ(PrintableText("caf\xc3\xa9 \t"), "caf\xc3\xa9 ?");  // UTF-8 bytes stay
}

TEST(UpgradectlTextTable, ColumnsAreMeasuredInCharactersAsPrinted) {
    TextTable table({"Name", "MAC"});
    table.AddRow({"Caf\xc3\xa9 \xe2\x82\xac", "1"});  // 6 characters in 9 bytes
    table.AddRow({"Caf\xe9\x9b", "2"});               // not UTF-8: 5 Latin-1 characters
    std::ostringstream out;
    table.Print(out);
    EXPECT_EQ(out.str(),
              "Name    MAC\n"
              "------  ---\n"
              "Caf\xc3\xa9 \xe2\x82\xac  1\n"
              "Caf\xc3\xa9?   2\n");
}

TEST(UpgradectlEndpoint, StartFailureExitsFourWithTheSystemsReason) {
    detail::SocketCalls calls = detail::SystemSocketCalls();
    calls.bind = [](int, const sockaddr*, socklen_t) {
        errno = EACCES;
        return -1;
    };
    const detail::ScopedSocketCalls refusingBind(calls);
    const char* argv[] = {"upgradectl", "--broadcast", "127.0.0.1", "discover"};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunCli(4, argv), 4);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Network initialization failed. Permission denied"), std::string::npos) << err;
}

}  // namespace
}  // namespace quorvane::cli
