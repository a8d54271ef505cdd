#pragma once
// Device memory that holds only what was written. Addresses are linear:
// the script's pair a:b names address a * 65536 + b, so a selects a 64 KiB
// segment and b the byte within it, and a transfer that runs past b = 0xFFFF
// simply continues in segment a + 1. Bytes never written, and erased bytes,
// read as 0xFF like blank flash.

#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace quorvane::devsim {

inline constexpr uint8_t BLANK_BYTE = 0xFF;
inline constexpr uint64_t SEGMENT_SIZE = 0x10000;

inline constexpr uint64_t LinearAddress(uint16_t a, uint16_t b) {
    return uint64_t{a} * SEGMENT_SIZE + b;
}

struct MemorySegment {
    uint64_t address = 0;
    std::vector<uint8_t> bytes;
};

class SparseMemory {
public:
    void Write(uint64_t address, std::span<const uint8_t> bytes);
    std::vector<uint8_t> Read(uint64_t address, std::size_t length) const;
    // Fills `out` with the bytes from `address` on.
    void ReadInto(uint64_t address, std::span<uint8_t> out) const;
    // Forgets [begin, end): those bytes read as blank again.
    void Erase(uint64_t begin, uint64_t end);
    void Clear() { segments_.clear(); }
    // Writes of about `length` bytes from `address` on are coming (a load
    // begun): the stretch they go to gets its room at once, so a load
    // written block by block is neither copied as it grows nor filled
    // with blank bytes it then overwrites. Only room; nothing reads
    // differently.
    void ExpectWrites(uint64_t address, uint64_t length);

    // The written stretches in address order; neighbouring writes are merged.
    std::vector<MemorySegment> Segments() const;
    bool Empty() const { return segments_.empty(); }

private:
    void MakeRoom(std::vector<uint8_t>& data, uint64_t base, uint64_t end) const;

    // The expected writes: [expectFrom_, expectTo_).
    uint64_t expectFrom_ = 0;
    uint64_t expectTo_ = 0;
    // Key: start address. Segments never overlap or touch.
    std::map<uint64_t, std::vector<uint8_t>> segments_;
};

}  // namespace quorvane::devsim
