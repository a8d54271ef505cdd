#include "protocol/device_chain.h"

#include <cstdlib>
#include <new>

namespace quorvane {

DeviceChain::~DeviceChain() {
    Clear();
}

DeviceRecord& DeviceChain::Push() {
    std::unique_ptr<DeviceRecord> record;
    try {
        record = std::make_unique<DeviceRecord>();
    } catch (const std::bad_alloc&) {
        // Nothing sensible can go on without room for a device; leave at
        // once, without clean-up or message.
        std::_Exit(1);
    }
    record->next = std::move(head_);
    head_ = std::move(record);
    cursor_ = head_.get();
    return *head_;
}

DeviceRecord* DeviceChain::Next() {
    DeviceRecord* record = cursor_;
    if (record != nullptr) cursor_ = record->next.get();
    return record;
}

std::vector<DeviceRecord*> DeviceChain::Records() const {
    std::vector<DeviceRecord*> records;
    for (DeviceRecord* record = head_.get(); record != nullptr; record = record->next.get())
        records.push_back(record);
    return records;
}

bool DeviceChain::Clear() {
    // Unlink one record at a time: letting the head's destructor release
    // the rest would recurse once per record.
    cursor_ = nullptr;
    while (head_) head_ = std::move(head_->next);
    return true;
}

}  // namespace quorvane
