#pragma once
// The devices of the last discovery, newest reply first.

#include <memory>
#include <vector>

#include "device_record.h"

namespace quorvane {

class DeviceChain {
public:
    DeviceChain() = default;
    ~DeviceChain();
    DeviceChain(const DeviceChain&) = delete;
    DeviceChain& operator=(const DeviceChain&) = delete;

    // Adds a zero-filled record in front of the head and makes it head and
    // cursor. An allocation failure ends the process with exit code 1.
    DeviceRecord& Push();
    // The record at the cursor, moving the cursor on; null at the end.
    DeviceRecord* Next();
    // Releases every record; the chain is empty afterwards. Always true.
    bool Clear();
    // Puts the cursor back at the head, for another walk.
    void Rewind() { cursor_ = head_.get(); }

    const DeviceRecord* Head() const { return head_.get(); }
    // Every record in chain order, newest first; the cursor stays where it is.
    std::vector<DeviceRecord*> Records() const;
    bool Empty() const { return head_ == nullptr; }

private:
    std::unique_ptr<DeviceRecord> head_;
    DeviceRecord* cursor_ = nullptr;
};

}  // namespace quorvane
