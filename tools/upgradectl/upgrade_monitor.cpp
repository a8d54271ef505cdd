#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/upgrade_monitor.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include "app/failure_text.h"
#include "app/interrupted_text.h"
#include "app/run_events.h"
#include "protocol/mac_text.h"
#include "res/string_format.h"
#include "res/string_ids.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

const char* StopName(UpgradeOutcome::Stop stop) {
    switch (stop) {
        case UpgradeOutcome::Stop::None:
            return "none";
        case UpgradeOutcome::Stop::NothingSelected:
            return "nothingSelected";
        case UpgradeOutcome::Stop::ReadsClash:
            return "readsClash";
        case UpgradeOutcome::Stop::MacShared:
            return "macShared";
        case UpgradeOutcome::Stop::MacRefused:
            return "macRefused";
        case UpgradeOutcome::Stop::FirmwareRefused:
            return "firmwareRefused";
        case UpgradeOutcome::Stop::WarningDeclined:
            return "warningDeclined";
        case UpgradeOutcome::Stop::DevicesDeclined:
            return "devicesDeclined";
        case UpgradeOutcome::Stop::Interrupted:
            return "interrupted";
    }
    return "none";
}

// null, "canary-failed" or "budget-reached": why devices were not started.
nlohmann::ordered_json HaltWord(RolloutHalt halt) {
    switch (halt) {
        case RolloutHalt::None:
            break;
        case RolloutHalt::CanaryFailed:
            return "canary-failed";
        case RolloutHalt::BudgetReached:
            return "budget-reached";
    }
    return nullptr;
}

double Seconds(std::chrono::microseconds time) {
    return static_cast<double>(time.count()) / 1e6;
}

}  // namespace

UpgradeMonitor::UpgradeMonitor(PromptPolicy policy, bool showProgress, bool listResults,
                               const InterruptWatch* interrupts)
    : status_(std::cerr, TerminalColumns()),
      prompter_(policy, std::cin, std::cerr, &status_),
      listResults_(listResults && !showProgress),
      interrupts_(interrupts) {
    if (showProgress) bar_.emplace(status_, std::cerr);
}

const DeviceResult* UpgradeMonitor::Device(std::size_t index) const {
    return model_ != nullptr && index < model_->devices.size() ? &model_->devices[index] : nullptr;
}

nlohmann::ordered_json UpgradeMonitor::Report(const UpgradeOutcome& outcome, int exitCode) const {
    nlohmann::ordered_json report;
    // Each value under the report's old key and the run-done event's key.
    report["exitCode"] = exitCode;
    report["exit_code"] = exitCode;
    report["stop"] = StopName(outcome.stop);
    report["succeeded"] = outcome.succeeded;
    report["ok"] = outcome.succeeded;
    report["failed"] = outcome.failed;
    report["current"] = outcome.current;
    report["not_started"] = outcome.notStarted;
    report["halt"] = HaltWord(outcome.halt);
    report["devices"] = nlohmann::ordered_json::array();
    // A refused selection ran nothing: its devices are not the run's.
    const bool ran = outcome.stop == UpgradeOutcome::Stop::None || outcome.stop == UpgradeOutcome::Stop::Interrupted;
    for (std::size_t i = 0; Device(i) != nullptr; ++i) {
        const DeviceResult& result = *Device(i);
        if (!ran && !result.Started()) continue;
        const bool succeeded = result.state == DeviceState::Upgraded;
        // "ok" as the device-done event has it; "succeeded" as reports had it before.
        nlohmann::ordered_json device = {{"mac", FormatMac(result.record->mac)},
                                         {"result", ResultWord(result)},
                                         {"attempts", result.counters.attempts},
                                         {"succeeded", succeeded},
                                         {"ok", succeeded}};
        if (!result.Started()) {
            // Current, or never started: the firmware it has, nothing run.
            device["firmware"] = TextOrNull(result.returned.firmwareBefore);
            report["devices"].push_back(std::move(device));
            continue;
        }
        if (result.state == DeviceState::Interrupted) device["interrupted"] = true;
        if (!succeeded && !result.error.empty()) device["error"] = result.error;
        if (result.Finished()) {
            device.update(DeviceCountersJson(result.counters));
            device.update(ReturnJson(result));
        }
        report["devices"].push_back(std::move(device));
    }
    return report;
}

void UpgradeMonitor::DrawSideBySide(std::size_t count) {
    if (!bar_) return;
    bar_.reset();
    board_.emplace(std::cerr, count, TerminalColumns());
}

void UpgradeMonitor::TellInterrupted() {
    status_.Clear();
    if (board_) board_->Clear();
    const RunModel none;
    for (const std::string& line : InterruptedLines(model_ != nullptr ? *model_ : none))
        std::cerr << MESSAGE_PREFIX << line << '\n';
    std::cerr << std::flush;
}

