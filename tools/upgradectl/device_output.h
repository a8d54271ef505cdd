#pragma once
// The device list on stdout as a table for people (scripts get AdmittedListJson).

#include <ostream>
#include <vector>

#include "tools/upgradectl/device_row.h"

namespace quorvane::cli {

// The device list's columns (DeviceColumns), IP the last.
void PrintDeviceTable(std::ostream& out, const std::vector<DeviceRow>& rows);

}  // namespace quorvane::cli
