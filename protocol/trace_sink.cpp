#include "protocol/trace_sink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
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
    std::ofstream file(path, std::ios::binary | std::ios::app);
    if (!file) {
        error = "cannot write log file " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    const std::lock_guard lock(mutex_);
    log_ = std::move(file);
    logPath_ = path;
    logDetail_ = std::max(detail, TRACE_PACKETS);
    return true;
}

bool TraceSink::CloseLog(std::string& error) {
    const std::lock_guard lock(mutex_);
    if (logDetail_ == TRACE_OFF) return true;
    log_.close();
    logDetail_ = TRACE_OFF;
    if (!log_.fail()) return true;
    error = "log file " + logPath_.string() + " is incomplete: it could not be written to the end";
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
        log_ << Timestamp() << line << '\n';
        if (logDetail_ >= TRACE_HEX) log_ << hex;
        // Written through at once: the log is read after something went
        // wrong, possibly after the program was killed.
        log_.flush();
    }
}

void TraceSink::Print(std::string_view text) {
    const std::lock_guard lock(mutex_);
    screen_ << text;
    screen_.flush();
}

}  // namespace quorvane
