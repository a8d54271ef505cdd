#pragma once
// The upgrade history: one SQLite database per user that every run of
// either program adds to, a row per run and a row per device of it, each
// written in a transaction of its own so that a run that is killed still
// leaves the devices it finished. Several programs may write at once (WAL,
// a busy timeout). Nothing here throws: every failure is a text that names
// the file and SQLite's reason.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace quorvane {

// The schema this program writes (PRAGMA user_version). Version 1 had no
// trusted comment, no firmware after the reset and no verify outcome.
inline constexpr int HISTORY_SCHEMA = 2;

// One run, as `runs` holds it. Times are UTC, "2026-12-09T20:48:55Z".
struct HistoryRun {
    std::string startedUtc;
    std::string endedUtc;  // empty: the run did not finish
    std::string program;
    std::string version;
    std::string user;
    std::string host;
    std::string packagePath;
    std::string packageSha256;  // lower-case hex; empty when unknown
    std::string keyId;          // empty: the package was not signed
    std::string trustedComment;
    int jobs = 1;
    int retries = 0;
    std::optional<int> exitCode;  // none: the run did not finish
};

// One device of a run, as `device_runs` holds it.
struct HistoryDevice {
    std::string mac;
    std::string name;
    std::string ipv4;
    std::string type;
    std::string firmwareBefore;
    std::string firmwareAfter;
    std::string result;  // "upgraded", "failed", "interrupted", "not started", "dry-run"
    std::string verify;
    int attempts = 0;
    int64_t sends = 0;
    int64_t resends = 0;
    int64_t timeouts = 0;
    int64_t bytes = 0;
    double seconds = 0;
    std::string error;
    std::string endedUtc;
};

// A device run read back, with the run it belongs to.
struct HistoryEntry {
    int64_t runId = 0;
    HistoryRun run;
    HistoryDevice device;
};

// Which device runs to read; empty fields choose all.
struct HistoryQuery {
    std::string mac;    // as recorded, "00:50:c2:1a:2b:3c"
    std::string since;  // a UTC date or time; runs started before it are left out
    std::size_t limit = 0;
};

struct HistoryOpen;

class HistoryStore {
public:
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // False when the database is of a newer schema: it is only read.
    bool Writable() const { return writable_; }
    const std::filesystem::path& Path() const { return path_; }

    // Each write is one transaction; false with `error` set when it failed.
    std::optional<int64_t> BeginRun(const HistoryRun& run, std::string& error);
    // A device is written once per run: a later write of the same MAC (a
    // retry after the batch) replaces the earlier one.
    bool RecordDevice(int64_t runId, const HistoryDevice& device, std::string& error);
    bool EndRun(int64_t runId, int exitCode, const std::string& endedUtc, std::string& error);

    // Newest first.
    bool Read(const HistoryQuery& query, std::vector<HistoryEntry>& out, std::string& error) const;

private:
    friend HistoryOpen OpenHistory(const std::filesystem::path& path, bool create);
    HistoryStore(sqlite3* db, std::filesystem::path path, bool writable, int schema)
        : db_(db), path_(std::move(path)), writable_(writable), schema_(schema) {}
    bool Exec(const char* sql, std::string& error) const;
    std::string Failure(const std::string& what) const;

    sqlite3* db_;
    std::filesystem::path path_;
    bool writable_;
    int schema_;  // of the file; an older one opened only to read is read as it is
};

struct HistoryOpen {
    std::unique_ptr<HistoryStore> store;  // null: `error` says why
    std::string error;
    // Opened, but only for reading: why ("... newer than this program's").
    std::string warning;
};

// Opens the database at `path`. `create`: made (with its folders) when
// missing, and brought to HISTORY_SCHEMA; otherwise a missing file is an
// error and nothing is changed. An older schema is migrated in place in
// one transaction; a newer one is left as it is and opened read-only.
HistoryOpen OpenHistory(const std::filesystem::path& path, bool create);

// `time` as the history writes it: "2026-12-09T20:48:55Z".
std::string UtcText(std::chrono::system_clock::time_point time);

// The SHA-256 of `bytes`, as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace quorvane
