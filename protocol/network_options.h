#pragma once
// The network options every program takes - where the device datagrams go
// (--broadcast ADDR or --interface NAME), their port (--port N), how long
// one receive waits (--wait-ms N), and the simulator's --listen ADDR:PORT -
// with the one parser of their values. Each program words a refusal in its
// own message; the accepted values are the same everywhere.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/udp_endpoint.h"

namespace quorvane {

struct OptionRange {
    int lowest;
    int highest;
};

inline constexpr OptionRange PORT_OPTION_RANGE{1, 65535};
inline constexpr OptionRange WAIT_MS_OPTION_RANGE{1, 60000};

// Decimal digits only (no sign, no spaces), the whole text, within `range`.
std::optional<int> ParseOptionNumber(std::string_view text, OptionRange range);

// The options as given; nothing: not given.
struct NetworkOptionTexts {
    std::optional<std::string> broadcast;
    std::optional<std::string> interfaceName;
    std::optional<std::string> port;
    std::optional<std::string> waitMs;
};

// The first option refused, in the order they are checked.
enum class NetworkOptionFault {
    None,
    Broadcast,               // not a dotted-quad IPv4 address
    InterfaceWithBroadcast,  // both given: they name two destinations
    Interface,               // no IPv4 interface of that name
    Port,
    WaitMs,
};

// The endpoint the options describe: the named interface's directed
// broadcast sent from its own address, else --broadcast from any address.
// `out` is written only when nothing is refused.
NetworkOptionFault ResolveNetworkOptions(const NetworkOptionTexts& texts, EndpointOptions& out);

// "127.0.0.1:4101": an IPv4 address, a colon and a port from 0 to 65535
// (0: any free port). False, and nothing written, for anything else.
bool ParseAddressAndPort(std::string_view text, uint32_t& address, uint16_t& port);

}  // namespace quorvane
