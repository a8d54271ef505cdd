#pragma once
// The device list on stdout as a table for people (scripts get AdmittedListJson).

#include <ostream>
#include <span>
#include <vector>

#include "package/device_summary.h"

#include "tools/upgradectl/device_row.h"

namespace quorvane::cli {

// The device list's columns (DeviceColumns), IP the last.
void PrintDeviceTable(std::ostream& out, const std::vector<DeviceRow>& rows);
// The same table of `devices` with only the columns of `keys` (ColumnKey), in the list's order.
void PrintDeviceColumns(std::ostream& out, const std::vector<AdmittedDevice>& devices, std::span<const int> keys);

}  // namespace quorvane::cli
