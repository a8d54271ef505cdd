#include "tools/upgradectl/device_row.h"

#include <algorithm>
#include <cstring>

#include "app/column_text.h"
#include "protocol/info_block.h"
#include "tools/upgradectl/global_options.h"

namespace quorvane::cli {
namespace {

// Copies at most SUMMARY_TEXT_ROOM - 1 characters; the rest of the room stays zero.
void CopyText(char (&room)[SUMMARY_TEXT_ROOM], const std::string& text) {
    std::memset(room, 0, sizeof room);
    std::memcpy(room, text.data(), std::min(text.size(), sizeof room - 1));
}

std::string Cell(const DeviceRecord& record, int key) {
    std::string text;
    DeviceColumnText(&record, text, key);
    return text;
}

}  // namespace

DeviceSummary BuildSummary(const DeviceRecord& record) {
    DeviceSummary summary;
    // Zero the padding too: summaries are stored and compared as bytes.
    std::memset(static_cast<void*>(&summary), 0, sizeof summary);
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
    text.clear();
    InfoBlock::Workgroup(block, text);
    CopyText(summary.workgroup, text);
    DeviceRecord::Mac(&record, summary.mac);
    return summary;
}

DeviceRow MakeRow(const DeviceRecord& record) {
    DeviceSummary summary;
    SummaryOf(&record, summary);
    DeviceRow row;
    row.name = Cell(record, KEY_NAME);
    row.mac = Cell(record, KEY_MAC);
    row.firmware = Cell(record, KEY_FIRMWARE);
    row.type = Cell(record, KEY_DEVICE_TYPE);
    row.ip = FormatIpv4(DeviceRecord::IpAddress(&record));
    row.vendorId = summary.vendorId;
    row.deviceId = summary.deviceId;
    row.productId = summary.productId;
    row.revisionId = summary.revisionId;
    return row;
}

std::vector<DeviceRow> MakeRows(const std::vector<DeviceRecord*>& devices) {
    std::vector<DeviceRow> rows;
    for (const DeviceRecord* record : devices) rows.push_back(MakeRow(*record));
    return rows;
}

}  // namespace quorvane::cli
