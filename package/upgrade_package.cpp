#include "package/upgrade_package.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "package/text.h"
#include "protocol/output_file.h"

namespace quorvane {

namespace {

// One member header as found in the container.
struct MemberEntry {
    std::string name;  // the stored bytes, all of them
    uint32_t size = 0;
    int64_t dataOffset = 0;
};

enum class Step { Member, End, Fault };

// Data members a script loads are extracted here, apart from the script and
// the restriction file, so that loading a member of the same name as either
// can never overwrite the copy in use.
constexpr const char* DATA_FOLDER = "data";

bool ReadLength(std::istream& in, uint32_t& value) {
    uint8_t bytes[4];
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (in.gcount() != static_cast<std::streamsize>(sizeof bytes)) return false;
    value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
            static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return true;
}

int64_t StreamSize(std::istream& in) {
    in.clear();
    in.seekg(0, std::ios::end);
    const auto end = static_cast<int64_t>(in.tellg());
    in.clear();
    return end;
}

// Reads the member header at `offset`. A name too long for the format, data
// that runs past the file, and a container that ends without its end marker
// are faults: nothing at or after that point is trusted. Data of 16 MiB or
// more is still walked over; only its extraction is refused.
Step ReadMember(std::istream& in, int64_t offset, int64_t fileSize, MemberEntry& out) {
    in.clear();
    if (!in.seekg(offset)) return Step::Fault;
    uint32_t nameLength = 0;
    if (!ReadLength(in, nameLength)) return Step::Fault;
    if (nameLength == END_MARKER) return Step::End;
    if (nameLength > MAX_MEMBER_NAME) return Step::Fault;
    char name[MAX_MEMBER_NAME];
    in.read(name, nameLength);
    if (in.gcount() != static_cast<std::streamsize>(nameLength)) return Step::Fault;
    uint32_t dataLength = 0;
    if (!ReadLength(in, dataLength)) return Step::Fault;
    out.name.assign(name, nameLength);
    out.size = dataLength;
    out.dataOffset = offset + 8 + nameLength;
    if (out.dataOffset + static_cast<int64_t>(dataLength) > fileSize) return Step::Fault;
    return Step::Member;
}

int64_t NextMemberOffset(const MemberEntry& entry) {
    return entry.dataOffset + entry.size + (entry.size % 2);
}

// The member key repeated over one chunk, so that a chunk is combined with
// it position for position, several bytes at a time.
constexpr std::array<uint8_t, EXTRACT_CHUNK> CHUNK_KEY = [] {
    std::array<uint8_t, EXTRACT_CHUNK> key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = MEMBER_KEY[i % MEMBER_KEY.size()];
    return key;
}();

// Streams `size` bytes from the current position of `in` to `write` through
// one chunk buffer. A short read fails rather than write bytes never read.
template <typename Write>
bool CopyMember(std::istream& in, uint32_t size, bool unscramble, Write write) {
    std::array<uint8_t, EXTRACT_CHUNK> chunk{};
    uint32_t left = size;
    while (left > 0) {
        const std::size_t count = std::min<std::size_t>(left, EXTRACT_CHUNK);
        in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(count));
        if (in.gcount() != static_cast<std::streamsize>(count)) return false;
        // The key phase restarts with every chunk, the last short one included.
        if (unscramble) ScrambleMember(std::span(chunk.data(), count));
        if (!write(reinterpret_cast<const char*>(chunk.data()), count)) return false;
        left -= static_cast<uint32_t>(count);
    }
    return true;
}

// Reads bytes held elsewhere, without a copy, as an input stream.
class ByteBuffer : public std::streambuf {
public:
    explicit ByteBuffer(const std::string& bytes) {
        char* begin = const_cast<char*>(bytes.data());  // only ever read
        setg(begin, begin, begin + bytes.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir from, std::ios_base::openmode) override {
        const off_type size = egptr() - eback();
        const off_type base = from == std::ios_base::beg ? 0 : from == std::ios_base::cur ? gptr() - eback() : size;
        if (base + offset < 0 || base + offset > size) return pos_type(off_type(-1));
        setg(eback(), eback() + base + offset, egptr());
        return pos_type(base + offset);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }
};

// The member's data starts after its two length fields and its name.
bool SeekData(std::istream& in, const MemberInfo& member) {
    in.clear();
    return static_cast<bool>(in.seekg(member.offset + 8 + static_cast<int64_t>(member.name.size())));
}

// Where the private folder is made: $TMPDIR, else /tmp.
std::filesystem::path TemporaryBase() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? std::filesystem::path(folder) : std::filesystem::path("/tmp");
}

// A new folder that only this user may enter; empty, with `error` saying
// why, when none can be made.
std::filesystem::path MakePrivateFolder(std::string& error) {
    const std::filesystem::path base = TemporaryBase();
    std::string pattern = (base / "quorvane-upk-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make the private folder in " + base.string() + ": " + std::strerror(errno);
        return {};
    }
    // mkdtemp already asks for 0700, but a strange umask could take more.
    std::error_code ignored;
    std::filesystem::permissions(pattern, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ignored);
    return pattern;
}

// Writes all of `bytes`; false with `error` set to the system's reason.
bool WriteExtracted(int fd, const char* bytes, std::size_t count, std::string& error) {
    const int failure = WriteFully(fd, bytes, count);
    if (failure != 0) error = std::strerror(failure);
    return failure == 0;
}

}  // namespace

