#include "package/line_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/package/package_fixture.h"

namespace quorvane {
namespace {

class LineReaderTest : public ::testing::Test {
protected:
    // Opens a file holding `content` and positions the reader on its first line.
    void OpenWith(const std::string& content) {
        const auto file = folder_.File("lines.txt");
        ASSERT_TRUE(test::WriteText(file, content));
        ASSERT_TRUE(reader_.Open(file));
    }
    void FirstLineOf(const std::string& content) {
        OpenWith(content);
        ASSERT_TRUE(reader_.NextLine());
    }
    // Every line NextLine yields until it reports false (bounded, in case it never does).
    std::vector<std::string> AllLines(const std::string& content) {
        OpenWith(content);
        std::vector<std::string> lines;
        for (int guard = 0; guard < 100 && reader_.NextLine(); ++guard) lines.push_back(reader_.Line());
        return lines;
    }
    std::string TokenAt(uint8_t n) {
        std::string token;
        reader_.Token(n, token);
        return token;
    }

    test::TempFolder folder_;
    LineReader reader_;
};

TEST_F(LineReaderTest, CleansCommentsSpacesAndLineEnds) {
    struct Case {
        std::string content;
        std::string line;
        uint8_t tokens;
    };
    const Case cases[] = {
        {"  LOAD  FW.BIN 0x0:0x100   ;comment\n", "LOAD  FW.BIN 0x0:0x100", 4},
        {"; only a comment\n", "", 0},
        {"      \n", "", 0},
        {"\n", "", 0},
        {"RESET\r\n", "RESET", 1},
        // Only one carriage return goes, and only at the end.
        {"RESET\r\r\n", "RESET\r", 1},
        {"A\rB\n", "A\rB", 1},
        {"RESET\r", "RESET", 1},
        // Tab is part of a token, not a separator, and not trimmed.
        {"ERASE\t3\n", "ERASE\t3", 1},
        {"\tERASE 3\n", "\tERASE 3", 2},
        {"A;B;C\n", "A", 1},
        {"  X ; y z\n", "X", 1},
        {"PRODUCTID 0x10 ;; two\n", "PRODUCTID 0x10", 2},
    };
    for (const auto& c : cases) {
        FirstLineOf(c.content);
        EXPECT_EQ(reader_.Line(), c.line) << c.content;
        EXPECT_EQ(reader_.TokenCount(), c.tokens) << c.content;
    }
}

TEST_F(LineReaderTest, EmptyPiecesBetweenDoubleSpacesAreTokens) {
    FirstLineOf("  LOAD  FW.BIN 0x0:0x100   ;comment\n");
    ASSERT_EQ(reader_.TokenCount(), 4);
    EXPECT_EQ(TokenAt(1), "LOAD");
    std::string token = "stale";
    EXPECT_TRUE(reader_.Token(2, token));
    EXPECT_EQ(token, "");
    EXPECT_EQ(TokenAt(3), "FW.BIN");
    EXPECT_EQ(TokenAt(4), "0x0:0x100");
    uint16_t a = 1, b = 1;
    EXPECT_TRUE(reader_.Pair(4, a, b));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0x100);
    // Queries leave the line as it was.
    EXPECT_EQ(reader_.Line(), "LOAD  FW.BIN 0x0:0x100");
    uint16_t number = 7;
    EXPECT_TRUE(reader_.Number16(2, number));
    EXPECT_EQ(number, 0);
}

TEST_F(LineReaderTest, MissingTokensGiveFalseAndEmptyValues) {
    FirstLineOf("load fw.bin 1:2\n");
    for (uint8_t n : {uint8_t{0}, uint8_t{4}, uint8_t{255}}) {
        std::string text = "stale";
        EXPECT_FALSE(reader_.Token(n, text)) << int(n);
        EXPECT_EQ(text, "");
        text = "stale";
        reader_.TokenUpper(n, text);
        EXPECT_EQ(text, "");
        uint16_t n16 = 9, first = 9, second = 9;
        uint32_t n32 = 9;
        EXPECT_FALSE(reader_.Number16(n, n16));
        EXPECT_FALSE(reader_.Number32(n, n32));
        EXPECT_FALSE(reader_.Pair(n, first, second));
        EXPECT_EQ(n16, 0);
        EXPECT_EQ(n32, 0u);
        EXPECT_EQ(first, 0);
        EXPECT_EQ(second, 0);
    }
    std::string upper;
    reader_.TokenUpper(2, upper);
    EXPECT_EQ(upper, "FW.BIN");
    // An empty line has no tokens at all.
    FirstLineOf("   ; nothing\n");
    std::string text = "stale";
    EXPECT_FALSE(reader_.Token(1, text));
    EXPECT_EQ(text, "");
}

TEST_F(LineReaderTest, FileEndingsDecideTheTrailingEmptyLine) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(AllLines("A\nB\n"), (Lines{"A", "B", ""}));
    EXPECT_EQ(AllLines("A\nB"), (Lines{"A", "B"}));
    EXPECT_EQ(AllLines(""), (Lines{""}));
    EXPECT_EQ(AllLines("\n"), (Lines{"", ""}));
    EXPECT_EQ(AllLines("A\r\nB\r\n"), (Lines{"A", "B", ""}));
    // Once false, always false until the reader is reopened.
    EXPECT_FALSE(reader_.NextLine());
    EXPECT_FALSE(reader_.NextLine());
    EXPECT_EQ(reader_.Line(), "");
}

