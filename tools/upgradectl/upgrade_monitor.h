#pragma once
// Watches one upgrade command: resets the prompter's retry allowance for
// each device, drives the progress bar when there is a terminal, and keeps
// each device's result for the JSON report.

#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "app/upgrade_command.h"
#include "tools/upgradectl/progress_bar.h"
#include "tools/upgradectl/status_line.h"
#include "tools/upgradectl/terminal_prompter.h"

namespace quorvane::cli {

class UpgradeMonitor final : public UpgradeProgress {
public:
    // `showProgress`: draw the bar (a terminal); `listResults`: without a bar,
    // one plain line per finished device on stderr.
    UpgradeMonitor(PromptPolicy policy, bool showProgress, bool listResults);

    Prompter& Prompts() { return prompter_; }
    // {"result": ..., "succeeded": n, "failed": n, "devices": [{"mac", "attempts", "succeeded"}]}
    nlohmann::ordered_json Report(const UpgradeOutcome& outcome, int exitCode) const;

    void OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) override;
    void OnDeviceEnd(std::size_t index, bool succeeded) override;
    void OnLine(int lineNumber, std::string_view line) override;
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override;

private:
    struct DeviceResult {
        MacAddress mac{};
        int attempts = 0;
        bool succeeded = false;
    };

    StatusLine status_;
    TerminalPrompter prompter_;
    std::optional<ProgressBar> bar_;
    std::vector<DeviceResult> results_;
    std::size_t count_ = 0;
    bool listResults_;
};

}  // namespace quorvane::cli
