#pragma once
// The desktop program's options: where device datagrams go (for the
// simulator and workstations with several networks) and a package to open
// without the file prompt.

#include <QString>
#include <QStringList>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "app/global_option_table.h"
#include "protocol/udp_endpoint.h"

namespace quorvane {

// The shared options the desktop program takes (IN_DESKTOP; the others keep
// their defaults), with --jobs as the list's control starts, and its own.
struct AppOptions : GlobalOptions {
    EndpointOptions endpoint;  // as the destination options name it
    std::optional<std::filesystem::path> package;
    QString help;  // the usage text when --help was given; nothing else runs then
};

// False with `error` set for an unknown option or a bad value; `options`
// is written only on success. `arguments` starts with the program name.
bool ParseCommandLine(const QStringList& arguments, AppOptions& options, QString& error);

// True when the arguments (argv, program name first) ask for --version
// before any "--". Answered before the window system is started, so that
// the version can be asked for without a display.
bool AsksForVersion(int argc, const char* const* argv);

}  // namespace quorvane
