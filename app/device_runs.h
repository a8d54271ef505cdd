#pragma once
// The upgrade command's device runs: what every device came to, and the two
// ways of running a batch of them - in turn over the command's link, or side
// by side, each over a link of its own.

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "app/prompter.h"
#include "app/upgrade_command.h"

namespace quorvane::detail {

enum class DeviceResult { NotRun, Upgraded, Failed };

struct DeviceRuns {
    explicit DeviceRuns(const std::vector<DeviceRecord*>& selected)
        : devices(selected),
          results(selected.size()),
          counters(selected.size()),
          localErrors(selected.size()) {}

    const std::vector<DeviceRecord*>& devices;
    std::vector<DeviceResult> results;  // by device index; each run writes only its own
    std::vector<DeviceCounters> counters;
    // Why the device's last run failed on this computer; empty when it did
    // not (the device or the network failed it, or it succeeded).
    std::vector<std::string> localErrors;

    std::vector<std::size_t> WithResult(DeviceResult result) const;
};

// Passes one device's script events on to the command's progress with the
// device's index, under `lock` when devices run side by side. Transfers
// come with their pace, timed by the link's clock, and the device's
// counters so far: those of `counters` and of `protocol` since the run's
// counting started.
class DeviceObserver final : public ScriptObserver {
public:
    DeviceObserver(UpgradeProgress* progress, std::size_t index, std::mutex* lock,
                   DeviceProtocol& protocol, const DeviceCounters& counters, std::string& localError)
        : progress_(progress),
          index_(index),
          lock_(lock),
          protocol_(protocol),
          counters_(counters),
          localError_(localError) {}
    void OnLine(int lineNumber, std::string_view line) override;
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override;
    bool StopRequested() const override;
    void OnLocalError(std::string_view text) override;

private:
    std::unique_lock<std::mutex> Guard() const;

    UpgradeProgress* progress_;
    std::size_t index_;
    std::mutex* lock_;
    DeviceProtocol& protocol_;
    const DeviceCounters& counters_;
    std::string& localError_;
    PaceMeter pace_;
};

// "02:00:00:00:00:01: text", a line about one device.
std::string DeviceLine(const DeviceRecord& record, const std::string& text);

// Runs the devices of `batch` one after another over `protocol`, each
// with the retry prompt. False when the progress asked to stop.
bool RunInTurn(const std::vector<std::size_t>& batch, DeviceRuns& runs, UpgradePackage& package,
               DeviceProtocol& protocol, Prompter& prompter, UpgradeProgress* progress);

// Runs the devices of `batch` with up to `fleet.jobs` at once, one thread
// and one link each; a failed run is retried at once up to
// `fleet.retries` times. False when the progress asked to stop: no device
// starts after that, and those under way end after their current exchange.
// Before any device starts, the links of as many devices as may run at once
// are opened, with room left for the file each will need; when the process
// cannot have that many, fewer run at once (the progress is told), so that
// no device is erased and then left for want of a file.
bool RunSideBySide(const std::vector<std::size_t>& batch, DeviceRuns& runs, UpgradePackage& package,
                   const FleetOptions& fleet, UpgradeProgress* progress);

}  // namespace quorvane::detail
