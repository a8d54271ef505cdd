#pragma once
// Files a run writes must never be the package it reads, nor each other:
// opening one would truncate or append to the technician's package, and
// two outputs in one file overwrite each other's start. A script's READ
// output counts as one of them, and so does stdout where JSON goes.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

struct PackageCheck;
struct GlobalOptions;
struct DeviceRecord;

// A file the script's READ writes, as the package check planned it.
struct ReadOutput {
    int line = 0;  // of the script
    std::filesystem::path path;
};

// The files a run was asked to write; an empty one is not written, "-"
// stands for stdout.
struct RunOutputs {
    std::string capture;  // --capture
    std::string logFile;  // --log-file
    std::string events;   // --events
    std::vector<ReadOutput> reads;
    // What writes to stdout, which no other output may break into: "--json",
    // "--events -"; none when empty.
    std::string stdoutWriter;
};

// Every file a run of either program writes besides READ, as the clash
// check sees them: --capture, --log-file, --events, and stdout where
// --json or --events - write there.
RunOutputs OutputsOf(const GlobalOptions& options);

// A file option's name as the clash checks take it: empty when none.
std::string FileText(const std::optional<std::filesystem::path>& file);

// Every READ output of the check's plan.
std::vector<ReadOutput> ReadOutputsOf(const PackageCheck& check);
// Every READ output of the check's plan for each of `devices` in turn, named
// as a run of them all names them (ReadNamesFor).
std::vector<ReadOutput> DeviceReadOutputs(const PackageCheck& check, const std::vector<DeviceRecord*>& devices);

// The line that refuses the first clash; empty when all is well:
// "--log-file a.txt and --events a.txt are one file; nothing was done" for
// two outputs naming one file (whether it exists yet or not, by any name:
// links, "..", and for a READ output a name that differs only in the case
// of its letters), "--events FILE is the package itself; nothing was done"
// for an output that is `package` (none given: empty), and "--events
// /dev/stdout is stdout, where --json writes; nothing was done" when
// something else writes there. Character
// devices (/dev/null, a terminal) take any number of outputs.
std::string OutputClash(const RunOutputs& outputs, const std::filesystem::path& package);

}  // namespace quorvane
