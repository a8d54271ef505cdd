#include "tools/upgradectl/global_options.h"

#include <CLI/CLI.hpp>
#include <optional>

#include "protocol/network_options.h"
#include "tools/upgradectl/command_error.h"

namespace quorvane::cli {

namespace {

// Worded as the command line's own range checks word a refusal.
std::string RangeRefusal(const std::string& input, OptionRange range) {
    return "Value " + input + " not in range " + std::to_string(range.lowest) + " to " +
           std::to_string(range.highest);
}

// The shared number parser as a check of the command line. The text is
// handed on as the parser read it, so that the command line's own
// conversion never reads it another way (a leading 0 as octal).
CLI::Validator NumberIn(OptionRange range) {
    const std::string description =
        "INT in [" + std::to_string(range.lowest) + " - " + std::to_string(range.highest) + "]";
    return CLI::Validator(
        [range](std::string& input) {
            const std::optional<int> value = ParseOptionNumber(input, range);
            if (!value) return RangeRefusal(input, range);
            input = std::to_string(*value);
            return std::string();
        },
        description);
}

}  // namespace

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
        ->transform(NumberIn(PORT_OPTION_RANGE));
    app.add_option("--wait-ms", options.waitMs, "How long one receive waits for a reply, in milliseconds")
        ->capture_default_str()
        ->transform(NumberIn(WAIT_MS_OPTION_RANGE));
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

bool ToEndpointOptions(const GlobalOptions& options, EndpointOptions& out, std::string& error) {
    // --interface wins: --broadcast always has a value, its default.
    const bool named = !options.interfaceName.empty();
    const NetworkOptionTexts texts{named ? std::nullopt : std::optional(options.broadcast),
                                   named ? std::optional(options.interfaceName) : std::nullopt,
                                   std::to_string(options.port), std::to_string(options.waitMs)};
    switch (ResolveNetworkOptions(texts, out)) {
        case NetworkOptionFault::None:
            return true;
        case NetworkOptionFault::Interface:
            error =
                Said("no IPv4 interface named '" + options.interfaceName + "' (see 'upgradectl interfaces')");
            return false;
        case NetworkOptionFault::Broadcast:
            error = Said("--broadcast needs an IPv4 address, not '" + options.broadcast + "'");
            return false;
        case NetworkOptionFault::Port:
            error = Said("--port: " + RangeRefusal(std::to_string(options.port), PORT_OPTION_RANGE));
            return false;
        case NetworkOptionFault::WaitMs:
            error = Said("--wait-ms: " + RangeRefusal(std::to_string(options.waitMs), WAIT_MS_OPTION_RANGE));
            return false;
        case NetworkOptionFault::InterfaceWithBroadcast:  // only one of them is passed on
            error = Said("--interface excludes --broadcast");
            return false;
    }
    return false;
}

}  // namespace quorvane::cli
