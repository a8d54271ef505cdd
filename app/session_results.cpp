#include "app/session_results.h"

namespace quorvane {

void SessionResults::Record(const RunModel& model) {
    const std::lock_guard<std::mutex> guard(lock_);
    for (const DeviceResult& device : model.devices)
        if (device.record != nullptr && device.Finished()) last_[device.record->mac] = device.state;
}

std::optional<DeviceState> SessionResults::LastOf(const MacAddress& mac) const {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = last_.find(mac);
    if (found == last_.end()) return std::nullopt;
    return found->second;
}

void SessionResults::Clear() {
    const std::lock_guard<std::mutex> guard(lock_);
    last_.clear();
}

std::string SessionResults::LastText(const MacAddress& mac) const {
    const std::optional<DeviceState> last = LastOf(mac);
    return last ? StateWord(*last) : "";
}

}  // namespace quorvane
