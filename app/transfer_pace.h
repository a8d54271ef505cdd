#pragma once
// How fast a transfer goes and how long it still takes, from the bytes it
// moved over the time since its first step. Worked out once here, shown by
// every front end.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane {

struct TransferPace {
    bool known = false;  // false until enough time has passed to tell a rate
    double bytesPerSecond = 0;
    std::chrono::seconds left{0};  // at the rate so far, rounded to the nearest second
};

// `done` of `total` bytes after `elapsed`. Unknown before half a second or
// before the first byte: a rate from less jumps about.
TransferPace PaceOf(uint64_t done, uint64_t total, std::chrono::microseconds elapsed);

// Follows one device's transfers, one after another.
class PaceMeter {
public:
    // A step of a transfer at `now` (any steady clock). A step with nothing
    // done yet, or of another file, starts a new transfer.
    TransferPace Step(std::string_view fileName, uint64_t done, uint64_t total, std::chrono::microseconds now);

private:
    std::string file_;
    std::chrono::microseconds start_{0};
};

// A rate in KiB per second with one decimal, the number alone: "80.0".
std::string KibPerSecond(double bytesPerSecond);
// The same with its unit: "80.0 KiB/s".
std::string RateText(double bytesPerSecond);

// "1:05" for 65 seconds, "61:40" past the hour: minutes and seconds.
std::string MinutesAndSeconds(std::chrono::seconds time);

}  // namespace quorvane
