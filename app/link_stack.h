#pragma once
// What a program that upgrades devices talks and writes through: the
// endpoint, with the capture and the packet trace layered over it, the
// device chain and the exchanges, a socket of its own for each device run
// beside others, and the files the run writes (capture, log, events), which
// are opened before anything is sent and closed once.

#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/event_stream.h"
#include "app/global_option_table.h"
#include "protocol/device_chain.h"
#include "protocol/device_protocol.h"
#include "protocol/pcap_writer.h"
#include "protocol/recording_transport.h"
#include "protocol/trace_sink.h"
#include "protocol/tracing_transport.h"
#include "protocol/udp_endpoint.h"

namespace quorvane {

struct LinkSettings {
    EndpointOptions endpoint;  // as the options' destination names it
    // What the stack reads of them: the discovery rounds, the capture, the
    // trace on stderr (verbosity) and its log, the events file, and the
    // transport that stands in for the endpoint (tests, fuzzers), which then
    // never opens. A file given as an empty name opens none.
    GlobalOptions options;
    // Wraps the traced link once more (the desktop program keeps its window
    // painted during waits); none: the traced link is used as it is.
    std::function<std::unique_ptr<Transport>(Transport& traced)> outerLayer;
};

// What the options ask of the link stack: the endpoint their destination
// names, and the options themselves, the events file only when `withEvents`.
LinkSettings LinkSettingsOf(const GlobalOptions& options, const EndpointOptions& endpoint, bool withEvents);

class LinkStack {
public:
    explicit LinkStack(LinkSettings settings);
    LinkStack(const LinkStack&) = delete;
    LinkStack& operator=(const LinkStack&) = delete;

    // Opens the capture, log and events files asked for; false with `error`
    // saying why. Call it first: nothing may be sent without them.
    bool OpenFiles(std::string& error);
    // Starts the endpoint; false with `error` set to the endpoint failure
    // text (with the system's reason). Nothing is sent here.
    bool Start(std::string& error);
    // Closes the capture and the log: why each that could not be written to
    // the end is incomplete (nothing when both are whole, or were closed).
    std::vector<std::string> CloseCaptureAndLog();
    // Why the events file is incomplete; empty while every line was written.
    std::string EventsFailure() { return events_.Failure(); }

    DeviceProtocol& Protocol() { return protocol_; }
    EventStream& Events() { return events_; }
    // Where a device's own link traces to, and whatever must not break a
    // trace entry up (the plain lines of devices side by side).
    TraceSink& Trace() { return trace_; }
    // A socket of its own for one device run beside others, made like the
    // endpoint, recorded into the same capture and traced into the same
    // trace; null, with `reason` set, when it cannot be started.
    std::unique_ptr<Transport> OpenDeviceLink(std::string& reason);

private:
    LinkSettings settings_;
    PcapWriter capture_;
    UdpEndpoint endpoint_;
    RecordingTransport recorder_;
    TraceSink trace_;
    TracingTransport tracer_;
    std::unique_ptr<Transport> outer_;
    DeviceChain chain_;
    DeviceProtocol protocol_;
    EventStream events_;
    bool filesClosed_ = false;
};

}  // namespace quorvane
