// The parts of upgradectl that decide things without a device:
// the prompter's answers, the progress bar and the table.

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "protocol/socket_calls.h"
#include "res/string_ids.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/device_listing.h"
#include "tools/upgradectl/fleet_board.h"
#include "tools/upgradectl/plan_output.h"
#include "tools/upgradectl/progress_bar.h"
#include "tools/upgradectl/terminal_prompter.h"
#include "tools/upgradectl/text_table.h"
#include "tools/upgradectl/transfer_text.h"

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
    EXPECT_FALSE(none.Retry()) << "with --yes and without --retries a failed run is not repeated, whatever is typed";

    // On a terminal without --yes the question is asked once --retries is used up.
    PromptRun asked({false, 1, true}, "y\nn\n");
    asked.prompter.DeviceStarted(0);
    EXPECT_TRUE(asked.Retry());
    EXPECT_TRUE(asked.Retry());
    EXPECT_FALSE(asked.Retry());
    EXPECT_EQ(asked.err.str(), "retry?\n-> Yes (retry 1 of 1 (--retries))\nretry? [y/N] retry? [y/N] ");
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
    EXPECT_NE(drawn.find("[1/3 02:00:00:00:00:01] FIRMWARE.BIN [############------------]  50% 0.5/1.0 KiB  "
                         "line 4: LOAD FIRMWARE.BIN 1:0"),
              std::string::npos)
        << drawn;
    bar.OnDeviceEnd(0, false);
    EXPECT_NE(out.str().rfind("\r\x1b[2K[1/3 02:00:00:00:00:01] failed\n"), std::string::npos) << out.str();
}

// Run in turn, a device waited for after its RESET ends while the next
// device is drawn: each result line names its own device, and the device
// under way is drawn again at its next step.
TEST(UpgradectlProgressBar, AResultLineNamesItsDeviceWhileAnotherIsDrawn) {
    std::ostringstream out;
    StatusLine status(out, 200);
    ProgressBar bar(status, out);
    DeviceRecord first;
    first.mac = {0x02, 0, 0, 0, 0, 0x01};
    DeviceRecord second;
    second.mac = {0x02, 0, 0, 0, 0, 0x02};
    bar.OnDeviceStart(0, 2, first);
    bar.Waiting("Waiting for the device to come back");
    bar.OnDeviceStart(1, 2, second);
    bar.OnLine(2, "ERASE 3");
    bar.EndDevice(0, "upgraded");
    EXPECT_TRUE(out.str().ends_with("\r\x1b[2K[1/2 02:00:00:00:00:01] upgraded\n")) << out.str();
    bar.Waiting("Waiting for the device to come back");
    EXPECT_TRUE(out.str().ends_with("\r\x1b[2K[2/2 02:00:00:00:00:02]  Waiting for the device to come back  line 2: "
                                    "ERASE 3"))
        << out.str();
    bar.EndDevice(1, "failed: Device 02:00:00:00:00:02 did not come back within 3 s after its reset");
    EXPECT_TRUE(out.str().ends_with(
        "\r\x1b[2K[2/2 02:00:00:00:00:02] failed: Device 02:00:00:00:00:02 did not come back within 3 s after "
        "its reset\n"))
        << out.str();
}

TEST(UpgradectlTransferText, RateAndEtaOnceTimeHasPassed) {
    using std::chrono::milliseconds;
    EXPECT_EQ(PaceText(PaceOf(0, 1024, milliseconds(2000))), "");
    EXPECT_EQ(PaceText(PaceOf(512, 1024, milliseconds(400))), "") << "too soon to tell";
    EXPECT_EQ(PaceText(PaceOf(81920, 163840, milliseconds(1000))), "80.0 KiB/s ETA 0:01");
    EXPECT_EQ(PaceText(PaceOf(10240, 1024000, milliseconds(1000))), "10.0 KiB/s ETA 1:39");
}

TransferStep Step(std::string_view file, uint64_t done, uint64_t total, uint64_t deviceBytes,
                  TransferPace pace = {}) {
    TransferStep step{file, done, total, pace, {}};
    step.exchanges.bytes = deviceBytes;
    return step;
}

