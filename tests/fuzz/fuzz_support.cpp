#include "fuzz/fuzz_support.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace quorvane::fuzz {

void CheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::abort();
}

uint8_t ByteStream::Byte() {
    const auto taken = Take(1);
    return taken.empty() ? 0 : taken[0];
}

uint16_t ByteStream::U16() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
}

uint32_t ByteStream::U32() {
    const uint32_t low = U16();
    return low | static_cast<uint32_t>(U16()) << 16;
}

std::span<const uint8_t> ByteStream::Take(std::size_t count) {
    const auto taken = bytes_.first(std::min(count, bytes_.size()));
    bytes_ = bytes_.subspan(taken.size());
    return taken;
}

std::vector<uint8_t> ByteStream::TakePadded(std::size_t count) {
    const auto taken = Take(count);
    std::vector<uint8_t> out(taken.begin(), taken.end());
    out.resize(count, 0);
    return out;
}

std::vector<std::string_view> SplitSections(std::span<const uint8_t> input, std::size_t count) {
    constexpr std::string_view SEPARATOR = "\n%%\n";
    std::string_view rest(reinterpret_cast<const char*>(input.data()), input.size());
    std::vector<std::string_view> sections;
    while (sections.size() + 1 < count) {
        const auto cut = rest.find(SEPARATOR);
        if (cut == std::string_view::npos) break;
        sections.push_back(rest.substr(0, cut + 1));  // the text keeps its last line feed
        rest.remove_prefix(cut + SEPARATOR.size());
    }
    sections.push_back(rest);
    sections.resize(count);
    return sections;
}

namespace {

std::filesystem::path SystemTemporaryFolder() {
    std::error_code error;
    const auto folder = std::filesystem::temp_directory_path(error);
    return error ? std::filesystem::path("/tmp") : folder;
}

// Made on first use, in memory where the system offers it: thousands of
// runs that write, extract and delete small files would otherwise spend
// most of their time waiting for the disk. The destructor runs at exit.
struct Scratch {
    Scratch() {
        for (const auto& base : {std::filesystem::path("/dev/shm"), SystemTemporaryFolder()}) {
            std::string pattern = (base / "quorvane-fuzz-XXXXXX").string();
            if (::mkdtemp(pattern.data()) == nullptr) continue;
            folder = pattern;
            ::setenv("TMPDIR", folder.c_str(), 1);
            return;
        }
        CheckFailed("a scratch folder can be made", __FILE__, __LINE__);
    }
    ~Scratch() {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }
    std::filesystem::path folder;
};

}  // namespace

const std::filesystem::path& ScratchFolder() {
    static const Scratch scratch;
    return scratch.folder;
}

void EmptyScratchFolder(const std::filesystem::path& keep) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder(), error)) {
        if (entry.path() != keep) std::filesystem::remove_all(entry.path(), error);
    }
}

std::vector<std::string> ScratchEntries() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder(), error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace quorvane::fuzz
