#include "app/upgrade_command.h"

#include "protocol/info_block.h"
#include "res/string_format.h"
#include "res/string_table.h"

namespace quorvane {
namespace {

using Stop = UpgradeOutcome::Stop;

// Wanted product id 1 also stands for devices whose firmware reports 0.
bool ProductAccepted(uint16_t productId, uint16_t wanted) {
    return productId == wanted || (wanted == 1 && productId == 0);
}

// The checks for one device; Stop::None when it may be upgraded.
Stop CheckDevice(const DeviceRecord& record, const Restrictions& restrictions) {
    if (restrictions.macRestricted && record.mac != restrictions.wantedMac) return Stop::MacRefused;
    FirmwareFields firmware;
    InfoBlock::Firmware(DeviceRecord::InfoBlock(&record), firmware);
    if (!ProductAccepted(firmware.productId, restrictions.wantedProductId)) return Stop::FirmwareRefused;
    if (restrictions.wantedRevisionId != 0 && firmware.revisionId != restrictions.wantedRevisionId)
        return Stop::FirmwareRefused;
    return Stop::None;
}

// Every selected device must pass: the package would otherwise be flashed
// onto a device it was not made for, which can leave that device unusable.
Stop CheckAll(const std::vector<DeviceRecord*>& devices, const Restrictions& restrictions,
              Prompter& prompter) {
    for (const DeviceRecord* record : devices) {
        const Stop stop = CheckDevice(*record, restrictions);
        if (stop == Stop::MacRefused) prompter.Tell(IDS_MAC_REFUSED, LoadString(IDS_MAC_REFUSED), BOX_OK);
        if (stop == Stop::FirmwareRefused)
            prompter.Tell(IDS_FIRMWARE_REFUSED, LoadString(IDS_FIRMWARE_REFUSED), BOX_OK);
        if (stop != Stop::None) return stop;
    }
    return Stop::None;
}

std::string RetryPrompt(const DeviceRecord& record) {
    const MacAddress& m = record.mac;
    return FormatStringId(IDS_RETRY_PROMPT, {m[0], m[1], m[2], m[3], m[4], m[5]});
}

bool StopRequested(const UpgradeProgress* progress) {
    return progress != nullptr && progress->StopRequested();
}

// Runs the script on one device until it succeeds or the user stops asking
// for another try. True when the device was upgraded. A stopped run is
// neither retried nor given up with a message: the caller reports it.
bool UpgradeDevice(const DeviceRecord& record, std::size_t index, std::size_t count, UpgradePackage& package,
                   DeviceProtocol& protocol, Prompter& prompter, UpgradeProgress* progress) {
    for (;;) {
        if (progress) progress->OnDeviceStart(index, count, record);
        if (RunUpgradeScript(package, protocol, record, progress)) return true;
        if (StopRequested(progress)) return false;
        if (!prompter.Ask(IDS_RETRY_PROMPT, RetryPrompt(record), BOX_YES_NO | ICON_STOP)) break;
    }
    prompter.Tell(IDS_UPGRADE_GIVEN_UP, LoadString(IDS_UPGRADE_GIVEN_UP), BOX_OK);
    return false;
}

}  // namespace

Stop CheckAndConfirm(const std::vector<DeviceRecord*>& devices, const Restrictions& restrictions,
                     Prompter& prompter) {
    if (devices.empty()) return Stop::NothingSelected;
    const Stop stop = CheckAll(devices, restrictions, prompter);
    if (stop != Stop::None) return stop;
    if (restrictions.defaultsWarning != 0 &&
        !prompter.Ask(IDS_CONFIGURATION_WARNING, LoadString(IDS_CONFIGURATION_WARNING),
                      BOX_YES_NO | ICON_QUESTION))
        return Stop::WarningDeclined;
    return Stop::None;
}

void RunScripts(const std::vector<DeviceRecord*>& devices, UpgradePackage& package, DeviceProtocol& protocol,
                Prompter& prompter, UpgradeProgress* progress, UpgradeOutcome& outcome) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (StopRequested(progress)) {
            outcome.stop = Stop::Interrupted;
            return;
        }
        const bool done =
            UpgradeDevice(*devices[i], i, devices.size(), package, protocol, prompter, progress);
        ++(done ? outcome.succeeded : outcome.failed);
        if (progress) progress->OnDeviceEnd(i, done);
    }
    if (StopRequested(progress)) outcome.stop = Stop::Interrupted;
}

void ReportCompletion(UpgradeOutcome& outcome, Prompter& prompter) {
    if (outcome.succeeded == 0 || outcome.stop == Stop::Interrupted) return;
    prompter.Tell(IDS_UPGRADE_COMPLETE, LoadString(IDS_UPGRADE_COMPLETE), BOX_OK | ICON_INFORMATION);
    outcome.dialogResult = REFRESH_RESULT;
}

UpgradeOutcome RunUpgradeCommand(const std::vector<DeviceRecord*>& selected, UpgradePackage& package,
                                 const Restrictions& restrictions, DeviceProtocol& protocol,
                                 Prompter& prompter, UpgradeProgress* progress) {
    std::vector<DeviceRecord*> devices;
    for (DeviceRecord* record : selected)
        if (record != nullptr) devices.push_back(record);
    UpgradeOutcome outcome;
    outcome.stop = CheckAndConfirm(devices, restrictions, prompter);
    if (outcome.stop != Stop::None) return outcome;
    RunScripts(devices, package, protocol, prompter, progress, outcome);
    ReportCompletion(outcome, prompter);
    return outcome;
}

}  // namespace quorvane
