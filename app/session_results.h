#pragma once
// What this program session's upgrade runs came to, device by device (by
// MAC): the "Last result" column of the device list. A device that no run
// of the session finished has none. The program that shows the column owns
// one and hands it to every run it makes, which records itself there when
// its scripts are done (UpgradeRun::Execute).

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "app/run_model.h"
#include "protocol/device_record.h"

namespace quorvane {

class SessionResults {
public:
    // Every finished device of `model` (upgraded, failed or interrupted)
    // now has that result; the others keep theirs.
    void Record(const RunModel& model);
    std::optional<DeviceState> LastOf(const MacAddress& mac) const;
    // "upgraded", "failed", "interrupted", or empty when no run of the
    // session finished the device.
    std::string LastText(const MacAddress& mac) const;
    void Clear();

private:
    mutable std::mutex lock_;  // a front end may read while a worker records
    std::map<MacAddress, DeviceState> last_;
};

}  // namespace quorvane
