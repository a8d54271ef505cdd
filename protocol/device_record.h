#pragma once
// One device found by discovery, and the accessors that tolerate a missing
// record.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "packet.h"

namespace quorvane {

// How a pass learnt that more than one device answers to one MAC (a cloned
// or misconfigured unit). Requests name a device by MAC alone, so such a
// record stands for every one of them at once.
enum class SharedMac : uint8_t {
    No,
    TwoAddresses,  // replies came from ipAddress and otherAddress
    TwoBlocks,     // information replies carried two different blocks
};

struct DeviceRecord {
    uint16_t discoveryWord1 = 0;       // bytes 14-15 of the discovery reply
    uint16_t discoveryWord2 = 0;       // bytes 16-17 of the discovery reply
    MacAddress mac{};                  // as the device reported it
    uint32_t ipAddress = 0;            // host order; the information reply's source replaces discovery's
    std::vector<uint8_t> infoBlock;    // copy of the information block; empty: no usable block
    uint8_t infoFlag = 0;              // payload byte 0 of the information reply
    SharedMac sharedMac = SharedMac::No;
    uint32_t otherAddress = 0;         // with TwoAddresses: the source besides ipAddress, host order
    std::unique_ptr<DeviceRecord> next;

    // Accessors; each yields 0 / nothing / an empty span for a null record.
    static void Mac(const DeviceRecord* record, uint8_t* destination);
    static uint32_t IpAddress(const DeviceRecord* record);
    static std::span<const uint8_t> InfoBlock(const DeviceRecord* record);
    static uint16_t InfoLength(const DeviceRecord* record);
    static uint8_t InfoFlag(const DeviceRecord* record);
};

}  // namespace quorvane