void ScrambleMember(std::span<uint8_t> data) {
    for (std::size_t start = 0; start < data.size(); start += EXTRACT_CHUNK) {
        uint8_t* chunk = data.data() + start;
        const std::size_t count = std::min(EXTRACT_CHUNK, data.size() - start);
        // Eight bytes at a time, then the rest one by one.
        std::size_t i = 0;
        for (; i + sizeof(uint64_t) <= count; i += sizeof(uint64_t)) {
            uint64_t word = 0;
            uint64_t key = 0;
            std::memcpy(&word, chunk + i, sizeof word);
            std::memcpy(&key, CHUNK_KEY.data() + i, sizeof key);
            word ^= key;
            std::memcpy(chunk + i, &word, sizeof word);
        }
        for (; i < count; ++i) chunk[i] ^= CHUNK_KEY[i];
    }
}

bool UpgradePackage::Open(const std::filesystem::path& path) {
    Close();
    openError_.clear();
    fileError_.clear();
    // A file that is not there at all is said so, with the system's words.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) fileError_ = path.string() + ": " + std::strerror(errno);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    errno = 0;
    container_.open(path, std::ios::in | std::ios::binary);
    if (!container_.is_open()) {
        if (errno != 0) fileError_ = path.string() + ": " + std::strerror(errno);
        return false;
    }
    return OpenFolders(path);
}

bool UpgradePackage::Open(const std::filesystem::path& path, std::vector<uint8_t> bytes) {
    Close();
    openError_.clear();
    fileError_.clear();
    bytes_.assign(bytes.begin(), bytes.end());
    fromBytes_ = true;
    return OpenFolders(path);
}

bool UpgradePackage::OpenFolders(const std::filesystem::path& path) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    if (error) {
        Close();
        return false;
    }
    packagePath_ = absolute;
    packageFolder_ = absolute.parent_path();
    workFolder_ = MakePrivateFolder(openError_);
    std::error_code ignored;
    if (!workFolder_.empty()) std::filesystem::create_directory(workFolder_ / DATA_FOLDER, ignored);
    writeError_.clear();
    const bool extracted =
        !workFolder_.empty() && ExtractTextMember(SCRIPT_FILE) && ExtractTextMember(RESTRICTION_FILE);
    // The package may be fine: this computer could not take its members.
    if (!extracted && !workFolder_.empty() && !writeError_.empty())
        openError_ = "cannot write into the private folder " + workFolder_.string() + ": " + writeError_;
    if (!extracted) Close();
    return extracted;
}

bool UpgradePackage::OpenInMemory(std::vector<uint8_t> container) {
    Close();
    bytes_.assign(container.begin(), container.end());
    inMemory_ = true;
    const bool extracted = ExtractTextMember(SCRIPT_FILE) && ExtractTextMember(RESTRICTION_FILE);
    if (!extracted) Close();
    return extracted;
}

