#pragma once
// The run's events as JSON Lines, for programs that follow an upgrade while
// it runs: one object a line, each with "event" (its name) and "t"
// (seconds since the stream was opened). The README lists every event and
// its keys.

#include <chrono>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>

namespace quorvane {

class EventStream {
public:
    // "-" writes to stdout; any other name is created or emptied. False,
    // with `error` saying why, when the file cannot be written.
    bool Open(const std::string& target, std::string& error);
    bool IsOpen() const { return out_ != nullptr; }
    // Writes one line: {"event": name, "t": seconds, ...fields}. Every line
    // reaches the file at once, so a reader sees it while the run goes on.
    void Emit(std::string_view name, const nlohmann::ordered_json& fields = nlohmann::ordered_json::object());

private:
    std::ofstream file_;
    std::ostream* out_ = nullptr;
    std::chrono::steady_clock::time_point start_;
    std::mutex lock_;  // the events of devices run side by side come from their threads
};

}  // namespace quorvane
