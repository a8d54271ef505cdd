#pragma once
// Small helpers for package tests: a private folder that cleans up after
// itself, whole-file reads and writes, and a package written from members.

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "package/package_writer.h"

namespace quorvane::test {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qv-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code error;
        // A test may have made a folder read-only; removal needs it writable.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, error);
        std::filesystem::recursive_directory_iterator it(path_, error);
        for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_directory(error)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, error);
            }
        }
        std::filesystem::remove_all(path_, error);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path File(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

inline bool WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline bool WriteText(const std::filesystem::path& file, std::string_view text) {
    return WriteBytes(file, Bytes(text));
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string ReadText(const std::filesystem::path& file) {
    const auto bytes = ReadBytes(file);
    return {bytes.begin(), bytes.end()};
}

// Writes `members` as package `name` in `folder`; returns its path.
inline std::filesystem::path WriteTestPackage(const TempFolder& folder,
                                              const std::vector<PackageMember>& members,
                                              const std::string& name = "test.upk") {
    const auto path = folder.File(name);
    WritePackage(path, members);
    return path;
}

}  // namespace quorvane::test
