#include "app/upgrade_command.h"

#include <algorithm>

#include "app/device_runs.h"
#include "app/exit_codes.h"
#include "app/mac_strings.h"
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

// The checks for one device; Stop::None when it may be upgraded. A MAC that
// answered as two devices comes first: every request of the script would
// reach both, whatever the other checks say of the one that was listed.
Stop CheckDevice(const DeviceRecord& record, const Restrictions& restrictions) {
    if (record.sharedMac != SharedMac::No) return Stop::MacShared;
    if (restrictions.macRestricted && record.mac != restrictions.wantedMac) return Stop::MacRefused;
    FirmwareFields firmware;
    InfoBlock::Firmware(DeviceRecord::InfoBlock(&record), firmware);
    if (!ProductAccepted(firmware.productId, restrictions.wantedProductId)) return Stop::FirmwareRefused;
    if (restrictions.wantedRevisionId != 0 && firmware.revisionId != restrictions.wantedRevisionId)
        return Stop::FirmwareRefused;
    return Stop::None;
}

// What `record` has that the package does not admit, "revision 4, the
// package needs 3" (several such, joined by "; "), for a refused device.
std::string RefusedValues(const DeviceRecord& record, const Restrictions& restrictions, Stop stop) {
    if (stop == Stop::MacRefused) {
        // The MAC as the package wrote it; as read, when the text is not at hand.
        const std::string wanted =
            restrictions.macText.empty() ? MacText(restrictions.wantedMac) : restrictions.macText;
        return FormatPlaceholders(IDS_REFUSED_VALUE, {"MAC address", MacText(record.mac), wanted});
    }
    FirmwareFields firmware;
    InfoBlock::Firmware(DeviceRecord::InfoBlock(&record), firmware);
    std::string values;
    if (!ProductAccepted(firmware.productId, restrictions.wantedProductId))
        values = FormatPlaceholders(IDS_REFUSED_VALUE, {"product", std::to_string(firmware.productId),
                                                        std::to_string(restrictions.wantedProductId)});
    if (restrictions.wantedRevisionId != 0 && firmware.revisionId != restrictions.wantedRevisionId)
        values += (values.empty() ? "" : "; ") +
                  FormatPlaceholders(IDS_REFUSED_VALUE, {"revision", std::to_string(firmware.revisionId),
                                                         std::to_string(restrictions.wantedRevisionId)});
    return values;
}

// The refusal's message, then a line for every selected device it refuses.
void TellRefusal(const std::vector<DeviceRecord*>& devices, const Restrictions& restrictions, Stop stop,
                 Prompter& prompter) {
    const int id = stop == Stop::MacRefused ? IDS_MAC_REFUSED : IDS_FIRMWARE_REFUSED;
    std::string text = LoadString(id);
    for (const DeviceRecord* record : devices)
        if (CheckDevice(*record, restrictions) == stop)
            text += '\n' + detail::DeviceLine(*record, RefusedValues(*record, restrictions, stop));
    prompter.Tell(id, text, BOX_OK);
}

// Every selected device must pass: the package would otherwise be flashed
// onto a device it was not made for, which can leave that device unusable.
Stop CheckAll(const std::vector<DeviceRecord*>& devices, const Restrictions& restrictions,
              Prompter& prompter) {
    for (const DeviceRecord* record : devices) {
        const Stop stop = CheckDevice(*record, restrictions);
        if (stop == Stop::MacShared)
            prompter.Tell(IDS_MAC_SHARED, FormatPlaceholders(IDS_MAC_SHARED, {MacText(record->mac)}), BOX_OK);
        if (stop == Stop::MacRefused || stop == Stop::FirmwareRefused)
            TellRefusal(devices, restrictions, stop, prompter);
        if (stop != Stop::None) return stop;
    }
    return Stop::None;
}

// The question that offers the failed devices a new batch, in the singular for one.
int RetryTogetherId(const std::vector<std::size_t>& failed) {
    return failed.size() == 1 ? IDS_RETRY_ONE : IDS_RETRY_TOGETHER;
}

