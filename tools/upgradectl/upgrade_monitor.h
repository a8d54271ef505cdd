#pragma once
// Presents one upgrade run on the terminal: resets the prompter's retry
// allowance for each device, drives the progress bar (or a line per device
// side by side) when there is a terminal, plain lines otherwise, and the
// JSON report and the summary from the run's model; asks the run to stop
// once the user interrupted it.

#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "app/interrupt_watch.h"
#include "app/upgrade_command.h"
#include "protocol/trace_sink.h"
#include "tools/upgradectl/fleet_board.h"
#include "tools/upgradectl/progress_bar.h"
#include "tools/upgradectl/status_line.h"
#include "tools/upgradectl/terminal_prompter.h"

namespace quorvane::cli {

class UpgradeMonitor final : public UpgradeProgress {
public:
    // `showProgress`: draw the bar (a terminal); `listResults`: without a bar,
    // one plain line per finished device on stderr. `interrupts`, when given,
    // decides StopRequested.
    UpgradeMonitor(PromptPolicy policy, bool showProgress, bool listResults,
                   const InterruptWatch* interrupts = nullptr);

    Prompter& Prompts() { return prompter_; }
    // The run's model, which every device fact is read from; set before the run starts.
    void Follow(const RunModel& model) { model_ = &model; }
    // With a bar to draw, draws a line per device under way instead of the
    // one bar: for `count` devices run side by side.
    void DrawSideBySide(std::size_t count);
    // The plain lines per device go to the screen through `trace`, under
    // its lock: devices side by side write them from their own threads,
    // and a trace entry must not land in the middle of one.
    void ShareScreen(TraceSink& trace);
    // {"exitCode": n, "stop": ..., "succeeded": n, "failed": n, "current": n,
    //  "not_started": n, "halt": null | "canary-failed" | "budget-reached",
    //  "devices": [{"mac", "result" (ResultWord), "attempts", "succeeded"
    //  [, "interrupted": true][, "error"], and the counters of
    //  DeviceCountersJson}]}; a device that never ran has "firmware" instead
    //  of the counters.
    nlohmann::ordered_json Report(const UpgradeOutcome& outcome, int exitCode) const;
    // One line per device that ran: its result, bytes, seconds, rate and
    // resends; one per current device with its firmware; with `outcome`,
    // the devices a halt left out and the line that says why.
    void PrintSummary(std::ostream& out, const UpgradeOutcome& outcome = {}) const;
    // After an interruption: which device was left mid-script (and so
    // probably in programming mode) and which were never started.
    void TellInterrupted();

    void OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) override;
    void OnDeviceEnd(std::size_t index, bool succeeded) override;
    void OnDeviceCounters(std::size_t index, const DeviceCounters& counters) override;
    void OnDeviceLine(std::size_t index, int lineNumber, std::string_view line) override;
    void OnDeviceTransfer(std::size_t index, const TransferStep& step) override;
    void OnDeviceError(std::size_t index, std::string_view error) override;
    void OnDeviceWaiting(std::size_t index, std::string_view waiting,
                         const ExchangeStats& exchanges) override;
    void OnJobsLowered(std::size_t asked, std::size_t had, std::string_view reason) override;
    void OnLine(int lineNumber, std::string_view line) override;
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override;
    bool StopRequested() const override;

private:
    // Without a bar: a plain line at every tenth of a transfer.
    void ListTransfer(std::size_t index, std::string_view fileName, uint64_t done, uint64_t total);
    const DeviceResult* Device(std::size_t index) const;
    // "[2/16 02:00:00:00:00:02]", the prefix of a device's plain lines.
    std::string Prefix(std::size_t index) const;
    // A whole plain line (or more) to stderr at once.
    void Say(const std::string& text);

    StatusLine status_;
    TerminalPrompter prompter_;
    std::optional<ProgressBar> bar_;
    std::optional<FleetBoard> board_;
    const RunModel* model_ = nullptr;
    // Tenths of each device's current transfer already listed as a plain line.
    std::vector<uint64_t> listedTenths_;
    std::size_t count_ = 0;
    bool listResults_;
    const InterruptWatch* interrupts_;
    TraceSink* screen_ = nullptr;
};

}  // namespace quorvane::cli
