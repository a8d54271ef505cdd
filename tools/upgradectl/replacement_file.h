#pragma once
// A file written beside the one it replaces and renamed over it only once
// it is complete, so a failure at any point leaves the old file as it was.

#include <filesystem>

namespace quorvane::cli {

class ReplacementFile {
public:
    explicit ReplacementFile(std::filesystem::path target) : target_(std::move(target)) {}
    // Removes the temporary file unless it was committed.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates "TARGET.XXXXXX" in the target's folder (TARGET cut short when
    // the name would be too long), with the target's permissions when it is
    // a regular file of no other name. False with errno set.
    bool Create();
    int Descriptor() const { return fd_; }
    const std::filesystem::path& TemporaryPath() const { return temporary_; }
    // Flushes the data to the disk and closes the file: a full disk may
    // only show here. False with errno set.
    bool Finish();
    // Renames the finished file over the target. False with errno set.
    bool Commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace quorvane::cli
