#include "tools/upgradectl/global_options.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>
#include <iostream>

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
}

bool ParseIpv4(const std::string& text, uint32_t& out) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    out = ntohl(address.s_addr);
    return true;
}

std::string FormatIpv4(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

namespace {

// Where the requests go and the address they leave from: the named
// interface's directed broadcast and its own address, else --broadcast from
// any address.
bool ResolveDestination(const GlobalOptions& options, EndpointOptions& out) {
    if (!options.interfaceName.empty()) {
        const auto chosen = FindIpv4Interface(ListIpv4Interfaces(), options.interfaceName);
        if (!chosen) {
            std::cerr << "upgradectl: no IPv4 interface named '" << options.interfaceName
                      << "' (see 'upgradectl interfaces')\n";
            return false;
        }
        out.broadcastAddress = chosen->broadcast;
        out.localAddress = chosen->address;
        return true;
    }
    if (!ParseIpv4(options.broadcast, out.broadcastAddress)) {
        std::cerr << "upgradectl: --broadcast needs an IPv4 address, not '" << options.broadcast << "'\n";
        return false;
    }
    return true;
}

}  // namespace

bool ToEndpointOptions(const GlobalOptions& options, EndpointOptions& out) {
    EndpointOptions resolved;
    if (!ResolveDestination(options, resolved)) return false;
    resolved.port = options.port;
    resolved.receiveWait = std::chrono::milliseconds(options.waitMs);
    out = resolved;
    return true;
}

}  // namespace quorvane::cli
