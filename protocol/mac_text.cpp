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

// The twelve digits of one of the accepted shapes, with every separator
// checked in its place; false for any other shape.
bool DigitsOf(std::string_view text, std::string& digits) {
    std::size_t groupLength = 0;
    char separator = 0;
    if (text.size() == 17 && (text[2] == ':' || text[2] == '-')) {
        groupLength = 2;  // 00:50:c2:1a:2b:3c, 00-50-c2-1a-2b-3c
        separator = text[2];
    } else if (text.size() == 14) {
        groupLength = 4;  // 0050.c21a.2b3c
        separator = '.';
    } else if (text.size() == 12) {
        groupLength = 12;  // 0050c21a2b3c
    } else {
        return false;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool separatorPlace = (at + 1) % (groupLength + 1) == 0;
        if (separatorPlace && text[at] != separator) return false;
        if (!separatorPlace) digits += text[at];
    }
    return digits.size() == 12;
}

}  // namespace

bool ParseMacText(std::string_view text, MacAddress& out) {
    std::string digits;
    if (!DigitsOf(text, digits)) return false;
    MacAddress mac{};
    for (std::size_t byte = 0; byte < mac.size(); ++byte) {
        const int high = HexDigit(digits[byte * 2]);
        const int low = HexDigit(digits[byte * 2 + 1]);
        if (high < 0 || low < 0) return false;
        mac[byte] = static_cast<uint8_t>(high * 16 + low);
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