TEST_F(LineReaderTest, LongLinesKeepTheirFirst499CharactersAndNothingElse) {
    // The tail of an over-long comment must never run as a command.
    const std::string line = ";" + std::string(498, 'c') + "ERASE 0xFFFF";
    OpenWith(line + "\nRESET\n");
    ASSERT_TRUE(reader_.NextLine());
    EXPECT_EQ(reader_.Line(), "");
    EXPECT_TRUE(reader_.Truncated());
    ASSERT_TRUE(reader_.NextLine());
    EXPECT_EQ(reader_.Line(), "RESET");
    EXPECT_FALSE(reader_.Truncated());

    // Exactly 499 characters fill the buffer without losing anything, with
    // either line end; a line end at the limit is no line of its own.
    const std::string full(499, 'x');
    EXPECT_EQ(AllLines(full + "\n"), (std::vector<std::string>{full, ""}));
    EXPECT_EQ(AllLines(full + "\r\nB\n"), (std::vector<std::string>{full, "B", ""}));
    EXPECT_EQ(AllLines(full + "y\nB"), (std::vector<std::string>{full, "B"}));
    EXPECT_EQ(AllLines(full), (std::vector<std::string>{full}));
    OpenWith(full + "\r");
    ASSERT_TRUE(reader_.NextLine());
    EXPECT_EQ(reader_.Line(), full);
    EXPECT_FALSE(reader_.Truncated());
    EXPECT_FALSE(reader_.NextLine());

    // A zero byte ends the text of a line, not the line: the tail of a long
    // line after one is passed over all the same.
    const std::string hidden = "; note" + std::string(1, '\0') + std::string(493, 'c') + "ERASE 0xFFFF";
    EXPECT_EQ(AllLines(hidden + "\nRESET\n"), (std::vector<std::string>{"", "RESET", ""}));
    EXPECT_EQ(AllLines("A" + std::string(1, '\0') + "B\nC"), (std::vector<std::string>{"A", "C"}));
}

TEST(WholeNumberTest, DigitsWithNothingLeftOver) {
    const struct {
        const char* token;
        bool whole;
    } cases[] = {{"12", true},   {"0x1F", true},  {"-1", true},   {"010", true}, {"12abc", false},
                 {"abc", false}, {"", false},     {"0x", false},  {"1:2", false}};
    for (const auto& c : cases) EXPECT_EQ(IsWholeNumber(c.token), c.whole) << c.token;
}

TEST_F(LineReaderTest, TokensLongerThanKeywordBuffersComeBackWhole) {
    const std::string name(150, 'N');
    FirstLineOf("LOAD " + name + " 1:2\n");
    EXPECT_EQ(TokenAt(2), name);
    EXPECT_EQ(TokenAt(3), "1:2");
}

