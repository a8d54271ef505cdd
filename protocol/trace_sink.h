#pragma once
// Where the packet trace goes: the screen (stderr) at the detail asked for
// with -v/-vv, and a log file whose entries carry the wall-clock time.
// Upgrades may run on several threads, one transport each, all writing here:
// every entry is written whole under one lock, so entries never interleave.

#include <atomic>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

#include "protocol/output_file.h"

namespace quorvane {

// How much of each datagram a target is given.
inline constexpr int TRACE_OFF = 0;
inline constexpr int TRACE_PACKETS = 1;  // one line per datagram
inline constexpr int TRACE_HEX = 2;      // and its bytes in hexadecimal

class TraceSink {
public:
    // `screen` takes entries at `screenDetail` (TRACE_OFF: none).
    TraceSink(std::ostream& screen, int screenDetail) : screen_(screen), screenDetail_(screenDetail) {}

    // Entries are appended to `path` as well (created when missing; the
    // stamps tell one run from the next), at `detail` but at
    // least TRACE_PACKETS. False with `error` set when the file cannot be
    // opened (see OutputFile); nothing is written then.
    bool OpenLog(const std::filesystem::path& path, int detail, std::string& error);
    // Closes the log file; false with `error` set when a part of the trace
    // could not be written to it. True without a log file. A failed write
    // never stops what is being traced: the trace just ends there.
    bool CloseLog(std::string& error);

    // The most any target takes: TRACE_OFF when tracing is off, and then
    // no text need be built at all.
    int Detail() const;

    // One entry: `line` (without a newline) and, for the targets at
    // TRACE_HEX, `hex` (whole lines, see HexLines) below it.
    void Write(std::string_view line, std::string_view hex);
    // Other text for the screen stream, whole and under the entries' lock,
    // so that the two never break into each other; whether or not the
    // screen takes entries.
    void Print(std::string_view text);

private:
    std::mutex mutex_;
    std::ostream& screen_;
    int screenDetail_;
    OutputFile log_;
    std::filesystem::path logPath_;
    std::atomic<int> logDetail_ = TRACE_OFF;
};

}  // namespace quorvane