// The two text members go where every later reader of them looks (see
// ReadWorkText), as they were before they were stored.
bool UpgradePackage::ExtractTextMember(const std::string& upperName) {
    const bool unscramble = IsScrambledMember(upperName);
    if (inMemory_) return ReadMemberData(upperName, texts_[upperName], unscramble) == ExtractStatus::Done;
    return ExtractMember(upperName, WorkFile(upperName), unscramble) == ExtractStatus::Done;
}

void UpgradePackage::WithContainer(const std::function<void(std::istream&)>& use) {
    if (!inMemory_ && !fromBytes_) {
        use(container_);
        return;
    }
    ByteBuffer buffer(bytes_);
    std::istream in(&buffer);
    use(in);
}

bool UpgradePackage::Extract(std::string& memberName, const std::filesystem::path& outputPath,
                             bool unscramble) {
    UpperAscii(memberName);
    return ExtractMember(memberName, outputPath, unscramble) == ExtractStatus::Done;
}

MemberLookup UpgradePackage::Find(const std::string& upperName, MemberInfo& out) {
    if (!IsOpen()) return MemberLookup::Missing;
    MemberLookup result = MemberLookup::Missing;
    WithContainer([&](std::istream& in) {
        const int64_t fileSize = StreamSize(in);
        MemberEntry entry;
        int64_t offset = 0;
        // Every lookup starts at the first member, so the first of two members of
        // the same name always wins.
        for (;;) {
            const Step step = ReadMember(in, offset, fileSize, entry);
            if (step == Step::End) return;
            if (step == Step::Fault) {
                result = MemberLookup::Hidden;
                return;
            }
            if (MemberMatches(entry.name, upperName)) break;
            offset = NextMemberOffset(entry);
        }
        out = {entry.name, entry.size, offset};
        result = MemberLookup::Found;
    });
    return result;
}

ExtractStatus UpgradePackage::FindData(const std::string& upperName, MemberInfo& member) {
    switch (Find(upperName, member)) {
        case MemberLookup::Missing:
            return ExtractStatus::Missing;
        case MemberLookup::Hidden:
            return ExtractStatus::Hidden;
        case MemberLookup::Found:
            break;
    }
    // Beyond what the format can carry.
    return member.size >= MEMBER_DATA_LIMIT ? ExtractStatus::TooLarge : ExtractStatus::Done;
}

ExtractStatus UpgradePackage::ExtractMember(const std::string& upperName,
                                            const std::filesystem::path& outputPath, bool unscramble) {
    // Writing over the package itself would truncate the very file being read.
    writeError_.clear();
    if (outputPath.empty() || IsPackageFile(outputPath)) return ExtractStatus::WriteFailed;
    MemberInfo member;
    if (const ExtractStatus found = FindData(upperName, member); found != ExtractStatus::Done) return found;
    bool copied = false;
    bool created = false;
    WithContainer([&](std::istream& in) {
        if (!SeekData(in, member)) return;
        const int fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        created = fd >= 0;
        if (!created) {
            writeError_ = std::strerror(errno);
            return;
        }
        copied = CopyMember(in, member.size, unscramble, [this, fd](const char* bytes, std::size_t count) {
            return WriteExtracted(fd, bytes, count, writeError_);
        });
        if (::close(fd) != 0 && copied) {
            writeError_ = std::strerror(errno);
            copied = false;
        }
    });
    if (!created) return ExtractStatus::WriteFailed;
    // The size on disk is checked too: a full disk must fail here, before
    // any device is sent a byte of a short copy.
    std::error_code error;
    if (copied && std::filesystem::file_size(outputPath, error) == member.size && !error)
        return ExtractStatus::Done;
    if (copied && writeError_.empty()) writeError_ = "the copy is shorter than the member";
    std::filesystem::remove(outputPath, error);
    return ExtractStatus::WriteFailed;
}

bool UpgradePackage::IsPackageFile(const std::filesystem::path& path) const {
    std::error_code missing;
    return std::filesystem::equivalent(path, packagePath_, missing);
}

