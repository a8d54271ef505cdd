#pragma once
// The replies to one request, laid out one after another in a buffer that
// is kept from request to request: once it has grown to the largest answer,
// answering allocates nothing.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvane::devsim {

class ReplyBatch {
public:
    // Forgets the replies but keeps the room they took.
    void Clear() { replies_.clear(); }

    // Room for a reply of at most `size` bytes behind the last one; Commit
    // keeps the first `length` bytes written there.
    std::span<uint8_t> Room(std::size_t size) {
        const std::size_t end = Used() + size;
        if (bytes_.size() < end) bytes_.resize(std::max(end, 2 * bytes_.size()));
        return std::span<uint8_t>(bytes_).subspan(Used(), size);
    }
    void Commit(std::size_t length, std::chrono::microseconds delay) {
        replies_.push_back({Used(), length, delay});
    }
    // Drops the last reply (lost on its way out).
    void DropLast() { replies_.pop_back(); }
    // Sends the last reply a second time.
    void RepeatLast() {
        const Entry last = replies_.back();
        const std::span<uint8_t> copy = Room(last.length);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(last.offset), last.length, copy.begin());
        Commit(last.length, last.delay);
    }
    // Cuts the last reply to `length` bytes.
    void ShortenLast(std::size_t length) {
        replies_.back().length = std::min(length, replies_.back().length);
    }

    std::size_t Size() const { return replies_.size(); }
    std::span<uint8_t> Bytes(std::size_t i) {
        return std::span<uint8_t>(bytes_).subspan(replies_[i].offset, replies_[i].length);
    }
    std::span<const uint8_t> Bytes(std::size_t i) const {
        return std::span<const uint8_t>(bytes_).subspan(replies_[i].offset, replies_[i].length);
    }
    // After the request arrived.
    std::chrono::microseconds Delay(std::size_t i) const { return replies_[i].delay; }

private:
    struct Entry {
        std::size_t offset = 0;
        std::size_t length = 0;
        std::chrono::microseconds delay{0};
    };

    std::size_t Used() const {
        return replies_.empty() ? 0 : replies_.back().offset + replies_.back().length;
    }

    std::vector<uint8_t> bytes_;
    std::vector<Entry> replies_;
};

}  // namespace quorvane::devsim
