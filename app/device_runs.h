#pragma once
// The upgrade command's device runs: what every device came to, and the two
// ways of running a batch of them - in turn over the command's link, or side
// by side, each over a link of its own.

#include <cstddef>
#include <mutex>
#include <vector>

#include "app/prompter.h"
#include "app/upgrade_command.h"

namespace quorvane::detail {

enum class DeviceResult { NotRun, Upgraded, Failed };

struct DeviceRuns {
    explicit DeviceRuns(const std::vector<DeviceRecord*>& selected)
        : devices(selected), results(selected.size()), counters(selected.size()) {}

    const std::vector<DeviceRecord*>& devices;
    std::vector<DeviceResult> results;  // by device index; each run writes only its own
    std::vector<DeviceCounters> counters;

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
                   DeviceProtocol& protocol, const DeviceCounters& counters)
        : progress_(progress), index_(index), lock_(lock), protocol_(protocol), counters_(counters) {}
    void OnLine(int lineNumber, std::string_view line) override;
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override;
    bool StopRequested() const override;

private:
    std::unique_lock<std::mutex> Guard() const;

    UpgradeProgress* progress_;
    std::size_t index_;
    std::mutex* lock_;
    DeviceProtocol& protocol_;
    const DeviceCounters& counters_;
    PaceMeter pace_;
};

// Runs the devices of `batch` one after another over `protocol`, each
// with the retry prompt. False when the progress asked to stop.
bool RunInTurn(const std::vector<std::size_t>& batch, DeviceRuns& runs, UpgradePackage& package,
               DeviceProtocol& protocol, Prompter& prompter, UpgradeProgress* progress);

// Runs the devices of `batch` with up to `fleet.jobs` at once, one thread
// and one link each; a failed run is retried at once up to
// `fleet.retries` times. False when the progress asked to stop: no device
// starts after that, and those under way end after their current exchange.
bool RunSideBySide(const std::vector<std::size_t>& batch, DeviceRuns& runs, UpgradePackage& package,
                   const FleetOptions& fleet, UpgradeProgress* progress);

}  // namespace quorvane::detail
