#pragma once
// The body of the replies target, shared with the program that writes the
// corpus as a capture for the dissector's test.

#include <cstdint>
#include <vector>

#include "protocol/pcap_writer.h"

namespace quorvane::fuzz {

// The local port the exchanges are recorded from in a capture.
inline constexpr uint16_t CAPTURE_LOCAL_PORT = 4110;

// Matches `input` as one bare datagram, then runs discovery, the
// information query and every command exchange against a device whose
// answers come from `input`. With `capture`, every datagram the exchanges
// send and receive is written to it.
void RunReplyExchanges(const std::vector<uint8_t>& input, PcapWriter* capture);

}  // namespace quorvane::fuzz
