#pragma once
// What a command that talks to devices needs: the started endpoint, the
// device chain and the exchanges over them, and the capture when one is asked for.

#include <filesystem>
#include <vector>

#include "package/upgrade_package.h"
#include "protocol/device_chain.h"
#include "protocol/device_protocol.h"
#include "protocol/pcap_writer.h"
#include "protocol/recording_transport.h"
#include "protocol/udp_endpoint.h"

namespace quorvane::cli {

class DeviceSession {
public:
    // `capture` names the pcap file to write; none when empty. `link`, when
    // given, carries the requests instead of the endpoint, which then never opens.
    explicit DeviceSession(const EndpointOptions& options, std::filesystem::path capture = {},
                           const DiscoverySettings& discovery = {}, Transport* link = nullptr)
        : options_(options),
          capturePath_(std::move(capture)),
          endpoint_(options),
          link_(link),
          recorder_(link != nullptr ? *link : endpoint_),
          protocol_(recorder_, chain_) {
        protocol_.SetDiscoverySettings(discovery);
    }
    // Reports a capture that could not be written to the end.
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;
    // Opens the capture file, when one is asked for; on failure prints why
    // and returns false. Call it first: nothing may be sent without it.
    bool OpenCapture();
    // Starts the endpoint; on failure prints message 103 with the system's
    // reason and returns false. Nothing is sent here.
    bool Start();
    DeviceProtocol& Protocol() { return protocol_; }

private:
    EndpointOptions options_;
    std::filesystem::path capturePath_;
    PcapWriter capture_;
    UdpEndpoint endpoint_;
    Transport* link_;
    RecordingTransport recorder_;
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
