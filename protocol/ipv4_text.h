#pragma once
// IPv4 addresses as people type and read them. Inside the program an
// address is a host-order number, as everywhere else.

#include <cstdint>
#include <string>

namespace quorvane {

// Dotted-quad text to a host-order address; false (and `out` untouched) for anything else.
bool ParseIpv4(const std::string& text, uint32_t& out);
// "192.168.1.255".
std::string FormatIpv4(uint32_t address);

}  // namespace quorvane
