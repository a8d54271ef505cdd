// The history end to end: an upgrade against devsim recorded in a named
// database, read back by `upgradectl history` as JSON, CSV and lines; a
// named history that cannot be written stops the run before anything is
// sent, the default one only warns.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "upgradectl_fixture.h"

namespace quorvane::testing {
namespace {

using json = nlohmann::json;

TEST_F(UpgradectlEndToEnd, AnUpgradeIsRecordedAndHistoryReadsItBack) {
    StartSimulator({"--devices", "3", "--silent", "ERASE", "--fault-device", "02:00:00:00:00:02"});
    const fs::path package = MakePackage(ADMIT_ALL);
    const std::string db = (Dir() / "h" / "history.db").string();
    const auto run = Ctl({"--history", db, "upgrade", package.string(), "--mac", "02:00:00:00:00:01", "--mac",
                          "02:00:00:00:00:02", "--yes"});
    ASSERT_EQ(run.exitCode, 1) << run.err;

    const auto read = Ctl({"--history", db, "--json", "history"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    const json entries = json::parse(read.out);
    ASSERT_EQ(entries.size(), 2u) << read.out;
    // Newest first: the devices run in admission order, 02 before 01.
    const json& failed = entries[1];
    EXPECT_EQ(failed["mac"], "02:00:00:00:00:02");
    EXPECT_EQ(failed["result"], "failed");
    EXPECT_EQ(failed["error"], "line 3 ERASE 1: no answer to ERASE after 16 sends") << failed;
    const json& upgraded = entries[0];
    EXPECT_EQ(upgraded["mac"], "02:00:00:00:00:01");
    EXPECT_EQ(upgraded["result"], "upgraded");
    EXPECT_EQ(upgraded["name"], "Press Line 1");
    EXPECT_EQ(upgraded["firmware_before"], "v QVN 4.0.2 01/01/15");
    EXPECT_EQ(upgraded["type"], "Single Serial (DB9)");
    EXPECT_EQ(upgraded["ipv4"], "127.0.0.1");
    EXPECT_EQ(upgraded["attempts"], 1);
    EXPECT_EQ(upgraded["error"], nullptr);  // as upgrade --json leaves it out or null
    EXPECT_EQ(upgraded["program"], "upgradectl");
    EXPECT_EQ(upgraded["package_path"], fs::absolute(package).string());
    EXPECT_TRUE(std::regex_match(upgraded["package_sha256"].get<std::string>(), std::regex("[0-9a-f]{64}")));
    EXPECT_EQ(upgraded["key_id"], nullptr);  // unsigned
    EXPECT_EQ(upgraded["exit_code"], 1);
    EXPECT_EQ(upgraded["run_finished"], true);
    EXPECT_EQ(upgraded["jobs"], 1);
    EXPECT_EQ(upgraded["run_id"], failed["run_id"]);

    const auto csv = Ctl({"--history", db, "history", "--csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("run_id,run_started_utc,run_ended_utc,run_finished,exit_code,program,", 0), 0u)
        << csv.out;
    EXPECT_EQ(Occurrences(csv.out, "\r\n"), 3);

    const auto latest = Ctl({"--history", db, "history", "--mac", "02-00-00-00-00-01", "--limit", "1"});
    ASSERT_EQ(latest.exitCode, 0) << latest.err;
    EXPECT_TRUE(std::regex_search(latest.out, std::regex("02:00:00:00:00:01 +Press Line 1 +upgraded +v QVN 4.0.2 "
                                                         "01/01/15 -> v QVN 4.0.2 01/01/15 +test1.upk")))
        << latest.out;
    EXPECT_EQ(CountLines(latest.out, "20"), 1) << latest.out;

    // --no-history adds nothing; a dry run records its devices as such.
    ASSERT_EQ(Ctl({"--history", db, "--no-history", "upgrade", package.string(), "--mac", "02:00:00:00:00:01",
                   "--yes"})
                  .exitCode,
              0);
    ASSERT_EQ(Ctl({"--history", db, "upgrade", package.string(), "--mac", "02:00:00:00:00:03", "--yes",
                   "--dry-run"})
                  .exitCode,
              0);
    const json after = json::parse(Ctl({"--history", db, "--json", "history"}).out);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0]["mac"], "02:00:00:00:00:03");
    EXPECT_EQ(after[0]["result"], "dry-run");
    EXPECT_EQ(after[0]["exit_code"], 0);
}

TEST_F(UpgradectlEndToEnd, AHistoryThatCannotBeWrittenStopsANamedRunAndOnlyWarnsAtTheDefault) {
    StartSimulator({"--devices", "1"});
    const fs::path package = MakePackage(ADMIT_ALL);
    WriteFileText(Dir() / "plain-file", "not a folder\n");
    const std::string db = (Dir() / "plain-file" / "history.db").string();
    const auto named = Ctl({"--history", db, "upgrade", package.string(), "--all", "--yes"});
    EXPECT_EQ(named.exitCode, 2);
    EXPECT_NE(named.err.find("upgradectl: The history cannot be written: " + db +
                             ": cannot open the history: unable to open database file; nothing was sent"),
              std::string::npos)
        << named.err;
    EXPECT_EQ(CountLines(Sim().Log(), "rx "), 0) << "not even discovery";

    ::setenv("XDG_STATE_HOME", (Dir() / "plain-file").c_str(), 1);
    const auto fallback = Ctl({"upgrade", package.string(), "--all", "--yes"});
    EXPECT_EQ(fallback.exitCode, 0) << fallback.err;
    EXPECT_NE(fallback.err.find("upgradectl: warning: This upgrade is not recorded in the history: " +
                                (Dir() / "plain-file" / "quorvane-upgrade" / "history.db").string()),
              std::string::npos)
        << fallback.err;

    const auto none = Ctl({"--history", (Dir() / "none.db").string(), "--json", "history"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, "[]\n");
}

}  // namespace
}  // namespace quorvane::testing
