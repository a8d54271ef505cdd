#include "app/transfer_pace.h"

#include <cstdio>

namespace quorvane {
namespace {

constexpr std::chrono::microseconds PACE_AFTER = std::chrono::milliseconds(500);

}  // namespace

TransferPace PaceOf(uint64_t done, uint64_t total, std::chrono::microseconds elapsed) {
    if (elapsed < PACE_AFTER || done == 0) return {};
    TransferPace pace;
    pace.known = true;
    pace.bytesPerSecond = static_cast<double>(done) * 1e6 / static_cast<double>(elapsed.count());
    const double left = static_cast<double>(total > done ? total - done : 0) / pace.bytesPerSecond;
    pace.left = std::chrono::seconds(static_cast<long long>(left + 0.5));
    return pace;
}

TransferPace PaceMeter::Step(std::string_view fileName, uint64_t done, uint64_t total,
                             std::chrono::microseconds now) {
    if (done == 0 || file_ != fileName) {
        file_ = std::string(fileName);
        start_ = now;
    }
    return PaceOf(done, total, now - start_);
}

std::string KibPerSecond(double bytesPerSecond) {
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", bytesPerSecond / 1024.0);
    return number;
}

std::string RateText(double bytesPerSecond) {
    return KibPerSecond(bytesPerSecond) + " KiB/s";
}

std::string MinutesAndSeconds(std::chrono::seconds time) {
    const long long seconds = time.count() < 0 ? 0 : time.count();
    const std::string rest = std::to_string(seconds % 60);
    return std::to_string(seconds / 60) + (rest.size() < 2 ? ":0" : ":") + rest;
}

}  // namespace quorvane
