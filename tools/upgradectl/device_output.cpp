#include "tools/upgradectl/device_output.h"

#include <algorithm>

#include "app/column_text.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {

void PrintDeviceTable(std::ostream& out, const std::vector<DeviceRow>& rows) {
    std::vector<std::string> headers;
    for (const DeviceColumn& column : DeviceColumns()) headers.push_back(ColumnTitle(column));
    TextTable table(std::move(headers));
    for (const auto& row : rows) table.AddRow(row.cells);
    table.Print(out);
}

void PrintDeviceColumns(std::ostream& out, const std::vector<AdmittedDevice>& devices, std::span<const int> keys) {
    std::vector<DeviceColumn> columns;
    for (const DeviceColumn& column : DeviceColumns())
        if (std::find(keys.begin(), keys.end(), column.key) != keys.end()) columns.push_back(column);
    std::vector<std::string> headers;
    for (const DeviceColumn& column : columns) headers.push_back(ColumnTitle(column));
    TextTable table(std::move(headers));
    for (const AdmittedDevice& device : devices) {
        std::vector<std::string> cells;
        for (const DeviceColumn& column : columns) cells.push_back(DeviceCellText(column, device));
        table.AddRow(std::move(cells));
    }
    table.Print(out);
}

}  // namespace quorvane::cli
