#include "protocol/ipv4_text.h"

#include <arpa/inet.h>

namespace quorvane {

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

}  // namespace quorvane
