// The check after the reset, end to end: devsim devices that boot for a
// while after their RESET, come back with new firmware, or never come back;
// upgradectl reports each in --json, the events and the history.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "upgradectl_fixture.h"

namespace quorvane::testing {
namespace {

using json = nlohmann::json;

json DeviceOf(const json& report, const std::string& mac) {
    for (const json& device : report.at("devices"))
        if (device.at("mac") == mac) return device;
    ADD_FAILURE() << "no device " << mac << " in " << report;
    return json::object();
}

TEST_F(UpgradectlEndToEnd, EachDeviceIsAwaitedAfterItsResetAndOneThatStaysSilentFails) {
    StartSimulator({"--devices", "3", "--reboot-ms", "1000", "--firmware-after", "4.1.0 12/01/26", "--no-return",
                    "02:00:00:00:00:03"});
    const fs::path package = MakePackage(ADMIT_ALL);
    const fs::path events = Dir() / "events.jsonl";
    const auto run = Ctl({"--json", "--events", events.string(), "upgrade", package.string(), "--all", "--yes",
                          "--jobs", "0", "--verify-timeout", "3"});
    ASSERT_EQ(run.exitCode, 1) << run.err;
    const json report = json::parse(run.out);

    struct Expected {
        std::string mac, before, verify;
        json after;
    };
    const Expected table[] = {
        {"02:00:00:00:00:01", "v QVN 4.0.2 01/01/15", "verified", "v QVN 4.1.0 12/01/26"},
        {"02:00:00:00:00:02", "v QVN 4.1.9 02/06/16", "verified", "v QVN 4.1.0 12/01/26"},
        {"02:00:00:00:00:03", "v QVS 4.2.6 03/11/17", "missing", nullptr},
    };
    for (const Expected& expected : table) {
        const json device = DeviceOf(report, expected.mac);
        EXPECT_EQ(device.at("firmware_before"), expected.before) << expected.mac;
        EXPECT_EQ(device.at("firmware_after"), expected.after) << expected.mac;
        EXPECT_EQ(device.at("verify"), expected.verify) << expected.mac;
        // Booting takes 1 s; the silent one is waited for the whole 3 s.
        // The upper bounds leave a busy machine most of a second.
        const double seconds = device.at("verify_seconds").get<double>();
        EXPECT_GE(seconds, expected.verify == "missing" ? 3.0 : 1.0) << expected.mac;
        EXPECT_LT(seconds, expected.verify == "missing" ? 3.9 : 2.0) << expected.mac;
    }
    EXPECT_EQ(DeviceOf(report, "02:00:00:00:00:03").at("ok"), false);
    EXPECT_NE(run.err.find("Device 02:00:00:00:00:03 did not come back within 3 s after its reset"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("These devices did not come back after their reset:\n02:00:00:00:00:03"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(CountLines(ReadFileText(events), "{\"event\":\"verify\""), 3);

    // Once more on the first device: it comes back with the firmware it
    // already had, which is still a success.
    const auto again = Ctl({"upgrade", package.string(), "--mac", "02:00:00:00:00:01", "--yes"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.err.find("02:00:00:00:00:01: upgraded, 6002 bytes in "), std::string::npos) << again.err;
    EXPECT_NE(again.err.find(", firmware v QVN 4.1.0 12/01/26, unchanged"), std::string::npos) << again.err;

    // The history keeps both runs of the first device and the failure.
    const json history = json::parse(Ctl({"--json", "history"}).out);
    ASSERT_EQ(history.size(), 4u) << history;
    EXPECT_EQ(history[0].at("mac"), "02:00:00:00:00:01");
    EXPECT_EQ(history[0].at("verify"), "unchanged");
    EXPECT_EQ(history[0].at("firmware_after"), "v QVN 4.1.0 12/01/26");
    for (const json& entry : history)
        if (entry.at("mac") == "02:00:00:00:00:03") {
            EXPECT_EQ(entry.at("result"), "failed");
            EXPECT_EQ(entry.at("verify"), "missing");
        }
}

TEST_F(UpgradectlEndToEnd, NoVerifyAndAScriptWithoutResetWaitForNothing) {
    StartSimulator({"--devices", "1", "--reboot-ms", "1500"});
    const std::string noReset = "SETPROGRAMMODE\nERASE 1\nLOAD image.bin 1:0\n";
    const struct {
        std::string script;
        std::vector<std::string> options;
        std::string verify;
    } cases[] = {
        {SCRIPT, {"--no-verify"}, "off"},
        {SCRIPT, {"--verify-timeout", "0"}, "off"},
        {noReset, {}, "not-reset"},
    };
    for (const auto& c : cases) {
        const fs::path package = MakePackage(ADMIT_ALL, c.script);
        std::vector<std::string> args = {"--json", "upgrade", package.string(), "--all", "--yes"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto run = Ctl(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const json device = json::parse(run.out).at("devices")[0];
        EXPECT_EQ(device.at("verify"), c.verify) << c.verify;
        EXPECT_EQ(device.at("firmware_after"), nullptr) << c.verify;
        // The device boots for 1.5 s after a RESET; a run that waited would show it.
        EXPECT_LT(device.at("verify_seconds").get<double>(), 0.5) << c.verify;
        if (c.script == SCRIPT) std::this_thread::sleep_for(1700ms);
    }
}

// A device waiting for its return holds no other device back, in turn or
// side by side: every device has started before the first comes back. The
// boot is long beside three scripts on loopback (well under a second even
// under the sanitizers), so that a busy machine still sees that order.
TEST_F(UpgradectlEndToEnd, TheWaitAfterAResetHoldsNoOtherDeviceBack) {
    StartSimulator({"--devices", "3", "--reboot-ms", "4000"});
    const fs::path package = MakePackage(ADMIT_ALL);
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("--jobs ") + jobs);
        const fs::path events = Dir() / (std::string("events-") + jobs + ".jsonl");
        const auto run = Ctl({"--events", events.string(), "upgrade", package.string(), "--all", "--yes", "--jobs",
                              jobs, "--verify-timeout", "10"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::string text = ReadFileText(events);
        const std::size_t lastStart = text.rfind("{\"event\":\"device-start\"");
        const std::size_t firstBack = text.find("{\"event\":\"verify\"");
        ASSERT_NE(lastStart, std::string::npos) << text;
        ASSERT_NE(firstBack, std::string::npos) << text;
        EXPECT_LT(lastStart, firstBack) << text;
        EXPECT_EQ(CountLines(text, "{\"event\":\"verify\""), 3);  // so all are back for the next run
    }
}

}  // namespace
}  // namespace quorvane::testing
