#include "app/link_stack.h"

#include <cstring>

#include "app/endpoint_failure.h"
#include "app/fiber_pool.h"

namespace quorvane {
namespace {

// A started socket with its recorder and tracer, owned by the one transport
// a device's run talks through.
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

std::unique_ptr<Transport> OuterLayer(const LinkSettings& settings, Transport& traced) {
    return settings.outerLayer ? settings.outerLayer(traced) : nullptr;
}

bool Named(const std::optional<std::filesystem::path>& file) {
    return file && !file->empty();
}

}  // namespace

LinkSettings LinkSettingsOf(const GlobalOptions& options, const EndpointOptions& endpoint, bool withEvents) {
    LinkSettings settings;
    settings.endpoint = endpoint;
    settings.options = options;
    if (!withEvents) settings.options.events.clear();
    return settings;
}

LinkStack::LinkStack(LinkSettings settings)
    : settings_(std::move(settings)),
      endpoint_(settings_.endpoint),
      recorder_(settings_.options.link != nullptr ? *settings_.options.link : endpoint_),
      trace_(std::cerr, settings_.options.verbosity),
      tracer_(recorder_, &trace_),
      outer_(OuterLayer(settings_, tracer_)),
      protocol_(outer_ ? *outer_ : static_cast<Transport&>(tracer_), chain_) {
    protocol_.SetDiscoverySettings({settings_.options.rounds});
}

bool LinkStack::OpenFiles(std::string& error) {
    const GlobalOptions& options = settings_.options;
    return (!Named(options.capture) || capture_.Open(*options.capture, error)) &&
           (!Named(options.logFile) || trace_.OpenLog(*options.logFile, options.verbosity, error)) &&
           (options.events.empty() || events_.Open(options.events, error));
}

bool LinkStack::Start(std::string& error) {
    if (settings_.options.link != nullptr) {
        if (capture_.IsOpen()) recorder_.RecordInto(capture_, settings_.endpoint, 0);
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

std::vector<std::string> LinkStack::CloseCaptureAndLog() {
    std::vector<std::string> lost;
    if (filesClosed_) return lost;
    filesClosed_ = true;
    std::string error;
    if (!capture_.Close(error)) lost.push_back(error);
    error.clear();
    if (!trace_.CloseLog(error)) lost.push_back(error);
    return lost;
}

std::unique_ptr<Transport> LinkStack::OpenDeviceLink(std::string& reason) {
    // A stand-in for the endpoint carries one conversation; a socket of a
    // device's own would reach the real network behind its back.
    if (settings_.options.link != nullptr) {
        reason = "devices cannot be upgraded side by side over a stand-in transport";
        return nullptr;
    }
    auto parts = std::make_unique<DeviceLink::Parts>(settings_.endpoint, trace_);
    // Devices beside others run as fibers: their waits let the others on.
    parts->endpoint.SetReadinessWait(&FiberReadiness());
    if (!parts->endpoint.Start()) {
        const int error = parts->endpoint.StartError();
        reason = error != 0 ? std::strerror(error) : "the socket could not be started";
        return nullptr;
    }
    if (capture_.IsOpen()) parts->recorder.RecordInto(capture_, parts->endpoint);
    return std::make_unique<DeviceLink>(std::move(parts));
}

}  // namespace quorvane
