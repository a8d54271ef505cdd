#pragma once
// The identity of a listed device, built from its record and information
// block, and the device together with it as the admission pass returns it.

#include <cstdint>
#include <vector>

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

// A device of the list: its record in the chain (which owns it) and the
// summary made when it was admitted or listed.
struct AdmittedDevice {
    DeviceRecord* record = nullptr;
    DeviceSummary summary;
};

// The summary of a device, from its record and information block: vendor and
// device ids, firmware values, name and workgroup (cut to 19 characters).
DeviceSummary BuildDeviceSummary(const DeviceRecord& record);

// The device of `record` with the summary of its present block.
inline AdmittedDevice WithSummary(DeviceRecord& record) {
    return {&record, BuildDeviceSummary(record)};
}

// The records of `devices`, in their order: what the upgrade runs on.
std::vector<DeviceRecord*> RecordsOf(const std::vector<AdmittedDevice>& devices);

}  // namespace quorvane
