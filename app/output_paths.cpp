#include "app/output_paths.h"

#include <system_error>
#include <utility>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

struct NamedOutput {
    const char* option;
    const std::string* path;
};

// Two names of one file: the same path once made absolute and normal (the
// file need not exist yet), or one existing file by two names (links).
bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    const fs::path left = fs::weakly_canonical(fs::absolute(a, error), error);
    if (error) return false;
    const fs::path right = fs::weakly_canonical(fs::absolute(b, error), error);
    return !error && left == right;
}

}  // namespace

std::string OutputClash(const RunOutputs& outputs, const fs::path& package) {
    const NamedOutput named[] = {
        {"--capture", &outputs.capture}, {"--log-file", &outputs.logFile}, {"--events", &outputs.events}};
    auto written = [](const NamedOutput& output) { return !output.path->empty() && *output.path != "-"; };
    for (std::size_t i = 0; i < std::size(named); ++i) {
        if (!written(named[i])) continue;
        for (std::size_t j = i + 1; j < std::size(named); ++j) {
            if (written(named[j]) && SameFile(*named[i].path, *named[j].path))
                return std::string(named[i].option) + " " + *named[i].path + " and " + named[j].option + " " +
                       *named[j].path + " are one file; nothing was done";
        }
    }
    for (const NamedOutput& output : named) {
        if (!written(output) || package.empty()) continue;
        std::error_code ignored;
        if (fs::equivalent(*output.path, package, ignored))
            return std::string(output.option) + " " + *output.path + " is the package itself; nothing was done";
    }
    return {};
}

}  // namespace quorvane
