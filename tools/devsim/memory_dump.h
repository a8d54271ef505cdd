#pragma once
// Memory dumps that tests and scripts compare with a firmware image.
//
// DIR/<mac>.mem (mac as twelve lower-case hex digits), text:
//   # devsim memory of 02:00:00:00:00:01
//   span <a>:<b> <length>          lowest written address and length up to the highest
//   <a>:<b> <length> <hex bytes>   one line per written stretch, in address order
// with "span none" and no stretch lines when nothing was written.
// DIR/<mac>.bin holds the bytes of the span, unwritten gaps as 0xFF (empty
// when nothing was written; left out when the span exceeds MAX_BIN_SPAN).

#include <string>
#include <vector>

#include "tools/devsim/sparse_memory.h"
#include "tools/devsim/virtual_device.h"

namespace quorvane::devsim {

inline constexpr uint64_t MAX_BIN_SPAN = 64ull << 20;

bool WriteMemoryDump(const std::string& dir, const VirtualDevice& device, std::string& error);

// Reads the stretch lines of a .mem file back.
bool ReadMemoryDump(const std::string& path, std::vector<MemorySegment>& out);

// "0010:0000" for linear address 0x100000.
std::string FormatAddress(uint64_t linear);

}  // namespace quorvane::devsim
