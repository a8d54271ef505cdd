#include "app/event_stream.h"

#include <cmath>
#include <iostream>

#include "protocol/utc_time.h"

namespace quorvane {

bool EventStream::Open(const std::string& target, std::string& error) {
    target_ = target;
    if (target == "-") {
        out_ = &std::cout;
    } else if (std::string reason; !file_.Open(target, OutputMode::Truncate, reason)) {
        error = "cannot write the event file " + target + ": " + reason;
        return false;
    }
    // Both clocks are read together: "t" counts from here, and the wall-clock
    // time of this moment turns every "t" into a time the logs can be matched with.
    const auto wallClock = std::chrono::system_clock::now();
    start_ = std::chrono::steady_clock::now();
    Write("run-start", 0.0, {{"time", UtcTimeText(wallClock)}});
    return true;
}

void EventStream::Emit(std::string_view name, const nlohmann::ordered_json& fields) {
    if (!IsOpen()) return;
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - start_;
    Write(name, std::round(since.count() * 1000.0) / 1000.0, fields);  // milliseconds are enough
}

void EventStream::Write(std::string_view name, double t, const nlohmann::ordered_json& fields) {
    nlohmann::ordered_json line;
    line["event"] = name;
    line["t"] = t;
    for (const auto& [key, value] : fields.items()) line[key] = value;
    std::string text = line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    text += '\n';
    const std::lock_guard<std::mutex> guard(lock_);
    if (out_ != nullptr)
        *out_ << text << std::flush;
    else
        file_.Write(text);
}

std::string EventStream::Failure() {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!file_.Failed()) return {};
    return "the event file " + target_ + " is incomplete: " + file_.Failure();
}

}  // namespace quorvane
