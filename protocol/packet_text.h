#pragma once
// One readable line per request or reply, for the traces of the programs
// and the simulator's log:
//   "ERASE 02:00:00:00:00:01 value=3", "LOAD_BLOCK 02:00:00:00:00:01 echo=3".

#include <cstdint>
#include <span>
#include <string>

namespace quorvane {

std::string DescribeRequest(std::span<const uint8_t> request);
std::string DescribeReply(std::span<const uint8_t> reply);

// The bytes in hexadecimal, 16 to a line, each line led by its offset and
// ended by a newline: "    0000  00 09 72 19 01 13 ...". Empty for no bytes.
std::string HexLines(std::span<const uint8_t> bytes);

}  // namespace quorvane
