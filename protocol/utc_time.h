#pragma once
// Wall-clock times as text, in UTC, so that the logs and event streams of
// several workstations line up.

#include <chrono>
#include <string>

namespace quorvane {

// ISO 8601 in UTC with microseconds: "2026-12-08T11:40:01.123456Z".
std::string UtcTimeText(std::chrono::system_clock::time_point time);

}  // namespace quorvane