// The question names the failed devices, then says why each failed, a line
// each as the end-of-run lines say it, before it asks.
std::string RetryTogetherPrompt(const RunModel& model, const std::vector<std::size_t>& failed) {
    std::string macs;
    std::string causes;
    for (std::size_t index : failed) {
        const DeviceResult& device = model.devices[index];
        macs += (macs.empty() ? "" : ", ") + MacText(device.record->mac);
        if (!device.error.empty()) causes += detail::DeviceLine(*device.record, device.error) + '\n';
    }
    std::string text = FormatPlaceholders(RetryTogetherId(failed), {macs});
    if (causes.empty()) return text;
    // The table's text names the devices on its first line and asks on the next.
    const std::size_t question = text.find('\n');
    if (question == std::string::npos) return text + '\n' + causes.substr(0, causes.size() - 1);
    return text.insert(question + 1, causes);
}

// After a batch side by side: every failed device by name, the devices
// this computer failed with why, and the network advice once when the
// network or a device failed any other.
void TellFailures(const RunModel& model, Prompter& prompter) {
    std::string named;
    std::string local;
    std::string network;  // the devices the network or the device failed, each with why
    bool anyNetwork = false;
    std::string notBack;  // devices whose script ran and which did not come back
    for (std::size_t index : model.InState(DeviceState::Failed)) {
        const DeviceResult& device = model.devices[index];
        if (device.NotBack()) {
            notBack += (notBack.empty() ? "" : "\n") + device.error;
            continue;
        }
        named += FailedDeviceText(device.record->mac) + '\n';
        if (!device.localError) {
            anyNetwork = true;
            if (!device.error.empty()) network += detail::DeviceLine(*device.record, device.error) + '\n';
            continue;
        }
        if (!local.empty()) local += '\n';
        local += detail::DeviceLine(*device.record, device.error);
    }
    if (!local.empty())
        prompter.Tell(IDS_LOCAL_FAILURE, named + FormatPlaceholders(IDS_LOCAL_FAILURE, {local}), BOX_OK);
    if (anyNetwork)
        prompter.Tell(IDS_UPGRADE_GIVEN_UP,
                      (local.empty() ? named : "") + network + LoadString(IDS_UPGRADE_GIVEN_UP), BOX_OK);
    // Their scripts ran: the network advice is not theirs.
    if (!notBack.empty()) prompter.Tell(IDS_NOT_BACK, notBack, BOX_OK | ICON_STOP);
}

// The one question before anything is flashed, with the devices listed:
// the configuration warning, when the package gives it, then how many
// devices are about to be upgraded, so that one answer covers both.
Stop AskAboutDevices(const std::vector<DeviceRecord*>& devices, bool warns, Prompter& prompter) {
    std::vector<AdmittedDevice> listed;
    for (DeviceRecord* record : devices) listed.push_back(WithSummary(*record));
    const std::string question = UpgradeTheseText(devices.size());
    const int id = warns ? IDS_CONFIGURATION_WARNING : devices.size() == 1 ? IDS_UPGRADE_THIS : IDS_UPGRADE_THESE;
    const std::string text = warns ? LoadString(IDS_CONFIGURATION_WARNING) + '\n' + question : question;
    if (prompter.AskAbout(id, text, BOX_YES_NO | ICON_QUESTION, listed)) return Stop::None;
    return warns ? Stop::WarningDeclined : Stop::DevicesDeclined;
}

}  // namespace

std::string UpgradeTheseText(std::size_t devices) {
    if (devices == 1) return LoadString(IDS_UPGRADE_THIS);
    return FormatPlaceholders(IDS_UPGRADE_THESE, {std::to_string(devices)});
}

