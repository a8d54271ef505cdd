#pragma once
// What the fuzz targets share: the entry point they define, a check that
// ends the run loudly, a cursor over the input bytes, and one private
// scratch folder per process.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// A broken expectation is a finding: abort so the fuzzer (or the replay)
// stops on the input that caused it.
#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) ::quorvane::fuzz::CheckFailed(#condition, __FILE__, __LINE__); \
    } while (false)

namespace quorvane::fuzz {

[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);

// Reads the input front to back. Past the end it yields zeros and empty
// spans, so a harness never has to guard each read.
class ByteStream {
public:
    explicit ByteStream(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool Empty() const { return bytes_.empty(); }
    uint8_t Byte();
    uint16_t U16();
    uint32_t U32();
    // Up to `count` bytes: fewer when the input runs out.
    std::span<const uint8_t> Take(std::size_t count);
    // Exactly `count` bytes, zero-filled past the end of the input.
    std::vector<uint8_t> TakePadded(std::size_t count);
    std::span<const uint8_t> Rest() { return Take(bytes_.size()); }

private:
    std::span<const uint8_t> bytes_;
};

// Cuts `input` at every line "%%" into at most `count` sections; missing
// sections are empty. Keeps text seeds readable and easy to edit.
std::vector<std::string_view> SplitSections(std::span<const uint8_t> input, std::size_t count);

// A folder of this process's own (in /dev/shm, or the system temporary folder),
// removed at exit. TMPDIR is pointed at it, so the package's private work
// folders are made inside it too and nothing a run writes lands elsewhere.
const std::filesystem::path& ScratchFolder();
// Removes everything in the scratch folder except `keep`.
void EmptyScratchFolder(const std::filesystem::path& keep = {});
// The names in the scratch folder, sorted.
std::vector<std::string> ScratchEntries();

bool WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);

}  // namespace quorvane::fuzz
