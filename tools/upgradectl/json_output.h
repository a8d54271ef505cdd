#pragma once
// JSON on stdout. Device names and script lines are bytes from outside and
// need not be valid UTF-8, so invalid sequences are replaced, never thrown on.

#include <iostream>
#include <nlohmann/json.hpp>

namespace quorvane::cli {

template <typename Json>
void PrintJson(const Json& value, std::ostream& out = std::cout) {
    out << value.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace quorvane::cli
