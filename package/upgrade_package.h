#pragma once
// An open upgrade package. Members are extracted into a private folder made
// for the open package, never beside the user's files, and that folder is
// removed with everything in it when the package is closed.

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "line_reader.h"

namespace quorvane {

inline constexpr uint32_t END_MARKER = 0xFFFFFFFF;
inline constexpr std::array<uint8_t, 3> MEMBER_KEY{'K', 'W', 'X'};
inline constexpr std::size_t EXTRACT_CHUNK = 256;
inline constexpr std::size_t MAX_MEMBER_NAME = 255;
inline constexpr uint32_t MEMBER_DATA_LIMIT = 1u << 24;  // data lengths must stay below this
inline constexpr const char* SCRIPT_MEMBER = "program.cmd";
inline constexpr const char* RESTRICTION_MEMBER = "restriction.ini";

struct MemberInfo {
    std::string name;  // as stored
    uint32_t size = 0;
};

class UpgradePackage {
public:
    UpgradePackage() = default;
    ~UpgradePackage() { Close(); }
    UpgradePackage(const UpgradePackage&) = delete;
    UpgradePackage& operator=(const UpgradePackage&) = delete;

    // Opens the package and extracts the script and the restriction file.
    bool Open(const std::filesystem::path& path);
    // Finds `memberName` (upper-cased in place) and writes its data to
    // `outputPath`, unscrambling it when asked.
    bool Extract(std::string& memberName, const std::filesystem::path& outputPath, bool unscramble);
    // Deletes what was extracted, closes the container. Always true.
    bool Close();

    bool IsOpen() const { return container_.is_open(); }
    // Where a member of this (already upper-cased) name is extracted; empty
    // when the name could leave the folder (see IsSafeFileName).
    std::filesystem::path WorkFile(const std::string& upperName) const;
    // Where a script's LOAD extracts a data member: a folder of its own inside
    // the private folder. Empty for unsafe names, as WorkFile.
    std::filesystem::path DataFile(const std::string& upperName) const;
    // The folder that holds the package file: READ output goes there.
    const std::filesystem::path& PackageFolder() const { return packageFolder_; }
    // The package file itself, absolute; empty while closed.
    const std::filesystem::path& PackagePath() const { return packagePath_; }
    // Every member in file order, for listing; a malformed container lists
    // the members in front of the fault.
    std::vector<MemberInfo> Members();

    LineReader reader;

private:
    std::ifstream container_;
    uint32_t memberLength_ = 0;
    int64_t position_ = 0;
    std::filesystem::path workFolder_;
    std::filesystem::path packageFolder_;
    std::filesystem::path packagePath_;
};

// False for names that could leave their folder: empty, "." or "..", or
// holding '/', '\\' or a control byte.
bool IsSafeFileName(const std::string& name);

}  // namespace quorvane
