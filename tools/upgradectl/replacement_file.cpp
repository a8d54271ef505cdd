#include "tools/upgradectl/replacement_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

namespace quorvane::cli {
namespace {

// What the file would have had if it had been created in place: the old
// file's mode, or the usual mode under the process's umask. Only a regular
// file of no other name lends its mode: a link planted at the target would
// lend that of a file elsewhere, set-user-ID bit and all.
mode_t ModeFor(const std::filesystem::path& target) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1)
        return info.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// "NAME.XXXXXX" beside the target, NAME cut short where the whole would be
// longer than a file name may be: a target's name may itself be that long.
std::string TemporaryPattern(const std::filesystem::path& target) {
    const std::string suffix = ".XXXXXX";
    std::string name = target.filename().string();
    name.resize(std::min<std::size_t>(name.size(), NAME_MAX - suffix.size()));
    return (target.parent_path() / (name + suffix)).string();
}

}  // namespace

ReplacementFile::~ReplacementFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

bool ReplacementFile::Create() {
    std::string pattern = TemporaryPattern(target_);
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return false;
    fd_ = fd;
    temporary_ = pattern;
    // mkostemp makes the file private (0600); the package would stay so.
    return ::fchmod(fd_, ModeFor(target_)) == 0;
}

bool ReplacementFile::Finish() {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    const bool synced = ::fsync(fd_) == 0;
    const int syncError = errno;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!synced) errno = syncError;
    return synced && closed;
}

bool ReplacementFile::Commit() {
    if (fd_ >= 0 || temporary_.empty()) {
        errno = EBADF;
        return false;
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
    committed_ = true;
    return true;
}

}  // namespace quorvane::cli
