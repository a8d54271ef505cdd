#pragma once
// The two ways of running a batch of an upgrade run's devices: in turn over
// the run's link, or side by side, each over a link of its own. Either way
// every step lands in the run's model first.

#include <cstddef>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "app/prompter.h"
#include "app/rollout_gate.h"
#include "app/upgrade_command.h"

namespace quorvane::detail {

// Writes one device's script events into its entry of the run's model and
// passes them on to the progress with the device's index, under `lock`
// when devices run side by side. Transfers come with their pace, timed by
// the link's clock, and the device's counters so far: those of its entry
// and of `protocol` since the run's counting started.
// Every failure becomes the device's error text, with its script line;
// every send of `protocol` after an exchange's first is told as a wait.
class DeviceObserver final : public ScriptObserver, public SendListener {
public:
    DeviceObserver(UpgradeProgress* progress, std::size_t index, std::mutex* lock, DeviceProtocol& protocol,
                   DeviceResult& device);
    ~DeviceObserver() override;
    DeviceObserver(const DeviceObserver&) = delete;
    DeviceObserver& operator=(const DeviceObserver&) = delete;
    void OnLine(int lineNumber, std::string_view line) override;
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override;
    bool StopRequested() const override;
    void OnLocalError(std::string_view text) override;
    void OnDeviceFault(const DeviceFault& fault) override;
    void OnSend(uint8_t opcode, int send, int of) override;
    // The wait after the script's RESET begins, and how it ended.
    void OnReturnWait();
    void OnReturn(const ReturnCheck& check, std::chrono::milliseconds limit);

private:
    std::unique_lock<std::mutex> Guard() const;
    // The device's error, with the line under way; told to the progress.
    void Fail(std::string_view cause, bool local);
    void EndWait();  // under the guard

    UpgradeProgress* progress_;
    std::size_t index_;
    std::mutex* lock_;
    DeviceProtocol& protocol_;
    DeviceResult& device_;
    PaceMeter pace_;
};

// The planned script and the package its LOADs read, as every device's run
// takes them, and how its READs name their files.
struct Script {
    std::span<const PlannedCommand> plan;
    UpgradePackage& package;
    ReadNames reads = ReadNames::Shared;
    std::chrono::milliseconds returnLimit{0};  // see FleetOptions
    // Asked before each device starts and told of each device's end, under
    // the batch's lock; none: every device starts.
    RolloutGate* gate = nullptr;
};

// "02:00:00:00:00:01: text", a line about one device.
std::string DeviceLine(const DeviceRecord& record, const std::string& text);

// Runs the devices of `batch` one after another over `protocol`, each
// with the retry prompt. A device whose script ran is waited for after its
// RESET over a link of its own from `openLink`, while the next devices
// run; without one, before the next starts. Every device of the batch has
// ended when this returns, or was never started once the script's gate
// closed. False when the progress asked to stop.
bool RunInTurn(const std::vector<std::size_t>& batch, RunModel& model, const Script& script,
               DeviceProtocol& protocol, Prompter& prompter, UpgradeProgress* progress,
               const LinkFactory& openLink);

// Runs the devices of `batch` with up to `fleet.jobs` at once, one fiber
// (RunFibers) and one link each; a failed run is retried at once up to
// `fleet.retries` times. A device waiting for its return after its RESET
// hands its place to the next device, as far as sockets allow, and every
// device of the batch has ended (or was never started, once the script's
// gate closed) when this returns. False when the progress asked to stop: no device
// starts after that, and those under way end after their current exchange.
// Before any device starts, the links of as many devices as may run at once
// are opened, with room left for the file each will need; when the process
// cannot have that many, fewer run at once (the progress is told), so that
// no device is erased and then left for want of a file.
bool RunSideBySide(const std::vector<std::size_t>& batch, RunModel& model, const Script& script,
                   const FleetOptions& fleet, UpgradeProgress* progress);

}  // namespace quorvane::detail
