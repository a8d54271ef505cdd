#pragma once
// The information queries of a whole pass, run side by side on one socket:
// many devices are asked at once and the replies are told apart by MAC, so
// one silent device costs the pass one retry budget, not one per device.

#include <cstddef>
#include <span>
#include <vector>

#include "protocol/device_protocol.h"
#include "protocol/device_record.h"
#include "protocol/transport.h"

namespace quorvane {

inline constexpr std::size_t INFO_QUERIES_OUTSTANDING = 64;

// Asks every record for its information block, at most `outstanding`
// devices at a time. Each device gets the retry rule of a single query: up
// to MAX_SENDS sends, each attempt lasting one receive wait from its send,
// and a reply counts only while that device's attempt is open. Element i of
// the result is true when records[i] answered; a record that did not is left
// unchanged. A send the platform refuses ends that device's query. A record
// whose MAC names no single device is not asked. Replies for a device that
// already answered are still taken until the pass ends: one from another
// address, or with another flag or block, marks the record SharedMac.
std::vector<bool> QueryInfoAll(Transport& link, std::span<DeviceRecord* const> records,
                               std::size_t outstanding = INFO_QUERIES_OUTSTANDING);

// A device found by discovery and whether it answered its information query.
struct FoundDevice {
    DeviceRecord* record = nullptr;
    bool answered = false;
};

// The search both front ends run: one discovery of every device, then the
// information query to all found, side by side. The devices come in chain
// order; nothing when discovery found none.
std::vector<FoundDevice> DiscoverAndQueryAll(DeviceProtocol& protocol);

}  // namespace quorvane
