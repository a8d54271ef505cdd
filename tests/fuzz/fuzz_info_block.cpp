// Every information block extractor over one hostile block. The block is a
// copy of exactly the input's size, so a read past it is caught by the
// address sanitizer in the fuzz and sanitizer builds.

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/info_block.h"

using namespace quorvane;

namespace {

constexpr std::size_t NAME_ROOM = 18;
constexpr std::size_t WORKGROUP_ROOM = 40;

bool IsEmpty(const FirmwareFields& fields) {
    const FirmwareFields empty;
    return fields.firmwareLetters == empty.firmwareLetters && fields.revisionId == 0 &&
           fields.versionSecond == 0 && fields.versionThird == 0 && fields.dateFirst == 0 &&
           fields.dateSecond == 0 && fields.dateThird == 0 && fields.productId == 0;
}

void CheckFind(std::span<const uint8_t> block) {
    for (const uint8_t tag : {TAG_IDENTITY, TAG_FIRMWARE, TAG_NAMING, uint8_t{0xFF}}) {
        const auto offset = InfoBlock::Find(block, tag);
        // A record found has both head bytes inside the block and the asked tag.
        if (offset) FUZZ_CHECK(*offset + 2 <= block.size() && block[*offset + 1] == tag);
    }
}

void CheckIds(std::span<const uint8_t> block) {
    uint16_t vendor = 0xBEEF;
    if (!InfoBlock::VendorId(block, vendor)) FUZZ_CHECK(vendor == 0);
    uint16_t device = 0xBEEF;
    if (!InfoBlock::DeviceId(block, device)) FUZZ_CHECK(device == 0);
}

void CheckTexts(std::span<const uint8_t> block) {
    std::string name = "left over";
    const bool hasName = InfoBlock::Name(block, name);
    FUZZ_CHECK(name.size() <= NAME_ROOM && (hasName || name.empty()));
    FUZZ_CHECK(name.find('\0') == std::string::npos);
    std::string workgroup = "left over";
    const bool hasWorkgroup = InfoBlock::Workgroup(block, workgroup);
    FUZZ_CHECK(workgroup.size() <= WORKGROUP_ROOM && (hasWorkgroup || workgroup.empty()));
    FUZZ_CHECK(workgroup.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> block(data, data + size);
    CheckFind(block);
    CheckIds(block);
    CheckTexts(block);
    FirmwareFields fields;
    fields.revisionId = 0x5A;
    if (!InfoBlock::Firmware(block, fields)) FUZZ_CHECK(IsEmpty(fields));
    return 0;
}
