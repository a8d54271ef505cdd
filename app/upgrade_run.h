#pragma once
// One upgrade run, for one press of Upgrade or one `upgradectl upgrade`: the
// package opened and checked for it, admission, the compatibility checks
// and the configuration question on the selection, the planned script on
// every selected device (in turn, or side by side over links of their
// own, with the retries and the retry after the batch), the completion
// message and "run-done". Front ends parse their options, answer its
// questions, show its progress and read its model; they assemble nothing.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "app/event_stream.h"
#include "app/link_stack.h"
#include "app/output_paths.h"
#include "app/package_trust.h"
#include "app/prompter.h"
#include "app/rollout_gate.h"
#include "app/run_model.h"
#include "app/session_results.h"
#include "app/upgrade_command.h"
#include "package/device_summary.h"
#include "package/package_check.h"
#include "package/restrictions.h"
#include "package/upgrade_package.h"

namespace quorvane {

class HistoryRecorder;

// A package made ready for runs: opened, checked, refused when the run's
// outputs would clash with it or with each other, and its LOAD members
// extracted once for every device.
struct PackageGate {
    enum class Status {
        Ready,
        CannotOpen,    // `reason`: why this computer could not (the private folder); empty: no package
        Untrusted,     // the signature was refused: its reason is among the check's errors
        Invalid,       // the check found errors (in `check`)
        OutputsClash,  // `reason`: the clash, as OutputClash says it
        LocalFailure,  // `reason`: a LOAD member could not be extracted
    };
    Status status = Status::Ready;
    std::string reason;
    // CannotOpen: why the file could not be read ("x.upk: No such file or
    // directory"), said before IDS_INVALID_PACKAGE; empty when it was read.
    std::string fileError;
    PackageCheck check;

    bool Ready() const { return status == Status::Ready; }
};

// Opens `path` into `package` from the bytes its signature was judged on
// (OpenJudged) and makes it ready; a package that is not ready is closed
// again. `outputs` are the files the program writes besides READ, whose
// outputs the check adds.
PackageGate OpenForRun(const std::filesystem::path& path, UpgradePackage& package, RunOutputs outputs,
                       const TrustOptions& trust);

// One admission pass: discovery, information queries, the restriction
// file's judgement, and the "discovered" and "admitted" events (with
// `keyId`, the package's signer: KeyIdOf its check). `refused`, when
// given, gets the devices that answered but were not admitted.
std::vector<AdmittedDevice> AdmitAndAnnounce(UpgradePackage& package, DeviceProtocol& protocol,
                                             Restrictions& restrictions, EventStream* events,
                                             const std::string& keyId = {},
                                             std::vector<AdmissionRefusal>* refused = nullptr);

// The admitted devices with the wanted MACs, in admission order (so a MAC
// given twice still upgrades its device once); `missing` gets the wanted
// MACs that name no admitted device.
std::vector<DeviceRecord*> SelectByMac(const std::vector<DeviceRecord*>& admitted,
                                       const std::vector<MacAddress>& wanted, std::vector<MacAddress>& missing);

// Why no admitted device has `mac`: "02:00:00:00:00:04 answered but
// DEVICEID 0xFC does not admit its port type 0x20" when that device is
// among `refused`, else "no admitted device has the MAC address ...".
std::string MissingMacText(const MacAddress& mac, const std::vector<AdmissionRefusal>& refused,
                           const Restrictions& restrictions);

// How the selected devices are run.
struct BatchOptions {
    std::size_t jobs = 1;  // devices at once; 0: all of them
    int retries = 0;       // side by side: a failed run is retried at once this many times
    // Side by side: the failed devices are offered a retry together, in one
    // question, once the batch is done.
    bool askAfterBatch = false;
    // After a script's final RESET, how long each device may take to come
    // back (zero: not waited for); see FleetOptions.
    std::chrono::milliseconds returnLimit{0};
};

class UpgradeRun {
public:
    // Everything goes through `links`. `check` is the passed check of
    // `package` (OpenForRun's); none: the run checks the package itself.
    // `outputs` are the files the program writes besides READ, which no
    // device's own READ file may be.
    UpgradeRun(LinkStack& links, UpgradePackage& package, const PackageCheck* check,
               const Restrictions& restrictions, RunOutputs outputs = {});
    // The same over a protocol of the caller's and per-device links from
    // `openLink` (tests drive a run over scripted devices this way).
    UpgradeRun(DeviceProtocol& protocol, EventStream* events, LinkFactory openLink, UpgradePackage& package,
               const PackageCheck* check, const Restrictions& restrictions, RunOutputs outputs = {});

