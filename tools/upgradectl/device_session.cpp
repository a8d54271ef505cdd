#include "tools/upgradectl/device_session.h"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "app/endpoint_failure.h"
#include "package/device_summary.h"
#include "res/string_table.h"
#include "tools/upgradectl/device_row.h"
#include "protocol/info_queries.h"
#include "protocol/mac_text.h"

namespace quorvane::cli {

DeviceSession::~DeviceSession() {
    std::string error;
    if (!capture_.Close(error)) std::cerr << "upgradectl: " << error << '\n';
}

bool DeviceSession::OpenCapture() {
    std::string error;
    if (capturePath_.empty() || capture_.Open(capturePath_, error)) return true;
    std::cerr << "upgradectl: " << error << '\n';
    return false;
}

bool DeviceSession::Start() {
    if (link_ != nullptr) {
        if (capture_.IsOpen()) recorder_.RecordInto(capture_, options_, 0);
        return true;
    }
    if (!endpoint_.Start()) {
        endpoint_.Close();
        std::cerr << EndpointFailureText(endpoint_.StartError()) << '\n';
        return false;
    }
    if (capture_.IsOpen()) recorder_.RecordInto(capture_, options_, endpoint_.LocalPort());
    return true;
}

bool MeetsExpectation(std::size_t count, int expected, const char* what) {
    if (count >= static_cast<std::size_t>(std::max(expected, 0))) return true;
    std::cerr << "upgradectl: " << count << " device(s) " << what << ", " << expected
              << " expected; nothing was done\n";
    return false;
}

bool OpenPackage(const std::filesystem::path& path, UpgradePackage& package) {
    if (package.Open(path)) return true;
    std::cerr << LoadString(IDS_INVALID_PACKAGE) << ": " << path.string() << '\n';
    return false;
}

void ListAllDevices(DeviceProtocol& protocol, std::vector<DeviceRecord*>& devices) {
    if (!protocol.Discover(0xFFFF, 0xFFFF)) return;
    const std::vector<DeviceRecord*> found = protocol.Chain().Records();
    const std::vector<bool> answered = QueryInfoAll(protocol.Link(), found);
    for (std::size_t i = 0; i < found.size(); ++i) {
        DeviceRecord* record = found[i];
        if (!answered[i])
            std::cerr << "upgradectl: no information reply from " << FormatMac(record->mac) << '\n';
        const DeviceSummary summary = BuildDeviceSummary(*record);
        DeviceRecord::AttachSummary(record, SummaryBytes(summary));
        devices.push_back(record);
    }
}

}  // namespace quorvane::cli
