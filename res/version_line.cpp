#include "res/version_line.h"

#include <cstdio>

#include "res/program_version.h"

namespace quorvane {

std::string VersionLine(std::string_view program) {
    return std::string(program) + " " + PROGRAM_VERSION;
}

std::string DisplayVersion() {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d.%02d", PROGRAM_VERSION_MAJOR, PROGRAM_VERSION_MINOR,
                  PROGRAM_VERSION_PATCH);
    return text;
}

}  // namespace quorvane
