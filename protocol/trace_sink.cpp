#include "protocol/trace_sink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace quorvane {
namespace {

// "2026-12-08T11:40:01.123456Z ": UTC, so that the logs of several
// workstations line up.
std::string Timestamp() {
    const auto now = std::chrono::system_clock::now();
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[48];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%06lldZ ", static_cast<long long>(micros));
    return text;
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
