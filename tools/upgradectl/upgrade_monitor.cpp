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
    }
    return "none";
}

}  // namespace

UpgradeMonitor::UpgradeMonitor(PromptPolicy policy, bool showProgress, bool listResults)
    : status_(std::cerr, TerminalColumns()),
      prompter_(policy, std::cin, std::cerr, &status_),
      listResults_(listResults && !showProgress) {
    if (showProgress) bar_.emplace(status_, std::cerr);
}

nlohmann::ordered_json UpgradeMonitor::Report(const UpgradeOutcome& outcome, int exitCode) const {
    nlohmann::ordered_json report;
    report["exitCode"] = exitCode;
    report["stop"] = StopName(outcome.stop);
    report["succeeded"] = outcome.succeeded;
    report["failed"] = outcome.failed;
    report["devices"] = nlohmann::ordered_json::array();
    for (const auto& result : results_)
        report["devices"].push_back(
            {{"mac", FormatMac(result.mac)}, {"attempts", result.attempts}, {"succeeded", result.succeeded}});
    return report;
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
    if (index < results_.size()) results_[index].succeeded = succeeded;
    if (bar_) bar_->OnDeviceEnd(index, succeeded);
    if (listResults_ && index < results_.size())
        std::cerr << "[" << index + 1 << "/" << count_ << " " << FormatMac(results_[index].mac) << "] "
                  << (succeeded ? "upgraded" : "failed") << '\n';
}

void UpgradeMonitor::OnLine(int lineNumber, std::string_view line) {
    if (bar_) bar_->OnLine(lineNumber, line);
}

void UpgradeMonitor::OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) {
    if (bar_) bar_->OnTransfer(fileName, done, total);
}

}  // namespace quorvane::cli
