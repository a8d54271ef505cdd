#pragma once
// The replies that are due later, of every device at once: a device that
// delays never holds up another's replies. A heap by due time holds a
// thousand delays at a few comparisons each, and the reply bytes live in
// slots that are reused, so a delayed reply allocates nothing once the
// queue has grown to the most replies waiting at once.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tools/devsim/datagram_batch.h"

namespace quorvane::devsim {

class ReplyQueue {
public:
    using Micros = std::chrono::microseconds;

    // Keeps a copy of `bytes` for `to`, due at `due`.
    void Add(Micros due, const sockaddr_in& to, std::span<const uint8_t> bytes);
    // Moves every reply due by `now` into `out`, in due order; replies due at
    // the same time keep the order they were added in.
    void TakeDue(Micros now, SendBatch& out);
    std::optional<Micros> NextDue() const;
    std::size_t Size() const { return heap_.size(); }

private:
    struct Entry {
        Micros due{0};
        uint64_t order = 0;
        uint32_t slot = 0;
    };
    struct Slot {
        sockaddr_in to{};
        std::vector<uint8_t> bytes;
    };
    // The heap's top is the entry due first.
    static bool Later(const Entry& a, const Entry& b) {
        return a.due != b.due ? a.due > b.due : a.order > b.order;
    }
    uint32_t TakeSlot();

    std::vector<Entry> heap_;
    std::vector<Slot> slots_;
    std::vector<uint32_t> freeSlots_;
    uint64_t added_ = 0;
};

}  // namespace quorvane::devsim
