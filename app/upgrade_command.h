#pragma once
// The Upgrade button: compatibility checks on every selected device, the
// configuration warning, one script run per device with the retry prompt,
// and the completion message.

#include <cstddef>
#include <vector>

#include "app/prompter.h"
#include "package/restrictions.h"
#include "package/script_interpreter.h"
#include "package/upgrade_package.h"
#include "protocol/device_protocol.h"

namespace quorvane {

inline constexpr int REFRESH_RESULT = 1004;

// Progress of a whole upgrade command; the script's own lines and transfers
// arrive through the ScriptObserver part.
class UpgradeProgress : public ScriptObserver {
public:
    // Device `index` (from 0) of `count` is about to run (again, on a retry).
    virtual void OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) = 0;
    // The device is done with: succeeded, or given up after the last prompt.
    virtual void OnDeviceEnd(std::size_t index, bool succeeded) = 0;
};

struct UpgradeOutcome {
    enum class Stop {
        None,             // the scripts ran
        NothingSelected,  // no device selected: nothing shown, nothing done
        MacRefused,       // message 153
        FirmwareRefused,  // message 152 (product or revision)
        WarningDeclined,  // No to message 149
        Interrupted,      // the progress asked to stop while the scripts ran
    };
    Stop stop = Stop::None;
    std::size_t succeeded = 0;
    std::size_t failed = 0;
    // REFRESH_RESULT when at least one device was upgraded, else 0 (the list stays open).
    int dialogResult = 0;
};

// `selected` holds the selected devices in list order (null entries are
// skipped). Every one of them must pass the MAC, product and revision checks
// before any is touched; the first that fails has its message shown.
// `progress`, when given, is also the observer of every script run.
UpgradeOutcome RunUpgradeCommand(const std::vector<DeviceRecord*>& selected, UpgradePackage& package,
                                 const Restrictions& restrictions, DeviceProtocol& protocol,
                                 Prompter& prompter, UpgradeProgress* progress = nullptr);

// The command's three phases, for a front end that runs the scripts apart
// from the prompts around them (the desktop program runs them on a worker
// thread behind a progress window). RunUpgradeCommand is exactly these in turn.

// The checks on every device and the configuration warning; Stop::None when
// the scripts may run.
UpgradeOutcome::Stop CheckAndConfirm(const std::vector<DeviceRecord*>& devices,
                                     const Restrictions& restrictions, Prompter& prompter);
// One script run per device with the retry prompt; counts into `outcome`.
// When the progress asks to stop, the run under way ends after its current
// exchange, counts as failed and is not offered a retry, no further device
// is started, and `outcome.stop` becomes Interrupted.
void RunScripts(const std::vector<DeviceRecord*>& devices, UpgradePackage& package, DeviceProtocol& protocol,
                Prompter& prompter, UpgradeProgress* progress, UpgradeOutcome& outcome);
// The completion message and the dialog result, when any device was upgraded
// and the scripts were not interrupted.
void ReportCompletion(UpgradeOutcome& outcome, Prompter& prompter);

}  // namespace quorvane
