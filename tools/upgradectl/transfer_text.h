#pragma once
// A transfer as a piece of a terminal line: file, bar, bytes, rate and time
// left, fitted into the columns it is given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/transfer_pace.h"

namespace quorvane::cli {

// "512 B", "12.5 KiB", "640 KiB", "1.5 MiB": one decimal below ten units.
std::string CompactBytes(uint64_t bytes);
// "1.5/2.0 KiB", "0.5/6.5 MiB": done of total, both in the total's unit.
std::string CompactBytes(uint64_t done, uint64_t total);
// The widest "done/total" text on the way to `total` ("9.9/63 KiB").
std::size_t WidestBytes(uint64_t total);
// "80.0 KiB/s ETA 0:03"; empty while the pace is not known.
std::string PaceText(const TransferPace& pace);
// `text` in at most `limit` characters: its middle gives way to "...", so
// that both the start and the extension of a file name stay.
std::string ElideMiddle(std::string_view text, std::size_t limit);

// "FILE [####----]  50% 512 B/1.0 KiB 80.0 KiB/s ETA 0:01" in at most
// `room` characters where it can be: the bar narrows first (from `maxBar`
// down to nothing), then the middle of the file name gives way.
std::string TransferText(std::string_view fileName, uint64_t done, uint64_t total, const TransferPace& pace,
                         std::size_t maxBar, std::size_t room);

}  // namespace quorvane::cli
