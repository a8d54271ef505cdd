#include "tools/upgradectl/device_session.h"

#include <iostream>

#include "app/endpoint_failure.h"
#include "package/device_summary.h"
#include "res/string_table.h"
#include "tools/upgradectl/device_row.h"
#include "protocol/mac_text.h"

namespace quorvane::cli {

bool DeviceSession::Start() {
    if (endpoint_.Start()) return true;
    endpoint_.Close();
    std::cerr << EndpointFailureText(endpoint_.StartError()) << '\n';
    return false;
}

bool OpenPackage(const std::filesystem::path& path, UpgradePackage& package) {
    if (package.Open(path)) return true;
    std::cerr << LoadString(IDS_INVALID_PACKAGE) << ": " << path.string() << '\n';
    return false;
}

void ListAllDevices(DeviceProtocol& protocol, std::vector<DeviceRecord*>& devices) {
    if (!protocol.Discover(0xFFFF, 0xFFFF)) return;
    DeviceChain& chain = protocol.Chain();
    chain.Rewind();
    while (DeviceRecord* record = chain.Next()) {
        if (!protocol.QueryInfo(*record))
            std::cerr << "upgradectl: no information reply from " << FormatMac(record->mac) << '\n';
        const DeviceSummary summary = BuildDeviceSummary(*record);
        DeviceRecord::AttachSummary(record, SummaryBytes(summary));
        devices.push_back(record);
    }
}

}  // namespace quorvane::cli