TEST_F(LineReaderTest, TokenCountSaturatesInsteadOfWrapping) {
    // 257 tokens: an 8-bit count that wrapped would say 1.
    FirstLineOf("a" + std::string(256, ' ') + "b\n");
    EXPECT_EQ(reader_.TokenCount(), 255);
    EXPECT_EQ(TokenAt(1), "a");

    // The most one-letter tokens a line can hold still count exactly.
    std::string many = "a";
    for (int i = 1; i < 250; ++i) many += " a";
    ASSERT_EQ(many.size(), 499u);
    FirstLineOf(many + "\n");
    EXPECT_EQ(reader_.TokenCount(), 250);
    EXPECT_EQ(TokenAt(250), "a");

    // Empty tokens count too: 498 spaces between two words are 499 tokens.
    FirstLineOf("a" + std::string(497, ' ') + "b\n");
    EXPECT_EQ(reader_.TokenCount(), 255);
    std::string token = "stale";
    EXPECT_TRUE(reader_.Token(255, token));
    EXPECT_EQ(token, "");

    FirstLineOf("a b c d\n");
    EXPECT_EQ(reader_.TokenCount(), 4);
}

TEST_F(LineReaderTest, NumbersFollowStrtolWithBaseZero) {
    struct Case {
        std::string token;
        uint16_t n16;
        uint32_t n32;
    };
    const Case cases[] = {
        {"-1", 0xFFFF, 0xFFFFFFFF},
        {"010", 8, 8},
        {"0x10", 16, 16},
        {"0X1f", 31, 31},
        {"12abc", 12, 12},
        {"abc", 0, 0},
        {"0x", 0, 0},
        {"08", 0, 0},
        {"+7", 7, 7},
        {"\t5", 5, 5},
        {"70000", 70000 & 0xFFFF, 70000},
        {"0x12345678", 0x5678, 0x12345678},
        {"2147483647", 0xFFFF, 0x7FFFFFFF},
        // Outside the signed 32-bit range: the nearest bound.
        {"2147483648", 0xFFFF, 0x7FFFFFFF},
        {"0xFFFFFFFF", 0xFFFF, 0x7FFFFFFF},
        {"99999999999999999999999", 0xFFFF, 0x7FFFFFFF},
        {"-2147483649", 0x0000, 0x80000000},
        {"-0x10", 0xFFF0, 0xFFFFFFF0},
    };
    for (const auto& c : cases) {
        FirstLineOf("N " + c.token + "\n");
        uint16_t n16 = 1;
        uint32_t n32 = 1;
        EXPECT_TRUE(reader_.Number16(2, n16)) << c.token;
        EXPECT_TRUE(reader_.Number32(2, n32)) << c.token;
        EXPECT_EQ(n16, c.n16) << c.token;
        EXPECT_EQ(n32, c.n32) << c.token;
    }
}

TEST_F(LineReaderTest, PairsSplitAtTheFirstColon) {
    struct Case {
        std::string token;
        uint16_t first;
        uint16_t second;
    };
    const Case cases[] = {
        {"0x100:0x20", 256, 32},   {"7", 7, 0},       {":5", 0, 5},
        {"1:2:3", 1, 2},           {"5:", 5, 0},      {"a:b", 0, 0},
        {"0x10000:-1", 0, 0xFFFF}, {"010:0x8", 8, 8},
    };
    for (const auto& c : cases) {
        FirstLineOf("LOAD X " + c.token + "\n");
        uint16_t first = 1, second = 1;
        EXPECT_TRUE(reader_.Pair(3, first, second)) << c.token;
        EXPECT_EQ(first, c.first) << c.token;
        EXPECT_EQ(second, c.second) << c.token;
    }
}

TEST_F(LineReaderTest, OpenAndCloseClearTheReader) {
    EXPECT_FALSE(reader_.NextLine());
    EXPECT_FALSE(reader_.Open(folder_.File("missing.txt")));
    EXPECT_FALSE(reader_.IsOpen());
    EXPECT_FALSE(reader_.NextLine());

    FirstLineOf("RESET\nERASE 1\n");
    reader_.Close();
    EXPECT_FALSE(reader_.IsOpen());
    EXPECT_EQ(reader_.Line(), "");
    EXPECT_EQ(reader_.TokenCount(), 0);
    EXPECT_FALSE(reader_.NextLine());
    reader_.Close();  // closing twice is harmless

    // Reopening starts at the first line again.
    FirstLineOf("RESET\nERASE 1\n");
    EXPECT_EQ(reader_.Line(), "RESET");
}

}  // namespace
}  // namespace quorvane
