#include "tools/upgradectl/upgrade_monitor.h"

#include <iostream>

#include "protocol/mac_text.h"

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
        nlohmann::ordered_json device = {
            {"mac", FormatMac(result.mac)}, {"attempts", result.attempts}, {"succeeded", result.succeeded}};
        if (result.interrupted) device["interrupted"] = true;
        report["devices"].push_back(std::move(device));
    }
    return report;
}

void UpgradeMonitor::TellInterrupted(const std::vector<DeviceRecord*>& selected) {
    status_.Clear();
    bool leftAny = false;
    for (const auto& result : results_) {
        if (!result.interrupted) continue;
        std::cerr << "upgradectl: interrupted; " << FormatMac(result.mac)
                  << " was left mid-script and is probably still in programming mode\n";
        leftAny = true;
    }
    if (!leftAny) std::cerr << "upgradectl: interrupted; no device was left mid-script\n";
    std::string notStarted;
    for (std::size_t i = results_.size(); i < selected.size(); ++i)
        notStarted += (notStarted.empty() ? "" : ", ") + FormatMac(selected[i]->mac);
    if (!notStarted.empty()) std::cerr << "upgradectl: not started: " << notStarted << '\n';
    std::cerr << std::flush;
}

void UpgradeMonitor::OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) {
    prompter_.DeviceStarted(index);
    if (results_.size() <= index) results_.resize(index + 1);
    results_[index].mac = record.mac;
    ++results_[index].attempts;
    count_ = count;
    if (bar_) bar_->OnDeviceStart(index, count, record);
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