TEST(UpgradectlFleetBoard, DrawsALinePerDeviceUnderWayAndLeavesALineForEachDone) {
    std::ostringstream out;
    FleetBoard board(out, 2, 80);
    board.Start(0, "[1/2 02:00:00:00:00:01]");
    board.Start(1, "[2/2 02:00:00:00:00:02]");
    board.Transfer(1, Step("IMAGE.BIN", 1024, 1024, 1024));
    EXPECT_NE(out.str().find("[1/2 02:00:00:00:00:01] starting\n"
                             "[2/2 02:00:00:00:00:02] IMAGE.BIN [######] 100% 1.0/1.0 KiB\n"
                             "total: 0 of 2 done, 2 running, 1.0 KiB\n"),
              std::string::npos)
        << out.str();
    board.End(0, "failed", false);
    EXPECT_NE(out.str().find("\x1b[3A\r\x1b[J[1/2 02:00:00:00:00:01] failed\n"
                             "[2/2 02:00:00:00:00:02] IMAGE.BIN [######] 100% 1.0/1.0 KiB\n"
                             "total: 1 of 2 done (1 failed), 1 running, 1.0 KiB\n"),
              std::string::npos)
        << out.str();
    board.End(1, "upgraded", true);
    EXPECT_TRUE(out.str().ends_with("\x1b[2A\r\x1b[J[2/2 02:00:00:00:00:02] upgraded\n"))
        << "nothing is drawn once no device is under way:\n"
        << out.str();
}

// A row keeps MAC, file, bar, bytes, rate and time left within 80 columns,
// and a device retried after the batch counts once in the total.
TEST(UpgradectlFleetBoard, RowsShowBytesAndRateAndRetriedDevicesCountOnce) {
    std::ostringstream out;
    FleetBoard board(out, 2, 80);
    const TransferPace pace{true, 81920, std::chrono::seconds(75)};
    board.Start(0, "[1/2 02:00:00:00:00:01]");
    board.Start(1, "[2/2 02:00:00:00:00:02]");
    board.Transfer(0, Step("FIRMWARE.BIN", 524288, 6815744, 600000, pace));
    board.End(1, "failed", false);
    EXPECT_TRUE(out.str().ends_with("[2/2 02:00:00:00:00:02] failed\n"
                                    "[1/2 02:00:00:00:00:01] FIRMWARE.BIN   7% 0.5/6.5 MiB 80.0 KiB/s ETA "
                                    "1:15\n"
                                    "total: 1 of 2 done (1 failed), 1 running, 585 KiB\n"))
        << out.str();
    board.Start(1, "[2/2 02:00:00:00:00:02]");  // the retry after the batch
    board.Transfer(1, Step("FIRMWARE.BIN", 0, 6815744, 100000));
    board.End(0, "upgraded", true);
    EXPECT_TRUE(out.str().ends_with("total: 1 of 2 done, 1 running, 683 KiB\n")) << out.str();
}

