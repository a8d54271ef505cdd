#include "protocol/network_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "protocol/interfaces.h"
#include "protocol/ipv4_text.h"

namespace quorvane {
namespace {

constexpr OptionRange ANY_PORT{0, 65535};

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// Fills in the destination; the fault of the first option refused.
NetworkOptionFault ResolveDestination(const NetworkOptionTexts& texts, EndpointOptions& out) {
    if (texts.broadcast && !ParseIpv4(*texts.broadcast, out.broadcastAddress))
        return NetworkOptionFault::Broadcast;
    if (!texts.interfaceName) return NetworkOptionFault::None;
    if (texts.broadcast) return NetworkOptionFault::InterfaceWithBroadcast;
    const auto chosen = FindIpv4Interface(ListIpv4Interfaces(), *texts.interfaceName);
    if (!chosen) return NetworkOptionFault::Interface;
    out.broadcastAddress = chosen->broadcast;
    out.localAddress = chosen->address;
    return NetworkOptionFault::None;
}

}  // namespace

std::optional<int> ParseOptionNumber(std::string_view text, OptionRange range) {
    if (!AllDigits(text)) return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < range.lowest || value > range.highest) return std::nullopt;
    return value;
}

NetworkOptionFault ResolveNetworkOptions(const NetworkOptionTexts& texts, EndpointOptions& out) {
    EndpointOptions resolved;
    const NetworkOptionFault fault = ResolveDestination(texts, resolved);
    if (fault != NetworkOptionFault::None) return fault;
    if (texts.port) {
        const auto port = ParseOptionNumber(*texts.port, PORT_OPTION_RANGE);
        if (!port) return NetworkOptionFault::Port;
        resolved.port = static_cast<uint16_t>(*port);
    }
    if (texts.waitMs) {
        const auto wait = ParseOptionNumber(*texts.waitMs, WAIT_MS_OPTION_RANGE);
        if (!wait) return NetworkOptionFault::WaitMs;
        resolved.receiveWait = std::chrono::milliseconds(*wait);
    }
    out = resolved;
    return NetworkOptionFault::None;
}

bool ParseAddressAndPort(std::string_view text, uint32_t& address, uint16_t& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    uint32_t parsedAddress = 0;
    if (!ParseIpv4(std::string(text.substr(0, colon)), parsedAddress)) return false;
    const auto parsedPort = ParseOptionNumber(text.substr(colon + 1), ANY_PORT);
    if (!parsedPort) return false;
    address = parsedAddress;
    port = static_cast<uint16_t>(*parsedPort);
    return true;
}

}  // namespace quorvane
