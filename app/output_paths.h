#pragma once
// Files a run writes must never be the package it reads: opening one of
// them would truncate or append to the technician's package.

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

// "--events FILE is the package itself; nothing was done" for the first
// output that is `package`; empty when none is.
std::string OutputNamingPackage(const RunOutputs& outputs, const std::filesystem::path& package);

}  // namespace quorvane
