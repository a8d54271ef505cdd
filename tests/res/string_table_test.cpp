#include "res/string_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "res/string_format.h"

namespace quorvane {
namespace {

TEST(StringTable, TextsThatCarryLineBreaksFiltersAndPlaceholders) {
    struct Case {
        int id;
        const char* text;
    } cases[] = {
        {101, "&About Upgrade..."},
        {103, "Network initialization failed."},
        {113, "8-Port USIA"},
        {119, "(RS422, RJ45)"},
        {123, "Quorvane Upgrade Files (*.upk)|*.upk|All Files (*.*)|*.*||"},
        {135, "Quorvane Firmware Upgrade: %1"},
        {136, "Quorvane Dovrelink"},
        {140, "v %c%c%c %d.%d.%d %02d/%02d/%02d"},
        {146,
         "Upgrade failed on device with MAC address %02x:%02x:%02x:%02x:%02x:%02x.\n"
         "Would you like to retry the upgrade now?"},
        {147,
         "I am sorry for the failure. Please retry the upgrade with a cross-over cable or when there is "
         "less network traffic.\nNote: The device will not function until the upgrade is completed."},
        {150, "(Cabled)"},
        {153,
         "The MAC address of the device is not compatible with this upgrade file. Please use the correct "
         "upgrade file !"},
        {162, "Upgrade failed on the device with MAC address %1.\nWould you like to retry the upgrade on it now?"},
        {163, "%1 KiB/s, %2 left"},
        {164, "Resends: %1"},
        {165, "The upgrade stopped because of a problem on this computer, not on the network:\n%1\nNote: A "
              "device whose upgrade had begun will not function until the upgrade is completed."},
        {173, "only %1 of %2 devices can be upgraded at once here (%3); the others wait for a free place"},
        {174, "no answer to %1 after %2 sends"},
        {177, "the device reported checksum %1, expected %2"},
        {180, "waiting for %1, send %2 of %3"},
        {181, "%1 %2, the package needs %3"},
        {182, "Upgrade these %1 devices?"},
        {183, "Upgrade this device?"},
    };
    for (const Case& c : cases) EXPECT_EQ(LoadString(c.id), c.text) << c.id;
}

TEST(StringTable, EveryIdInItsRangesIsPresentAndNothingElse) {
    const std::vector<int> present = {101, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112,
                                      113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123,
                                      124, 126, 129, 130, 133, 134, 135, 136, 137, 138, 140,
                                      141, 146, 147, 148, 149, 150, 151, 152, 153, 160, 161,
                                      162, 163, 164, 165, 170, 171, 173, 174, 175, 176,
                                      177, 178, 179, 180, 181, 182, 183, 188, 189, 190, 191,
                                      192, 193, 194, 195, 196, 197};
    for (int id = 0; id < 200; ++id) {
        const bool expected = std::find(present.begin(), present.end(), id) != present.end();
        EXPECT_EQ(!LoadString(id).empty(), expected) << id;
    }
    EXPECT_EQ(LoadString(-1), "");
}

// The table's own formats give what printf gives for the same values.
TEST(FormatPrintf, MatchesPrintfForTheTableFormats) {
    char expected[256];
    const int values[] = {0, 7, 10, 99, 100, 255, 2024, 65535};
    for (int v : values) {
        std::snprintf(expected, sizeof expected, "%02x:%02x:%02x:%02x:%02x:%02x", v, v, v, v, v, v);
        EXPECT_EQ(FormatStringId(138, {v, v, v, v, v, v}), expected) << v;
        std::snprintf(expected, sizeof expected, "v %c%c%c %d.%d.%d %02d/%02d/%02d", 'a', 'B', ' ', v, v, v,
                      v, v, v);
        EXPECT_EQ(FormatStringId(140, {'a', 'B', ' ', v, v, v, v, v, v}), expected) << v;
    }
    EXPECT_EQ(FormatStringId(137, {uint8_t{0x0A}, uint8_t{0xBC}, uint8_t{0}}), "0a bc 00");
}

TEST(FormatPrintf, RefusesWhatDoesNotFitItsConversions) {
    struct Case {
        const char* format;
        std::vector<FormatArg> args;
    };
    const Case cases[] = {
        {"%d %d", {1}},  // too few arguments
        {"%d", {1, 2}},  // too many
        {"%c", {65}},    // an integer where a character is wanted
        {"%d", {'A'}},   // and the other way round
        {"%s", {1}},     // conversions the table never uses
        {"%n", {1}},     {"%p", {1}},
        {"%ld", {1}},     // length modifiers are chosen here, not by the format
        {"%05c", {'A'}},  // a flag printf leaves undefined for %c
        {"%#d", {1}},    {"%.2c", {'A'}},
        {"%1000d", {1}},  // a width that would not fit
        {"%", {}},       {"%02", {1}},
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        EXPECT_FALSE(FormatPrintf(c.format, c.args, out)) << c.format;
        EXPECT_EQ(out, "") << c.format;
    }
}

TEST(FormatPrintf, PercentSignsAndFlags) {
    std::string out;
    const std::vector<FormatArg> args = {5, -3, 255, 'z'};
    ASSERT_TRUE(FormatPrintf("100%% %-3d|%+d|%#X|%3c", args, out));
    EXPECT_EQ(out, "100% 5  |-3|0XFF|  z");
}

TEST(ReplacePlaceholders, ReplacesOnceAndLeavesTheRest) {
    struct Case {
        const char* pattern;
        std::vector<std::string_view> args;
        const char* expected;
    } cases[] = {
        {"%1 %2", {"Single Serial", "(DB9)"}, "Single Serial (DB9)"},
        {"%2 then %1", {"a", "b"}, "b then a"},
        {"T: %1", {"100%2 %1.upk"}, "T: 100%2 %1.upk"},  // an argument is never scanned again
        {"%1 %3", {"a"}, "a %3"},
        {"50% %0 %", {"x"}, "50% %0 %"},
    };
    for (const Case& c : cases) {
        std::string out;
        if (c.args.size() == 1)
            out = ReplacePlaceholders(c.pattern, {c.args[0]});
        else
            out = ReplacePlaceholders(c.pattern, {c.args[0], c.args[1]});
        EXPECT_EQ(out, c.expected) << c.pattern;
    }
    EXPECT_EQ(FormatPlaceholders(135, {"pkg.upk"}), "Quorvane Firmware Upgrade: pkg.upk");
}

}  // namespace
}  // namespace quorvane
