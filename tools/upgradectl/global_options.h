#pragma once
// The options every command shares: where the device requests go and how
// the results are printed.

#include <cstdint>
#include <string>

#include "protocol/ipv4_text.h"
#include "protocol/udp_endpoint.h"

namespace CLI {
class App;
}

namespace quorvane::cli {

struct GlobalOptions {
    std::string broadcast = "255.255.255.255";
    std::string interfaceName;  // --interface: that interface's broadcast, from its address
    uint16_t port = DEVICE_PORT;
    int waitMs = 1000;
    int rounds = 1;  // discovery rounds asked for
    bool json = false;
    std::string capture;  // pcap file for every datagram sent and received; none when empty
    std::string events;   // JSON Lines of the run's events; "-" for stdout, none when empty
    int verbosity = 0;    // -v: each request and reply on stderr; -vv: with their bytes
    std::string logFile;  // the same trace, with timestamps, into this file; none when empty
    // Not an option: a transport that stands in for the UDP endpoint, so that
    // tests and fuzzers run whole commands without a socket. None in use.
    Transport* link = nullptr;
};

// Registers the shared options upgradectl takes (app/global_option_table.h)
// on the top-level command; the subcommands let unknown options fall through
// to it, so the options are accepted before and after the command name.
void AddGlobalOptions(CLI::App& app, GlobalOptions& options);

// False with `error` set to the line for stderr when the broadcast address
// is not valid or --interface names no IPv4 interface.
bool ToEndpointOptions(const GlobalOptions& options, EndpointOptions& out, std::string& error);

}  // namespace quorvane::cli
