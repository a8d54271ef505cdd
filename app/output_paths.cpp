#include "app/output_paths.h"

#include <system_error>
#include <utility>

namespace quorvane {

std::string OutputNamingPackage(const RunOutputs& outputs, const std::filesystem::path& package) {
    const std::pair<const char*, const std::string*> named[] = {
        {"--capture", &outputs.capture}, {"--log-file", &outputs.logFile}, {"--events", &outputs.events}};
    for (const auto& [option, path] : named) {
        std::error_code ignored;
        if (path->empty() || *path == "-" || !std::filesystem::equivalent(*path, package, ignored)) continue;
        return std::string(option) + " " + *path + " is the package itself; nothing was done";
    }
    return {};
}

}  // namespace quorvane
