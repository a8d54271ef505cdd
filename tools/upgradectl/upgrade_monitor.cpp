#include "tools/upgradectl/upgrade_monitor.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include "app/run_events.h"
#include "protocol/mac_text.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

const char* StopName(UpgradeOutcome::Stop stop) {
    switch (stop) {
        case UpgradeOutcome::Stop::None:
            return "none";
        case UpgradeOutcome::Stop::NothingSelected:
            return "nothingSelected";
        case UpgradeOutcome::Stop::MacShared:
            return "macShared";
        case UpgradeOutcome::Stop::MacRefused:
            return "macRefused";
        case UpgradeOutcome::Stop::FirmwareRefused:
            return "firmwareRefused";
        case UpgradeOutcome::Stop::WarningDeclined:
            return "warningDeclined";
        case UpgradeOutcome::Stop::Interrupted:
            return "interrupted";
    }
    return "none";
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

nlohmann::ordered_json UpgradeMonitor::Report(const UpgradeOutcome& outcome, int exitCode) const {
    nlohmann::ordered_json report;
    report["exitCode"] = exitCode;
    report["stop"] = StopName(outcome.stop);
    report["succeeded"] = outcome.succeeded;
    report["failed"] = outcome.failed;
    report["devices"] = nlohmann::ordered_json::array();
    for (const auto& result : results_) {
        if (result.attempts == 0) continue;  // never started (devices side by side leave gaps)
        // "ok" as the device-done event has it; "succeeded" as reports had it before.
        nlohmann::ordered_json device = {{"mac", FormatMac(result.mac)},
                                         {"attempts", result.attempts},
                                         {"succeeded", result.succeeded},
                                         {"ok", result.succeeded}};
        if (result.interrupted) device["interrupted"] = true;
        if (!result.error.empty()) device["error"] = result.error;
        if (result.done) device.update(DeviceCountersJson(result.counters));
        report["devices"].push_back(std::move(device));
    }
    return report;
}

void UpgradeMonitor::DrawSideBySide(std::size_t count) {
    if (!bar_) return;
    bar_.reset();
    board_.emplace(std::cerr, count, TerminalColumns());
}

void UpgradeMonitor::TellInterrupted(const std::vector<DeviceRecord*>& selected) {
    status_.Clear();
    if (board_) board_->Clear();
    bool leftAny = false;
    for (const auto& result : results_) {
        if (!result.interrupted) continue;
        std::cerr << "upgradectl: interrupted; " << FormatMac(result.mac)
                  << " was left mid-script and is probably still in programming mode\n";
        leftAny = true;
    }
    if (!leftAny) std::cerr << "upgradectl: interrupted; no device was left mid-script\n";
    std::string notStarted;
    // Devices run side by side may leave gaps: a device never started has no attempt.
    for (std::size_t i = 0; i < selected.size(); ++i)
        if (i >= results_.size() || results_[i].attempts == 0)
            notStarted += (notStarted.empty() ? "" : ", ") + FormatMac(selected[i]->mac);
    if (!notStarted.empty()) std::cerr << "upgradectl: not started: " << notStarted << '\n';
    std::cerr << std::flush;
}

void UpgradeMonitor::PrintSummary(std::ostream& out) const {
    for (const auto& result : results_) {
        if (!result.done) continue;
        const ExchangeStats& e = result.counters.exchanges;
        const double seconds = Seconds(result.counters.elapsed);
        const double rate = seconds > 0 ? static_cast<double>(e.bytes) / 1024.0 / seconds : 0.0;
        char line[160];
        std::snprintf(line, sizeof line, "%s: %s, %llu bytes in %.2f s (%.1f KiB/s), %llu resends",
                      FormatMac(result.mac).c_str(),
                      result.succeeded     ? "upgraded"
                      : result.interrupted ? "interrupted"
                                           : "failed",
                      static_cast<unsigned long long>(e.bytes), seconds, rate,
                      static_cast<unsigned long long>(e.resends));
        out << "upgradectl: " << line;
        if (!result.succeeded && !result.error.empty()) out << " (" << PrintableText(result.error) << ')';
        out << '\n';
    }
    out << std::flush;
}

void UpgradeMonitor::OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) {
    prompter_.DeviceStarted(index);
    if (results_.size() <= index) results_.resize(index + 1);
    results_[index].mac = record.mac;
    results_[index].error.clear();
    ++results_[index].attempts;
    count_ = count;
    if (bar_) bar_->OnDeviceStart(index, count, record);
    if (board_) board_->Start(index, Prefix(index));
}

void UpgradeMonitor::OnDeviceCounters(std::size_t index, const DeviceCounters& counters) {
    if (index >= results_.size()) return;
    results_[index].counters = counters;
    results_[index].done = true;
}

void UpgradeMonitor::ListTransfer(std::size_t index, std::string_view fileName, uint64_t done,
                                  uint64_t total) {
    DeviceResult& result = results_[index];
    if (done == 0) result.listedTenths = 0;
    const uint64_t tenths = total == 0 ? 10 : std::min(done, total) * 10 / total;
    if (tenths <= result.listedTenths) return;
    result.listedTenths = tenths;
    Say(Prefix(index) + ' ' + PrintableText(fileName) + ' ' + std::to_string(tenths * 10) + "% (" +
        std::to_string(done) + '/' + std::to_string(total) + " bytes)\n");
}

std::string UpgradeMonitor::Prefix(std::size_t index) const {
    return std::string("[") + std::to_string(index + 1) + "/" + std::to_string(count_) + " " +
           FormatMac(results_[index].mac) + "]";
}

void UpgradeMonitor::OnDeviceLine(std::size_t index, int lineNumber, std::string_view line) {
    OnLine(lineNumber, line);
    if (board_) board_->Line(index, lineNumber, line);
    // Without a bar, a plain line for every script line, so that a log shows
    // where each device is and nothing stays silent for long.
    if (listResults_ && index < results_.size())
        Say(Prefix(index) + " line " + std::to_string(lineNumber) + ": " + PrintableText(line) + '\n');
}

void UpgradeMonitor::OnDeviceTransfer(std::size_t index, const TransferStep& step) {
    if (bar_) bar_->Transfer(step);
    if (board_) board_->Transfer(index, step);
    if (listResults_ && index < results_.size()) ListTransfer(index, step.fileName, step.done, step.total);
}

void UpgradeMonitor::OnDeviceEnd(std::size_t index, bool succeeded) {
    if (index >= results_.size()) return;
    DeviceResult& result = results_[index];
    result.succeeded = succeeded;
    // A run that failed because it was asked to stop ended between two
    // exchanges of its script, not because the device refused.
    result.interrupted = !succeeded && StopRequested();
    const char* word = succeeded ? "upgraded" : result.interrupted ? "interrupted" : "failed";
    if (bar_) bar_->EndDevice(word);
    if (board_) board_->End(index, word, succeeded);
    if (listResults_)
        Say(Prefix(index) + ' ' + word + (result.error.empty() ? "" : ": " + PrintableText(result.error)) + '\n');
}

void UpgradeMonitor::OnDeviceError(std::size_t index, std::string_view error) {
    if (index < results_.size()) results_[index].error = error;
}

void UpgradeMonitor::OnJobsLowered(std::size_t asked, std::size_t had, std::string_view reason) {
    Say("upgradectl: only " + std::to_string(had) + " of " + std::to_string(asked) +
        " devices can be upgraded at once here (" + std::string(reason) + "); the others wait for a free place\n");
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
