#pragma once
// One listed device as both output formats show it.

#include <cstdint>
#include <string>
#include <vector>

#include "package/device_summary.h"
#include "protocol/device_record.h"

namespace quorvane::cli {

struct DeviceRow {
    std::string name;  // the four cell texts of the device list
    std::string mac;
    std::string firmware;
    std::string type;
    std::string ip;  // dotted quad
    uint16_t vendorId = 0;
    uint16_t deviceId = 0;
    uint16_t productId = 0;
    uint8_t revisionId = 0;
};

// The row of a device that carries a summary (admitted, or given one by
// BuildDeviceSummary).
DeviceRow MakeRow(const DeviceRecord& record);
std::vector<DeviceRow> MakeRows(const std::vector<DeviceRecord*>& devices);

}  // namespace quorvane::cli
