#include "protocol/info_block.h"

#include <gtest/gtest.h>

#include "protocol_test_util.h"

namespace quorvane::testing {
namespace {

const std::string IDENTITY = "0E 00 07 14 FC 70 00 00 00 00 00 00 00 00";
const std::string REVISION_ENTRY = "08 05 00 00 00 00 D0 07 0C 1F";   // revision 5, date 2000/12/31
const std::string PRODUCT_ENTRY = "0B 02 34 12 03 00 D1 07 01 02";    // 2.3, product 0x1234, 2001/1/2
const std::string LETTERS_ENTRY = "0C 00 00 00 00 00 41 42 43 00";    // "ABC"
const std::string LETTERS_ENTRY_2 = "0C 00 00 00 00 00 58 59 5A 00";  // "XYZ"

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A tag-32 record holding the entries, with the length byte they need.
std::vector<uint8_t> FirmwareRecord(std::initializer_list<std::string> entries) {
    std::vector<uint8_t> record = {0, TAG_FIRMWARE};
    for (const auto& entry : entries) {
        const auto bytes = Hex(entry);
        record.insert(record.end(), bytes.begin(), bytes.end());
    }
    record[0] = static_cast<uint8_t>(record.size());
    return record;
}

// A 78-byte tag-48 record; texts longer than their room run on unchanged.
std::vector<uint8_t> NamingRecord(const std::string& name, const std::string& workgroup) {
    std::vector<uint8_t> record(NAMING_LENGTH, 0);
    record[0] = NAMING_LENGTH;
    record[1] = TAG_NAMING;
    std::copy(name.begin(), name.end(), record.begin() + 20);
    std::copy(workgroup.begin(), workgroup.end(), record.begin() + 38);
    return record;
}

TEST(InfoBlockFind, WalksRecordByRecord) {
    const auto identity = Hex(IDENTITY);
    const auto naming = NamingRecord("dev", "grp");
    EXPECT_EQ(InfoBlock::Find(Concat({identity, naming}), TAG_NAMING), 14u);
    EXPECT_EQ(InfoBlock::Find(Concat({identity, naming}), TAG_IDENTITY), 0u);
    // The move past the only record lands exactly on the end of the block.
    EXPECT_EQ(InfoBlock::Find(identity, TAG_NAMING), std::nullopt);
    // A zero length ends the walk unless the record bears the wanted tag.
    const auto zeroLength = Concat({Hex("00 05"), naming});
    EXPECT_EQ(InfoBlock::Find(zeroLength, TAG_NAMING), std::nullopt);
    EXPECT_EQ(InfoBlock::Find(zeroLength, 5), 0u);
    // Only the first record with a tag is ever found.
    EXPECT_EQ(InfoBlock::Find(Concat({naming, naming}), TAG_NAMING), 0u);
}

// Every block below is a view on the front of a longer buffer whose bytes
// beyond the view would be found if the walk read past the block.
TEST(InfoBlockFind, HeadBytesOutsideTheBlockCountAsAbsent) {
    EXPECT_EQ(InfoBlock::Find({}, TAG_IDENTITY), std::nullopt);
    const auto singleByte = Hex("00 00");
    EXPECT_EQ(InfoBlock::Find(std::span(singleByte).first(1), TAG_IDENTITY), std::nullopt);
    // The last record's tag byte would lie one past the end.
    const auto tagOutside = Concat({Hex(IDENTITY), Hex("0A 0A")});
    EXPECT_EQ(InfoBlock::Find(std::span(tagOutside).first(15), 0x0A), std::nullopt);
    // A length that jumps past the end.
    EXPECT_EQ(InfoBlock::Find(Hex("FF 01 00 30"), TAG_NAMING), std::nullopt);
}

TEST(InfoBlockIdentity, ReadsVendorAndDeviceIds) {
    uint16_t vendor = 1, device = 1;
    const auto block = Concat({Hex("06 40 00 00 00 00"), Hex(IDENTITY)});
    EXPECT_TRUE(InfoBlock::VendorId(block, vendor));
    EXPECT_TRUE(InfoBlock::DeviceId(block, device));
    EXPECT_EQ(vendor, 0x1407);
    EXPECT_EQ(device, 0x70FC);
}

TEST(InfoBlockIdentity, WrongLengthMissingRecordOrFieldsPastTheEndGiveZero) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::size_t size;  // of the block, at the front of `bytes`
        bool vendorFound;
        uint16_t vendor;
        bool deviceFound;
        uint16_t device;
    };
    const std::vector<Case> cases = {
        {"LengthTwelve", Hex("0C 00 07 14 FC 70 00 00 00 00 00 00"), 12, false, 0, false, 0},
        {"ZeroLengthWithTag", Hex("00 00 07 14 FC 70"), 6, false, 0, false, 0},
        {"NoBlock", Hex(IDENTITY), 0, false, 0, false, 0},
        {"OnlyNaming", NamingRecord("a", "b"), NAMING_LENGTH, false, 0, false, 0},
        {"CutAfterVendor", Hex(IDENTITY), 5, true, 0x1407, false, 0},
        {"CutInsideVendor", Hex(IDENTITY), 3, false, 0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint16_t vendor = 0xAAAA, device = 0xAAAA;
        const auto block = std::span(c.bytes).first(c.size);
        EXPECT_EQ(InfoBlock::VendorId(block, vendor), c.vendorFound);
        EXPECT_EQ(InfoBlock::DeviceId(block, device), c.deviceFound);
        EXPECT_EQ(vendor, c.vendor);
        EXPECT_EQ(device, c.device);
    }
}

void ExpectEmpty(const FirmwareFields& fields) {
    EXPECT_EQ(std::string(fields.firmwareLetters.begin(), fields.firmwareLetters.end()), "   ");
    EXPECT_EQ(fields.revisionId, 0);
    EXPECT_EQ(fields.versionSecond, 0);
    EXPECT_EQ(fields.versionThird, 0);
    EXPECT_EQ(fields.dateFirst, 0);
    EXPECT_EQ(fields.dateSecond, 0);
    EXPECT_EQ(fields.dateThird, 0);
    EXPECT_EQ(fields.productId, 0);
}

FirmwareFields Dirty() {
    FirmwareFields fields;
    fields.firmwareLetters = {'Q', 'Q', 'Q'};
    fields.revisionId = fields.versionSecond = fields.versionThird = 99;
    fields.dateFirst = fields.productId = 9999;
    fields.dateSecond = fields.dateThird = 99;
    return fields;
}

TEST(InfoBlockFirmware, LaterEntriesOverwriteEarlierOnes) {
    const auto block =
        Concat({Hex(IDENTITY), FirmwareRecord({REVISION_ENTRY, LETTERS_ENTRY, "63 01 01 01 01 01 01 01 01 01",
                                               PRODUCT_ENTRY, LETTERS_ENTRY_2})});
    FirmwareFields fields = Dirty();
    ASSERT_TRUE(InfoBlock::Firmware(block, fields));
    EXPECT_EQ(std::string(fields.firmwareLetters.begin(), fields.firmwareLetters.end()), "XYZ");
    EXPECT_EQ(fields.revisionId, 5);
    EXPECT_EQ(fields.versionSecond, 2);
    EXPECT_EQ(fields.versionThird, 3);
    EXPECT_EQ(fields.productId, 0x1234);
    EXPECT_EQ(fields.dateFirst, 2001);
    EXPECT_EQ(fields.dateSecond, 1);
    EXPECT_EQ(fields.dateThird, 2);
}

TEST(InfoBlockFirmware, DateComesFromTheLastDatedEntry) {
    FirmwareFields fields;
    ASSERT_TRUE(InfoBlock::Firmware(FirmwareRecord({PRODUCT_ENTRY, REVISION_ENTRY}), fields));
    EXPECT_EQ(fields.dateFirst, 2000);
    EXPECT_EQ(fields.dateSecond, 12);
    EXPECT_EQ(fields.dateThird, 31);
    EXPECT_EQ(fields.productId, 0x1234);
}

TEST(InfoBlockFirmware, RecordsWithoutWholeEntriesGiveEmptyValues) {
    auto lengthEleven = FirmwareRecord({REVISION_ENTRY});
    lengthEleven[0] = 11;
    struct Case {
        const char* name;
        std::vector<uint8_t> block;
        bool found;
    };
    const std::vector<Case> cases = {
        {"LengthEleven", lengthEleven, true},
        {"LengthZero", Concat({Hex("00 20"), Hex(REVISION_ENTRY)}), true},
        {"LengthOne", Concat({Hex("01 20"), Hex(REVISION_ENTRY)}), true},
        {"NoFirmwareRecord", Hex(IDENTITY), false},
        {"NoBlock", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareFields fields = Dirty();
        EXPECT_EQ(InfoBlock::Firmware(c.block, fields), c.found);
        ExpectEmpty(fields);
    }
}

TEST(InfoBlockFirmware, EntriesPastTheEndOfTheBlockAreIgnored) {
    const auto full = FirmwareRecord({REVISION_ENTRY, LETTERS_ENTRY});
    const auto block = std::span(full).first(full.size() - 1);  // the letters entry loses its last byte
    FirmwareFields fields;
    ASSERT_TRUE(InfoBlock::Firmware(block, fields));
    EXPECT_EQ(fields.revisionId, 5);
    EXPECT_EQ(std::string(fields.firmwareLetters.begin(), fields.firmwareLetters.end()), "   ");
}

TEST(InfoBlockNaming, ReadsNameAndWorkgroup) {
    const auto block = Concat({Hex(IDENTITY), NamingRecord("Printer-3", "Second floor")});
    std::string name = "x", workgroup = "x";
    EXPECT_TRUE(InfoBlock::Name(block, name));
    EXPECT_TRUE(InfoBlock::Workgroup(block, workgroup));
    EXPECT_EQ(name, "Printer-3");
    EXPECT_EQ(workgroup, "Second floor");
}

TEST(InfoBlockNaming, TextsWithoutZeroStopAtTheirRoom) {
    const std::string longName(18, 'N');
    const std::string longGroup(40, 'W');
    const auto block = Concat({NamingRecord(longName, longGroup), Hex("41 41 41 00")});
    std::string name, workgroup;
    EXPECT_TRUE(InfoBlock::Name(block, name));
    EXPECT_TRUE(InfoBlock::Workgroup(block, workgroup));
    EXPECT_EQ(name, longName);
    EXPECT_EQ(workgroup, longGroup);
}

TEST(InfoBlockNaming, BlockEndCutsTheTextAndHidesFieldsBeyondIt) {
    const auto full = NamingRecord("ABCDEFGHIJ", "grp");
    const auto insideName = std::span(full).first(25);
    std::string name, workgroup = "x";
    EXPECT_TRUE(InfoBlock::Name(insideName, name));
    EXPECT_EQ(name, "ABCDE");
    EXPECT_FALSE(InfoBlock::Workgroup(insideName, workgroup));
    EXPECT_EQ(workgroup, "");
    name = "x";
    EXPECT_FALSE(InfoBlock::Name(std::span(full).first(20), name));  // ends where the name would start
    EXPECT_EQ(name, "");
}

TEST(InfoBlockNaming, WrongLengthOrNoBlockGivesEmptyTexts) {
    auto length77 = NamingRecord("dev", "grp");
    length77[0] = 77;
    for (const auto& block : {length77, std::vector<uint8_t>{}, Hex(IDENTITY)}) {
        std::string name = "x", workgroup = "x";
        EXPECT_FALSE(InfoBlock::Name(block, name));
        EXPECT_FALSE(InfoBlock::Workgroup(block, workgroup));
        EXPECT_EQ(name, "");
        EXPECT_EQ(workgroup, "");
    }
}

}  // namespace
}  // namespace quorvane::testing