Stop CheckAndConfirm(const std::vector<DeviceRecord*>& devices, const Restrictions& restrictions,
                     Prompter& prompter, DeviceQuestion question) {
    if (devices.empty()) return Stop::NothingSelected;
    const Stop stop = CheckAll(devices, restrictions, prompter);
    if (stop != Stop::None) return stop;
    const bool warns = restrictions.defaultsWarning != 0;
    if (question == DeviceQuestion::Listed) return AskAboutDevices(devices, warns, prompter);
    if (warns && !prompter.Ask(IDS_CONFIGURATION_WARNING, LoadString(IDS_CONFIGURATION_WARNING),
                               BOX_YES_NO | ICON_QUESTION))
        return Stop::WarningDeclined;
    return Stop::None;
}

ReadNames ReadNamesFor(std::size_t devices) {
    return devices > 1 ? ReadNames::PerDevice : ReadNames::Shared;
}

bool RunsSideBySide(std::size_t jobs, std::size_t devices) {
    return jobs != 1 && devices > 1;
}

namespace {

// The failed devices a retry is offered to: not those whose script ran
// and which did not come back, which another run would flash again.
std::vector<std::size_t> RetryableFailures(const RunModel& model) {
    std::vector<std::size_t> failed;
    for (std::size_t index : model.InState(DeviceState::Failed))
        if (!model.devices[index].NotBack()) failed.push_back(index);
    return failed;
}

}  // namespace

namespace {

// The devices of each stage, in the order they start: the canaries, then
// the others once the canaries passed; without canaries, one stage.
std::vector<std::vector<std::size_t>> StagesToRun(const RunModel& model, const std::vector<std::size_t>& canaries) {
    std::vector<std::size_t> others;
    for (std::size_t i = 0; i < model.devices.size(); ++i)
        if (model.devices[i].state == DeviceState::Waiting &&
            std::find(canaries.begin(), canaries.end(), i) == canaries.end())
            others.push_back(i);
    if (canaries.empty()) return {others};
    return {canaries, others};
}

// One stage's devices, then the failed ones again for as long as the user
// asks for it; false when the progress asked to stop. A closed gate starts
// no device, a retry neither.
bool RunStage(std::vector<std::size_t> batch, RunModel& model, const detail::Script& script,
              DeviceProtocol& protocol, Prompter& prompter, UpgradeProgress* progress, const FleetOptions& fleet,
              bool sideBySide) {
    if (batch.empty()) return true;
    for (;;) {
        const bool finished =
            sideBySide ? detail::RunSideBySide(batch, model, script, fleet, progress)
                       : detail::RunInTurn(batch, model, script, protocol, prompter, progress, fleet.openLink);
        if (!finished) return false;
        if (!script.gate->MayStart()) return true;
        batch = RetryableFailures(model);
        if (batch.empty() || !fleet.askAfterBatch ||
            !prompter.Ask(RetryTogetherId(batch), RetryTogetherPrompt(model, batch), BOX_YES_NO | ICON_STOP))
            return true;
    }
}

}  // namespace

void RunScripts(RunModel& model, std::span<const PlannedCommand> plan, UpgradePackage& package,
                DeviceProtocol& protocol, Prompter& prompter, UpgradeProgress* progress, UpgradeOutcome& outcome,
                const FleetOptions& fleet) {
    const std::size_t count = model.devices.size();
    RolloutGate gate(count, fleet.canaries, fleet.failureLimit);
    const detail::Script script{plan, package, ReadNamesFor(count), fleet.returnLimit, &gate};
    const bool sideBySide = RunsSideBySide(fleet.jobs, count);
    for (std::size_t i = 0; i < count; ++i)
        if (model.devices[i].state == DeviceState::Current && progress != nullptr) progress->OnDeviceSkipped(i);
    const std::vector<std::vector<std::size_t>> stages = StagesToRun(model, fleet.canaries);
    for (std::size_t stage = 0; stage < stages.size(); ++stage) {
        if (!RunStage(stages[stage], model, script, protocol, prompter, progress, fleet, sideBySide)) {
            outcome.stop = Stop::Interrupted;
            break;
        }
        if (stage == 0 && !fleet.canaries.empty()) {
            const bool passed = gate.CanariesPassed();
            if (progress != nullptr) progress->OnCanariesDone(fleet.canaries.size(), passed);
            if (!passed) break;
        }
        if (!gate.MayStart()) break;
    }
    outcome.succeeded = model.CountIn(DeviceState::Upgraded);
    outcome.failed = model.CountIn(DeviceState::Failed) + model.CountIn(DeviceState::Interrupted);
    outcome.current = model.CountIn(DeviceState::Current);
    outcome.notStarted = model.CountIn(DeviceState::Waiting);
    outcome.failureLimit = fleet.failureLimit;
    // Only a gate that left devices out stopped the run; a stop is the stop's to report.
    if (outcome.notStarted > 0 && outcome.stop != Stop::Interrupted) outcome.halt = gate.Halted();
    // Runs side by side ask nothing while others run: the one apology
    // comes once they are all done.
    if (sideBySide && outcome.failed > 0 && outcome.stop != Stop::Interrupted) TellFailures(model, prompter);
}

