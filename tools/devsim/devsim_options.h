#pragma once
// The devsim command line (see README.md for every option).

#include <cstdint>
#include <ostream>
#include <string>

#include <optional>

#include "tools/devsim/device_profile.h"
#include "tools/devsim/fault_options.h"

namespace quorvane::devsim {

inline constexpr int EXIT_USAGE = 2;

struct DevsimConfig {
    std::string listen = "127.0.0.1:4101";
    std::string portFile;
    std::size_t devices = 3;
    std::string profile;
    uint16_t blockSize = 512;
    bool verbose = false;
    std::string logFile;
    std::string dumpDir;
    std::string capture;
    std::string firmwareAfter;  // as given; parsed into `release`
    std::optional<FirmwareRelease> release;
    FaultOptions faults;
};

// Parses the arguments into `config`. Returns -1 when the simulator should
// run, otherwise the exit code: 0 after --help (printed to `out`), EXIT_USAGE
// after a usage error (explained on `err`).
int ParseDevsimOptions(int argc, const char* const* argv, DevsimConfig& config, std::ostream& out,
                       std::ostream& err);

}  // namespace quorvane::devsim
