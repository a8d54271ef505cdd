#include "tools/upgradectl/device_row.h"

#include "app/column_text.h"

namespace quorvane::cli {

DeviceRow MakeRow(const AdmittedDevice& device) {
    DeviceRow row;
    for (const DeviceColumn& column : DeviceColumns()) row.cells.push_back(DeviceCellText(column, device));
    return row;
}

std::vector<DeviceRow> MakeRows(const std::vector<AdmittedDevice>& devices) {
    std::vector<DeviceRow> rows;
    for (const AdmittedDevice& device : devices) rows.push_back(MakeRow(device));
    return rows;
}

}  // namespace quorvane::cli
