#include "protocol/device_record.h"

#include <algorithm>
#include <limits>

namespace quorvane {

void DeviceRecord::Mac(const DeviceRecord* record, uint8_t* destination) {
    if (record == nullptr || destination == nullptr) return;
    std::copy(record->mac.begin(), record->mac.end(), destination);
}

uint32_t DeviceRecord::IpAddress(const DeviceRecord* record) {
    return record ? record->ipAddress : 0;
}

std::span<const uint8_t> DeviceRecord::InfoBlock(const DeviceRecord* record) {
    if (record == nullptr) return {};
    return record->infoBlock;
}

uint16_t DeviceRecord::InfoLength(const DeviceRecord* record) {
    if (record == nullptr) return 0;
    // A block comes from one reply datagram, so it never nears the limit;
    // the clamp only keeps the 16-bit length honest.
    return static_cast<uint16_t>(
        std::min<std::size_t>(record->infoBlock.size(), std::numeric_limits<uint16_t>::max()));
}

uint8_t DeviceRecord::InfoFlag(const DeviceRecord* record) {
    return record ? record->infoFlag : 0;
}

}  // namespace quorvane