void UpgradeMonitor::PrintSummary(std::ostream& out, const UpgradeOutcome& outcome) const {
    for (std::size_t i = 0; Device(i) != nullptr; ++i) {
        const DeviceResult& result = *Device(i);
        const std::string mac = FormatMac(result.record->mac);
        if (result.state == DeviceState::Current) {
            out << MESSAGE_PREFIX << mac << ": current, firmware " << PrintableText(result.returned.firmwareBefore)
                << '\n';
            continue;
        }
        // A stop names the devices it left out in lines of its own.
        if (!result.Started() && outcome.halt != RolloutHalt::None) {
            out << MESSAGE_PREFIX << mac << ": not started\n";
            continue;
        }
        if (!result.Finished()) continue;
        const ExchangeStats& e = result.counters.exchanges;
        const double seconds = Seconds(result.counters.elapsed);
        const double bytesPerSecond = seconds > 0 ? static_cast<double>(e.bytes) / seconds : 0.0;
        char line[160];
        std::snprintf(line, sizeof line, "%s: %s, %llu bytes in %.2f s (%s), %llu resends",
                      FormatMac(result.record->mac).c_str(), StateWord(result.state),
                      static_cast<unsigned long long>(e.bytes), seconds, RateText(bytesPerSecond).c_str(),
                      static_cast<unsigned long long>(e.resends));
        out << MESSAGE_PREFIX << line;
        if (result.state != DeviceState::Upgraded && !result.error.empty())
            out << " (" << PrintableText(result.error) << ')';
        if (const std::string returned = ReturnText(result.returned); !returned.empty())
            out << ", " << PrintableText(returned);
        out << '\n';
    }
    if (const std::string halt = HaltText(outcome); !halt.empty()) out << MESSAGE_PREFIX << halt << '\n';
    out << std::flush;
}

void UpgradeMonitor::OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) {
    prompter_.DeviceStarted(index);
    if (listedTenths_.size() < count) listedTenths_.resize(count);
    count_ = count;
    if (bar_) bar_->OnDeviceStart(index, count, record);
    if (board_) board_->Start(index, Prefix(index));
}

void UpgradeMonitor::OnDeviceCounters(std::size_t, const DeviceCounters&) {}

void UpgradeMonitor::ListTransfer(std::size_t index, std::string_view fileName, uint64_t done,
                                  uint64_t total) {
    uint64_t& listed = listedTenths_[index];
    if (done == 0) listed = 0;
    const uint64_t tenths = total == 0 ? 10 : std::min(done, total) * 10 / total;
    if (tenths <= listed) return;
    listed = tenths;
    Say(Prefix(index) + ' ' + PrintableText(fileName) + ' ' + std::to_string(tenths * 10) + "% (" +
        std::to_string(done) + '/' + std::to_string(total) + " bytes)\n");
}

std::string UpgradeMonitor::Prefix(std::size_t index) const {
    const DeviceResult* device = Device(index);
    return std::string("[") + std::to_string(index + 1) + "/" + std::to_string(count_) + " " +
           (device != nullptr ? FormatMac(device->record->mac) : std::string()) + "]";
}

void UpgradeMonitor::OnDeviceLine(std::size_t index, int lineNumber, std::string_view line) {
    OnLine(lineNumber, line);
    if (board_) board_->Line(index, lineNumber, line);
    // Without a bar, a plain line for every script line, so that a log shows
    // where each device is and nothing stays silent for long.
    if (listResults_ && Device(index) != nullptr)
        Say(Prefix(index) + " line " + std::to_string(lineNumber) + ": " + PrintableText(line) + '\n');
}

void UpgradeMonitor::OnDeviceTransfer(std::size_t index, const TransferStep& step) {
    if (bar_) bar_->Transfer(step);
    if (board_) board_->Transfer(index, step);
    if (listResults_ && index < listedTenths_.size()) ListTransfer(index, step.fileName, step.done, step.total);
}

void UpgradeMonitor::OnDeviceEnd(std::size_t index, bool succeeded) {
    const DeviceResult* device = Device(index);
    if (device == nullptr) return;
    // The result, and why when the run failed.
    std::string result = StateWord(device->state);
    if (!device->error.empty()) result += ": " + PrintableText(device->error);
    if (bar_) bar_->EndDevice(index, result);
    if (board_) board_->End(index, result, succeeded);
    if (listResults_) Say(Prefix(index) + ' ' + result + '\n');
}

void UpgradeMonitor::OnDeviceError(std::size_t, std::string_view) {}

void UpgradeMonitor::OnDeviceWaiting(std::size_t index, std::string_view waiting, const ExchangeStats&) {
    if (bar_) bar_->Waiting(waiting);
    if (board_) board_->Waiting(index, waiting);
    // Without a bar, a line for each send again: a log shows the silence too.
    if (listResults_ && !waiting.empty() && Device(index) != nullptr)
        Say(Prefix(index) + ' ' + std::string(waiting) + '\n');
}

void UpgradeMonitor::OnJobsLowered(std::size_t asked, std::size_t had, std::string_view reason) {
    Say(Said(FormatPlaceholders(IDS_JOBS_LOWERED, {std::to_string(had), std::to_string(asked), reason})) +
        '\n');
}

void UpgradeMonitor::ShareScreen(TraceSink& trace) {
    screen_ = &trace;
}

void UpgradeMonitor::Say(const std::string& text) {
    if (screen_ != nullptr)
        screen_->Print(text);
    else
        std::cerr << text << std::flush;
}

void UpgradeMonitor::OnLine(int lineNumber, std::string_view line) {
    if (bar_) bar_->OnLine(lineNumber, line);
}

void UpgradeMonitor::OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) {
    if (bar_) bar_->OnTransfer(fileName, done, total);
}

bool UpgradeMonitor::StopRequested() const {
    return interrupts_ != nullptr && interrupts_->Interrupted();
}

}  // namespace quorvane::cli
