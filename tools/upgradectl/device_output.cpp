#include "tools/upgradectl/device_output.h"

#include "app/column_text.h"
#include "res/string_table.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {

void PrintDeviceTable(std::ostream& out, const std::vector<DeviceRow>& rows) {
    std::vector<std::string> headers;
    for (const DeviceColumn& column : DeviceColumns()) headers.push_back(LoadString(column.titleId));
    headers.push_back("IP");
    TextTable table(std::move(headers));
    for (const auto& row : rows) {
        std::vector<std::string> cells = row.cells;
        cells.push_back(row.ip);
        table.AddRow(std::move(cells));
    }
    table.Print(out);
}

}  // namespace quorvane::cli
