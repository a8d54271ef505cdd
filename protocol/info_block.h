#pragma once
// Read-only access to a device's information block: a chain of
// length/tag records. Every extractor leaves defined empty values when it
// finds nothing, and never reads past the block.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorvane {

inline constexpr uint8_t TAG_IDENTITY = 0;
inline constexpr uint8_t TAG_FIRMWARE = 32;
inline constexpr uint8_t TAG_NAMING = 48;
inline constexpr uint8_t ENTRY_REVISION = 8;
inline constexpr uint8_t ENTRY_PRODUCT = 11;
inline constexpr uint8_t ENTRY_LETTERS = 12;
inline constexpr std::size_t IDENTITY_LENGTH = 14;
inline constexpr std::size_t NAMING_LENGTH = 78;
inline constexpr std::size_t FIRMWARE_ENTRY_SIZE = 10;

struct FirmwareFields {
    std::array<char, 3> firmwareLetters{' ', ' ', ' '};
    uint8_t revisionId = 0;
    uint8_t versionSecond = 0;
    uint8_t versionThird = 0;
    uint16_t dateFirst = 0;
    uint8_t dateSecond = 0;
    uint8_t dateThird = 0;
    uint16_t productId = 0;
};

namespace InfoBlock {

// Offset of the first record with `tag`, or nothing.
std::optional<std::size_t> Find(std::span<const uint8_t> block, uint8_t tag);
bool VendorId(std::span<const uint8_t> block, uint16_t& out);
bool DeviceId(std::span<const uint8_t> block, uint16_t& out);
bool Firmware(std::span<const uint8_t> block, FirmwareFields& out);
bool Name(std::span<const uint8_t> block, std::string& out);
bool Workgroup(std::span<const uint8_t> block, std::string& out);

}  // namespace InfoBlock
}  // namespace quorvane
