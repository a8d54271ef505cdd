#include "tools/devsim/reply_queue.h"

#include <algorithm>

namespace quorvane::devsim {

uint32_t ReplyQueue::TakeSlot() {
    if (freeSlots_.empty()) {
        slots_.emplace_back();
        return static_cast<uint32_t>(slots_.size() - 1);
    }
    const uint32_t slot = freeSlots_.back();
    freeSlots_.pop_back();
    return slot;
}

void ReplyQueue::Add(Micros due, const sockaddr_in& to, std::span<const uint8_t> bytes) {
    const uint32_t slot = TakeSlot();
    slots_[slot].to = to;
    // assign() keeps the slot's room from its earlier replies.
    slots_[slot].bytes.assign(bytes.begin(), bytes.end());
    heap_.push_back({due, added_++, slot});
    std::push_heap(heap_.begin(), heap_.end(), Later);
}

void ReplyQueue::TakeDue(Micros now, SendBatch& out) {
    while (!heap_.empty() && heap_.front().due <= now) {
        const uint32_t slot = heap_.front().slot;
        out.Add(slots_[slot].to, slots_[slot].bytes);
        freeSlots_.push_back(slot);
        std::pop_heap(heap_.begin(), heap_.end(), Later);
        heap_.pop_back();
    }
}

std::optional<ReplyQueue::Micros> ReplyQueue::NextDue() const {
    if (heap_.empty()) return std::nullopt;
    return heap_.front().due;
}

}  // namespace quorvane::devsim
