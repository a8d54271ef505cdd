#pragma once
// The run's events as JSON Lines, for programs that follow an upgrade while
// it runs: one object a line, each with "event" (its name) and "t"
// (seconds since the stream was opened). The first line is "run-start" with
// "time", the wall-clock UTC time at t = 0. The README lists every event and
// its keys; keys added to events are written in snake_case.

#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>

#include "protocol/output_file.h"

namespace quorvane {

class EventStream {
public:
    // "-" writes to stdout; any other name is created or emptied (see
    // OutputFile for what it may name), and "run-start" is written. False,
    // with `error` saying why, when the file cannot be written.
    bool Open(const std::string& target, std::string& error);
    bool IsOpen() const { return out_ != nullptr || file_.IsOpen(); }
    // Writes one line: {"event": name, "t": seconds, ...fields}. Every line
    // reaches the file at once, so a reader sees it while the run goes on.
    // A line that cannot be written ends the stream there; the run goes on.
    void Emit(std::string_view name, const nlohmann::ordered_json& fields = nlohmann::ordered_json::object());
    // Empty while every line was written; else the line that says the event
    // file is incomplete and why. Writes to stdout are judged with stdout.
    std::string Failure();

private:
    void Write(std::string_view name, double t, const nlohmann::ordered_json& fields);

    OutputFile file_;
    std::string target_;
    std::ostream* out_ = nullptr;  // stdout, for "-"
    std::chrono::steady_clock::time_point start_;
    std::mutex lock_;  // the events of devices run side by side come from their threads
};

}  // namespace quorvane
