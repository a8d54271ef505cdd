#pragma once
// One readable line per request or reply, for -v and the log file:
//   "ERASE 02:00:00:00:00:01 value=3", "LOAD_BLOCK 02:00:00:00:00:01 echo=3".

#include <cstdint>
#include <span>
#include <string>

namespace quorvane::devsim {

std::string DescribeRequest(std::span<const uint8_t> request);
std::string DescribeReply(std::span<const uint8_t> reply);

}  // namespace quorvane::devsim
