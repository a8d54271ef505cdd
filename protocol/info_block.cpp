#include "protocol/info_block.h"

#include <algorithm>

#include "protocol/packet.h"

namespace quorvane::InfoBlock {

namespace {

constexpr std::size_t RECORD_HEAD_SIZE = 2;
constexpr std::size_t IDENTITY_VENDOR = 2;
constexpr std::size_t IDENTITY_DEVICE = 4;
constexpr std::size_t NAMING_NAME = 20;
constexpr std::size_t NAMING_NAME_ROOM = 18;
constexpr std::size_t NAMING_WORKGROUP = 38;
constexpr std::size_t NAMING_WORKGROUP_ROOM = 40;

// The first record with `tag` whose length byte equals `length`; a block
// that ends inside the fields counts as not holding the record.
std::optional<std::size_t> FindSized(std::span<const uint8_t> block, uint8_t tag, std::size_t length) {
    const auto offset = Find(block, tag);
    if (!offset || block[*offset] != length) return std::nullopt;
    return offset;
}

bool IdentityWord(std::span<const uint8_t> block, std::size_t field, uint16_t& out) {
    out = 0;
    const auto offset = FindSized(block, TAG_IDENTITY, IDENTITY_LENGTH);
    if (!offset || *offset + field + 2 > block.size()) return false;
    out = ReadU16(block, *offset + field);
    return true;
}

void ApplyEntry(std::span<const uint8_t> entry, FirmwareFields& out) {
    const auto setDate = [&] {
        out.dateFirst = ReadU16(entry, 6);
        out.dateSecond = entry[8];
        out.dateThird = entry[9];
    };
    switch (entry[0]) {
        case ENTRY_REVISION:
            out.revisionId = entry[1];
            setDate();
            break;
        case ENTRY_PRODUCT:
            out.versionSecond = entry[1];
            out.productId = ReadU16(entry, 2);
            out.versionThird = entry[4];
            setDate();
            break;
        case ENTRY_LETTERS:
            for (std::size_t i = 0; i < out.firmwareLetters.size(); ++i)
                out.firmwareLetters[i] = static_cast<char>(entry[6 + i]);
            break;
        default:
            break;
    }
}

// Copies the zero-ended text at `field`, stopping at its room or at the end
// of the block, whichever comes first: a text without its zero byte must not
// spill into the next field or beyond the block.
bool NamingText(std::span<const uint8_t> block, std::size_t field, std::size_t room, std::string& out) {
    out.clear();
    const auto offset = FindSized(block, TAG_NAMING, NAMING_LENGTH);
    if (!offset || *offset + field >= block.size()) return false;
    const auto text = block.subspan(*offset + field).first(std::min(room, block.size() - *offset - field));
    for (uint8_t byte : text) {
        if (byte == 0) break;
        out.push_back(static_cast<char>(byte));
    }
    return true;
}

}  // namespace

std::optional<std::size_t> Find(std::span<const uint8_t> block, uint8_t tag) {
    std::size_t offset = 0;
    // A record whose two head bytes do not both lie inside the block is not
    // there at all.
    while (offset + RECORD_HEAD_SIZE <= block.size()) {
        if (block[offset + 1] == tag) return offset;
        const uint8_t length = block[offset];
        if (length == 0) return std::nullopt;
        offset += length;
    }
    return std::nullopt;
}

bool VendorId(std::span<const uint8_t> block, uint16_t& out) {
    return IdentityWord(block, IDENTITY_VENDOR, out);
}

bool DeviceId(std::span<const uint8_t> block, uint16_t& out) {
    return IdentityWord(block, IDENTITY_DEVICE, out);
}

bool Firmware(std::span<const uint8_t> block, FirmwareFields& out) {
    out = FirmwareFields{};
    const auto offset = Find(block, TAG_FIRMWARE);
    if (!offset) return false;
    const uint8_t length = block[*offset];
    // Lengths 0 and 1 would give a negative entry count: no entries.
    const std::size_t count =
        length < RECORD_HEAD_SIZE ? 0 : (length - RECORD_HEAD_SIZE) / FIRMWARE_ENTRY_SIZE;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t start = *offset + RECORD_HEAD_SIZE + i * FIRMWARE_ENTRY_SIZE;
        if (start + FIRMWARE_ENTRY_SIZE > block.size())
            break;  // entries cut off by the block's end are absent
        ApplyEntry(block.subspan(start, FIRMWARE_ENTRY_SIZE), out);
    }
    return true;
}

bool Name(std::span<const uint8_t> block, std::string& out) {
    return NamingText(block, NAMING_NAME, NAMING_NAME_ROOM, out);
}

bool Workgroup(std::span<const uint8_t> block, std::string& out) {
    return NamingText(block, NAMING_WORKGROUP, NAMING_WORKGROUP_ROOM, out);
}

}  // namespace quorvane::InfoBlock
