#include "protocol/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace quorvane {

namespace {

namespace fs = std::filesystem;

fs::path Normal(const fs::path& path, std::error_code& error) {
    fs::path resolved = fs::absolute(path, error);
    std::error_code missing;  // a name not there yet is no link
    for (int hops = 0; !error && hops < 40 && fs::is_symlink(fs::symlink_status(resolved, missing)); ++hops) {
        const fs::path target = fs::read_symlink(resolved, error);
        resolved = target.is_absolute() ? target : resolved.parent_path() / target;
    }
    if (error) return {};
    return fs::weakly_canonical(resolved, error);
}

}  // namespace

bool SameFileName(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    error.clear();
    const fs::path left = Normal(a, error);
    if (error) return false;
    const fs::path right = Normal(b, error);
    return !error && left == right;
}

std::string OutputTypeProblem(unsigned mode) {
    if (S_ISREG(mode) || S_ISCHR(mode)) return {};
    if (S_ISFIFO(mode)) return "it is a FIFO, not a regular file";
    if (S_ISDIR(mode)) return "it is a folder, not a regular file";
    if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
    return "it is not a regular file";
}

int OpenOutputDescriptor(const std::filesystem::path& path, OutputMode mode, std::string& reason) {
    // Judged before open(): opening a FIFO for writing blocks until a
    // reader comes, and O_NONBLOCK alone would still take one that has one.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        reason = OutputTypeProblem(info.st_mode);
        if (!reason.empty()) return -1;
    }
    const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                      (mode == OutputMode::Append ? O_APPEND : 0);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    // Judged again on what was opened: the name may have changed meanwhile.
    if (::fstat(fd, &info) != 0) {
        reason = std::strerror(errno);
    } else {
        reason = OutputTypeProblem(info.st_mode);
        if (reason.empty() && S_ISREG(info.st_mode) && mode == OutputMode::Truncate && ::ftruncate(fd, 0) != 0)
            reason = std::strerror(errno);
        // Writes wait as usual from here on.
        if (reason.empty() && ::fcntl(fd, F_SETFL, mode == OutputMode::Append ? O_APPEND : 0) != 0)
            reason = std::strerror(errno);
    }
    if (reason.empty()) return fd;
    ::close(fd);
    return -1;
}

int WriteFully(int fd, const void* bytes, std::size_t count) {
    const auto* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t written = ::write(fd, next, count);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        if (written == 0) return EIO;
        next += written;
        count -= static_cast<std::size_t>(written);
    }
    return 0;
}

bool OutputFile::Open(const std::filesystem::path& path, OutputMode mode, std::string& reason) {
    Close();
    failure_.clear();
    fd_ = OpenOutputDescriptor(path, mode, reason);
    owned_ = fd_ >= 0;
    return fd_ >= 0;
}

void OutputFile::Borrow(int descriptor) {
    Close();
    failure_.clear();
    fd_ = descriptor;
    owned_ = false;
}

bool OutputFile::Write(std::string_view bytes) {
    if (fd_ < 0 || Failed()) return false;
    if (const int error = WriteFully(fd_, bytes.data(), bytes.size()); error != 0) failure_ = std::strerror(error);
    return !Failed();
}

bool OutputFile::Close() {
    if (fd_ >= 0 && owned_ && ::close(fd_) != 0 && failure_.empty()) failure_ = std::strerror(errno);
    fd_ = -1;
    owned_ = false;
    return failure_.empty();
}

}  // namespace quorvane
