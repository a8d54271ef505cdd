#include "res/version_line.h"

#include "res/program_version.h"

namespace quorvane {

std::string VersionLine(std::string_view program) {
    return std::string(program) + " " + PROGRAM_VERSION;
}

std::string DisplayVersion() {
    return PROGRAM_VERSION;
}

}  // namespace quorvane
