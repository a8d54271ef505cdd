#include "tools/upgradectl/device_output.h"

#include "res/string_table.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {

nlohmann::ordered_json DeviceRowJson(const DeviceRow& row) {
    return {{"name", row.name},
            {"mac", row.mac},
            {"firmware", row.firmware},
            {"type", row.type},
            {"ip", row.ip},
            {"vendorId", row.vendorId},
            {"deviceId", row.deviceId},
            {"productId", row.productId},
            {"revisionId", row.revisionId}};
}

nlohmann::ordered_json DeviceRowsJson(const std::vector<DeviceRow>& rows) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& row : rows) list.push_back(DeviceRowJson(row));
    return list;
}

void PrintDeviceTable(std::ostream& out, const std::vector<DeviceRow>& rows) {
    TextTable table({LoadString(IDS_COLUMN_NAME), LoadString(IDS_COLUMN_MAC), LoadString(IDS_COLUMN_FIRMWARE),
                     LoadString(IDS_COLUMN_DEVICE_TYPE), "IP"});
    for (const auto& row : rows) table.AddRow({row.name, row.mac, row.firmware, row.type, row.ip});
    table.Print(out);
}

}  // namespace quorvane::cli
