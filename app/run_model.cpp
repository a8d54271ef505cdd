#include "app/run_model.h"

namespace quorvane {

RunModel::RunModel(const std::vector<DeviceRecord*>& selected) {
    devices.reserve(selected.size());
    for (DeviceRecord* record : selected) {
        devices.emplace_back();
        devices.back().record = record;
        if (record != nullptr) devices.back().returned.firmwareBefore = FirmwareTextOf(*record);
    }
}

std::vector<std::size_t> RunModel::InState(DeviceState state) const {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (devices[i].state == state) found.push_back(i);
    return found;
}

const char* StateWord(DeviceState state) {
    switch (state) {
        case DeviceState::Waiting:
            return "waiting";
        case DeviceState::Running:
            return "running";
        case DeviceState::Upgraded:
            return "upgraded";
        case DeviceState::Failed:
            return "failed";
        case DeviceState::Interrupted:
            return "interrupted";
        case DeviceState::Current:
            return "current";
    }
    return "waiting";
}

const char* ResultWord(const DeviceResult& device) {
    switch (device.state) {
        case DeviceState::Upgraded:
            return "upgraded";
        case DeviceState::Current:
            return "current";
        case DeviceState::Waiting:
            return "not-started";
        case DeviceState::Running:  // under way when the run ended: it did not finish
        case DeviceState::Failed:
        case DeviceState::Interrupted:
            break;
    }
    return "failed";
}

}  // namespace quorvane
