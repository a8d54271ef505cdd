#include "protocol/utc_time.h"

#include <cstdio>
#include <ctime>

namespace quorvane {

std::string UtcTimeText(std::chrono::system_clock::time_point time) {
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count() % 1000000;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[48];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%06lldZ", static_cast<long long>(micros));
    return text;
}

}  // namespace quorvane