ExtractStatus UpgradePackage::ReadMemberData(const std::string& upperName, std::string& out, bool unscramble) {
    out.clear();
    MemberInfo member;
    if (const ExtractStatus found = FindData(upperName, member); found != ExtractStatus::Done) return found;
    bool copied = false;
    WithContainer([&](std::istream& in) {
        out.reserve(member.size);
        copied = SeekData(in, member) &&
                 CopyMember(in, member.size, unscramble, [&out](const char* bytes, std::size_t count) {
                     out.append(bytes, count);
                     return true;
                 });
    });
    if (copied) return ExtractStatus::Done;
    out.clear();
    return ExtractStatus::WriteFailed;
}

ExtractStatus UpgradePackage::PrepareData(const std::string& upperName) {
    if (prepared_.count(upperName) != 0) return ExtractStatus::Done;
    // In memory there is nothing to keep: every LOAD reads the bytes through
    // a stream of its own. Only whether it can is worth knowing.
    if (inMemory_) {
        std::string data;
        return ReadMemberData(upperName, data, false);
    }
    const auto file = DataFile(upperName);
    if (file.empty()) return ExtractStatus::WriteFailed;
    const ExtractStatus status = ExtractMember(upperName, file, false);
    if (status == ExtractStatus::Done) prepared_[upperName] = file;
    return status;
}

std::filesystem::path UpgradePackage::PreparedData(const std::string& upperName) const {
    const auto found = prepared_.find(upperName);
    return found == prepared_.end() ? std::filesystem::path() : found->second;
}

bool UpgradePackage::Close() {
    if (container_.is_open()) container_.close();
    container_.clear();
    inMemory_ = false;
    fromBytes_ = false;
    bytes_.clear();
    texts_.clear();
    outputs_.clear();
    prepared_.clear();
    if (!workFolder_.empty()) {
        // Everything extracted lives in this folder: the two text members and
        // any data member a failed transfer left behind.
        std::error_code error;
        std::filesystem::remove_all(workFolder_, error);
    }
    workFolder_.clear();
    packageFolder_.clear();
    packagePath_.clear();
    return true;
}

std::filesystem::path UpgradePackage::WorkFile(const std::string& upperName) const {
    if (workFolder_.empty() || !IsSafeFileName(upperName)) return {};
    return workFolder_ / upperName;
}

std::filesystem::path UpgradePackage::DataFile(const std::string& upperName) const {
    if (workFolder_.empty() || !IsSafeFileName(upperName)) return {};
    return workFolder_ / DATA_FOLDER / upperName;
}

bool UpgradePackage::ReadWorkText(const std::string& upperName, std::string& out) const {
    out.clear();
    if (!inMemory_) {
        const auto file = WorkFile(upperName);
        return !file.empty() && ReadWholeFile(file, out);
    }
    const auto found = texts_.find(upperName);
    if (found == texts_.end()) return false;
    out = found->second;
    return true;
}

bool UpgradePackage::OpenWorkText(const std::string& upperName, LineReader& reader) const {
    std::string text;
    if (!ReadWorkText(upperName, text)) {
        reader.Close();
        return false;
    }
    reader.OpenText(std::move(text));
    return true;
}

const std::string* UpgradePackage::Output(const std::string& name) const {
    const auto found = outputs_.find(name);
    return found == outputs_.end() ? nullptr : &found->second;
}

std::vector<MemberInfo> UpgradePackage::Members() {
    // A malformed container yields the members in front of the fault, so a
    // listing still shows what could be read.
    return Layout().members;
}

ContainerLayout UpgradePackage::Layout() {
    ContainerLayout layout;
    if (!IsOpen()) return layout;
    WithContainer([&layout](std::istream& in) {
        const int64_t fileSize = StreamSize(in);
        MemberEntry entry;
        int64_t offset = 0;
        Step step = Step::Fault;
        while ((step = ReadMember(in, offset, fileSize, entry)) == Step::Member) {
            layout.members.push_back({entry.name, entry.size, offset});
            offset = NextMemberOffset(entry);
        }
        if (step == Step::Fault) {
            layout.faultOffset = offset;
        } else {
            layout.endMarker = true;
            // Bytes after the end marker are ignored; a member there was meant
            // to be read and never will be.
            layout.membersAfterEnd = ReadMember(in, offset + 4, fileSize, entry) == Step::Member;
        }
        in.clear();
    });
    return layout;
}

}  // namespace quorvane
