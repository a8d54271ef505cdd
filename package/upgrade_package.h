#pragma once
// An open upgrade package. Members are extracted into a private folder made
// for the open package, never beside the user's files, and that folder is
// removed with everything in it when the package is closed. A package opened
// from memory keeps all of that work in memory instead.

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <istream>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "package/line_reader.h"
#include "package/member_rules.h"

namespace quorvane {

inline constexpr uint32_t END_MARKER = 0xFFFFFFFF;
inline constexpr std::array<uint8_t, 3> MEMBER_KEY{'K', 'W', 'X'};
inline constexpr std::size_t EXTRACT_CHUNK = 256;
inline constexpr uint32_t MEMBER_DATA_LIMIT = 1u << 24;  // data lengths must stay below this
// Combines every byte with the member key, the key phase restarting at every
// 256-byte chunk. Applying it twice gives the original bytes.
void ScrambleMember(std::span<uint8_t> data);

struct MemberInfo {
    std::string name;  // as stored
    uint32_t size = 0;
    int64_t offset = 0;  // where the member's header starts in the file
};

// The container as a walk from its first byte finds it.
struct ContainerLayout {
    std::vector<MemberInfo> members;  // in file order, up to a fault
    bool endMarker = false;           // the walk ended at the end marker
    int64_t faultOffset = -1;         // where an unreadable member starts; -1 when none
    bool membersAfterEnd = false;     // a readable member follows the end marker
};

enum class MemberLookup {
    Found,
    Missing,  // the walk reached the end marker without it
    Hidden,   // a damaged member stops the walk before it could be found
};

enum class ExtractStatus { Done, Missing, Hidden, TooLarge, WriteFailed };

class UpgradePackage {
public:
    UpgradePackage() = default;
    ~UpgradePackage() { Close(); }
    UpgradePackage(const UpgradePackage&) = delete;
    UpgradePackage& operator=(const UpgradePackage&) = delete;

    // Opens the package and extracts the script and the restriction file.
    // Anything but a regular file (a FIFO, a device, a folder) is refused
    // before it is opened, so opening can never block.
    bool Open(const std::filesystem::path& path);
    // Opens the package at `path` from `bytes`, the file's content as read
    // once by the caller (and checked, for a signature): every member is read
    // from those bytes, never from the file again, so a file swapped after
    // the check is not what is extracted. Everything else is as Open(path).
    bool Open(const std::filesystem::path& path, std::vector<uint8_t> bytes);
    // After a failed Open: why this computer could not open the package
    // ("cannot make the private folder in /x: Not a directory", a full
    // temporary disk); empty when the file itself is not a package.
    const std::string& OpenError() const { return openError_; }
    // After a failed Open: why the file could not be read at all, with its
    // path and the system's reason ("x.upk: No such file or directory");
    // empty when it was read.
    const std::string& FileError() const { return fileError_; }
    // The system's reason for the last extraction that could not be
    // written (ExtractStatus::WriteFailed); empty when none failed so.
    const std::string& WriteError() const { return writeError_; }
    // Opens a package from its bytes and writes nothing anywhere: the text
    // members are extracted into memory, LOAD reads its member from the bytes
    // and READ output is kept here (see Output). Meant for checks that run
    // many packages one after the other; the front ends open files.
    bool OpenInMemory(std::vector<uint8_t> container);
    bool InMemory() const { return inMemory_; }
    // Finds `memberName` (upper-cased in place) and writes its data to
    // `outputPath`, unscrambling it when asked.
    bool Extract(std::string& memberName, const std::filesystem::path& outputPath, bool unscramble);
    ExtractStatus ExtractMember(const std::string& upperName, const std::filesystem::path& outputPath,
                                bool unscramble);
    // Extracts a data member once for every run that loads it; it stays until
    // Close. Done also when it was already there.
    ExtractStatus PrepareData(const std::string& upperName);
    // Where a prepared data member lies; empty when it was not prepared.
    std::filesystem::path PreparedData(const std::string& upperName) const;
    // Reads a member's data, as ExtractMember would write it, into `out`.
    ExtractStatus ReadMemberData(const std::string& upperName, std::string& out, bool unscramble);
    // True when `path` is the package file itself, by its own name or
    // through a link: a member written there would destroy the package.
    bool IsPackageFile(const std::filesystem::path& path) const;
    // Looks the (upper-cased) name up as extraction would.
    MemberLookup Find(const std::string& upperName, MemberInfo& out);
    ContainerLayout Layout();
    // Deletes what was extracted, closes the container. Always true.
    bool Close();

    bool IsOpen() const { return container_.is_open() || inMemory_ || fromBytes_; }
    // Reads the extracted copy of a text member (SCRIPT_FILE, RESTRICTION_FILE)
    // whole, as it is now: from the private folder, or from memory.
    bool ReadWorkText(const std::string& upperName, std::string& out) const;
    // Opens `reader` on that copy; false (and `reader` closed) when it cannot be read.
    bool OpenWorkText(const std::string& upperName, LineReader& reader) const;
    // READ output of a package in memory, under the name READ would write:
    // NewOutput starts it afresh, Output is null when there is none.
    std::string& NewOutput(const std::string& name) { return outputs_[name] = {}; }
    const std::string* Output(const std::string& name) const;
    const std::map<std::string, std::string>& Outputs() const { return outputs_; }
    // Where a member of this (already upper-cased) name is extracted; empty
    // when the name could leave the folder (see IsSafeFileName).
    std::filesystem::path WorkFile(const std::string& upperName) const;
    // Where a script's LOAD extracts a data member: a folder of its own inside
    // the private folder. Empty for unsafe names, as WorkFile.
    std::filesystem::path DataFile(const std::string& upperName) const;
    // The folder that holds the package file: READ output goes there.
    const std::filesystem::path& PackageFolder() const { return packageFolder_; }
    // The private folder everything is extracted into; empty while closed.
    const std::filesystem::path& PrivateFolder() const { return workFolder_; }
    // The package file itself, absolute; empty while closed.
    const std::filesystem::path& PackagePath() const { return packagePath_; }
    // The container's bytes, when it was opened from bytes or in memory.
    std::string_view ContainerBytes() const { return bytes_; }
    // Every member in file order, for listing; a malformed container lists
    // the members in front of the fault.
    std::vector<MemberInfo> Members();

private:
    // Finds a member whose data can be read: Done, or why it cannot.
    ExtractStatus FindData(const std::string& upperName, MemberInfo& member);
    bool ExtractTextMember(const std::string& upperName);
    // The rest of a file's opening: its folders and its two text members.
    bool OpenFolders(const std::filesystem::path& path);
    // Lends `use` a stream over the container: the open file, or a stream of
    // its own over the bytes in memory, so reads of those never share a position.
    void WithContainer(const std::function<void(std::istream&)>& use);

    std::ifstream container_;
    bool inMemory_ = false;
    bool fromBytes_ = false;                        // a file's package, read from `bytes_`
    std::string bytes_;                             // the container, when opened from memory or from bytes
    std::map<std::string, std::string> texts_;      // the text members, when opened from memory
    std::map<std::string, std::string> outputs_;    // READ output, when opened from memory
    std::filesystem::path workFolder_;
    std::filesystem::path packageFolder_;
    std::filesystem::path packagePath_;
    std::map<std::string, std::filesystem::path> prepared_;
    std::string openError_;
    std::string fileError_;
    std::string writeError_;  // the system's reason for the last failed extraction
};

}  // namespace quorvane