    // Takes the selection (null entries skipped), marks the devices that
    // already run the rollout's firmware Current, refuses it when a
    // device's own READ file cannot be written (DeviceReadsProblem, told
    // under IDS_INVALID_PACKAGE; Stop::ReadsClash), then asks the checks
    // and the configuration question (with the devices listed, see
    // CheckAndConfirm) on the devices that are not current; Stop::None when
    // the scripts may run, and when every device is current (nothing runs).
    // Where Execute records what each device came to; none (the default):
    // nothing is recorded.
    void SetSessionResults(SessionResults* results) { session_ = results; }

    // The canaries, the failure budget and the firmware that is left
    // alone, for the runs confirmed after it; none by default.
    void SetRollout(RolloutOptions rollout) { rollout_ = std::move(rollout); }

    UpgradeOutcome::Stop Confirm(const std::vector<DeviceRecord*>& selected, Prompter& prompter,
                                 DeviceQuestion question = DeviceQuestion::FrontEnds);
    // With several devices selected each READs into a file of its own
    // (ReadNamesFor), which the package check could not name: the line
    // that refuses the first of them that clashes with the run's outputs
    // (as OutputClash says it) or could not take the read-back (as the
    // check says it); empty when all is well, and always for one device.
    std::string DeviceReadsProblem(const std::vector<DeviceRecord*>& selected) const;
    // The planned script on every selected device, as RunScripts runs it.
    // `display` (none: nothing shown) hears every step after the model has
    // it and the events were written; its StopRequested stops the run.
    // What each device came to is then the session's last result for it.
    void Execute(const BatchOptions& batch, Prompter& prompter, UpgradeProgress* display);
    // IDS_UPGRADE_COMPLETE and the refresh code, when any device was
    // upgraded and the run was not interrupted.
    void Complete(Prompter& prompter);
    // "run-done" with the devices upgraded and failed and `exitCode`, and
    // the run's end in the history.
    void Finish(int exitCode);
    // A dry run's end: its devices go into the history as "dry-run".
    void FinishDryRun(int exitCode);
    // Where the run is recorded from Confirm on; none: nowhere.
    void RecordTo(HistoryRecorder* history) { history_ = history; }


    // The exit code the outcome stands for (see ExitCodeOf).
    int ExitCode() const { return ExitCodeOf(outcome_); }
    const RunModel& Model() const { return model_; }
    const UpgradeOutcome& Outcome() const { return outcome_; }
    const std::vector<DeviceRecord*>& Selected() const { return selected_; }
    // The stages of the confirmed selection: current devices, canaries, the
    // rest and the failure budget.
    RolloutStages Stages() const { return StagesOf(model_, rollout_); }
    // The line Confirm refused the selection with when it told it itself
    // (Stop::ReadsClash); empty otherwise.
    const std::string& Refusal() const { return refusal_; }

private:
    // Marks the selected devices that run the rollout's firmware; the others.
    std::vector<DeviceRecord*> MarkCurrent();

    DeviceProtocol& protocol_;
    EventStream* events_;
    LinkFactory openLink_;
    UpgradePackage& package_;
    PackageCheck ownCheck_;  // when none was given
    const PackageCheck& check_;
    const Restrictions& restrictions_;
    RunOutputs outputs_;
    SessionResults* session_ = nullptr;
    std::vector<DeviceRecord*> selected_;
    RunModel model_;
    UpgradeOutcome outcome_;
    std::string refusal_;
    HistoryRecorder* history_ = nullptr;
    RolloutOptions rollout_;
};

// The end of a program that made one run over `links` (none when the run
// never got that far): the capture and the log are closed, "run-done" ends
// the events, and why each output is incomplete goes to `lost`; the exit
// code `code` then says so too (WithLostOutput).
int EndWithOutputs(int code, UpgradeRun* run, LinkStack& links, std::vector<std::string>& lost);

}  // namespace quorvane
