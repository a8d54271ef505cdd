#include "package/package_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>
#include <utility>

#include "package/member_rules.h"
#include "package/upgrade_package.h"
#include "protocol/output_file.h"

namespace quorvane {

namespace {

void AppendLength(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// A package the reader would refuse must never be written.
bool WithinLimits(const PackageMember& member) {
    return FitsMemberName(member.name) && member.data.size() < MEMBER_DATA_LIMIT;
}

// A multiple of the extraction chunk, so that every chunk read from a source
// starts the key phase where the reader will.
constexpr std::size_t COPY_CHUNK = 64 * EXTRACT_CHUNK;
static_assert(COPY_CHUNK % EXTRACT_CHUNK == 0);

// Exactly `count` bytes from `offset`; false when the file ends first.
bool ReadAll(int fd, uint8_t* bytes, std::size_t count, off_t offset) {
    while (count > 0) {
        const ssize_t got = ::pread(fd, bytes, count, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        offset += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteHeader(int output, const MemberSource& member) {
    std::vector<uint8_t> header;
    AppendLength(header, static_cast<uint32_t>(member.Name().size()));
    header.insert(header.end(), member.Name().begin(), member.Name().end());
    AppendLength(header, member.Size());
    return WriteAll(output, header.data(), header.size());
}

bool WriteData(int output, const MemberSource& member, std::vector<uint8_t>& chunk) {
    for (uint32_t done = 0; done < member.Size();) {
        const std::size_t count = std::min<std::size_t>(member.Size() - done, chunk.size());
        if (!ReadAll(member.Descriptor(), chunk.data(), count, done)) return false;
        if (member.Scramble()) ScrambleMember(std::span<uint8_t>(chunk.data(), count));
        if (!WriteAll(output, chunk.data(), count)) return false;
        done += static_cast<uint32_t>(count);
    }
    const uint8_t fill = 0;
    return member.Size() % 2 == 0 || WriteAll(output, &fill, 1);
}

}  // namespace

bool WriteAll(int fd, const uint8_t* bytes, std::size_t count) {
    const int error = WriteFully(fd, bytes, count);
    errno = error;
    return error == 0;
}

std::vector<uint8_t> EncodePackage(const std::vector<PackageMember>& members) {
    std::vector<uint8_t> out;
    for (const PackageMember& member : members) {
        AppendLength(out, static_cast<uint32_t>(member.name.size()));
        out.insert(out.end(), member.name.begin(), member.name.end());
        AppendLength(out, static_cast<uint32_t>(member.data.size()));
        const std::size_t dataStart = out.size();
        out.insert(out.end(), member.data.begin(), member.data.end());
        if (member.scramble) ScrambleMember(std::span<uint8_t>(out).subspan(dataStart));
        // Every data field is padded to an even length.
        if (member.data.size() % 2 != 0) out.push_back(0);
    }
    AppendLength(out, END_MARKER);
    return out;
}

bool WritePackage(const std::filesystem::path& path, const std::vector<PackageMember>& members) {
    for (const PackageMember& member : members) {
        if (!WithinLimits(member)) return false;
    }
    const std::vector<uint8_t> bytes = EncodePackage(members);
    std::ofstream out(path, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out) return true;
    std::error_code error;
    std::filesystem::remove(path, error);
    return false;
}

std::vector<PackageMember> StandardMembers(const std::string& script, const std::string& restrictions,
                                           std::vector<PackageMember> dataMembers) {
    std::vector<PackageMember> members;
    members.push_back({SCRIPT_MEMBER, Bytes(script), IsScrambledMember(SCRIPT_MEMBER)});
    members.push_back({RESTRICTION_MEMBER, Bytes(restrictions), IsScrambledMember(RESTRICTION_MEMBER)});
    for (PackageMember& member : dataMembers) members.push_back(std::move(member));
    return members;
}

MemberSource::~MemberSource() {
    if (fd_ >= 0) ::close(fd_);
}

MemberSource::MemberSource(MemberSource&& other) noexcept
    : name_(std::move(other.name_)),
      scramble_(other.scramble_),
      size_(other.size_),
      fd_(std::exchange(other.fd_, -1)) {}

SourceProblem MemberSource::Open(const std::filesystem::path& path) {
    // Judged by name first, so that a device is never even opened (opening
    // some has effects of its own), then again on the open file, which is
    // what is read.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return SourceProblem::CannotOpen;
    if (!S_ISREG(info.st_mode)) return SourceProblem::NotRegularFile;
    // Without O_NONBLOCK a FIFO swapped in after the test above would block.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return SourceProblem::CannotOpen;
    SourceProblem problem = SourceProblem::None;
    if (::fstat(fd, &info) != 0)
        problem = SourceProblem::CannotOpen;
    else if (!S_ISREG(info.st_mode))
        problem = SourceProblem::NotRegularFile;
    else if (info.st_size >= static_cast<off_t>(MEMBER_DATA_LIMIT))
        problem = SourceProblem::TooLarge;
    if (problem != SourceProblem::None) {
        ::close(fd);
        return problem;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    size_ = static_cast<uint32_t>(info.st_size);
    return SourceProblem::None;
}

bool StreamPackage(int output, const std::vector<MemberSource>& members) {
    std::vector<uint8_t> chunk(COPY_CHUNK);
    for (const MemberSource& member : members) {
        if (member.Descriptor() < 0 || !FitsMemberName(member.Name())) return false;
        if (!WriteHeader(output, member) || !WriteData(output, member, chunk)) return false;
    }
    std::vector<uint8_t> end;
    AppendLength(end, END_MARKER);
    return WriteAll(output, end.data(), end.size());
}

}  // namespace quorvane
