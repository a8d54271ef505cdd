#pragma once
// What a search that no device answered at all leaves to look at: the
// interface its discovery left by, how to send by another one, and the
// host firewall that may keep the replies out. Both programs say it, each
// naming what it has for choosing the interface.

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/discovery.h"
#include "protocol/udp_endpoint.h"

namespace quorvane {

// The program the hint is for: upgradectl names its `interfaces` command
// and --interface, the desktop program only the option it starts with.
enum class HintFor { Terminal, Desktop };

// The interface that datagrams to `destination` leave by, "eth0
// (192.168.7.10)", from the bound address or else the routing table;
// `local` is the endpoint's bound address (0: any).
std::string InterfaceToward(uint32_t destination, uint32_t local);

// After a discovery that no device answered, a line each: "no device
// answered the discovery sent by lo (127.0.0.1) to 127.0.0.1 port 4101",
// how to send by another interface, and the firewall rule that lets the
// replies in. Empty when any device answered or no discovery was sent.
std::vector<std::string> NoDeviceHint(const DiscoveryReport& report, const EndpointOptions& endpoint,
                                      HintFor program);

}  // namespace quorvane
