#pragma once
// What a command that talks to devices needs: the started endpoint, the
// device chain and the exchanges over them, and the capture and the packet
// trace when they are asked for.

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/output_paths.h"
#include "package/device_summary.h"
#include "package/upgrade_package.h"
#include "protocol/device_chain.h"
#include "protocol/device_protocol.h"
#include "protocol/pcap_writer.h"
#include "protocol/recording_transport.h"
#include "protocol/trace_sink.h"
#include "protocol/tracing_transport.h"
#include "protocol/udp_endpoint.h"

namespace quorvane::cli {

// The packet trace asked for: -v (1) or -vv (2) on stderr, and a log file.
struct TraceRequest {
    int verbosity = 0;
    std::filesystem::path logFile;  // none when empty
};

class DeviceSession {
public:
    // `capture` names the pcap file to write; none when empty. `link`, when
    // given, carries the requests instead of the endpoint, which then never opens.
    explicit DeviceSession(const EndpointOptions& options, std::filesystem::path capture = {},
                           const DiscoverySettings& discovery = {}, TraceRequest trace = {},
                           Transport* link = nullptr)
        : options_(options),
          capturePath_(std::move(capture)),
          traceRequest_(std::move(trace)),
          endpoint_(options),
          link_(link),
          recorder_(link != nullptr ? *link : endpoint_),
          trace_(std::cerr, traceRequest_.verbosity),
          tracer_(recorder_, &trace_),
          protocol_(tracer_, chain_) {
        protocol_.SetDiscoverySettings(discovery);
    }
    // Reports a capture or log file that could not be written to the end,
    // unless CloseFiles already did.
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;
    // Opens the capture and log files asked for; on failure sets `error` to
    // the line for stderr and returns false. Call it first: nothing may be
    // sent without them.
    bool OpenFiles(std::string& error);
    // Closes the capture and log files; the lines for stderr (with
    // "upgradectl: ") of those that could not be written to the end.
    std::vector<std::string> CloseFiles();
    // Starts the endpoint; on failure sets `error` to message 103 with the
    // system's reason and returns false. Nothing is sent here.
    bool Start(std::string& error);
    DeviceProtocol& Protocol() { return protocol_; }
    // Opens a socket of its own for one device upgraded beside others, made
    // like the session's, recorded into the same capture and traced into the
    // same trace; null, with `reason` set, when it cannot be started.
    std::unique_ptr<Transport> OpenDeviceLink(std::string& reason);
    // Where a transport of its own (one per device upgraded at once) traces to.
    TraceSink& Trace() { return trace_; }

private:
    EndpointOptions options_;
    std::filesystem::path capturePath_;
    TraceRequest traceRequest_;
    PcapWriter capture_;
    UdpEndpoint endpoint_;
    Transport* link_;
    RecordingTransport recorder_;
    TraceSink trace_;
    TracingTransport tracer_;
    DeviceChain chain_;
    DeviceProtocol protocol_;
    bool filesClosed_ = false;
};

// Opens the package; on failure sets `error` to message 126 with the file
// name, or to why this computer could not open it (the private folder).
bool OpenPackage(const std::filesystem::path& path, UpgradePackage& package, std::string& error);

// True when at least `expected` devices were `what` ("found", "admitted");
// otherwise says how many were, on stderr.
bool MeetsExpectation(std::size_t count, int expected, const char* what);
// The same as a line for stderr; empty when the expectation is met.
std::string ExpectationShortfall(std::size_t count, int expected, const char* what);

// False with `error` set when a file the run would write (--capture,
// --log-file, --events) is the package it reads (none: empty) or another of
// them: opening it would truncate or append to the technician's package or
// to the other output.
bool OutputsSparePackage(const std::string& capture, const std::string& logFile, const std::string& events,
                         const std::filesystem::path& package, std::string& error);
// The same for every output of an upgrade, READ outputs and a report on
// stdout included (see OutputClash).
bool OutputsSpareEachOther(const RunOutputs& outputs, const std::filesystem::path& package, std::string& error);

// One discovery and an information query to every answering device; every
// device is listed in chain order with a summary built from its block
// (an empty one when the query failed).
std::vector<AdmittedDevice> ListAllDevices(DeviceProtocol& protocol);

// "upgradectl: ignored N replies whose MAC names no single device (MAC, ...)";
// empty when discovery ignored none.
std::string IgnoredRepliesLine(const DiscoveryReport& report);
// The warning for a listed device whose MAC answered as more than one
// device, naming the MAC and how that showed; empty for any other device.
std::string SharedMacWarning(const DeviceRecord& record);
// What the pass leaves to say once the devices are listed or admitted: with
// `verbose` the ignored replies, and always a warning per shared MAC.
void ReportDiscovery(std::ostream& err, const DiscoveryReport& report,
                     const std::vector<AdmittedDevice>& devices, bool verbose);

}  // namespace quorvane::cli
