#pragma once
// The events of an upgrade run, in the one shape both front ends write:
// discovery and admission, then what the upgrade command reports. An
// EventProgress stands between the command and a front end's own display,
// so every front end writes the same events for the same run.

#include <chrono>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/event_stream.h"
#include "app/forwarding_progress.h"
#include "app/upgrade_command.h"
#include "package/device_summary.h"

namespace quorvane {

// "discovered" with the count of devices that answered, then "admitted"
// for each admitted device, with the "key_id" that signed the package
// (null when it is not signed).
void EmitAdmission(EventStream& events, std::size_t discovered, const std::vector<AdmittedDevice>& admitted,
                   const std::string& keyId);
// "run-done": devices upgraded ("ok", and "succeeded" as the --json report
// has it) and failed, the run's exit code ("exit_code", and "exitCode"
// as the report has it) and "key_id" as "admitted" has it.
// With `current` and `not_started` (device counts) after them.
void EmitRunDone(EventStream& events, const UpgradeOutcome& outcome, int exitCode, const std::string& keyId);

// A device as the "admitted" event and `discover --json` give it: the
// device list's columns by their JSON names ("name", "mac", "firmware",
// "type"), then "ip", "vendorId", "deviceId", "productId", "revisionId", and
// "duplicate_mac": true for a device whose MAC answered as more than one.
nlohmann::ordered_json AdmittedJson(const AdmittedDevice& device);

// A text, or null when it is empty: how every report writes a value
// that is not known.
nlohmann::ordered_json TextOrNull(const std::string& text);

// What the wait after a device's RESET found, as "device-done", "verify"
// and the --json report give it: "firmware_before", "firmware_after" (null
// when unknown), "verify" (ReturnWord) and "verify_seconds".
nlohmann::ordered_json ReturnJson(const ReturnCheck& check);
// The same for a device of the run: "verify" is null when its script never
// got as far as the check.
nlohmann::ordered_json ReturnJson(const DeviceResult& device);
nlohmann::ordered_json AdmittedListJson(const std::vector<AdmittedDevice>& devices);

// A device's counters as the events and the JSON report give them:
// {"sends", "resends", "timeouts", "bad_echoes", "rtt_ms": {"min", "avg",
// "max"}, "bytes", "seconds"}.
nlohmann::ordered_json DeviceCountersJson(const DeviceCounters& counters);

// Writes "device-start", "line", "progress" (at most four a second per
// device, besides each transfer's first and last step) and "device-done"
// ("ok" and "succeeded" alike, with "error", why the run failed, when it did),
// and passes every call on to `display` (none: nothing is shown).
class EventProgress final : public ForwardingProgress {
public:
    // Device facts come from `model`, which the run writes before it calls here.
    EventProgress(EventStream& events, const RunModel& model, UpgradeProgress* display)
        : ForwardingProgress(display), events_(events), model_(model), lastProgress_(model.devices.size()) {}

    void OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) override;
    void OnDeviceEnd(std::size_t index, bool succeeded) override;
    void OnDeviceLine(std::size_t index, int lineNumber, std::string_view line) override;
    void OnDeviceTransfer(std::size_t index, const TransferStep& step) override;
    void OnDeviceReturn(std::size_t index, const ReturnCheck& check) override;
    // "device-skip" with the device's "mac" and "firmware".
    void OnDeviceSkipped(std::size_t index) override;
    // "stage" with "canaries" (how many) and "passed".
    void OnCanariesDone(std::size_t canaries, bool passed) override;

private:
    const DeviceResult* Find(std::size_t index) const;

    EventStream& events_;
    const RunModel& model_;
    // When each device's last progress event was written.
    std::vector<std::chrono::steady_clock::time_point> lastProgress_;
};

}  // namespace quorvane
