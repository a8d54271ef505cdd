#include "app/history_store.h"

#include <sodium.h>
#include <sqlite3.h>

#include <ctime>
#include <system_error>

namespace quorvane {
namespace {

// Long enough for another run's device row to be written; a run never
// holds the database for more than one row.
constexpr int BUSY_TIMEOUT_MS = 5000;

constexpr const char* CREATE_SCHEMA = R"sql(
CREATE TABLE runs (
  id INTEGER PRIMARY KEY,
  started_utc TEXT NOT NULL,
  ended_utc TEXT,
  program TEXT NOT NULL,
  version TEXT NOT NULL,
  user TEXT NOT NULL,
  host TEXT NOT NULL,
  package_path TEXT NOT NULL,
  package_sha256 TEXT NOT NULL,
  key_id TEXT NOT NULL,
  trusted_comment TEXT NOT NULL DEFAULT '',
  jobs INTEGER NOT NULL,
  retries INTEGER NOT NULL,
  exit_code INTEGER
);
CREATE TABLE device_runs (
  id INTEGER PRIMARY KEY,
  run_id INTEGER NOT NULL REFERENCES runs(id),
  mac TEXT NOT NULL,
  name TEXT NOT NULL,
  ipv4 TEXT NOT NULL,
  type TEXT NOT NULL,
  firmware_before TEXT NOT NULL,
  firmware_after TEXT NOT NULL DEFAULT '',
  result TEXT NOT NULL,
  verify TEXT NOT NULL DEFAULT '',
  attempts INTEGER NOT NULL,
  sends INTEGER NOT NULL,
  resends INTEGER NOT NULL,
  timeouts INTEGER NOT NULL,
  bytes INTEGER NOT NULL,
  seconds REAL NOT NULL,
  error TEXT NOT NULL,
  ended_utc TEXT NOT NULL,
  UNIQUE (run_id, mac)
);
CREATE INDEX device_runs_mac ON device_runs (mac);
PRAGMA user_version = 2;
)sql";

// Version 1 to 2: what the check after the reset and signed packages add.
constexpr const char* MIGRATE_FROM_1 = R"sql(
ALTER TABLE runs ADD COLUMN trusted_comment TEXT NOT NULL DEFAULT '';
ALTER TABLE device_runs ADD COLUMN firmware_after TEXT NOT NULL DEFAULT '';
ALTER TABLE device_runs ADD COLUMN verify TEXT NOT NULL DEFAULT '';
PRAGMA user_version = 2;
)sql";

