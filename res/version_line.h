#pragma once
// The program's version as each place shows it, all from the one version
// of the build (res/program_version.h).

#include <string>
#include <string_view>

namespace quorvane {

// What --version prints: the program's name and the version,
// "upgradectl 4.0.2".
std::string VersionLine(std::string_view program);

// The version as the desktop program shows it, minor and patch in two
// digits: "4.00.02".
std::string DisplayVersion();

}  // namespace quorvane
