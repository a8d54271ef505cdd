#pragma once
// Helpers shared by the protocol tests: byte strings written as hex, the
// example device, and scripted replies per send.

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/device_record.h"
#include "protocol/packet.h"
#include "support/fake_transport.h"

namespace quorvane::testing {

inline constexpr MacAddress EXAMPLE_MAC{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
inline constexpr MacAddress OTHER_MAC{0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

// "00 02 72 19" -> {0x00, 0x02, 0x72, 0x19}
inline std::vector<uint8_t> Hex(const std::string& text) {
    std::istringstream in(text);
    std::vector<uint8_t> bytes;
    std::string pair;
    while (in >> pair) bytes.push_back(static_cast<uint8_t>(std::strtoul(pair.c_str(), nullptr, 16)));
    return bytes;
}

inline DeviceRecord ExampleDevice() {
    DeviceRecord record;
    record.mac = EXAMPLE_MAC;
    record.ipAddress = 0x0A000005;
    return record;
}

using Datagrams = std::vector<std::vector<uint8_t>>;

// After send i the replies script[i] are queued; later sends get nothing.
inline void ScriptReplies(FakeTransport& link, std::vector<Datagrams> script, uint32_t sender = LOCALHOST) {
    link.responder = [script = std::move(script), sender](std::span<const uint8_t>, FakeTransport& self) {
        const std::size_t index = self.sent.size() - 1;
        if (index >= script.size()) return;
        for (const auto& reply : script[index]) self.QueueReply(reply, sender);
    };
}

}  // namespace quorvane::testing
