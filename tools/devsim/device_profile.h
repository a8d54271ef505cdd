#pragma once
// Everything that makes one simulated device different from another: its
// identity, firmware fields, naming and how it answers the information query.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/mac_text.h"
#include "protocol/packet.h"

namespace quorvane::devsim {

inline constexpr uint16_t DEFAULT_BLOCK_SIZE = 512;
inline constexpr std::size_t NAME_ROOM = 18;       // bytes of the name field in the naming record
inline constexpr std::size_t WORKGROUP_ROOM = 40;  // bytes of the workgroup field

// What the information reply carries: flag and block, the flag alone, or nothing.
enum class InfoMode { Full, FlagOnly, Empty };

// The firmware a device reports: version "a.b.c" and date "d/e/f".
struct FirmwareRelease {
    uint8_t revisionId = 0;
    uint8_t versionSecond = 0;
    uint8_t versionThird = 0;
    uint16_t dateFirst = 0;
    uint8_t dateSecond = 0;
    uint8_t dateThird = 0;
};

struct DeviceProfile {
    MacAddress mac{};
    uint16_t vendorId = 0x1407;
    uint16_t deviceId = 0x70FC;
    uint16_t productId = 0x0101;
    uint8_t revisionId = 4;
    uint8_t versionSecond = 0;
    uint8_t versionThird = 2;
    std::array<char, 3> firmwareLetters{'Q', 'V', 'N'};
    uint16_t dateFirst = 6;
    uint8_t dateSecond = 3;
    uint8_t dateThird = 15;
    std::string name;       // at most NAME_ROOM bytes; all 18 leave no zero byte in the field
    std::string workgroup;  // at most WORKGROUP_ROOM - 1 bytes
    uint16_t blockSize = DEFAULT_BLOCK_SIZE;
    uint8_t infoFlag = 0;
    InfoMode infoMode = InfoMode::Full;
    uint16_t discoveryWord1 = 0;  // payload words of the discovery reply
    uint16_t discoveryWord2 = 0;
    // A cloned unit: it repeats the MAC of an earlier device on purpose and
    // takes every request addressed to that MAC as well.
    bool clone = false;
    int sameMacBefore = 0;  // devices before it with its MAC; set by the profile reader
    // What the device reports once a LOAD was followed by a RESET, as a
    // device that booted new firmware would; none: its firmware stays.
    std::optional<FirmwareRelease> firmwareAfter;

    void Report(const FirmwareRelease& release);
};

// `count` devices with deterministic, varied values: MACs 02:00:00:00:00:01
// upward, alternating vendor, device type, names and firmware.
std::vector<DeviceProfile> DefaultProfiles(std::size_t count);

// Twelve lower-case hex digits, for file names.
std::string MacFileStem(const MacAddress& mac);
// The name of a device's dump files: its MAC's stem, and for the n-th device
// with one MAC (n from 2) "-n" after it, so that clones keep their own.
std::string DumpFileStem(const DeviceProfile& profile);

}  // namespace quorvane::devsim
