// Texts from devices and packages on their way to a terminal or a cell.

#include "app/display_text.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(DisplayText, TerminalTextReplacesEveryControlThatCouldSteerTheTerminal) {
    struct Case {
        std::string_view bytes;
        const char* shown;
    } cases[] = {
        {"plain name", "plain name"},
        {"\x1b]0;owned\x07\t\r\n\x7f", "?]0;owned?????"},
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // valid UTF-8 stays
        {"a\xc2\x9bJ", "a?J"},                                     // C1 CSI as a character
        {"\xe2\x80\xaeLIVE\xe2\x80\xac", "?LIVE?"},                // RLO ... PDF
        {"\xe2\x81\xa6x\xe2\x81\xa9\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c", "?x????"},
        {std::string_view("a\0b", 3), "a?b"},
        // Not UTF-8: each byte is its Latin-1 character, C1 bytes replaced.
        {"caf\xe9\x9b\x1b", "caf\xc3\xa9??"},
        {"\xc3", "\xc3\x83"},                   // a truncated sequence
        {"\xc0\xaf", "\xc3\x80\xc2\xaf"},       // an overlong '/'
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0?"},  // a surrogate
        {"\xf4\x90\x80\x80", "\xc3\xb4???"},    // above U+10FFFF
    };
    for (const Case& c : cases) EXPECT_EQ(TerminalText(c.bytes), c.shown) << testing::PrintToString(c.bytes);
}

TEST(DisplayText, CutNeverSplitsAUtf8CharacterAndCountsCharacters) {
    struct Case {
        std::string_view bytes;
        std::size_t limit;
        const char* cut;
    } cases[] = {
        {"short", 16, "short"},
        {"Nineteen characters", 16, "Nineteen charact"},
        {"Caf\xc3\xa9-Werkstatt-1", 16, "Caf\xc3\xa9-Werkstatt-"},  // 16 bytes exactly
        {"Werkstatt-Caf\xc3\xa9", 14, "Werkstatt-Caf"},             // would split the \xc3\xa9
        {"\xe2\x82\xac\xe2\x82\xac", 5, "\xe2\x82\xac"},
        {"\xf0\x9f\x98\x80x", 3, ""},
        {"Werkstatt-Caf\xe9\xff", 14, "Werkstatt-Caf\xe9"},  // not UTF-8: the byte cut
    };
    for (const Case& c : cases)
        EXPECT_EQ(CutBytes(c.bytes, c.limit), c.cut) << testing::PrintToString(c.bytes);

    EXPECT_EQ(CharacterCount("caf\xc3\xa9 \xe2\x82\xac"), 6u);
    EXPECT_EQ(CharacterCount("caf\xe9"), 4u);
    EXPECT_EQ(FirstCharacters("\xc3\xa9\xc3\xa9\xc3\xa9", 2), "\xc3\xa9\xc3\xa9");
    EXPECT_EQ(FirstCharacters("abc", 5), "abc");
}

}  // namespace
}  // namespace quorvane
