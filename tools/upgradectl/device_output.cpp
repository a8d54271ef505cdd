#include "tools/upgradectl/device_output.h"

#include "app/column_text.h"
#include "res/string_table.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {

nlohmann::ordered_json DeviceRowJson(const DeviceRow& row) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    const auto columns = DeviceColumns();
    for (std::size_t i = 0; i < columns.size() && i < row.cells.size(); ++i)
        object[columns[i].name] = row.cells[i];
    object["ip"] = row.ip;
    object["vendorId"] = row.vendorId;
    object["deviceId"] = row.deviceId;
    object["productId"] = row.productId;
    object["revisionId"] = row.revisionId;
    return object;
}

nlohmann::ordered_json DeviceRowsJson(const std::vector<DeviceRow>& rows) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& row : rows) list.push_back(DeviceRowJson(row));
    return list;
}

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
