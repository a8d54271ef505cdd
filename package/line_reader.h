#pragma once
// Reads a script-style text line by line: comments after ';', single
// spaces between tokens, numbers by the rules of strtol with base 0. The
// text is small (a script or a restriction file): it is read whole when
// opened, so the lines are cut in memory and the file is not held open.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quorvane {

inline constexpr std::size_t LINE_CAPACITY = 500;    // 499 characters and the terminator
inline constexpr std::size_t MAX_TOKEN_LENGTH = 99;  // what a keyword, key or file name may hold

class LineReader {
public:
    LineReader() = default;
    ~LineReader() { Close(); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // False when the file cannot be read; the reader is closed then.
    bool Open(const std::filesystem::path& file);
    // Reads `text` as Open reads a file of those bytes.
    void OpenText(std::string text);
    // Reads and cleans the next line: at most 499 characters of it. The rest
    // of a longer line is passed over, never read as a line of its own, so
    // the tail of a long comment cannot become a command.
    bool NextLine();
    // True when the current line was cut at the limit.
    bool Truncated() const { return truncated_; }
    uint8_t TokenCount() const { return tokenCount_; }
    // Token n, counting from 1, possibly empty. False (and an empty `out`)
    // when there is no such token.
    bool Token(uint8_t n, std::string& out) const;
    void TokenUpper(uint8_t n, std::string& out) const;
    bool Number16(uint8_t n, uint16_t& out) const;
    // The parsed value, clamped to the signed 32-bit range, as its bit pattern.
    bool Number32(uint8_t n, uint32_t& out) const;
    // Token n split at its first ':' into two 16-bit numbers.
    bool Pair(uint8_t n, uint16_t& first, uint16_t& second) const;
    void Close();

    bool IsOpen() const { return open_; }
    const std::string& Line() const { return line_; }

private:
    bool SkipRestOfLine();
    void CountTokens();

    std::string text_;
    std::size_t position_ = 0;
    bool open_ = false;
    bool ended_ = false;  // a read reached the end of the text
    std::string line_;
    uint8_t tokenCount_ = 0;  // counted once per line: callers ask for it often
    bool truncated_ = false;
};

// A token read as Number16 reads it: strtol with base 0, clamped to the
// signed 32-bit range, low 16 bits kept.
uint16_t TokenNumber16(std::string_view token);

// True when `token` reads as a number by the reader's rules with nothing
// left over: at least one digit and no stray characters ("12abc" and "abc"
// read as 12 and 0, and are not whole).
bool IsWholeNumber(std::string_view token);

}  // namespace quorvane
