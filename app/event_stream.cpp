#include "app/event_stream.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>

namespace quorvane {

bool EventStream::Open(const std::string& target, std::string& error) {
    start_ = std::chrono::steady_clock::now();
    if (target == "-") {
        out_ = &std::cout;
        return true;
    }
    file_.open(target, std::ios::out | std::ios::trunc);
    if (!file_.is_open()) {
        error = "cannot write the event file " + target + ": " + std::strerror(errno);
        return false;
    }
    out_ = &file_;
    return true;
}

void EventStream::Emit(std::string_view name, const nlohmann::ordered_json& fields) {
    if (out_ == nullptr) return;
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - start_;
    nlohmann::ordered_json line;
    line["event"] = name;
    line["t"] = std::round(since.count() * 1000.0) / 1000.0;  // milliseconds are enough
    for (const auto& [key, value] : fields.items()) line[key] = value;
    const std::lock_guard<std::mutex> guard(lock_);
    *out_ << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n'
          << std::flush;
}

}  // namespace quorvane
