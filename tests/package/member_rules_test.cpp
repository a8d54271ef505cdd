#include "package/member_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

TEST(MemberRulesTest, NamesOfOneKeyShadowEachOther) {
    struct Case {
        std::string stored;
        std::string key;
    };
    const Case cases[] = {
        {"fw.bin", "FW.BIN"},
        {"Fw.Bin", "FW.BIN"},
        {std::string("fw.bin\0old", 10), "FW.BIN"},  // read as a zero-terminated text
        {"\xe9t\xe9.bin", "\xe9T\xe9.BIN"},          // only ASCII letters change
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(MemberKey(c.stored), c.key) << c.stored;
}

TEST(MemberRulesTest, OnlyTheRestrictionFileIsScrambled) {
    struct Case {
        const char* name;
        bool scrambled;
    };
    const Case cases[] = {
        {"restriction.ini", true}, {"RESTRICTION.INI", true}, {"Restriction.Ini", true},
        {"program.cmd", false},    {"PROGRAM.CMD", false},    {"restriction.ini.bak", false},
        {"firmware.bin", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsScrambledMember(c.name), c.scrambled) << c.name;
}

TEST(MemberRulesTest, AcceptedNamesAreSafeAndFitTheNameField) {
    struct Case {
        std::string name;
        bool accepted;
    };
    const Case cases[] = {
        {"firmware.bin", true},
        {std::string(255, 'a'), true},
        {std::string(256, 'a'), false},
        {"sub/firmware.bin", false},
        {"..", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsAcceptedMemberName(c.name), c.accepted) << c.name.size();
}

}  // namespace
}  // namespace quorvane
