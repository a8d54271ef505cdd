#pragma once
// The program's version as each place shows it, all from the one version
// of the build (res/program_version.h).

#include <string>
#include <string_view>

namespace quorvane {

// What --version prints: the program's name and the version,
// "upgradectl 4.0.2".
std::string VersionLine(std::string_view program);

// The version as the desktop program shows it (About box): the same as
// --version, "4.0.2". No device and no script reads the About box, so
// nothing holds on to the two-digit "4.00.02" it once showed.
std::string DisplayVersion();

}  // namespace quorvane
