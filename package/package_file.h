#pragma once
// A package file read whole, once, so that what is checked (its signature)
// is exactly what is then opened and sent.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quorvane {

// Larger than any package: each member stays below 16 MiB.
inline constexpr std::uintmax_t PACKAGE_FILE_LIMIT = 256u << 20;

struct PackageFileRead {
    std::vector<uint8_t> bytes;
    std::string error;  // the system's reason ("No such file or directory"); empty when read
    bool Ok() const { return error.empty(); }
};

// Reads a regular file of at most PACKAGE_FILE_LIMIT bytes; a FIFO or a
// device is refused before it is opened, so reading cannot block.
PackageFileRead ReadPackageFile(const std::filesystem::path& path);

}  // namespace quorvane
