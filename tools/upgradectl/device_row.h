#pragma once
// One listed device as both output formats show it.

#include <cstdint>
#include <string>
#include <vector>

#include "package/device_summary.h"

namespace quorvane::cli {

struct DeviceRow {
    std::vector<std::string> cells;  // the device list's cell texts, one per column of DeviceColumns()
    std::string ip;                  // dotted quad
    uint16_t vendorId = 0;
    uint16_t deviceId = 0;
    uint16_t productId = 0;
    uint8_t revisionId = 0;
};

DeviceRow MakeRow(const AdmittedDevice& device);
std::vector<DeviceRow> MakeRows(const std::vector<AdmittedDevice>& devices);

}  // namespace quorvane::cli
