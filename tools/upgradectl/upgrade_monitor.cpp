#include "tools/upgradectl/upgrade_monitor.h"

#include <cmath>
#include <cstdio>
#include <iostream>

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

double Milliseconds(std::chrono::microseconds time) {
    return static_cast<double>(time.count()) / 1000.0;
}

double Seconds(std::chrono::microseconds time) {
    return static_cast<double>(time.count()) / 1e6;
}

// At most this often a progress event per device, besides each transfer's first and last.
constexpr auto PROGRESS_EVENT_INTERVAL = std::chrono::milliseconds(250);

}  // namespace

nlohmann::ordered_json DeviceCountersJson(const DeviceCounters& counters) {
    const ExchangeStats& e = counters.exchanges;
    return {{"sends", e.sends},
            {"resends", e.resends},
            {"timeouts", e.timeouts},
            {"bad_echoes", e.badEchoes},
            {"rtt_ms",
             {{"min", Milliseconds(e.rttMin)},
              {"avg", Milliseconds(e.RttAverage())},
              {"max", Milliseconds(e.rttMax)}}},
            {"bytes", e.bytes},
            {"seconds", std::round(Seconds(counters.elapsed) * 1000.0) / 1000.0}};
}

UpgradeMonitor::UpgradeMonitor(PromptPolicy policy, bool showProgress, bool listResults,
                               const InterruptWatch* interrupts, EventStream* events)
    : status_(std::cerr, TerminalColumns()),
      prompter_(policy, std::cin, std::cerr, &status_),
      listResults_(listResults && !showProgress),
      interrupts_(interrupts),
      events_(events) {
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
        nlohmann::ordered_json device = {
            {"mac", FormatMac(result.mac)}, {"attempts", result.attempts}, {"succeeded", result.succeeded}};
        if (result.interrupted) device["interrupted"] = true;
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
        out << "upgradectl: " << line << '\n';
    }
    out << std::flush;
}

void UpgradeMonitor::OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) {
    prompter_.DeviceStarted(index);
    if (results_.size() <= index) results_.resize(index + 1);
    results_[index].mac = record.mac;
    ++results_[index].attempts;
    count_ = count;
    if (bar_) bar_->OnDeviceStart(index, count, record);
    if (board_) board_->Start(index, Prefix(index));
    if (events_)
        events_->Emit(
            "device-start",
            {{"mac", FormatMac(record.mac)}, {"index", index}, {"attempt", results_[index].attempts}});
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
    std::cerr << Prefix(index) << ' ' << PrintableText(fileName) << ' ' << tenths * 10 << "% (" << done << '/'
              << total << " bytes)\n"
              << std::flush;
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
        std::cerr << Prefix(index) << " line " << lineNumber << ": " << PrintableText(line) << '\n'
                  << std::flush;
    if (events_ && index < results_.size())
        events_->Emit("line",
                      {{"mac", FormatMac(results_[index].mac)}, {"line", lineNumber}, {"text", line}});
}

void UpgradeMonitor::OnDeviceTransfer(std::size_t index, std::string_view fileName, uint64_t done,
                                      uint64_t total) {
    OnTransfer(fileName, done, total);
    if (board_) board_->Transfer(index, fileName, done, total);
    if (index >= results_.size()) return;
    DeviceResult& result = results_[index];
    if (listResults_) ListTransfer(index, fileName, done, total);
    if (!events_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done != 0 && done != total && now - result.lastProgress < PROGRESS_EVENT_INTERVAL) return;
    result.lastProgress = now;
    events_->Emit("progress",
                  {{"mac", FormatMac(result.mac)}, {"file", fileName}, {"done", done}, {"total", total}});
}

void UpgradeMonitor::OnDeviceEnd(std::size_t index, bool succeeded) {
    if (index >= results_.size()) return;
    DeviceResult& result = results_[index];
    result.succeeded = succeeded;
    // A run that failed because it was asked to stop ended between two
    // exchanges of its script, not because the device refused.
    result.interrupted = !succeeded && StopRequested();
    const char* word = succeeded ? "upgraded" : result.interrupted ? "interrupted" : "failed";
    if (events_) {
        nlohmann::ordered_json done = {
            {"mac", FormatMac(result.mac)}, {"ok", succeeded}, {"attempts", result.attempts}};
        done.update(DeviceCountersJson(result.counters));
        if (result.interrupted) done["interrupted"] = true;
        events_->Emit("device-done", done);
    }
    if (bar_) bar_->EndDevice(word);
    if (board_) board_->End(index, word, succeeded);
    if (listResults_)
        std::cerr << "[" << index + 1 << "/" << count_ << " " << FormatMac(result.mac) << "] " << word
                  << '\n';
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