// The one device's line at 80 columns: the bar narrows, then the middle of
// a long file name gives way, and the rate and time left stay.
TEST(UpgradectlProgressBar, KeepsTheFileNameInSightAt80Columns) {
    struct Case {
        const char* file;
        uint64_t done;
        const char* expected;
    } cases[] = {
        {"FW.BIN", 1536,
         "[1/3 02:00:00:00:00:01] FW.BIN [######---]  75% 1.5/2.0 KiB 80.0 KiB/s ETA 0:01"},
        {"dovrelink-4.00.02-release-candidate-firmware.bin", 1536,
         "[1/3 02:00:00:00:00:01] dovrelin...are.bin  75% 1.5/2.0 KiB 80.0 KiB/s ETA 0:01"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        StatusLine status(out, 80);
        ProgressBar bar(status, out);
        DeviceRecord record;
        record.mac = {0x02, 0, 0, 0, 0, 0x01};
        bar.OnDeviceStart(0, 3, record);
        bar.OnLine(4, std::string("LOAD ") + c.file + " 1:0");
        bar.Transfer(Step(c.file, c.done, 2048, c.done, {true, 81920, std::chrono::seconds(1)}));
        const std::string drawn = out.str().substr(out.str().rfind("\x1b[2K") + 4);
        EXPECT_EQ(drawn, c.expected) << c.file;
        EXPECT_LE(drawn.size(), 79u) << c.file;
    }
}

TEST(UpgradectlTransferText, CompactBytesAndTheMiddleOfLongNames) {
    const std::pair<uint64_t, const char*> sizes[] = {
        {0, "0 B"}, {1023, "1023 B"}, {1024, "1.0 KiB"}, {10239, "9.9 KiB"}, {655360, "640 KiB"},
        {1572864, "1.5 MiB"}, {3221225472, "3.0 GiB"}};
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(CompactBytes(bytes), text) << bytes;
    EXPECT_EQ(CompactBytes(1536, 2048), "1.5/2.0 KiB");
    EXPECT_EQ(CompactBytes(512, 2048), "0.5/2.0 KiB");
    EXPECT_EQ(CompactBytes(524288, 6815744), "0.5/6.5 MiB");
    // Room for the widest count on the way: "9.9/63 KiB", "6.5/6.5 MiB".
    EXPECT_EQ(WidestBytes(65000), 10u);
    EXPECT_EQ(WidestBytes(6815744), 11u);
    EXPECT_EQ(ElideMiddle("firmware.bin", 12), "firmware.bin");
    EXPECT_EQ(ElideMiddle("firmware-release.bin", 13), "firmw...e.bin");
    EXPECT_EQ(ElideMiddle("firmware.bin", 3), "fir");
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

// While an exchange is sent again the line says so instead of a full bar,
// the wait first, so that an 80-column terminal still shows all of it.
TEST(UpgradectlProgressBar, AWaitTakesTheBarsPlaceUntilTheNextStep) {
    std::ostringstream narrow;
    StatusLine narrowStatus(narrow, 80);
    ProgressBar narrowBar(narrowStatus, narrow);
    std::ostringstream out;
    StatusLine status(out, 200);
    ProgressBar bar(status, out);
    DeviceRecord record;
    record.mac = {0x02, 0, 0, 0, 0, 0x02};
    for (ProgressBar* each : {&narrowBar, &bar}) {
        each->OnDeviceStart(1, 3, record);
        each->OnLine(13, "LOAD firmware.bin 0x0001:0x0000");
        each->OnTransfer("FIRMWARE.BIN", 1100, 1100);
        each->Waiting("waiting for LOAD_VERIFY, send 5 of 16");
    }
    EXPECT_TRUE(narrow.str().ends_with("[2/3 02:00:00:00:00:02]  waiting for LOAD_VERIFY, send 5 of 16"))
        << narrow.str();
    EXPECT_TRUE(out.str().ends_with("[2/3 02:00:00:00:00:02]  waiting for LOAD_VERIFY, send 5 of 16  line 13: "
                                    "LOAD firmware.bin 0x0001:0x0000"))
        << out.str();
    bar.EndDevice(1, "failed: line 3 LOAD fw.bin: no answer to LOAD_VERIFY after 16 sends");
    narrowBar.EndDevice(1, "done");
    EXPECT_TRUE(out.str().ends_with(
        "[2/3 02:00:00:00:00:02] failed: line 3 LOAD fw.bin: no answer to LOAD_VERIFY after 16 sends\n"))
        << out.str();
}

// A discovery nobody answered names where it went and what to look at.
TEST(UpgradectlDiscoveryLines, NoDeviceAtAllGivesTheInterfaceAndTheFirewallRule) {
    DiscoveryReport report;
    report.rounds = 1;
    EndpointOptions endpoint;
    endpoint.broadcastAddress = 0x7F000001;
    endpoint.port = 4101;
    const std::vector<std::string> expected = {
        "upgradectl: no device answered the discovery sent by lo (127.0.0.1) to 127.0.0.1 port 4101",
        "upgradectl: `upgradectl interfaces` lists the interfaces; --interface NAME sends by another one",
        "upgradectl: a host firewall must let the replies in, for example: sudo nft add rule inet filter "
        "input "
        "udp sport 4101 accept"};
    EXPECT_EQ(NoDeviceHint(report, endpoint), expected);
    report.devices = 1;
    EXPECT_TRUE(NoDeviceHint(report, endpoint).empty());
    report = {};  // no discovery was sent at all
    EXPECT_TRUE(NoDeviceHint(report, endpoint).empty());
}

TEST(UpgradectlPackage, AMissingPackageSaysSoBeforeInvalid) {
    UpgradePackage package;
    std::string error;
    EXPECT_FALSE(OpenPackage("/nonexistent-folder/none.upk", package, error));
    EXPECT_EQ(error,
              "upgradectl: /nonexistent-folder/none.upk: No such file or directory\n"
              "Invalid Upgrade File: /nonexistent-folder/none.upk");
}

TEST(UpgradectlDiscoveryLines, IgnoredRepliesAndSharedMacsAreNamed) {
    DiscoveryReport report;
    report.ignoredReplies = 1;
    report.ignoredMacs = {{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}};
    report.moreIgnoredMacs = true;
    EXPECT_EQ(IgnoredRepliesLine(report),
              "upgradectl: ignored 1 reply whose MAC names no single device (01:00:5e:00:00:01, ...)");
    DeviceRecord record;
    record.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    record.ipAddress = 0x7F000001;
    record.otherAddress = 0x7F000002;
    record.sharedMac = SharedMac::TwoAddresses;
    EXPECT_EQ(
        SharedMacWarning(record),
        "upgradectl: warning: 02:00:00:00:00:01 answered from 127.0.0.1 and 127.0.0.2: more than one device "
        "has this MAC; it is listed once and will not be upgraded");
}

// The dry run shows what the devices would be sent: a line of an unknown
// keyword stays in the check's plan, for the run to tell, but sends nothing.
TEST(UpgradectlPlan, LinesOfUnknownKeywordsAreNotShownAsCommands) {
    DeviceRecord record;
    record.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    const auto planned = [](int line, const char* text, ScriptKeyword keyword) {
        PlannedCommand command;
        command.line = line;
        command.text = text;
        command.command.keyword = keyword;
        return command;
    };
    PackageCheck check;
    check.plan = {planned(1, "FOO 1", ScriptKeyword::Unknown), planned(2, "RESET", ScriptKeyword::Reset)};
    std::ostringstream text;
    PrintPlan(text, {&record}, check);
    EXPECT_EQ(text.str(), "02:00:00:00:00:01 would run:\n  line 2: RESET\n");
    const auto json = PlanJson({&record}, check);
    ASSERT_EQ(json.at(0).at("plan").size(), 1u);
    EXPECT_EQ(json.at(0).at("plan").at(0).at("line"), 2);
    check.plan.pop_back();
    text.str("");
    PrintPlan(text, {&record}, check);
    EXPECT_EQ(text.str(), "02:00:00:00:00:01 would run:\n  no device command\n");
}

// With several devices each READ writes the device's own file; with one, the script's name.
TEST(UpgradectlPlan, ReadsShowTheFileOfEachDevice) {
    DeviceRecord first;
    first.mac = {0x00, 0x50, 0xc2, 0x1a, 0x2b, 0x3c};
    DeviceRecord second;
    second.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    PackageCheck check;
    PlannedCommand read;
    read.line = 5;
    read.text = "READ readback.bin 1:0 16";
    read.command.keyword = ScriptKeyword::Read;
    read.readOutput = "/p/READBACK.BIN";
    check.plan = {read};
    std::ostringstream text;
    PrintPlan(text, {&first, &second}, check);
    EXPECT_EQ(text.str(),
              "00:50:c2:1a:2b:3c would run:\n  line 5: READ readback.bin 1:0 16 (writes /p/READBACK-0050C21A2B3C.BIN)\n"
              "02:00:00:00:00:01 would run:\n  line 5: READ readback.bin 1:0 16 (writes /p/READBACK-020000000001.BIN)\n");
    EXPECT_EQ(PlanJson({&first, &second}, check).at(1).at("plan").at(0).at("readOutput"),
              "/p/READBACK-020000000001.BIN");
    EXPECT_EQ(PlanJson({&second}, check).at(0).at("plan").at(0).at("readOutput"), "/p/READBACK.BIN");
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
