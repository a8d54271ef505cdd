#include "protocol/trace_sink.h"

#include <algorithm>
#include <chrono>

#include "protocol/utc_time.h"

namespace quorvane {
namespace {

// "2026-12-08T11:40:01.123456Z " before each entry.
std::string Timestamp() {
    return UtcTimeText(std::chrono::system_clock::now()) + ' ';
}

}  // namespace

bool TraceSink::OpenLog(const std::filesystem::path& path, int detail, std::string& error) {
    const std::lock_guard lock(mutex_);
    std::string reason;
    if (!log_.Open(path, OutputMode::Append, reason)) {
        error = "cannot write log file " + path.string() + ": " + reason;
        return false;
    }
    logPath_ = path;
    logDetail_ = std::max(detail, TRACE_PACKETS);
    return true;
}

bool TraceSink::CloseLog(std::string& error) {
    const std::lock_guard lock(mutex_);
    if (logDetail_ == TRACE_OFF) return true;
    logDetail_ = TRACE_OFF;
    if (log_.Close()) return true;
    error = "log file " + logPath_.string() + " is incomplete: " + log_.Failure();
    return false;
}

int TraceSink::Detail() const {
    return std::max(screenDetail_, logDetail_.load());
}

void TraceSink::Write(std::string_view line, std::string_view hex) {
    const std::lock_guard lock(mutex_);
    if (screenDetail_ > TRACE_OFF) {
        screen_ << line << '\n';
        if (screenDetail_ >= TRACE_HEX) screen_ << hex;
        screen_.flush();
    }
    if (logDetail_ > TRACE_OFF) {
        // Written through at once, an entry in one piece: the log is read
        // after something went wrong, possibly after the program was killed.
        std::string entry = Timestamp();
        entry.append(line).append("\n");
        if (logDetail_ >= TRACE_HEX) entry.append(hex);
        log_.Write(entry);
    }
}

void TraceSink::Print(std::string_view text) {
    const std::lock_guard lock(mutex_);
    screen_ << text;
    screen_.flush();
}

}  // namespace quorvane
