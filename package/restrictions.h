#pragma once
// The keys of restriction.ini and the admission pass that applies them.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/device_protocol.h"
#include "protocol/packet.h"

namespace quorvane {

class UpgradePackage;

inline constexpr std::size_t DEVICEID_CAPACITY = 10;
inline constexpr uint16_t ALTERNATE_VENDOR = 0x1000;
inline constexpr uint16_t PRIMARY_VENDOR = 0x1407;  // also admits ALTERNATE_VENDOR

struct Restrictions {
    bool macRestricted = false;
    MacAddress wantedMac{};
    std::string macText;
    uint16_t defaultsWarning = 0;
    uint16_t wantedRevisionId = 0;
    std::array<uint16_t, DEVICEID_CAPACITY> deviceIdList{};
    uint16_t deviceIdCount = 0;
    uint16_t wantedVendorId = 0;
    uint16_t wantedProductId = 0;

    // Each lookup reads the extracted restriction file anew; the first line
    // of exactly two tokens whose first is the key wins.
    static bool LookupNumber(UpgradePackage& package, std::string key, uint16_t& out);
    static bool LookupText(UpgradePackage& package, std::string key, std::string& out);
    static void ParseMac(std::string_view text, MacAddress& out);
};

// One admission pass: reads the keys into `restrictions`, discovers, queries
// every device and appends the admitted ones, summary attached, to `devices`
// (newest reply first).
void AdmitDevices(UpgradePackage& package, DeviceProtocol& protocol, Restrictions& restrictions,
                  std::vector<DeviceRecord*>& devices);

}  // namespace quorvane
