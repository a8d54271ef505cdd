#include "protocol/mac_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

TEST(MacText, AcceptsTheFourShapesInEitherCaseAndNothingElse) {
    struct Case {
        const char* text;
        bool valid;
        MacAddress mac;
    };
    const Case cases[] = {
        {"00:50:c2:1a:2b:3c", true, {0x00, 0x50, 0xC2, 0x1A, 0x2B, 0x3C}},
        {"00-50-C2-1A-2B-3C", true, {0x00, 0x50, 0xC2, 0x1A, 0x2B, 0x3C}},
        {"ff:FF:fF:00:01:10", true, {0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x10}},
        {"0050.C21a.2b3c", true, {0x00, 0x50, 0xC2, 0x1A, 0x2B, 0x3C}},
        {"0050c21A2B3c", true, {0x00, 0x50, 0xC2, 0x1A, 0x2B, 0x3C}},
        {"0050:c21a:2b3c", false, {}},  // groups of four are joined by dots only
        {"0050.c21a2b3c.", false, {}},  // a dot out of place
        {"00.50c21a.2b3c", false, {}},
        {"0050c21a2b3", false, {}},         // eleven digits
        {"0050c21a2b3g", false, {}},        // not hexadecimal
        {"00:50-c2:1a:2b:3c", false, {}},   // mixed separators
        {"00.50.c2.1a.2b.3c", false, {}},   // the restriction file's lenience is not wanted here
        {"00:50:c2:1a:2b", false, {}},      // too short
        {"00:50:c2:1a:2b:3c:", false, {}},  // too long
        {"00:50:c2:1g:2b:3c", false, {}},   // not hexadecimal
        {" 0:50:c2:1a:2b:3c", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        MacAddress mac{9, 9, 9, 9, 9, 9};
        EXPECT_EQ(ParseMacText(c.text, mac), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(mac, c.mac) << c.text;
            if (std::string(c.text).size() == 17) {
                EXPECT_EQ(FormatMac(mac), FormatMac(c.mac)) << c.text;
            }
        } else {
            EXPECT_EQ(mac, (MacAddress{9, 9, 9, 9, 9, 9})) << "out-value untouched on failure: " << c.text;
        }
    }
    EXPECT_EQ(FormatMac({0x00, 0x50, 0xC2, 0x1A, 0x2B, 0x3C}), "00:50:c2:1a:2b:3c");
}

}  // namespace
}  // namespace quorvane
