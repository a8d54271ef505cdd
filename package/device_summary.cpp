#include "package/device_summary.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "protocol/info_block.h"

namespace quorvane {
namespace {

// Copies at most 19 characters, always leaving the terminator.
void CopyText(char (&destination)[SUMMARY_TEXT_ROOM], const std::string& text) {
    std::memset(destination, 0, sizeof destination);
    std::memcpy(destination, text.data(), std::min(text.size(), sizeof destination - 1));
}

}  // namespace

DeviceSummary BuildDeviceSummary(const DeviceRecord& record) {
    DeviceSummary summary;
    const auto block = DeviceRecord::InfoBlock(&record);
    InfoBlock::VendorId(block, summary.vendorId);
    InfoBlock::DeviceId(block, summary.deviceId);
    summary.ipAddress = DeviceRecord::IpAddress(&record);
    summary.infoFlag = DeviceRecord::InfoFlag(&record);

    FirmwareFields firmware;
    InfoBlock::Firmware(block, firmware);
    summary.productId = firmware.productId;
    summary.revisionId = firmware.revisionId;
    summary.versionSecond = firmware.versionSecond;
    summary.versionThird = firmware.versionThird;
    summary.dateThird = firmware.dateThird;
    summary.dateSecond = firmware.dateSecond;
    summary.dateFirst = firmware.dateFirst;
    std::copy(firmware.firmwareLetters.begin(), firmware.firmwareLetters.end(), summary.firmwareLetters);

    std::string text;
    InfoBlock::Name(block, text);
    CopyText(summary.name, text);
    InfoBlock::Workgroup(block, text);
    CopyText(summary.workgroup, text);
    DeviceRecord::Mac(&record, summary.mac);
    return summary;
}

std::vector<DeviceRecord*> RecordsOf(const std::vector<AdmittedDevice>& devices) {
    std::vector<DeviceRecord*> records;
    records.reserve(devices.size());
    for (const AdmittedDevice& device : devices) records.push_back(device.record);
    return records;
}

}  // namespace quorvane
