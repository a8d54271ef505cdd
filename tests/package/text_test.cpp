#include "package/text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

struct TextCase {
    std::string input;
    std::string expected;
};

TEST(TextTest, UpperAsciiChangesOnlyLettersAToZ) {
    const TextCase cases[] = {
        {"program.cmd", "PROGRAM.CMD"},
        {"azAZ09", "AZAZ09"},
        // The bytes just outside a-z must stay: '`' and '{' are not letters.
        {"`{@[", "`{@["},
        // Bytes above 0x7F are left alone, whatever a locale might think.
        {"\xe4\xf6\xfc\xff", "\xe4\xf6\xfc\xff"},
        {std::string("a\0b", 3), std::string("A\0B", 3)},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string text = c.input;
        UpperAscii(text);
        EXPECT_EQ(text, c.expected) << c.input;
    }
}

TEST(TextTest, TrimSpacesRemovesOnlySpaceCharactersAtBothEnds) {
    const TextCase cases[] = {
        {"  LOAD  FW.BIN  ", "LOAD  FW.BIN"}, {"LOAD", "LOAD"}, {"     ", ""}, {"", ""},
        {"\tERASE\t", "\tERASE\t"},           {" \r ", "\r"},   {" a", "a"},   {"a ", "a"},
    };
    for (const auto& c : cases) {
        std::string text = c.input;
        TrimSpaces(text);
        EXPECT_EQ(text, c.expected) << '"' << c.input << '"';
    }
}

TEST(TextTest, KeywordEqualsIgnoresTheCaseOfAsciiLettersOnly) {
    struct Case {
        std::string a;
        std::string b;
        bool equal;
    };
    const Case cases[] = {
        {"load", "LOAD", true},
        {"SetProgramMode", "SETPROGRAMMODE", true},
        {"LOAD", "LOADX", false},
        {"LOAD", "LOAD ", false},
        {"", "", true},
        // Upper-casing must not map '`' onto '@' or '{' onto '['.
        {"`", "@", false},
        {"{", "[", false},
        // Latin-1 lower and upper a-umlaut differ: only a-z fold.
        {"\xe4", "\xc4", false},
        {"\xe4", "\xe4", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KeywordEquals(c.a, c.b), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(KeywordEquals(c.b, c.a), c.equal) << c.b << " / " << c.a;
    }
}

}  // namespace
}  // namespace quorvane
