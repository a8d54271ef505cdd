#include "app/output_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <system_error>
#include <utility>

#include "app/global_option_table.h"
#include "app/upgrade_command.h"
#include "package/package_check.h"
#include "package/text.h"
#include "protocol/output_file.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

struct NamedOutput {
    std::string name;  // as the message names it: "--capture x.pcap", "the READ of line 4 (/p/X.BIN)"
    fs::path path;
    bool caseBlind = false;  // a READ output, whose name the script upper-cased
};

std::string Upper(std::string text) {
    UpperAscii(text);
    return text;
}

// As SameFile, and for a READ output also the same name in the same folder
// but for the case of its letters: on a file system that ignores case (a
// memory stick) those are one file.
bool SameOutput(const NamedOutput& a, const NamedOutput& b) {
    if (SameFileName(a.path, b.path)) return true;
    if (!a.caseBlind && !b.caseBlind) return false;
    return Upper(a.path.filename().string()) == Upper(b.path.filename().string()) &&
           SameFileName(a.path.parent_path().empty() ? "." : a.path.parent_path(),
                    b.path.parent_path().empty() ? "." : b.path.parent_path());
}

bool IsCharacterDevice(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

// True when `path` names what stdout is now, unless that is a character
// device (a terminal, /dev/null), which interleaved lines cannot harm.
bool IsStdout(const fs::path& path) {
    struct stat out {};
    struct stat named {};
    return ::fstat(STDOUT_FILENO, &out) == 0 && !S_ISCHR(out.st_mode) && ::stat(path.c_str(), &named) == 0 &&
           out.st_dev == named.st_dev && out.st_ino == named.st_ino;
}

std::vector<NamedOutput> Named(const RunOutputs& outputs) {
    std::vector<NamedOutput> named;
    const std::pair<const char*, const std::string*> options[] = {
        {"--capture", &outputs.capture}, {"--log-file", &outputs.logFile}, {"--events", &outputs.events}};
    for (const auto& [option, path] : options)
        if (!path->empty() && *path != "-") named.push_back({std::string(option) + " " + *path, *path, false});
    for (const ReadOutput& read : outputs.reads)
        named.push_back({"the READ of program.cmd line " + std::to_string(read.line) + " (" + read.path.string() +
                             ")",
                         read.path, true});
    return named;
}

}  // namespace

std::vector<ReadOutput> ReadOutputsOf(const PackageCheck& check) {
    std::vector<ReadOutput> reads;
    for (const PlannedCommand& planned : check.plan)
        if (!planned.readOutput.empty()) reads.push_back({planned.line, planned.readOutput});
    return reads;
}

std::vector<ReadOutput> DeviceReadOutputs(const PackageCheck& check, const std::vector<DeviceRecord*>& devices) {
    const ReadNames names = ReadNamesFor(devices.size());
    std::vector<ReadOutput> reads;
    for (const DeviceRecord* device : devices)
        for (const ReadOutput& read : ReadOutputsOf(check))
            reads.push_back({read.line, ReadOutputFor(read.path, device->mac, names)});
    return reads;
}

std::string OutputClash(const RunOutputs& outputs, const fs::path& package) {
    const std::vector<NamedOutput> named = Named(outputs);
    for (std::size_t i = 0; i < named.size(); ++i) {
        for (std::size_t j = i + 1; j < named.size(); ++j) {
            // Two READs of one file are the package's fault, which its check finds.
            if (named[i].caseBlind && named[j].caseBlind) continue;
            if (!SameOutput(named[i], named[j])) continue;
            if (IsCharacterDevice(named[i].path)) continue;
            return named[i].name + " and " + named[j].name + " are one file; nothing was done";
        }
    }
    for (const NamedOutput& output : named) {
        std::error_code ignored;
        if (!package.empty() && fs::equivalent(output.path, package, ignored))
            return output.name + " is the package itself; nothing was done";
        if (!outputs.stdoutWriter.empty() && IsStdout(output.path))
            return output.name + " is stdout, where " + outputs.stdoutWriter + " writes; nothing was done";
    }
    return {};
}

RunOutputs OutputsOf(const GlobalOptions& options) {
    std::string stdoutWriter;
    if (options.json) stdoutWriter = "--json";
    if (options.events == "-") stdoutWriter = "--events -";
    return {FileText(options.capture), FileText(options.logFile), options.events, {}, stdoutWriter};
}

std::string FileText(const std::optional<std::filesystem::path>& file) {
    return file ? file->string() : std::string();
}

}  // namespace quorvane
