#pragma once
// Builds package files: members in the given order, fill bytes after odd
// data, the end marker; scrambled members are stored with the member key.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "package/upgrade_package.h"

namespace quorvane {

struct PackageMember {
    std::string name;
    std::vector<uint8_t> data;
    bool scramble = false;
};

std::vector<uint8_t> EncodePackage(const std::vector<PackageMember>& members);
bool WritePackage(const std::filesystem::path& path, const std::vector<PackageMember>& members);
// The usual members: program.cmd, restriction.ini (scrambled as IsScrambledMember
// says), then the data files.
std::vector<PackageMember> StandardMembers(const std::string& script, const std::string& restrictions,
                                           std::vector<PackageMember> dataMembers = {});

enum class SourceProblem { None, CannotOpen, NotRegularFile, TooLarge };

// A member whose data is read from a file while the package is written, so
// that no member is ever held in memory whole. It owns the open file.
class MemberSource {
public:
    MemberSource(std::string name, bool scramble) : name_(std::move(name)), scramble_(scramble) {}
    ~MemberSource();
    MemberSource(MemberSource&& other) noexcept;
    MemberSource(const MemberSource&) = delete;
    MemberSource& operator=(const MemberSource&) = delete;
    MemberSource& operator=(MemberSource&&) = delete;

    // Opens `path` without ever waiting for it: a FIFO, a device or a folder
    // is NotRegularFile. The size is taken from the open file, before a byte
    // is read, and must stay below the member data limit.
    SourceProblem Open(const std::filesystem::path& path);

    const std::string& Name() const { return name_; }
    bool Scramble() const { return scramble_; }
    uint32_t Size() const { return size_; }
    int Descriptor() const { return fd_; }

private:
    std::string name_;
    bool scramble_ = false;
    uint32_t size_ = 0;
    int fd_ = -1;
};

// Writes all `count` bytes to `fd`, again where a signal cut a write short.
// False with errno set when a write fails (a full disk).
bool WriteAll(int fd, const uint8_t* bytes, std::size_t count);

// Writes the members and the end marker to the open file `output`, each
// member's data read in chunks from its source. False when a source ends
// before its size, a name is too long for the format, or a write fails
// (a full disk); what was written is then the caller's to remove.
bool StreamPackage(int output, const std::vector<MemberSource>& members);

}  // namespace quorvane
