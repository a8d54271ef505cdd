#pragma once
// For the commands that open a package but talk to no device (check,
// inspect, unpack, pack, discover): SIGINT or SIGTERM ends them at once, as
// usual, but never before the files they made for themselves are removed:
// the package's private folder with every extracted member, or a package
// being written.

#include <filesystem>
#include <mutex>
#include <vector>

#include "app/interrupt_watch.h"

namespace quorvane::cli {

class InterruptCleanup {
public:
    // Make it before anything is extracted or written.
    InterruptCleanup();
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;

    // `path` (a file, or a folder with all it holds) goes if a signal ends the process.
    void Add(const std::filesystem::path& path);

private:
    void RemoveAll();

    std::mutex mutex_;
    std::vector<std::filesystem::path> paths_;
    InterruptWatch watch_;  // last, so that it stops watching before the list goes
};

}  // namespace quorvane::cli
