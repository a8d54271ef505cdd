#pragma once
// One listed device as upgradectl's table shows it.

#include <string>
#include <vector>

#include "package/device_summary.h"

namespace quorvane::cli {

struct DeviceRow {
    std::vector<std::string> cells;  // the device list's cell texts, one per column of DeviceColumns()
};

DeviceRow MakeRow(const AdmittedDevice& device);
std::vector<DeviceRow> MakeRows(const std::vector<AdmittedDevice>& devices);

}  // namespace quorvane::cli
