#include "package/package_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorvane {

PackageFileRead ReadPackageFile(const std::filesystem::path& path) {
    PackageFileRead read;
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) {
        read.error = std::strerror(errno);
        return read;
    }
    if (!S_ISREG(before.st_mode)) {
        read.error = "not a regular file";
        return read;
    }
    if (static_cast<std::uintmax_t>(before.st_size) > PACKAGE_FILE_LIMIT) {
        read.error = "larger than any package (256 MiB)";
        return read;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        read.error = std::strerror(errno);
        return read;
    }
    // Read to the end, whatever the size was a moment ago, within the limit.
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            read.error = std::strerror(errno);
            break;
        }
        if (got == 0) break;
        read.bytes.insert(read.bytes.end(), chunk, chunk + got);
        if (read.bytes.size() > PACKAGE_FILE_LIMIT) {
            read.error = "larger than any package (256 MiB)";
            break;
        }
    }
    ::close(fd);
    if (!read.Ok()) read.bytes.clear();
    return read;
}

}  // namespace quorvane
