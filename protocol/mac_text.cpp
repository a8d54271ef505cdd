#include "protocol/mac_text.h"

#include <cstdio>

namespace quorvane {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool ParseMacText(std::string_view text, MacAddress& out) {
    if (text.size() != 17) return false;
    const char separator = text[2];
    if (separator != ':' && separator != '-') return false;
    MacAddress mac{};
    for (std::size_t group = 0; group < mac.size(); ++group) {
        const std::size_t at = group * 3;
        if (group > 0 && text[at - 1] != separator) return false;
        const int high = HexDigit(text[at]);
        const int low = HexDigit(text[at + 1]);
        if (high < 0 || low < 0) return false;
        mac[group] = static_cast<uint8_t>(high * 16 + low);
    }
    out = mac;
    return true;
}

std::string FormatMac(const MacAddress& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

}  // namespace quorvane
