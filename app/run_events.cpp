#include "app/run_events.h"

#include <cmath>

#include "app/column_text.h"
#include "package/device_summary.h"
#include "protocol/ipv4_text.h"
#include "protocol/mac_text.h"

namespace quorvane {
namespace {

// At most this often a progress event per device, besides each transfer's first and last.
constexpr auto PROGRESS_EVENT_INTERVAL = std::chrono::milliseconds(250);

double Milliseconds(std::chrono::microseconds time) {
    return static_cast<double>(time.count()) / 1000.0;
}

double Seconds(std::chrono::microseconds time) {
    return static_cast<double>(time.count()) / 1e6;
}

}  // namespace

nlohmann::ordered_json AdmittedJson(const AdmittedDevice& device) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const DeviceColumn& column : DeviceColumns()) object[column.name] = column.text(device, nullptr);
    object["vendorId"] = device.summary.vendorId;
    object["deviceId"] = device.summary.deviceId;
    object["productId"] = device.summary.productId;
    object["revisionId"] = device.summary.revisionId;
    // Only where it applies, so that the objects of ordinary devices stay as they were.
    if (device.record->sharedMac != SharedMac::No) object["duplicate_mac"] = true;
    return object;
}

nlohmann::ordered_json AdmittedListJson(const std::vector<AdmittedDevice>& devices) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const AdmittedDevice& device : devices) list.push_back(AdmittedJson(device));
    return list;
}

void EmitAdmission(EventStream& events, std::size_t discovered, const std::vector<AdmittedDevice>& admitted,
                   const std::string& keyId) {
    events.Emit("discovered", {{"count", discovered}});
    for (const AdmittedDevice& device : admitted) {
        nlohmann::ordered_json object = AdmittedJson(device);
        object["key_id"] = TextOrNull(keyId);
        events.Emit("admitted", std::move(object));
    }
}

void EmitRunDone(EventStream& events, const UpgradeOutcome& outcome, int exitCode, const std::string& keyId) {
    // "succeeded" and "exitCode" as the --json report spells them.
    events.Emit("run-done", {{"ok", outcome.succeeded},
                             {"failed", outcome.failed},
                             {"exit_code", exitCode},
                             {"succeeded", outcome.succeeded},
                             {"exitCode", exitCode},
                             {"key_id", TextOrNull(keyId)},
                             {"current", outcome.current},
                             {"not_started", outcome.notStarted}});
}

nlohmann::ordered_json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

nlohmann::ordered_json ReturnJson(const ReturnCheck& check) {
    return {{"firmware_before", TextOrNull(check.firmwareBefore)},
            {"firmware_after", TextOrNull(check.firmwareAfter)},
            {"verify", ReturnWord(check.outcome)},
            {"verify_seconds", std::round(static_cast<double>(check.waited.count())) / 1000.0}};
}

nlohmann::ordered_json ReturnJson(const DeviceResult& device) {
    nlohmann::ordered_json fields = ReturnJson(device.returned);
    if (!device.ReachedReturnCheck()) fields["verify"] = nullptr;
    return fields;
}

nlohmann::ordered_json DeviceCountersJson(const DeviceCounters& counters) {
    const ExchangeStats& e = counters.exchanges;
    return {{"sends", e.sends},
            {"resends", e.resends},
            {"timeouts", e.timeouts},
            {"bad_echoes", e.badEchoes},
            {"rtt_ms",
             {{"min", Milliseconds(e.rttMin)},
              {"avg", Milliseconds(e.RttAverage())},
              {"max", Milliseconds(e.rttMax)}}},
            {"bytes", e.bytes},
            {"seconds", std::round(Seconds(counters.elapsed) * 1000.0) / 1000.0}};
}

const DeviceResult* EventProgress::Find(std::size_t index) const {
    return index < model_.devices.size() ? &model_.devices[index] : nullptr;
}

void EventProgress::OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) {
    if (const DeviceResult* device = Find(index))
        events_.Emit("device-start",
                     {{"mac", FormatMac(record.mac)}, {"index", index}, {"attempt", device->counters.attempts}});
    ForwardingProgress::OnDeviceStart(index, count, record);
}

void EventProgress::OnDeviceEnd(std::size_t index, bool succeeded) {
    if (const DeviceResult* device = Find(index)) {
        // "succeeded" as the --json report has it too.
        nlohmann::ordered_json done = {{"mac", FormatMac(device->record->mac)},
                                       {"ok", succeeded},
                                       {"succeeded", succeeded},
                                       {"attempts", device->counters.attempts}};
        done.update(DeviceCountersJson(device->counters));
        if (device->state == DeviceState::Interrupted) done["interrupted"] = true;
        if (!succeeded && !device->error.empty()) done["error"] = device->error;
        done.update(ReturnJson(*device));
        events_.Emit("device-done", done);
    }
    ForwardingProgress::OnDeviceEnd(index, succeeded);
}

void EventProgress::OnDeviceLine(std::size_t index, int lineNumber, std::string_view line) {
    if (const DeviceResult* device = Find(index))
        events_.Emit("line", {{"mac", FormatMac(device->record->mac)}, {"line", lineNumber}, {"text", line}});
    ForwardingProgress::OnDeviceLine(index, lineNumber, line);
}

void EventProgress::OnDeviceTransfer(std::size_t index, const TransferStep& step) {
    const DeviceResult* device = Find(index);
    const auto now = std::chrono::steady_clock::now();
    if (device != nullptr && (step.done == 0 || step.done == step.total ||
                              now - lastProgress_[index] >= PROGRESS_EVENT_INTERVAL)) {
        lastProgress_[index] = now;
        events_.Emit("progress", {{"mac", FormatMac(device->record->mac)},
                                  {"file", step.fileName},
                                  {"done", step.done},
                                  {"total", step.total}});
    }
    ForwardingProgress::OnDeviceTransfer(index, step);
}

void EventProgress::OnDeviceReturn(std::size_t index, const ReturnCheck& check) {
    if (const DeviceResult* device = Find(index)) {
        nlohmann::ordered_json verify = {{"mac", FormatMac(device->record->mac)}};
        verify.update(ReturnJson(check));
        events_.Emit("verify", verify);
    }
    ForwardingProgress::OnDeviceReturn(index, check);
}

void EventProgress::OnDeviceSkipped(std::size_t index) {
    if (const DeviceResult* device = Find(index))
        events_.Emit("device-skip", {{"mac", FormatMac(device->record->mac)},
                                     {"firmware", TextOrNull(device->returned.firmwareBefore)},
                                     {"result", ResultWord(*device)}});
    ForwardingProgress::OnDeviceSkipped(index);
}

void EventProgress::OnCanariesDone(std::size_t canaries, bool passed) {
    events_.Emit("stage", {{"stage", "canaries"}, {"canaries", canaries}, {"passed", passed}});
    ForwardingProgress::OnCanariesDone(canaries, passed);
}

}  // namespace quorvane
