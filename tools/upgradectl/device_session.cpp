#include "tools/upgradectl/device_session.h"

#include <iostream>

#include "package/device_summary.h"
#include "res/string_table.h"
#include "tools/upgradectl/device_row.h"
#include "protocol/mac_text.h"

namespace quorvane::cli {

DeviceSession::~DeviceSession() {
    std::string error;
    if (!capture_.Close(error)) std::cerr << "upgradectl: " << error << '\n';
}

bool DeviceSession::Start() {
    std::string error;
    if (!capturePath_.empty() && !capture_.Open(capturePath_, error)) {
        std::cerr << "upgradectl: " << error << '\n';
        return false;
    }
    if (!endpoint_.Start()) {
        endpoint_.Close();
        std::cerr << LoadString(IDS_SOCKETS_FAILED) << '\n';
        return false;
    }
    if (capture_.IsOpen()) recorder_.RecordInto(capture_, options_, endpoint_.LocalPort());
    return true;
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
