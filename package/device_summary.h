#pragma once
// The identity record the admission pass attaches to every admitted device.
// It is stored in the device record as a byte copy.

#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

#include "protocol/device_record.h"

namespace quorvane {

inline constexpr std::size_t SUMMARY_TEXT_ROOM = 20;  // 19 characters and the terminator

struct DeviceSummary {
    uint16_t vendorId = 0;
    uint16_t deviceId = 0;
    uint32_t ipAddress = 0;
    uint8_t infoFlag = 0;
    uint16_t productId = 0;
    uint8_t revisionId = 0;
    uint8_t versionSecond = 0;
    uint8_t versionThird = 0;
    uint8_t dateThird = 0;
    uint8_t dateSecond = 0;
    uint16_t dateFirst = 0;
    char firmwareLetters[3] = {' ', ' ', ' '};
    char name[SUMMARY_TEXT_ROOM] = {};
    char workgroup[SUMMARY_TEXT_ROOM] = {};
    uint8_t mac[6] = {};
};
static_assert(std::is_trivially_copyable_v<DeviceSummary>);

inline std::span<const uint8_t> SummaryBytes(const DeviceSummary& summary) {
    return {reinterpret_cast<const uint8_t*>(&summary), sizeof summary};
}

// The summary of a device, from its record and information block: vendor and
// device ids, firmware values, name and workgroup (cut to 19 characters).
DeviceSummary BuildDeviceSummary(const DeviceRecord& record);

// The summary attached to `record`; false (and a default summary) when the
// record holds none of the right size.
inline bool SummaryOf(const DeviceRecord* record, DeviceSummary& out) {
    out = DeviceSummary{};
    auto bytes = DeviceRecord::Summary(record);
    if (bytes.size() != sizeof(DeviceSummary)) return false;
    std::memcpy(&out, bytes.data(), sizeof out);
    return true;
}

}  // namespace quorvane
