#include "tools/upgradectl/device_row.h"

#include "app/column_text.h"
#include "tools/upgradectl/global_options.h"

namespace quorvane::cli {
namespace {

std::string Cell(const DeviceRecord& record, int key) {
    std::string text;
    DeviceColumnText(&record, text, key);
    return text;
}

}  // namespace

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
