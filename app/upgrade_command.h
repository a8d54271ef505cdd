#pragma once
// The steps an upgrade run is made of: compatibility checks on every
// selected device, the configuration warning, the planned script on every
// device (in turn with the retry prompt, or side by side), and the
// completion message. UpgradeRun puts them together for both front ends.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "app/prompter.h"
#include "app/rollout_gate.h"
#include "res/dialog_codes.h"
#include "app/run_model.h"
#include "app/transfer_pace.h"
#include "package/package_check.h"
#include "package/restrictions.h"
#include "package/script_interpreter.h"
#include "package/upgrade_package.h"
#include "protocol/device_protocol.h"

namespace quorvane {

inline constexpr int REFRESH_RESULT = DIALOG_REFRESH;

// One step of a device's transfer: how far it is, how fast it goes, and
// what the device's exchanges cost so far (every run of it, the one under
// way included).
struct TransferStep {
    std::string_view fileName;
    uint64_t done = 0;
    uint64_t total = 0;
    TransferPace pace;
    ExchangeStats exchanges;
};

// Progress of a whole upgrade command; the script's own lines and transfers
// arrive through the ScriptObserver part, or with the device's index
// through OnDeviceLine and OnDeviceTransfer, which pass them there unless
// overridden. Devices run side by side report from their own threads, but
// never two calls at once: a front end needs no locking of its own.
class UpgradeProgress : public ScriptObserver {
public:
    // Device `index` (from 0) of `count` is about to run (again, on a retry).
    virtual void OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) = 0;
    // The device is done with: succeeded, or given up after the last prompt.
    virtual void OnDeviceEnd(std::size_t index, bool succeeded) = 0;
    // Right before OnDeviceEnd: what the device's runs cost.
    virtual void OnDeviceCounters(std::size_t, const DeviceCounters&) {}
    virtual void OnDeviceLine(std::size_t, int lineNumber, std::string_view line) {
        OnLine(lineNumber, line);
    }
    virtual void OnDeviceTransfer(std::size_t, const TransferStep& step) {
        OnTransfer(step.fileName, step.done, step.total);
    }
    // The device's run failed, for the reason `error` words with its
    // script line (see DeviceResult::error); told before its OnDeviceEnd.
    virtual void OnDeviceError(std::size_t, std::string_view) {}
    // The exchange under way was sent again: `waiting` says which and how
    // often ("waiting for LOAD_VERIFY, send 5 of 16"); empty when it was
    // answered after such a wait. `exchanges`: the device's counts so far.
    virtual void OnDeviceWaiting(std::size_t, std::string_view, const ExchangeStats&) {}
    // Devices side by side: only `had` of the `asked` devices can run at
    // once here, for `reason` (the system's); told before any device starts.
    virtual void OnJobsLowered(std::size_t, std::size_t, std::string_view) {}
    // The wait for the device after its RESET is over: `check` says how it
    // ended (also in the model). Told before OnDeviceEnd, after the error
    // of a device that did not come back.
    virtual void OnDeviceReturn(std::size_t, const ReturnCheck&) {}
    // The device already runs the wanted firmware and is left alone; told
    // before any device starts.
    virtual void OnDeviceSkipped(std::size_t) {}
    // Every one of the `canaries` first devices has ended; `passed` when
    // all were upgraded and came back, so that the others start.
    virtual void OnCanariesDone(std::size_t, bool) {}
};

// Opens the link of one device run beside others: a socket of its own, so
// that the system hands each run only the replies to its own requests and
// the exchanges need not tell the devices' replies apart. Null, with
// `reason` set to the system's, when it cannot be opened. The links of the
// first devices are opened before any device starts, the others from the
// device's own thread as places free up.
using LinkFactory =
    std::function<std::unique_ptr<Transport>(const DeviceRecord& device, std::string& reason)>;

// Devices run at once at the most, whatever was asked: each has a socket
// and a thread of its own. Fewer run where the descriptors left are fewer
// (counted before any device starts); this bounds the threads where they
// are not.
inline constexpr std::size_t MAX_SIDE_BY_SIDE = 4096;
// What a device run beside others holds open besides its socket: the file
// its LOAD sends or its READ writes, one at a time. Room for it is counted
// before any device starts.
inline constexpr std::size_t FILES_PER_DEVICE = 1;

// How READ names its files when `devices` are selected: each its own file
// (READBACK-0050C21A2B3C.BIN) for more than one, else the script's name.
// Every device of the selection keeps it, on a retry too, so that devices
// side by side never write one file.
ReadNames ReadNamesFor(std::size_t devices);

// Devices run side by side, each over a link of its own, when more than one
// at once is asked for (0: all of them) and more than one is run.
bool RunsSideBySide(std::size_t jobs, std::size_t devices);

