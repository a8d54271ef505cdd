// The history database over temporary files: what is written reads back,
// a run without its end reads as unfinished, two writers at once both
// complete, a schema-1 file is migrated and a newer one left alone.
#include "app/history_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <thread>

#include "app/history_columns.h"
#include "app/history_recorder.h"
#include "tests/package/package_fixture.h"

namespace quorvane {
namespace {

HistoryRun SomeRun(const std::string& started) {
    HistoryRun run;
    run.startedUtc = started;
    run.program = "upgradectl";
    run.version = "4.0.2";
    run.user = "ops";
    run.host = "bench";
    run.packagePath = "/srv/fw/new.upk";
    run.packageSha256 = "ba7816bf";
    run.keyId = "RWQ0A1B2C3D4E5F6";
    run.trustedComment = "release 4.1.0";
    run.jobs = 2;
    run.retries = 1;
    return run;
}

HistoryDevice SomeDevice(const std::string& mac, const std::string& result, const std::string& ended) {
    HistoryDevice device;
    device.mac = mac;
    device.name = "Line 4";
    device.ipv4 = "10.0.0.7";
    device.type = "QVN-1";
    device.firmwareBefore = "v QVN 4.0.2 01/01/15";
    device.result = result;
    device.attempts = 2;
    device.sends = 40;
    device.resends = 3;
    device.timeouts = 3;
    device.bytes = 3001;
    device.seconds = 2.5;
    device.error = result == "failed" ? "line 3 ERASE: no answer to ERASE after 16 sends" : "";
    device.endedUtc = ended;
    return device;
}

bool Exec(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    const bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

TEST(HistoryStoreTest, ARunWithTwoDevicesReadsBackNewestFirstAndOneWithoutEndIsUnfinished) {
    test::TempFolder folder;
    const auto file = folder.File("state/deep/history.db");  // its folders are made
    HistoryOpen opened = OpenHistory(file, true);
    ASSERT_TRUE(opened.store) << opened.error;
    HistoryStore& store = *opened.store;
    std::string error;
    const auto first = store.BeginRun(SomeRun("2026-12-09T10:00:00Z"), error);
    ASSERT_TRUE(first) << error;
    ASSERT_TRUE(store.RecordDevice(*first, SomeDevice("00:50:c2:1a:2b:3c", "upgraded", "2026-12-09T10:01:00Z"), error));
    ASSERT_TRUE(store.RecordDevice(*first, SomeDevice("00:50:c2:1a:2b:3d", "failed", "2026-12-09T10:02:00Z"), error));
    ASSERT_TRUE(store.EndRun(*first, 1, "2026-12-09T10:03:00Z", error)) << error;
    const auto second = store.BeginRun(SomeRun("2026-12-09T11:00:00Z"), error);
    ASSERT_TRUE(second);
    ASSERT_TRUE(store.RecordDevice(*second, SomeDevice("00:50:c2:1a:2b:3c", "upgraded", "2026-12-09T11:01:00Z"), error));

    std::vector<HistoryEntry> all;
    ASSERT_TRUE(store.Read({}, all, error)) << error;
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].device.endedUtc, "2026-12-09T11:01:00Z");
    EXPECT_FALSE(all[0].run.exitCode.has_value());  // killed before its end
    EXPECT_EQ(all[0].run.endedUtc, "");
    const HistoryEntry& failed = all[1];
    EXPECT_EQ(failed.device.mac, "00:50:c2:1a:2b:3d");
    EXPECT_EQ(failed.device.result, "failed");
    EXPECT_EQ(failed.device.error, "line 3 ERASE: no answer to ERASE after 16 sends");
    EXPECT_EQ(failed.device.firmwareBefore, "v QVN 4.0.2 01/01/15");
    EXPECT_EQ(failed.device.sends, 40);
    EXPECT_EQ(failed.device.resends, 3);
    EXPECT_EQ(failed.device.bytes, 3001);
    EXPECT_DOUBLE_EQ(failed.device.seconds, 2.5);
    EXPECT_EQ(failed.run.exitCode, 1);
    EXPECT_EQ(failed.run.endedUtc, "2026-12-09T10:03:00Z");
    EXPECT_EQ(failed.run.keyId, "RWQ0A1B2C3D4E5F6");
    EXPECT_EQ(failed.run.trustedComment, "release 4.1.0");
    EXPECT_EQ(failed.run.jobs, 2);

