#pragma once
// What a command that talks to devices needs: the started endpoint, the
// device chain and the exchanges over them.

#include <filesystem>
#include <vector>

#include "package/upgrade_package.h"
#include "protocol/device_chain.h"
#include "protocol/device_protocol.h"
#include "protocol/udp_endpoint.h"

namespace quorvane::cli {

class DeviceSession {
public:
    explicit DeviceSession(const EndpointOptions& options, const DiscoverySettings& discovery = {})
        : endpoint_(options), protocol_(endpoint_, chain_) {
        protocol_.SetDiscoverySettings(discovery);
    }
    // Starts the endpoint; on failure prints message 103 with the system's
    // reason and returns false.
    bool Start();
    DeviceProtocol& Protocol() { return protocol_; }

private:
    UdpEndpoint endpoint_;
    DeviceChain chain_;
    DeviceProtocol protocol_;
};

// Opens the package; on failure prints message 126 with the file name.
bool OpenPackage(const std::filesystem::path& path, UpgradePackage& package);

// True when at least `expected` devices were `what` ("found", "admitted");
// otherwise says how many were, on stderr.
bool MeetsExpectation(std::size_t count, int expected, const char* what);

// One discovery and an information query to every answering device; every
// device is listed in chain order with a summary built from its block
// (an empty one when the query failed).
void ListAllDevices(DeviceProtocol& protocol, std::vector<DeviceRecord*>& devices);

}  // namespace quorvane::cli