struct FleetOptions {
    std::size_t jobs = 1;  // devices run at once; 0: all of them, up to MAX_SIDE_BY_SIDE
    // Devices run side by side ask no question while others run: a failed
    // run is retried at once this many times.
    int retries = 0;
    // Devices that failed are offered for a retry together, in one
    // question listing them, once every device of the batch is done.
    bool askAfterBatch = false;
    LinkFactory openLink;  // needed for more than one job
    // After a script that ends with its RESET, how long a device may take
    // to answer again (AwaitReturn); zero: it is not waited for.
    std::chrono::milliseconds returnLimit{0};
    // The canaries (devices by index, in the order they start) and the
    // failures that stop further starts (zero: no limit); see RolloutGate.
    std::vector<std::size_t> canaries{};
    std::size_t failureLimit = 0;
};

struct UpgradeOutcome {
    enum class Stop {
        None,             // the scripts ran
        NothingSelected,  // no device selected: nothing shown, nothing done
        ReadsClash,       // a device's own READ file is another output or cannot be written
        MacShared,        // IDS_MAC_SHARED: a selected MAC answered as more than one device
        MacRefused,       // IDS_MAC_REFUSED
        FirmwareRefused,  // IDS_FIRMWARE_REFUSED (product or revision)
        WarningDeclined,  // No to IDS_CONFIGURATION_WARNING
        DevicesDeclined,  // No to IDS_UPGRADE_THESE (IDS_UPGRADE_THIS)
        Interrupted,      // the progress asked to stop while the scripts ran
    };
    Stop stop = Stop::None;
    std::size_t succeeded = 0;
    std::size_t failed = 0;
    std::size_t current = 0;     // left alone: they already ran the wanted firmware
    std::size_t notStarted = 0;  // never started: a canary failed, the budget was reached, or a stop
    RolloutHalt halt = RolloutHalt::None;
    std::size_t failureLimit = 0;  // the budget the run had; zero: none
    // REFRESH_RESULT when at least one device was upgraded, else 0 (the list stays open).
    int dialogResult = 0;
};

// The exit code a run ends with (EXIT_DONE, EXIT_SCRIPT_FAILED when any
// device failed, EXIT_USAGE when nothing was selected or a device's READ
// file clashes, EXIT_REFUSED for a
// refusal, a declined warning or declined devices); an interrupted run exits with its
// signal's code, which the caller knows.
int ExitCodeOf(const UpgradeOutcome& outcome);

// Whether the devices about to be upgraded are listed and confirmed in a
// question of the run's own: front ends whose user chose them in a list
// of their own leave it to that.
enum class DeviceQuestion { FrontEnds, Listed };

// The checks on every device (the shared-MAC, MAC, product and revision
// checks) before any is touched, the first that fails with its message,
// then the configuration warning; Stop::None when the scripts may run.
// With DeviceQuestion::Listed the devices are listed and asked about once,
// naming their count ("Upgrade these 3 devices?"), after the configuration
// warning's text when the package gives it.
UpgradeOutcome::Stop CheckAndConfirm(const std::vector<DeviceRecord*>& devices,
                                     const Restrictions& restrictions, Prompter& prompter,
                                     DeviceQuestion question = DeviceQuestion::FrontEnds);
// "Upgrade these 3 devices?", "Upgrade this device?".
std::string UpgradeTheseText(std::size_t devices);
// The planned script on every device of `model`, up to `fleet.jobs` at
// once, counting into `outcome`. With one job the devices run in turn over
// `protocol`, each with the retry prompt. With more, each runs over a link
// of its own, a failed run is retried without a question
// (`fleet.retries`), and at the end every failed device is named with the
// first sentence of IDS_RETRY_PROMPT, then why this computer failed some
// (IDS_LOCAL_FAILURE) or the network advice (IDS_UPGRADE_GIVEN_UP), once.
// Either way `fleet.askAfterBatch` then offers the failed devices a new
// batch. When the progress asks to stop, the runs under way end after their
// current exchange and are not retried, no further device starts, and
// `outcome.stop` becomes Interrupted. `progress`, when given, hears every
// step after the model has it.
void RunScripts(RunModel& model, std::span<const PlannedCommand> plan, UpgradePackage& package,
                DeviceProtocol& protocol, Prompter& prompter, UpgradeProgress* progress, UpgradeOutcome& outcome,
                const FleetOptions& fleet = {});
// "Upgrade failed on device with MAC address 02:00:00:00:00:01.": the first
// sentence of IDS_RETRY_PROMPT, which names a failed device.
std::string FailedDeviceText(const MacAddress& mac);
// The completion message and the dialog result, when any device was upgraded
// and the scripts were not interrupted; `failures` (FailureLines) follow
// the message's text.
void ReportCompletion(UpgradeOutcome& outcome, Prompter& prompter, const std::string& failures = {});
// "02:00:00:00:00:02: line 3 LOAD fw.bin: no answer to LOAD_VERIFY after 16
// sends", a line for each failed device of `model`, then IDS_NOT_BACK_LIST
// with the MACs of those that did not come back; empty when none failed.
std::string FailureLines(const RunModel& model);
// The line that says why devices were not started: a canary failed
// (IDS_CANARY_FAILED) or the failures reached the budget
// (IDS_BUDGET_REACHED); empty when neither stopped the run.
std::string HaltText(const UpgradeOutcome& outcome);

}  // namespace quorvane
