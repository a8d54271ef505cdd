#include "app/history_recorder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "app/column_text.h"
#include "protocol/mac_text.h"
#include "res/version_line.h"

namespace quorvane {
namespace {

std::string UserName() {
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr)
        return entry->pw_name;
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string NowUtc() { return UtcText(std::chrono::system_clock::now()); }

std::string Column(const AdmittedDevice& device, int key) {
    std::string text;
    DeviceColumnText(&device, text, key);
    return text;
}

}  // namespace

std::filesystem::path DefaultHistoryPath(const char* xdgStateHome, const char* home) {
    const std::filesystem::path relative = "quorvane-upgrade/history.db";
    if (xdgStateHome != nullptr && *xdgStateHome != '\0') return std::filesystem::path(xdgStateHome) / relative;
    if (home != nullptr && *home != '\0') return std::filesystem::path(home) / ".local/state" / relative;
    return {};
}

const char* HistoryResultWord(DeviceState state, bool dryRun) {
    switch (state) {
    case DeviceState::Upgraded: return "upgraded";
    case DeviceState::Failed: return "failed";
    case DeviceState::Interrupted: return "interrupted";
    // A device whose run was under way when the run ended did not finish it.
    case DeviceState::Running: return "interrupted";
    case DeviceState::Current: return "current";
    case DeviceState::Waiting: break;
    }
    return dryRun ? "dry-run" : "not started";
}

HistoryDevice HistoryDeviceOf(const DeviceResult& result, bool dryRun, const std::string& endedUtc) {
    HistoryDevice device;
    if (result.record != nullptr) {
        const AdmittedDevice admitted = WithSummary(*result.record);
        device.mac = FormatMac(result.record->mac);
        device.name = Column(admitted, KEY_NAME);
        device.ipv4 = Column(admitted, KEY_IP);
        device.type = Column(admitted, KEY_DEVICE_TYPE);
        device.firmwareBefore = Column(admitted, KEY_FIRMWARE);
    }
    device.result = HistoryResultWord(result.state, dryRun);
    device.firmwareAfter = result.returned.firmwareAfter;
    if (result.ReachedReturnCheck()) device.verify = ReturnWord(result.returned.outcome);
    const ExchangeStats& exchanges = result.counters.exchanges;
    device.attempts = result.counters.attempts;
    device.sends = static_cast<int64_t>(exchanges.sends);
    device.resends = static_cast<int64_t>(exchanges.resends);
    device.timeouts = static_cast<int64_t>(exchanges.timeouts);
    device.bytes = static_cast<int64_t>(exchanges.bytes);
    device.seconds = std::chrono::duration<double>(result.counters.elapsed).count();
    device.error = result.error;
    device.endedUtc = endedUtc;
    return device;
}

void HistoryRecorder::Note(const std::string& error) {
    if (error_.empty()) error_ = error;
}

void HistoryRecorder::Begin(const std::string& packagePath, std::string_view packageBytes, const std::string& keyId,
                            const std::string& trustedComment) {
    const std::lock_guard<std::mutex> guard(lock_);
    HistoryRun run = facts_;
    run.startedUtc = NowUtc();
    run.packagePath = packagePath;
    run.packageSha256 = packageBytes.empty() ? "" : Sha256Hex(packageBytes);
    run.keyId = keyId;
    run.trustedComment = trustedComment;
    std::string error;
    runId_ = store_->BeginRun(run, error);
    if (!runId_) Note(error);
}

void HistoryRecorder::RecordDevice(const DeviceResult& device, bool dryRun) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!runId_) return;
    std::string error;
    if (!store_->RecordDevice(*runId_, HistoryDeviceOf(device, dryRun, NowUtc()), error)) Note(error);
}

void HistoryRecorder::End(const RunModel& model, int exitCode, bool dryRun) {
    // Devices that ended were written then; the others (not started, or
    // left by a stop) get theirs now.
    for (const DeviceResult& device : model.devices)
        if (!device.Finished()) RecordDevice(device, dryRun);
    const std::lock_guard<std::mutex> guard(lock_);
    if (!runId_) return;
    std::string error;
    if (!store_->EndRun(*runId_, exitCode, NowUtc(), error)) Note(error);
    runId_.reset();
}

std::filesystem::path HistoryPathOf(const GlobalOptions& options) {
    if (options.history) return *options.history;
    return DefaultHistoryPath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
}

HistoryStart StartHistory(const GlobalOptions& options, const std::string& program, int jobs, int retries) {
    HistoryStart start;
    if (options.noHistory) return start;
    const std::filesystem::path path = HistoryPathOf(options);
    if (path.empty()) {
        start.warning = "no history is recorded: neither XDG_STATE_HOME nor HOME is set";
        return start;
    }
    HistoryOpen opened = OpenHistory(path, true);
    if (!opened.store || !opened.store->Writable()) {
        std::string why = !opened.error.empty() ? opened.error : opened.warning;
        (options.history ? start.error : start.warning) = std::move(why);
        return start;
    }
    HistoryRun facts;
    facts.program = program;
    facts.version = DisplayVersion();
    facts.user = UserName();
    facts.host = HostName();
    facts.jobs = jobs;
    facts.retries = retries;
    start.recorder = std::make_unique<HistoryRecorder>(std::move(opened.store), std::move(facts));
    return start;
}

void HistoryProgress::OnDeviceEnd(std::size_t index, bool succeeded) {
    // Written before the display hears of it: a run killed then still has it.
    if (index < model_.devices.size()) recorder_.RecordDevice(model_.devices[index]);
    ForwardingProgress::OnDeviceEnd(index, succeeded);
}

}  // namespace quorvane
