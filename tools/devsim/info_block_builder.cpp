#include "tools/devsim/info_block_builder.h"

#include <algorithm>
#include <span>

#include "protocol/info_block.h"
#include "protocol/packet.h"

namespace quorvane::devsim {
namespace {

void AppendIdentity(const DeviceProfile& p, std::vector<uint8_t>& out) {
    std::vector<uint8_t> record(IDENTITY_LENGTH, 0);
    record[0] = IDENTITY_LENGTH;
    record[1] = TAG_IDENTITY;
    WriteU16(record, 2, p.vendorId);
    WriteU16(record, 4, p.deviceId);
    // The unread tail carries the MAC, as a real identity record might.
    std::copy(p.mac.begin(), p.mac.end(), record.begin() + 6);
    out.insert(out.end(), record.begin(), record.end());
}

void WriteDate(const DeviceProfile& p, std::span<uint8_t> entry) {
    WriteU16(entry, 6, p.dateFirst);
    entry[8] = p.dateSecond;
    entry[9] = p.dateThird;
}

void AppendFirmware(const DeviceProfile& p, std::vector<uint8_t>& out) {
    std::vector<uint8_t> record(FIRMWARE_RECORD_LENGTH, 0);
    record[0] = FIRMWARE_RECORD_LENGTH;
    record[1] = TAG_FIRMWARE;
    std::span<uint8_t> revision(record.data() + 2, FIRMWARE_ENTRY_SIZE);
    revision[0] = ENTRY_REVISION;
    revision[1] = p.revisionId;
    WriteDate(p, revision);
    std::span<uint8_t> product(record.data() + 12, FIRMWARE_ENTRY_SIZE);
    product[0] = ENTRY_PRODUCT;
    product[1] = p.versionSecond;
    WriteU16(product, 2, p.productId);
    product[4] = p.versionThird;
    WriteDate(p, product);
    std::span<uint8_t> letters(record.data() + 22, FIRMWARE_ENTRY_SIZE);
    letters[0] = ENTRY_LETTERS;
    for (std::size_t i = 0; i < 3; ++i) letters[6 + i] = static_cast<uint8_t>(p.firmwareLetters[i]);
    out.insert(out.end(), record.begin(), record.end());
}

void AppendNaming(const DeviceProfile& p, std::vector<uint8_t>& out) {
    std::vector<uint8_t> record(NAMING_LENGTH, 0);
    record[0] = NAMING_LENGTH;
    record[1] = TAG_NAMING;
    // Texts are cut to their fields; the zero fill ends them.
    const std::size_t nameLength = std::min(p.name.size(), NAME_ROOM);
    std::copy_n(p.name.begin(), nameLength, record.begin() + 20);
    const std::size_t groupLength = std::min(p.workgroup.size(), WORKGROUP_ROOM - 1);
    std::copy_n(p.workgroup.begin(), groupLength, record.begin() + 38);
    out.insert(out.end(), record.begin(), record.end());
}

}  // namespace

std::vector<uint8_t> BuildInfoBlock(const DeviceProfile& profile) {
    std::vector<uint8_t> block;
    block.reserve(INFO_BLOCK_LENGTH);
    AppendIdentity(profile, block);
    AppendFirmware(profile, block);
    AppendNaming(profile, block);
    return block;
}

}  // namespace quorvane::devsim
