#include "tools/devsim/sparse_memory.h"

#include <algorithm>

namespace quorvane::devsim {
namespace {

// The most room taken ahead for expected writes: a load's announced length
// is the client's word, and address space is not free.
constexpr uint64_t MAX_ROOM_AHEAD = 4u << 20;

}  // namespace

void SparseMemory::ExpectWrites(uint64_t address, uint64_t length) {
    expectFrom_ = address;
    expectTo_ = address + std::min(length, MAX_ROOM_AHEAD);
}

// Called before `data`, which starts at `base`, grows to reach `end`.
void SparseMemory::MakeRoom(std::vector<uint8_t>& data, uint64_t base, uint64_t end) const {
    if (end - base <= data.capacity()) return;
    const bool expected = base <= expectFrom_ && expectFrom_ < end && end <= expectTo_;
    if (expected) data.reserve(expectTo_ - base);
}

void SparseMemory::Write(uint64_t address, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    const uint64_t end = address + bytes.size();
    // The stretch that ends at or after `address` and starts before it becomes
    // the host, so a load written block by block only ever appends.
    auto host = segments_.upper_bound(address);
    if (host != segments_.begin() && std::prev(host)->first + std::prev(host)->second.size() >= address) {
        --host;
    } else {
        host = segments_.emplace(address, std::vector<uint8_t>{}).first;
    }
    const uint64_t base = host->first;
    std::vector<uint8_t>& data = host->second;
    // Absorb every later stretch that the new bytes reach or touch.
    for (auto next = std::next(host); next != segments_.end() && next->first <= end;) {
        const uint64_t nextEnd = next->first + next->second.size();
        if (nextEnd - base > data.size()) {
            MakeRoom(data, base, nextEnd);
            data.resize(nextEnd - base, BLANK_BYTE);
        }
        std::copy(next->second.begin(), next->second.end(), data.begin() + (next->first - base));
        next = segments_.erase(next);
    }
    MakeRoom(data, base, end);
    if (address - base == data.size()) {
        // Right behind the stretch, as a load's blocks come: appended, not
        // first filled with blank bytes.
        data.insert(data.end(), bytes.begin(), bytes.end());
        return;
    }
    if (end - base > data.size()) data.resize(end - base, BLANK_BYTE);
    std::copy(bytes.begin(), bytes.end(), data.begin() + (address - base));
}

std::vector<uint8_t> SparseMemory::Read(uint64_t address, std::size_t length) const {
    std::vector<uint8_t> out(length);
    ReadInto(address, out);
    return out;
}

void SparseMemory::ReadInto(uint64_t address, std::span<uint8_t> out) const {
    std::fill(out.begin(), out.end(), BLANK_BYTE);
    const uint64_t end = address + out.size();
    auto it = segments_.upper_bound(address);
    if (it != segments_.begin()) --it;
    for (; it != segments_.end() && it->first < end; ++it) {
        const uint64_t segEnd = it->first + it->second.size();
        const uint64_t from = std::max(address, it->first);
        const uint64_t to = std::min(end, segEnd);
        if (from >= to) continue;
        std::copy(it->second.begin() + (from - it->first), it->second.begin() + (to - it->first),
                  out.begin() + (from - address));
    }
}

void SparseMemory::Erase(uint64_t begin, uint64_t end) {
    if (begin >= end) return;
    auto it = segments_.upper_bound(begin);
    if (it != segments_.begin()) --it;
    std::vector<MemorySegment> keep;
    while (it != segments_.end() && it->first < end) {
        const uint64_t start = it->first;
        const uint64_t segEnd = start + it->second.size();
        if (segEnd <= begin) {
            ++it;
            continue;
        }
        // Keep the parts of this segment that lie outside the erased range.
        if (start < begin)
            keep.push_back({start, {it->second.begin(), it->second.begin() + (begin - start)}});
        if (segEnd > end) keep.push_back({end, {it->second.begin() + (end - start), it->second.end()}});
        it = segments_.erase(it);
    }
    for (auto& part : keep) segments_.emplace(part.address, std::move(part.bytes));
}

std::vector<MemorySegment> SparseMemory::Segments() const {
    std::vector<MemorySegment> out;
    out.reserve(segments_.size());
    for (const auto& [start, data] : segments_) out.push_back({start, data});
    return out;
}

}  // namespace quorvane::devsim
