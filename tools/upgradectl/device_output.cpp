#include "tools/upgradectl/device_output.h"

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

}  // namespace quorvane::cli
