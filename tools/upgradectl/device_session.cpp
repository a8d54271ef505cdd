#include "tools/upgradectl/device_session.h"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "app/endpoint_failure.h"
#include "app/output_paths.h"
#include "package/device_summary.h"
#include "protocol/info_queries.h"
#include "protocol/ipv4_text.h"
#include "protocol/mac_text.h"
#include "res/string_table.h"

namespace quorvane::cli {

DeviceSession::~DeviceSession() {
    for (const std::string& line : CloseFiles()) std::cerr << line << '\n';
}

std::vector<std::string> DeviceSession::CloseFiles() {
    std::vector<std::string> lines;
    if (filesClosed_) return lines;
    filesClosed_ = true;
    std::string error;
    if (!capture_.Close(error)) lines.push_back("upgradectl: " + error);
    error.clear();
    if (!trace_.CloseLog(error)) lines.push_back("upgradectl: " + error);
    return lines;
}

bool DeviceSession::OpenFiles(std::string& error) {
    std::string reason;
    const bool opened = (capturePath_.empty() || capture_.Open(capturePath_, reason)) &&
                        (traceRequest_.logFile.empty() ||
                         trace_.OpenLog(traceRequest_.logFile, traceRequest_.verbosity, reason));
    if (!opened) error = "upgradectl: " + reason;
    return opened;
}

bool DeviceSession::Start(std::string& error) {
    if (link_ != nullptr) {
        if (capture_.IsOpen()) recorder_.RecordInto(capture_, options_, 0);
        return true;
    }
    if (!endpoint_.Start()) {
        endpoint_.Close();
        error = EndpointFailureText(endpoint_.StartError());
        return false;
    }
    if (capture_.IsOpen()) recorder_.RecordInto(capture_, endpoint_);
    return true;
}

namespace {

// A started socket with its recorder and tracer, owned by the one transport
// a device's session talks through.
class DeviceLink final : public ForwardingTransport {
public:
    struct Parts {
        Parts(const EndpointOptions& options, TraceSink& trace)
            : endpoint(options), recorder(endpoint), tracer(recorder, &trace) {}
        UdpEndpoint endpoint;
        RecordingTransport recorder;
        TracingTransport tracer;
    };
    // Given as a plain Transport: the tracer is itself a forwarding
    // transport, whose copy is not to be had.
    explicit DeviceLink(std::unique_ptr<Parts> parts)
        : ForwardingTransport(static_cast<Transport&>(parts->tracer)), parts_(std::move(parts)) {}

private:
    std::unique_ptr<Parts> parts_;
};

}  // namespace

std::unique_ptr<Transport> DeviceSession::OpenDeviceLink(std::string& reason) {
    // A stand-in for the endpoint carries one conversation; a socket of a
    // device's own would reach the real network behind its back.
    if (link_ != nullptr) {
        reason = "devices cannot be upgraded side by side over a stand-in transport";
        return nullptr;
    }
    auto parts = std::make_unique<DeviceLink::Parts>(options_, trace_);
    if (!parts->endpoint.Start()) {
        const int error = parts->endpoint.StartError();
        reason = error != 0 ? std::strerror(error) : "the socket could not be started";
        return nullptr;
    }
    if (capture_.IsOpen()) parts->recorder.RecordInto(capture_, parts->endpoint);
    return std::make_unique<DeviceLink>(std::move(parts));
}

std::string ExpectationShortfall(std::size_t count, int expected, const char* what) {
    if (count >= static_cast<std::size_t>(std::max(expected, 0))) return {};
    return "upgradectl: " + std::to_string(count) + " device(s) " + what + ", " + std::to_string(expected) +
           " expected; nothing was done";
}

bool MeetsExpectation(std::size_t count, int expected, const char* what) {
    const std::string shortfall = ExpectationShortfall(count, expected, what);
    if (!shortfall.empty()) std::cerr << shortfall << '\n';
    return shortfall.empty();
}

bool OutputsSparePackage(const std::string& capture, const std::string& logFile, const std::string& events,
                         const std::filesystem::path& package, std::string& error) {
    return OutputsSpareEachOther({capture, logFile, events, {}, {}}, package, error);
}

bool OutputsSpareEachOther(const RunOutputs& outputs, const std::filesystem::path& package, std::string& error) {
    const std::string named = OutputClash(outputs, package);
    if (named.empty()) return true;
    error = "upgradectl: " + named;
    return false;
}

bool OpenPackage(const std::filesystem::path& path, UpgradePackage& package, std::string& error) {
    if (package.Open(path)) return true;
    // This computer's fault is no reason to doubt the package.
    if (!package.OpenError().empty())
        error = "upgradectl: " + package.OpenError();
    else
        error = LoadString(IDS_INVALID_PACKAGE) + ": " + path.string();
    return false;
}

std::vector<AdmittedDevice> ListAllDevices(DeviceProtocol& protocol) {
    std::vector<AdmittedDevice> devices;
    for (const FoundDevice& device : DiscoverAndQueryAll(protocol)) {
        if (!device.answered)
            std::cerr << "upgradectl: no information reply from " << FormatMac(device.record->mac) << '\n';
        devices.push_back(WithSummary(*device.record));
    }
    return devices;
}

std::string IgnoredRepliesLine(const DiscoveryReport& report) {
    if (report.ignoredReplies == 0) return {};
    std::string macs;
    for (const MacAddress& mac : report.ignoredMacs) macs += (macs.empty() ? "" : ", ") + FormatMac(mac);
    if (report.moreIgnoredMacs) macs += ", ...";
    return "upgradectl: ignored " + std::to_string(report.ignoredReplies) +
           (report.ignoredReplies == 1 ? " reply" : " replies") + " whose MAC names no single device (" +
           macs + ")";
}

std::string SharedMacWarning(const DeviceRecord& record) {
    std::string how;
    switch (record.sharedMac) {
        case SharedMac::No:
            return {};
        case SharedMac::TwoAddresses:
            how = "answered from " + FormatIpv4(record.ipAddress) + " and " + FormatIpv4(record.otherAddress);
            break;
        case SharedMac::TwoBlocks:
            how = "answered with two different information blocks";
            break;
    }
    return "upgradectl: warning: " + FormatMac(record.mac) + " " + how +
           ": more than one device has this MAC; it is listed once and will not be upgraded";
}

void ReportDiscovery(std::ostream& err, const DiscoveryReport& report,
                     const std::vector<AdmittedDevice>& devices, bool verbose) {
    const std::string ignored = IgnoredRepliesLine(report);
    if (verbose && !ignored.empty()) err << ignored << '\n';
    for (const AdmittedDevice& device : devices) {
        const std::string warning = SharedMacWarning(*device.record);
        if (!warning.empty()) err << warning << '\n';
    }
}

}  // namespace quorvane::cli
