#pragma once
// What one upgrade run leaves in the history (app/history_store.h): the
// run's row when it begins, a device's row the moment the device is done,
// the rest at the end. Front ends open it from their options (StartHistory)
// and hand it to the run; a run without one records nothing.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/global_option_table.h"
#include "app/history_store.h"
#include "app/run_model.h"
#include "app/forwarding_progress.h"
#include "app/upgrade_command.h"

namespace quorvane {

// $XDG_STATE_HOME/quorvane-upgrade/history.db, else under
// ~/.local/state; empty when neither variable is set. Null or empty
// variables are left out.
std::filesystem::path DefaultHistoryPath(const char* xdgStateHome, const char* home);

// "upgraded", "failed", "interrupted", "not started", "current" for a
// device that already ran the wanted firmware, or "dry-run" for a device a
// dry run left waiting.
const char* HistoryResultWord(DeviceState state, bool dryRun);

// A device's row as the model has it now, ended at `endedUtc`.
HistoryDevice HistoryDeviceOf(const DeviceResult& device, bool dryRun, const std::string& endedUtc);

class HistoryRecorder {
public:
    // `facts`: what the front end knows of the run (program, version, user,
    // host, jobs, retries); the run adds the package's.
    HistoryRecorder(std::unique_ptr<HistoryStore> store, HistoryRun facts)
        : store_(std::move(store)), facts_(std::move(facts)) {}

    // The run's row, with the package's path, SHA-256 of `packageBytes`,
    // key id and trusted comment. A second Begin starts a new run row.
    void Begin(const std::string& packagePath, std::string_view packageBytes, const std::string& keyId,
               const std::string& trustedComment);
    // The device's row as it is now; written again when it is (a retry).
    void RecordDevice(const DeviceResult& device, bool dryRun = false);
    // Every device of `model` and the run's end with `exitCode`.
    void End(const RunModel& model, int exitCode, bool dryRun = false);

    // The devices at once of the next run, where a front end lets each run
    // choose its own.
    void SetJobs(int jobs) { facts_.jobs = jobs; }

    bool Begun() const { return runId_.has_value(); }
    // The first write that failed, naming the file and SQLite's reason;
    // the run goes on without the rows that could not be written.
    const std::string& Error() const { return error_; }
    const HistoryStore& Store() const { return *store_; }

private:
    void Note(const std::string& error);

    std::unique_ptr<HistoryStore> store_;
    HistoryRun facts_;
    std::optional<int64_t> runId_;
    std::mutex lock_;  // devices side by side end on threads of their own
    std::string error_;
};

// The history the options choose, opened for writing: `recorder` null when
// --no-history is given or it could not be opened. A history named with
// --history that cannot be written is `error` (the run must not start); at
// the default path that is a `warning` and the run goes on unrecorded.
struct HistoryStart {
    std::unique_ptr<HistoryRecorder> recorder;
    std::string error;
    std::string warning;
};

// `program` "upgradectl" or "quorvane-upgrade"; user, host and the version
// are this computer's and this build's; the path from the options or the
// environment (XDG_STATE_HOME, HOME).
HistoryStart StartHistory(const GlobalOptions& options, const std::string& program, int jobs, int retries);

// The history path the options name, else the default one.
std::filesystem::path HistoryPathOf(const GlobalOptions& options);

// Passes every call on to `display` (none: nothing shown) and writes the
// device's row when it ends, after the model has its end.
class HistoryProgress final : public ForwardingProgress {
public:
    HistoryProgress(HistoryRecorder& recorder, const RunModel& model, UpgradeProgress* display)
        : ForwardingProgress(display), recorder_(recorder), model_(model) {}

    void OnDeviceEnd(std::size_t index, bool succeeded) override;

private:
    HistoryRecorder& recorder_;
    const RunModel& model_;
};

}  // namespace quorvane
