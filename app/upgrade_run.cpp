#include "app/upgrade_run.h"

#include <algorithm>
#include <optional>

#include "app/column_text.h"
#include "app/exit_codes.h"
#include "app/failure_text.h"
#include "app/history_recorder.h"
#include "app/run_events.h"
#include "package/script_interpreter.h"
#include "protocol/mac_text.h"
#include "res/string_ids.h"

namespace quorvane {

PackageGate OpenForRun(const std::filesystem::path& path, UpgradePackage& package, RunOutputs outputs,
                       const TrustOptions& trust) {
    PackageGate gate;
    JudgedPackage opened = OpenJudged(path, package, trust);
    if (!opened.opened) {
        gate.status = PackageGate::Status::CannotOpen;
        gate.reason = package.OpenError();
        gate.fileError = opened.fileError;
        return gate;
    }
    gate.check = std::move(opened.check);
    outputs.reads = ReadOutputsOf(gate.check);
    if (gate.check.signature->Refused()) {
        gate.status = PackageGate::Status::Untrusted;
    } else if (gate.check.HasErrors()) {
        gate.status = PackageGate::Status::Invalid;
    } else if (gate.reason = OutputClash(outputs, package.PackagePath()); !gate.reason.empty()) {
        gate.status = PackageGate::Status::OutputsClash;
    } else if (gate.reason = PrepareLoadMembers(package, gate.check.plan); !gate.reason.empty()) {
        // Before anything is sent: a full temporary disk fails here, not
        // after a device was erased.
        gate.status = PackageGate::Status::LocalFailure;
    }
    if (!gate.Ready()) package.Close();
    return gate;
}

std::vector<AdmittedDevice> AdmitAndAnnounce(UpgradePackage& package, DeviceProtocol& protocol,
                                             Restrictions& restrictions, EventStream* events,
                                             const std::string& keyId, std::vector<AdmissionRefusal>* refused) {
    std::vector<AdmittedDevice> devices = AdmitDevices(package, protocol, restrictions, refused);
    if (events != nullptr) EmitAdmission(*events, protocol.Chain().Records().size(), devices, keyId);
    return devices;
}

UpgradeRun::UpgradeRun(LinkStack& links, UpgradePackage& package, const PackageCheck* check,
                       const Restrictions& restrictions, RunOutputs outputs)
    : UpgradeRun(links.Protocol(), links.Events().IsOpen() ? &links.Events() : nullptr,
                 [&links](const DeviceRecord&, std::string& reason) { return links.OpenDeviceLink(reason); },
                 package, check, restrictions, std::move(outputs)) {}

UpgradeRun::UpgradeRun(DeviceProtocol& protocol, EventStream* events, LinkFactory openLink,
                       UpgradePackage& package, const PackageCheck* check, const Restrictions& restrictions,
                       RunOutputs outputs)
    : protocol_(protocol),
      events_(events),
      openLink_(std::move(openLink)),
      package_(package),
      ownCheck_(check != nullptr ? PackageCheck{} : CheckPackage(package, package.PackageFolder())),
      check_(check != nullptr ? *check : ownCheck_),
      restrictions_(restrictions),
      outputs_(std::move(outputs)) {}

UpgradeOutcome::Stop UpgradeRun::Confirm(const std::vector<DeviceRecord*>& selected, Prompter& prompter,
                                         DeviceQuestion question) {
    selected_.clear();
    for (DeviceRecord* record : selected)
        if (record != nullptr) selected_.push_back(record);
    model_ = RunModel(selected_);
    outcome_ = {};
    if (history_ != nullptr)
        history_->Begin(package_.PackagePath().string(), package_.ContainerBytes(), KeyIdOf(check_),
                        check_.signature ? check_.signature->trustedComment : std::string());
    // Before any question: a selection whose read-back has nowhere to go
    // is refused as a package whose outputs clash is.
    refusal_ = DeviceReadsProblem(selected_);
    if (!refusal_.empty()) {
        prompter.Tell(IDS_INVALID_PACKAGE, refusal_, BOX_OK);
        outcome_.stop = UpgradeOutcome::Stop::ReadsClash;
        return outcome_.stop;
    }
    // Current devices are not touched: neither checked nor asked about.
    const std::vector<DeviceRecord*> touched = MarkCurrent();
    if (touched.empty() && !selected_.empty()) return outcome_.stop;
    outcome_.stop = CheckAndConfirm(touched, restrictions_, prompter, question);
    return outcome_.stop;
}

std::vector<DeviceRecord*> UpgradeRun::MarkCurrent() {
    std::vector<DeviceRecord*> touched;
    for (DeviceResult& device : model_.devices) {
        const AdmittedDevice admitted = WithSummary(*device.record);
        if (FirmwareMatches(device.returned.firmwareBefore, FirmwareVersionText(admitted), rollout_.skipFirmware))
            device.state = DeviceState::Current;
        else
            touched.push_back(device.record);
    }
    outcome_.current = selected_.size() - touched.size();
    return touched;
}

std::string UpgradeRun::DeviceReadsProblem(const std::vector<DeviceRecord*>& selected) const {
    if (ReadNamesFor(selected.size()) == ReadNames::Shared) return {};
    RunOutputs outputs = outputs_;
    outputs.reads = DeviceReadOutputs(check_, selected);
    for (const ReadOutput& read : outputs.reads)
        if (std::string problem = ReadOutputProblem(read.path, package_.PackagePath()); !problem.empty())
            return problem + "; nothing was done";
    return OutputClash(outputs, package_.PackagePath());
}

void UpgradeRun::Execute(const BatchOptions& batch, Prompter& prompter, UpgradeProgress* display) {
    if (outcome_.stop != UpgradeOutcome::Stop::None) return;
    FleetOptions fleet;
    fleet.jobs = batch.jobs;
    fleet.retries = batch.retries;
    fleet.askAfterBatch = batch.askAfterBatch;
    fleet.returnLimit = batch.returnLimit;
    fleet.openLink = openLink_;
    const RolloutStages stages = Stages();
    fleet.canaries = stages.canaries;
    fleet.failureLimit = stages.failureLimit;
    std::optional<EventProgress> eventful;
    if (events_ != nullptr) eventful.emplace(*events_, model_, display);
    UpgradeProgress* progress = eventful ? &*eventful : display;
    std::optional<HistoryProgress> recorded;
    if (history_ != nullptr) progress = &recorded.emplace(*history_, model_, progress);
    RunScripts(model_, check_.plan, package_, protocol_, prompter, progress, outcome_, fleet);
    if (session_ != nullptr) session_->Record(model_);
}

void UpgradeRun::Complete(Prompter& prompter) {
    ReportCompletion(outcome_, prompter, FailureLines(model_));
}

void UpgradeRun::Finish(int exitCode) {
    if (events_ != nullptr) EmitRunDone(*events_, outcome_, exitCode, KeyIdOf(check_));
    if (history_ != nullptr) history_->End(model_, exitCode);
}

void UpgradeRun::FinishDryRun(int exitCode) {
    if (history_ != nullptr) history_->End(model_, exitCode, true);
}

std::vector<DeviceRecord*> SelectByMac(const std::vector<DeviceRecord*>& admitted,
                                       const std::vector<MacAddress>& wanted, std::vector<MacAddress>& missing) {
    std::vector<DeviceRecord*> selected;
    for (const MacAddress& mac : wanted)
        if (std::none_of(admitted.begin(), admitted.end(), [&](const DeviceRecord* r) { return r->mac == mac; }))
            missing.push_back(mac);
    for (DeviceRecord* record : admitted)
        if (std::find(wanted.begin(), wanted.end(), record->mac) != wanted.end()) selected.push_back(record);
    return selected;
}

std::string MissingMacText(const MacAddress& mac, const std::vector<AdmissionRefusal>& refused,
                           const Restrictions& restrictions) {
    for (const AdmissionRefusal& refusal : refused)
        if (refusal.record != nullptr && refusal.record->mac == mac)
            return NotAdmittedText(refusal, restrictions);
    return "no admitted device has the MAC address " + FormatMac(mac);
}

int EndWithOutputs(int code, UpgradeRun* run, LinkStack& links, std::vector<std::string>& lost) {
    lost = links.CloseCaptureAndLog();
    if (!lost.empty()) code = WithLostOutput(code);
    if (run != nullptr) run->Finish(code);
    if (std::string failure = links.EventsFailure(); !failure.empty()) {
        lost.push_back(std::move(failure));
        code = WithLostOutput(code);
    }
    return code;
}

}  // namespace quorvane
