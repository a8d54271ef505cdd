#pragma once
// Files a run writes must never be the package it reads, nor each other:
// opening one would truncate or append to the technician's package, and
// two outputs in one file overwrite each other's start.

#include <filesystem>
#include <string>

namespace quorvane {

// The files a run was asked to write; an empty one is not written, "-"
// stands for stdout.
struct RunOutputs {
    std::string capture;  // --capture
    std::string logFile;  // --log-file
    std::string events;   // --events
};

// "--log-file a.txt and --events a.txt are one file; nothing was done" for
// the first two outputs naming one file (whether it exists yet or not), else
// "--events FILE is the package itself; nothing was done" for the first
// output that is `package` (none given: empty); empty when all is well.
std::string OutputClash(const RunOutputs& outputs, const std::filesystem::path& package);

}  // namespace quorvane