    std::vector<HistoryEntry> latest;
    ASSERT_TRUE(store.Read({"00:50:c2:1a:2b:3c", "", 1}, latest, error));
    ASSERT_EQ(latest.size(), 1u);
    EXPECT_EQ(latest[0].runId, *second);
    std::vector<HistoryEntry> since;
    ASSERT_TRUE(store.Read({"", "2026-12-09T10:30", 0}, since, error));
    EXPECT_EQ(since.size(), 1u);
}

TEST(HistoryStoreTest, ADeviceWrittenAgainInItsRunReplacesItsRow) {
    test::TempFolder folder;
    HistoryOpen opened = OpenHistory(folder.File("h.db"), true);
    ASSERT_TRUE(opened.store);
    std::string error;
    const auto run = opened.store->BeginRun(SomeRun("2026-12-09T10:00:00Z"), error);
    ASSERT_TRUE(opened.store->RecordDevice(*run, SomeDevice("00:50:c2:1a:2b:3c", "failed", "2026-12-09T10:01:00Z"), error));
    ASSERT_TRUE(opened.store->RecordDevice(*run, SomeDevice("00:50:c2:1a:2b:3c", "upgraded", "2026-12-09T10:05:00Z"), error));
    std::vector<HistoryEntry> all;
    ASSERT_TRUE(opened.store->Read({}, all, error));
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].device.result, "upgraded");
}

TEST(HistoryStoreTest, TwoWritersAtOnceBothComplete) {
    test::TempFolder folder;
    const auto file = folder.File("h.db");
    std::string errors[2];
    const auto writer = [&](int which) {
        HistoryOpen opened = OpenHistory(file, true);  // each its own connection, as two programs
        if (!opened.store) {
            errors[which] = opened.error;
            return;
        }
        for (int i = 0; i < 40 && errors[which].empty(); ++i) {
            const auto run = opened.store->BeginRun(SomeRun("2026-12-09T10:00:00Z"), errors[which]);
            if (!run) break;
            for (const char* mac : {"02:00:00:00:00:01", "02:00:00:00:00:02"})
                if (!opened.store->RecordDevice(*run, SomeDevice(mac, "upgraded", "2026-12-09T10:01:00Z"), errors[which]))
                    break;
            opened.store->EndRun(*run, 0, "2026-12-09T10:02:00Z", errors[which]);
        }
    };
    std::thread a(writer, 0);
    std::thread b(writer, 1);
    a.join();
    b.join();
    EXPECT_EQ(errors[0], "");
    EXPECT_EQ(errors[1], "");
    HistoryOpen reader = OpenHistory(file, false);
    ASSERT_TRUE(reader.store) << reader.error;
    std::vector<HistoryEntry> all;
    std::string error;
    ASSERT_TRUE(reader.store->Read({}, all, error)) << error;
    EXPECT_EQ(all.size(), 160u);
}

// Only reading (`history`, the History window) leaves a schema-1 file as it
// is and still reads its rows.
TEST(HistoryStoreTest, ASchemaOneFileOpenedToReadIsReadUnchanged) {
    test::TempFolder folder;
    const auto file = folder.File("old.db");
    ASSERT_TRUE(Exec(file, test::ReadText(HISTORY_SCHEMA1_SQL)));
    const std::string before = test::ReadText(file);
    HistoryOpen opened = OpenHistory(file, false);
    ASSERT_TRUE(opened.store) << opened.error;
    std::string error;
    std::vector<HistoryEntry> all;
    ASSERT_TRUE(opened.store->Read({}, all, error)) << error;
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].device.name, "Line 4");
    EXPECT_EQ(all[0].device.verify, "");
    EXPECT_EQ(all[0].run.trustedComment, "");
    opened.store.reset();
    EXPECT_EQ(test::ReadText(file), before);
}

TEST(HistoryStoreTest, ASchemaOneFileIsMigratedInPlaceAndKeepsItsRows) {
    test::TempFolder folder;
    const auto file = folder.File("old.db");
    ASSERT_TRUE(Exec(file, test::ReadText(HISTORY_SCHEMA1_SQL)));
    HistoryOpen opened = OpenHistory(file, true);
    ASSERT_TRUE(opened.store) << opened.error;
    EXPECT_TRUE(opened.store->Writable());
    EXPECT_EQ(opened.warning, "");
    std::string error;
    std::vector<HistoryEntry> all;
    ASSERT_TRUE(opened.store->Read({}, all, error)) << error;
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].device.name, "Line 4");
    EXPECT_EQ(all[0].device.firmwareAfter, "");
    EXPECT_EQ(all[0].run.version, "4.0.1");
    EXPECT_EQ(all[0].run.exitCode, 0);
    // The new columns take writes.
    HistoryDevice device = SomeDevice("00:50:c2:1a:2b:3c", "upgraded", "2026-12-10T08:00:00Z");
    device.firmwareAfter = "v QVN 4.1.0 12/01/26";
    device.verify = "verified";
    const auto run = opened.store->BeginRun(SomeRun("2026-12-10T07:59:00Z"), error);
    ASSERT_TRUE(run) << error;
    ASSERT_TRUE(opened.store->RecordDevice(*run, device, error)) << error;
    all.clear();
    ASSERT_TRUE(opened.store->Read({"", "", 1}, all, error));
    EXPECT_EQ(all[0].device.verify, "verified");
    opened.store.reset();
    HistoryOpen again = OpenHistory(file, false);
    ASSERT_TRUE(again.store);
    EXPECT_EQ(again.warning, "");  // schema 2 now
}

