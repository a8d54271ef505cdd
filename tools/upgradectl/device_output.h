#pragma once
// The device list on stdout: a table for people, JSON for scripts.

#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "tools/upgradectl/device_row.h"

namespace quorvane::cli {

nlohmann::ordered_json DeviceRowJson(const DeviceRow& row);
nlohmann::ordered_json DeviceRowsJson(const std::vector<DeviceRow>& rows);
// The device list's columns (DeviceColumns) and then IP.
void PrintDeviceTable(std::ostream& out, const std::vector<DeviceRow>& rows);

}  // namespace quorvane::cli
