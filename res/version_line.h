#pragma once
// What --version prints: one line with the program's name and the version.

#include <string>
#include <string_view>

namespace quorvane {

// "upgradectl 4.0.2"
std::string VersionLine(std::string_view program);

}  // namespace quorvane