std::string HaltText(const UpgradeOutcome& outcome) {
    const std::string notStarted = std::to_string(outcome.notStarted);
    const std::string selected =
        std::to_string(outcome.succeeded + outcome.failed + outcome.current + outcome.notStarted);
    switch (outcome.halt) {
        case RolloutHalt::None:
            break;
        case RolloutHalt::CanaryFailed:
            return FormatPlaceholders(IDS_CANARY_FAILED, {notStarted, selected});
        case RolloutHalt::BudgetReached:
            return FormatPlaceholders(IDS_BUDGET_REACHED, {std::to_string(outcome.failed),
                                                           std::to_string(outcome.failureLimit), notStarted,
                                                           selected});
    }
    return {};
}

std::string FailedDeviceText(const MacAddress& m) {
    const std::string prompt = MacStringText(IDS_RETRY_PROMPT, m);
    return prompt.substr(0, prompt.find('\n'));
}

void ReportCompletion(UpgradeOutcome& outcome, Prompter& prompter, const std::string& failures) {
    if (outcome.succeeded == 0 || outcome.stop == Stop::Interrupted) return;
    std::string text = LoadString(IDS_UPGRADE_COMPLETE);
    if (!failures.empty()) text += "\n\n" + failures;
    prompter.Tell(IDS_UPGRADE_COMPLETE, text, BOX_OK | ICON_INFORMATION);
    outcome.dialogResult = REFRESH_RESULT;
}

std::string FailureLines(const RunModel& model) {
    std::string lines;
    std::string notBack;
    for (std::size_t index : model.InState(DeviceState::Failed)) {
        const DeviceResult& device = model.devices[index];
        if (device.NotBack()) {
            notBack += '\n' + MacText(device.record->mac);
            continue;
        }
        if (!lines.empty()) lines += '\n';
        lines +=
            detail::DeviceLine(*device.record, device.error.empty() ? StateWord(device.state) : device.error);
    }
    if (notBack.empty()) return lines;
    return lines + (lines.empty() ? "" : "\n\n") + LoadString(IDS_NOT_BACK_LIST) + notBack;
}

int ExitCodeOf(const UpgradeOutcome& outcome) {
    switch (outcome.stop) {
        case UpgradeOutcome::Stop::None:
            return outcome.failed > 0 ? EXIT_SCRIPT_FAILED : EXIT_DONE;
        case UpgradeOutcome::Stop::NothingSelected:
        case UpgradeOutcome::Stop::ReadsClash:
            return EXIT_USAGE;
        case UpgradeOutcome::Stop::MacShared:
        case UpgradeOutcome::Stop::MacRefused:
        case UpgradeOutcome::Stop::FirmwareRefused:
        case UpgradeOutcome::Stop::WarningDeclined:
        case UpgradeOutcome::Stop::DevicesDeclined:
            break;
        case UpgradeOutcome::Stop::Interrupted:  // the caller exits with the signal's code
            return EXIT_SCRIPT_FAILED;
    }
    return EXIT_REFUSED;
}

}  // namespace quorvane
