#pragma once
// The machine's IPv4 interfaces, for choosing the network segment that the
// device requests go to.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

struct Ipv4Interface {
    std::string name;        // "eth0"
    uint32_t address = 0;    // host order
    uint32_t netmask = 0;    // host order
    uint32_t broadcast = 0;  // host order: the directed broadcast of its segment
};

// Every interface with an IPv4 address, in the system's order; an interface
// with several addresses is listed once per address. Interfaces that are
// down are listed too: the user asks for them by name.
std::vector<Ipv4Interface> ListIpv4Interfaces();

// The first entry named `name`, or nothing.
std::optional<Ipv4Interface> FindIpv4Interface(const std::vector<Ipv4Interface>& interfaces,
                                               const std::string& name);

// The first entry with the local `address`, or nothing.
std::optional<Ipv4Interface> FindIpv4InterfaceByAddress(const std::vector<Ipv4Interface>& interfaces,
                                                        uint32_t address);

// The directed broadcast the system reports for the interface, else the
// one its netmask gives (the loopback and point-to-point links report none).
uint32_t BroadcastOf(uint32_t address, uint32_t netmask, std::optional<uint32_t> reported);

}  // namespace quorvane