// One prepared statement, finalized when it goes.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return statement_ != nullptr; }
    Statement& Text(const std::string& value) {
        sqlite3_bind_text(statement_, ++bound_, value.c_str(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Int(int64_t value) {
        sqlite3_bind_int64(statement_, ++bound_, value);
        return *this;
    }
    Statement& Real(double value) {
        sqlite3_bind_double(statement_, ++bound_, value);
        return *this;
    }
    int Step() { return sqlite3_step(statement_); }
    std::string TextAt(int column) const {
        const unsigned char* text = sqlite3_column_text(statement_, column);
        return text != nullptr ? reinterpret_cast<const char*>(text) : "";
    }
    int64_t IntAt(int column) const { return sqlite3_column_int64(statement_, column); }
    double RealAt(int column) const { return sqlite3_column_double(statement_, column); }
    bool NullAt(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

private:
    sqlite3_stmt* statement_ = nullptr;
    int bound_ = 0;
};

int SchemaVersion(sqlite3* db) {
    Statement version(db, "PRAGMA user_version");
    return version.Ok() && version.Step() == SQLITE_ROW ? static_cast<int>(version.IntAt(0)) : -1;
}

}  // namespace

HistoryStore::~HistoryStore() { sqlite3_close(db_); }

std::string HistoryStore::Failure(const std::string& what) const {
    return path_.string() + ": " + what + ": " + sqlite3_errmsg(db_);
}

bool HistoryStore::Exec(const char* sql, std::string& error) const {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = path_.string() + ": " + (message != nullptr ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return false;
}

std::optional<int64_t> HistoryStore::BeginRun(const HistoryRun& run, std::string& error) {
    if (!writable_) {
        error = path_.string() + ": the history is read-only";
        return std::nullopt;
    }
    Statement insert(db_,
                     "INSERT INTO runs (started_utc, program, version, user, host, package_path, package_sha256,"
                     " key_id, trusted_comment, jobs, retries) VALUES (?,?,?,?,?,?,?,?,?,?,?)");
    if (!insert.Ok()) {
        error = Failure("cannot record the run");
        return std::nullopt;
    }
    insert.Text(run.startedUtc).Text(run.program).Text(run.version).Text(run.user).Text(run.host);
    insert.Text(run.packagePath).Text(run.packageSha256).Text(run.keyId).Text(run.trustedComment);
    insert.Int(run.jobs).Int(run.retries);
    if (insert.Step() != SQLITE_DONE) {
        error = Failure("cannot record the run");
        return std::nullopt;
    }
    return sqlite3_last_insert_rowid(db_);
}

bool HistoryStore::RecordDevice(int64_t runId, const HistoryDevice& device, std::string& error) {
    if (!writable_) {
        error = path_.string() + ": the history is read-only";
        return false;
    }
    Statement insert(db_,
                     "INSERT OR REPLACE INTO device_runs (run_id, mac, name, ipv4, type, firmware_before,"
                     " firmware_after, result, verify, attempts, sends, resends, timeouts, bytes, seconds, error,"
                     " ended_utc) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (insert.Ok()) {
        insert.Int(runId).Text(device.mac).Text(device.name).Text(device.ipv4).Text(device.type);
        insert.Text(device.firmwareBefore).Text(device.firmwareAfter).Text(device.result).Text(device.verify);
        insert.Int(device.attempts).Int(device.sends).Int(device.resends).Int(device.timeouts).Int(device.bytes);
        insert.Real(device.seconds).Text(device.error).Text(device.endedUtc);
        if (insert.Step() == SQLITE_DONE) return true;
    }
    error = Failure("cannot record device " + device.mac);
    return false;
}

bool HistoryStore::EndRun(int64_t runId, int exitCode, const std::string& endedUtc, std::string& error) {
    if (!writable_) {
        error = path_.string() + ": the history is read-only";
        return false;
    }
    Statement update(db_, "UPDATE runs SET ended_utc = ?, exit_code = ? WHERE id = ?");
    if (update.Ok() && update.Text(endedUtc).Int(exitCode).Int(runId).Step() == SQLITE_DONE) return true;
    error = Failure("cannot record the end of the run");
    return false;
}

bool HistoryStore::Read(const HistoryQuery& query, std::vector<HistoryEntry>& out, std::string& error) const {
    // Schema 1 had no trusted comment, firmware after or verify outcome:
    // a file of it that is only read gives them empty.
    const bool old = schema_ < 2;
    const std::string sql =
        std::string("SELECT r.id, r.started_utc, r.ended_utc, r.program, r.version, r.user, r.host,"
                    " r.package_path, r.package_sha256, r.key_id, ") +
        (old ? "''" : "r.trusted_comment") +
        ", r.jobs, r.retries, r.exit_code, d.mac, d.name, d.ipv4, d.type, d.firmware_before, " +
        (old ? "''" : "d.firmware_after") + ", d.result, " + (old ? "''" : "d.verify") +
        ", d.attempts, d.sends, d.resends, d.timeouts, d.bytes, d.seconds, d.error, d.ended_utc"
        " FROM device_runs d JOIN runs r ON r.id = d.run_id"
        " WHERE (?1 = '' OR d.mac = ?1) AND (?2 = '' OR r.started_utc >= ?2)"
        " ORDER BY d.ended_utc DESC, d.id DESC LIMIT ?3";
    Statement select(db_, sql.c_str());
    if (!select.Ok()) {
        error = Failure("cannot read the history");
        return false;
    }
    select.Text(query.mac).Text(query.since).Int(query.limit == 0 ? -1 : static_cast<int64_t>(query.limit));
    int step = SQLITE_ROW;
    while ((step = select.Step()) == SQLITE_ROW) {
        HistoryEntry entry;
        int c = 0;
        entry.runId = select.IntAt(c++);
        HistoryRun& run = entry.run;
        for (std::string* field : {&run.startedUtc, &run.endedUtc, &run.program, &run.version, &run.user,
                                   &run.host, &run.packagePath, &run.packageSha256, &run.keyId,
                                   &run.trustedComment})
            *field = select.TextAt(c++);
        run.jobs = static_cast<int>(select.IntAt(c++));
        run.retries = static_cast<int>(select.IntAt(c++));
        if (!select.NullAt(c)) run.exitCode = static_cast<int>(select.IntAt(c));
        ++c;
        HistoryDevice& device = entry.device;
        for (std::string* field : {&device.mac, &device.name, &device.ipv4, &device.type, &device.firmwareBefore,
                                   &device.firmwareAfter, &device.result, &device.verify})
            *field = select.TextAt(c++);
        device.attempts = static_cast<int>(select.IntAt(c++));
        for (int64_t* field : {&device.sends, &device.resends, &device.timeouts, &device.bytes})
            *field = select.IntAt(c++);
        device.seconds = select.RealAt(c++);
        device.error = select.TextAt(c++);
        device.endedUtc = select.TextAt(c++);
        out.push_back(std::move(entry));
    }
    if (step == SQLITE_DONE) return true;
    error = Failure("cannot read the history");
    return false;
}

namespace {

// Brings a writable database to HISTORY_SCHEMA in one transaction, taken
// for writing at once so that two programs creating it together never
// both create it. `warning` is set for a newer schema, left as it is.
bool PrepareSchema(sqlite3* db, const std::string& name, std::string& error, std::string& warning) {
    const auto fail = [&](const char* what) {
        error = name + ": " + what + ": " + sqlite3_errmsg(db);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("cannot open the history");
    const int version = SchemaVersion(db);
    if (version < 0) return fail("cannot open the history");
    if (version > HISTORY_SCHEMA) {
        warning = name + ": the history's schema " + std::to_string(version) + " is newer than this program's " +
                  std::to_string(HISTORY_SCHEMA) + "; nothing is recorded in it";
    } else if (version == 0 && sqlite3_exec(db, CREATE_SCHEMA, nullptr, nullptr, nullptr) != SQLITE_OK) {
        return fail("cannot create the history");
    } else if (version == 1 && sqlite3_exec(db, MIGRATE_FROM_1, nullptr, nullptr, nullptr) != SQLITE_OK) {
        return fail("cannot migrate the history from schema 1");
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return fail("cannot open the history");
    return true;
}

}  // namespace

HistoryOpen OpenHistory(const std::filesystem::path& path, bool create) {
    HistoryOpen opened;
    const std::string name = path.string();
    std::error_code ignored;
    if (create && path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
    sqlite3* db = nullptr;
    const int flags = create ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(name.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        opened.error = name + ": cannot open the history: " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return opened;
    }
    sqlite3_busy_timeout(db, BUSY_TIMEOUT_MS);
    const int version = SchemaVersion(db);
    if (version < 0) {
        opened.error = name + ": cannot read the history: " + sqlite3_errmsg(db);
        sqlite3_close(db);
        return opened;
    }
    // A newer program's history is read as it is and never written.
    if (version > HISTORY_SCHEMA) {
        opened.warning = name + ": the history's schema " + std::to_string(version) +
                         " is newer than this program's " + std::to_string(HISTORY_SCHEMA) +
                         "; nothing is recorded in it";
        create = false;
    } else if (create) {
        // WAL lets readers and one writer at a time work side by side; a
        // commit then survives the program being killed without waiting
        // for the disk each time (synchronous NORMAL).
        if (sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr) !=
                SQLITE_OK ||
            !PrepareSchema(db, name, opened.error, opened.warning)) {
            if (opened.error.empty()) opened.error = name + ": cannot open the history: " + sqlite3_errmsg(db);
            sqlite3_close(db);
            return opened;
        }
    }
    const bool writable = create && opened.warning.empty();
    // A file this program just created or migrated is of its own schema.
    opened.store.reset(new HistoryStore(db, path, writable, create ? HISTORY_SCHEMA : version));
    return opened;
}

std::string UtcText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    static constexpr char HEX[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += HEX[byte >> 4];
        text += HEX[byte & 0x0f];
    }
    return text;
}

}  // namespace quorvane
