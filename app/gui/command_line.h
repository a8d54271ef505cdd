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

#include "protocol/udp_endpoint.h"

namespace quorvane {

struct AppOptions {
    EndpointOptions endpoint;
    std::optional<std::filesystem::path> package;
    std::optional<std::filesystem::path> capture;  // pcap file for every datagram sent and received
    int verbosity = 0;  // -v: each request and reply on stderr; -vv: with their bytes
    std::optional<std::filesystem::path> logFile;  // the same trace, with timestamps
    std::string events;  // JSON Lines of the run's events; "-" for stdout, none when empty
    std::size_t jobs = 1;  // --jobs: devices upgraded at once (0: all selected), as the list's control starts
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
