#include "tools/upgradectl/interrupt_cleanup.h"

#include <system_error>

namespace quorvane::cli {

InterruptCleanup::InterruptCleanup() {
    watch_.SetLastWords([this] { RemoveAll(); });
}

void InterruptCleanup::Add(const std::filesystem::path& path) {
    if (path.empty()) return;
    std::lock_guard lock(mutex_);
    paths_.push_back(path);
}

void InterruptCleanup::RemoveAll() {
    std::lock_guard lock(mutex_);
    std::error_code ignored;
    for (const auto& path : paths_) std::filesystem::remove_all(path, ignored);
}

}  // namespace quorvane::cli
