#include "app/event_stream.h"

#include <cmath>
#include <iostream>

namespace quorvane {

bool EventStream::Open(const std::string& target, std::string& error) {
    start_ = std::chrono::steady_clock::now();
    target_ = target;
    if (target == "-") {
        out_ = &std::cout;
        return true;
    }
    std::string reason;
    if (file_.Open(target, OutputMode::Truncate, reason)) return true;
    error = "cannot write the event file " + target + ": " + reason;
    return false;
}

void EventStream::Emit(std::string_view name, const nlohmann::ordered_json& fields) {
    if (!IsOpen()) return;
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - start_;
    nlohmann::ordered_json line;
    line["event"] = name;
    line["t"] = std::round(since.count() * 1000.0) / 1000.0;  // milliseconds are enough
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
