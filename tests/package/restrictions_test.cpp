#include "package/restrictions.h"

#include <gtest/gtest.h>

#include <string>

#include "package/upgrade_package.h"
#include "package_fixture.h"

namespace quorvane {
namespace {

class RestrictionLookup : public ::testing::Test {
protected:
    // Opens a package whose restriction file holds `text`.
    void OpenWith(const std::string& text) {
        package.Close();
        const auto path = test::WriteTestPackage(folder, StandardMembers("RESET\n", text));
        ASSERT_TRUE(package.Open(path));
    }

    test::TempFolder folder;
    UpgradePackage package;
};

struct NumberCase {
    const char* file;
    const char* key;
    bool found;
    uint16_t value;
};

TEST_F(RestrictionLookup, NumberKeysFollowTheLineRules) {
    const std::string longKey(100, 'K');
    const std::string longestKey(99, 'K');
    const std::string longValue = "0" + std::string(98, '0') + "7";  // 100 characters
    const std::string longestValue = std::string(98, '0') + "7";     // 99 characters
    const std::string longKeyFile = longKey + " 5\n";
    const std::string longestKeyFile = longestKey + " 5\n";
    const std::string longValueFile = "VENDORID " + longValue + "\nVENDORID 3\n";
    const std::string longestValueFile = "VENDORID " + longestValue + "\nVENDORID 3\n";
    const NumberCase cases[] = {
        {"VENDORID 0x1407\n", "VENDORID", true, 0x1407},
        {"vendorid 0x1407\n", "VENDORID", true, 0x1407},         // key case in the file ignored
        {"VENDORID 9\n", " vendorId ", true, 9},                 // asked key trimmed and upper-cased
        {"VENDORID 1\nVENDORID 2\n", "VENDORID", true, 1},       // first line wins
        {"VENDORID\nVENDORID 5\n", "VENDORID", true, 5},         // key alone does not count
        {"VENDORID 1 2\nVENDORID 7\n", "VENDORID", true, 7},     // two values do not count
        {"VENDORID  1\nVENDORID 8\n", "VENDORID", true, 8},      // two spaces make three tokens
        {"  VENDORID 4   ; the vendor\n", "VENDORID", true, 4},  // comment and spaces cleaned
        {"VENDORID 0374\n", "VENDORID", true, 252},
        {"VENDORID 0x1FFFF\n", "VENDORID", true, 0xFFFF},
        {"VENDORID -1\n", "VENDORID", true, 0xFFFF},
        {"VENDORID abc\n", "VENDORID", true, 0},
        {"PRODUCTID 1\n", "VENDORID", false, 0xBEEF},
        {"VENDORIDX 1\n", "VENDORID", false, 0xBEEF},
        {"", "VENDORID", false, 0xBEEF},
        {longKeyFile.c_str(), longKey.c_str(), false, 0xBEEF},  // key too long: unrecognised
        {longestKeyFile.c_str(), longestKey.c_str(), true, 5},
        {longValueFile.c_str(), "VENDORID", true, 7},  // a long value is still read whole
        {longestValueFile.c_str(), "VENDORID", true, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " / " + c.key);
        OpenWith(c.file);
        uint16_t value = 0xBEEF;
        EXPECT_EQ(Restrictions::LookupNumber(package, c.key, value), c.found);
        EXPECT_EQ(value, c.value);
    }
}

TEST_F(RestrictionLookup, TextKeepsTheValueAsWritten) {
    OpenWith("DEFAULT 1\nmac 00-50-c2-01-02-03\nDEVICEID 0xFC,,0xF8\n");
    std::string text = "unchanged";
    ASSERT_TRUE(Restrictions::LookupText(package, "MAC", text));
    EXPECT_EQ(text, "00-50-c2-01-02-03");
    ASSERT_TRUE(Restrictions::LookupText(package, "deviceid", text));
    EXPECT_EQ(text, "0xFC,,0xF8");
    text = "unchanged";
    EXPECT_FALSE(Restrictions::LookupText(package, "REVISIONID", text));
    EXPECT_EQ(text, "unchanged");
}

TEST_F(RestrictionLookup, EveryLookupRereadsTheFile) {
    OpenWith("VENDORID 5\nPRODUCTID 6\n");
    uint16_t value = 0;
    ASSERT_TRUE(Restrictions::LookupNumber(package, "PRODUCTID", value));
    EXPECT_EQ(value, 6);
    ASSERT_TRUE(Restrictions::LookupNumber(package, "VENDORID", value));
    EXPECT_EQ(value, 5);
}

TEST_F(RestrictionLookup, MissingRestrictionFileFindsNothing) {
    OpenWith("VENDORID 5\n");
    std::filesystem::remove(package.WorkFile("RESTRICTION.INI"));
    uint16_t value = 0xBEEF;
    EXPECT_FALSE(Restrictions::LookupNumber(package, "VENDORID", value));
    EXPECT_EQ(value, 0xBEEF);
}

struct MacCase {
    const char* text;
    MacAddress bytes;
};

TEST(ParseMac, GroupsStandAtFixedPositions) {
    const MacCase cases[] = {
        {"00:50:C2:01:02:03", {0x00, 0x50, 0xC2, 0x01, 0x02, 0x03}},
        {"00-50-c2-01-02-03", {0x00, 0x50, 0xC2, 0x01, 0x02, 0x03}},
        {"00.50.c2.12.34.56", {0x00, 0x50, 0xC2, 0x12, 0x34, 0x56}},
        {"AbXcDyEfZa1#B2%c3", {0xAB, 0xCD, 0xEF, 0xA1, 0xB2, 0xC3}},  // any separator
        {"00:50:C2:01:02:3", {0x00, 0x50, 0xC2, 0x01, 0x02, 0x03}},   // last group runs to the end
        {"00:50", {0x00, 0x50, 0, 0, 0, 0}},                          // short value: missing groups 0
        {"zz:5z:C2:01:02:03", {0x00, 0x05, 0xC2, 0x01, 0x02, 0x03}},  // leading hex digits only
        {"", {0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        MacAddress mac{1, 1, 1, 1, 1, 1};
        Restrictions::ParseMac(c.text, mac);
        EXPECT_EQ(mac, c.bytes);
    }
}

}  // namespace
}  // namespace quorvane
