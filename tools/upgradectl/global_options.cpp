#include "tools/upgradectl/global_options.h"

#include <CLI/CLI.hpp>

#include "protocol/interfaces.h"

namespace quorvane::cli {

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
    auto* broadcast =
        app.add_option("--broadcast", options.broadcast,
                       "Address that receives the device requests (127.0.0.1 for the simulator)")
            ->capture_default_str();
    app.add_option("--interface", options.interfaceName,
                   "Send to this IPv4 interface's broadcast address from its own address (see 'interfaces')")
        ->excludes(broadcast);
    app.add_option("--port", options.port, "Destination UDP port of the device requests")
        ->capture_default_str()
        ->check(CLI::Range(1, 65535));
    app.add_option("--wait-ms", options.waitMs, "How long one receive waits for a reply, in milliseconds")
        ->capture_default_str()
        ->check(CLI::Range(1, 60000));
    app.add_option("--rounds", options.rounds,
                   "Discovery rounds at most; a round follows only while the last found new devices")
        ->capture_default_str()
        ->check(CLI::Range(1, 100));
    app.add_flag("--json", options.json, "Machine-readable output on stdout; messages stay on stderr");
    app.add_option("--capture", options.capture,
                   "Write every datagram sent and received to this pcap file (for Wireshark or tshark)");
    app.add_option("--events", options.events,
                   "Write the upgrade's events to this file as JSON Lines ('-': stdout, not with --json)");
    app.add_flag("-v,--verbose", options.verbosity,
                 "Show each request and reply on stderr: opcode, MAC, fields, size, round trip; "
                 "-vv adds their bytes in hexadecimal");
    app.add_option("--log-file", options.logFile,
                   "Append the same trace, each entry with its UTC time, to this file (at least as -v)");
}

namespace {

// Where the requests go and the address they leave from: the named
// interface's directed broadcast and its own address, else --broadcast from
// any address.
bool ResolveDestination(const GlobalOptions& options, EndpointOptions& out, std::string& error) {
    if (!options.interfaceName.empty()) {
        const auto chosen = FindIpv4Interface(ListIpv4Interfaces(), options.interfaceName);
        if (!chosen) {
            error = "upgradectl: no IPv4 interface named '" + options.interfaceName +
                    "' (see 'upgradectl interfaces')";
            return false;
        }
        out.broadcastAddress = chosen->broadcast;
        out.localAddress = chosen->address;
        return true;
    }
    if (!ParseIpv4(options.broadcast, out.broadcastAddress)) {
        error = "upgradectl: --broadcast needs an IPv4 address, not '" + options.broadcast + "'";
        return false;
    }
    return true;
}

}  // namespace

bool ToEndpointOptions(const GlobalOptions& options, EndpointOptions& out, std::string& error) {
    EndpointOptions resolved;
    if (!ResolveDestination(options, resolved, error)) return false;
    resolved.port = options.port;
    resolved.receiveWait = std::chrono::milliseconds(options.waitMs);
    out = resolved;
    return true;
}

}  // namespace quorvane::cli