TEST(HistoryStoreTest, ANewerSchemaIsLeftUnchangedAndNotWritten) {
    test::TempFolder folder;
    const auto file = folder.File("new.db");
    ASSERT_TRUE(Exec(file, "CREATE TABLE runs (id INTEGER PRIMARY KEY, future TEXT); PRAGMA user_version = 3;"));
    const std::string before = test::ReadText(file);
    HistoryOpen opened = OpenHistory(file, true);
    ASSERT_TRUE(opened.store) << opened.error;
    EXPECT_FALSE(opened.store->Writable());
    EXPECT_EQ(opened.warning, file.string() +
                                  ": the history's schema 3 is newer than this program's 2; nothing is recorded in it");
    std::string error;
    EXPECT_FALSE(opened.store->BeginRun(SomeRun("2026-12-09T10:00:00Z"), error));
    EXPECT_EQ(error, file.string() + ": the history is read-only");
    opened.store.reset();
    EXPECT_EQ(test::ReadText(file), before);
}

TEST(HistoryStoreTest, AFileThatCannotBeOpenedIsSaidWithSqlitesReason) {
    test::TempFolder folder;
    EXPECT_EQ(OpenHistory(folder.File("none.db"), false).error,
              folder.File("none.db").string() + ": cannot open the history: unable to open database file");
    ASSERT_TRUE(test::WriteText(folder.File("text.db"), "this is not a database, only some text of its own\n"));
    EXPECT_EQ(OpenHistory(folder.File("text.db"), true).error,
              folder.File("text.db").string() + ": cannot read the history: file is not a database");
}

TEST(HistoryStoreTest, DefaultPathAndWords) {
    EXPECT_EQ(DefaultHistoryPath("/x/state", "/home/t"), "/x/state/quorvane-upgrade/history.db");
    EXPECT_EQ(DefaultHistoryPath("", "/home/t"), "/home/t/.local/state/quorvane-upgrade/history.db");
    EXPECT_EQ(DefaultHistoryPath(nullptr, nullptr), "");
    struct Case {
        DeviceState state;
        bool dryRun;
        const char* word;
    } cases[] = {
        {DeviceState::Upgraded, false, "upgraded"},       {DeviceState::Failed, false, "failed"},
        {DeviceState::Interrupted, false, "interrupted"}, {DeviceState::Waiting, false, "not started"},
        {DeviceState::Waiting, true, "dry-run"},
    };
    for (const Case& c : cases) EXPECT_STREQ(HistoryResultWord(c.state, c.dryRun), c.word);
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// The Firmware cell answers "what does it run now": a device the script was
// sent to and not checked after never shows its old firmware alone.
TEST(HistoryStoreTest, TheFirmwareCellSaysWhenWhatADeviceRunsWasNotChecked) {
    struct Case {
        const char* result;
        const char* after;
        const char* cell;
    } cases[] = {
        {"upgraded", "v QVN 4.1.0 12/01/26", "v QVN 4.0.2 01/01/15 -> v QVN 4.1.0 12/01/26"},
        {"upgraded", "", "v QVN 4.0.2 01/01/15 -> not checked"},
        {"failed", "", "v QVN 4.0.2 01/01/15 -> not checked"},
        {"interrupted", "", "v QVN 4.0.2 01/01/15 -> not checked"},
        {"not started", "", "v QVN 4.0.2 01/01/15"},
        {"dry-run", "", "v QVN 4.0.2 01/01/15"},
    };
    const HistoryColumn& firmware = HistoryColumns().at(4);
    ASSERT_STREQ(firmware.title, "Firmware");
    for (const Case& c : cases) {
        HistoryEntry entry;
        entry.device = SomeDevice("00:50:c2:1a:2b:3c", c.result, "2026-12-10T09:00:00Z");
        entry.device.firmwareAfter = c.after;
        EXPECT_EQ(firmware.text(entry), c.cell) << c.result;
    }
}

}  // namespace
}  // namespace quorvane
