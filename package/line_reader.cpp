#include "package/line_reader.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "package/text.h"

namespace quorvane {

namespace {

// strtol with base 0, limited to what a 32-bit signed value can hold: a
// script written for 32-bit numbers must read the same on a 64-bit long.
int32_t ParseNumber(std::string_view token) {
    const std::string text(token);
    const long value = std::strtol(text.c_str(), nullptr, 0);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

uint16_t Low16(int32_t value) {
    return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
}

void RemoveLast(std::string& text, char c) {
    if (!text.empty() && text.back() == c) text.pop_back();
}

// Finds piece n (from 1) of a line cut at every single space; the view
// points into `line`.
bool FindToken(const std::string& line, uint8_t n, std::string_view& out) {
    if (line.empty() || n == 0) return false;
    std::size_t start = 0;
    std::size_t piece = 1;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        if (space == std::string::npos) break;
        if (piece == n) {
            out = std::string_view(line).substr(start, space - start);
            return true;
        }
        start = space + 1;
        ++piece;
    }
    if (start >= line.size() || piece != n) return false;
    out = std::string_view(line).substr(start);
    return true;
}

}  // namespace

bool IsWholeNumber(std::string_view token) {
    const std::string text(token);
    const char* start = text.c_str();
    char* end = nullptr;
    std::strtol(start, &end, 0);
    return end != start && *end == '\0';
}

uint16_t TokenNumber16(std::string_view token) {
    return Low16(ParseNumber(token));
}

bool LineReader::Open(const std::filesystem::path& file) {
    Close();
    std::string text;
    if (!ReadWholeFile(file, text)) return false;
    OpenText(std::move(text));
    return true;
}

void LineReader::OpenText(std::string text) {
    Close();
    text_ = std::move(text);
    open_ = true;
}

// Passes over the rest of the physical line; true when anything but a line
// feed (or the carriage return before it) was passed over.
bool LineReader::SkipRestOfLine() {
    const std::string_view rest = std::string_view(text_).substr(position_);
    const std::size_t lineFeed = rest.find('\n');
    const std::size_t skipped = lineFeed == std::string_view::npos ? rest.size() : lineFeed;
    position_ += lineFeed == std::string_view::npos ? skipped : skipped + 1;
    if (lineFeed == std::string_view::npos) ended_ = true;
    return skipped > 1 || (skipped == 1 && rest[0] != '\r');
}

bool LineReader::NextLine() {
    line_.clear();
    tokenCount_ = 0;
    truncated_ = false;
    // Testing the end before the read (not after it) is what makes a final
    // line feed produce one more, empty, line; callers skip empty lines.
    if (!open_ || ended_) return false;
    // Read as fgets would, but counting the bytes: a zero byte ends the text
    // of the line, not the line, so the rest of a long line is still passed
    // over rather than read as a line of its own. The line feed is found with
    // one search rather than byte by byte: scripts are read on every pass.
    const std::string_view window = std::string_view(text_).substr(position_, LINE_CAPACITY - 1);
    const std::size_t lineFeed = window.find('\n');
    const std::size_t count = lineFeed == std::string_view::npos ? window.size() : lineFeed + 1;
    position_ += count;
    // A short line without a line feed ran into the end of the text.
    if (lineFeed == std::string_view::npos && count < LINE_CAPACITY - 1) ended_ = true;
    const std::string_view read = window.substr(0, count);
    line_.assign(read.substr(0, read.find('\0')));
    if (lineFeed == std::string_view::npos && count == LINE_CAPACITY - 1) truncated_ = SkipRestOfLine();
    RemoveLast(line_, '\n');
    RemoveLast(line_, '\r');
    const auto comment = line_.find(';');
    if (comment != std::string::npos) line_.resize(comment);
    TrimSpaces(line_);
    CountTokens();
    return true;
}

void LineReader::CountTokens() {
    tokenCount_ = 0;
    if (line_.empty()) return;
    const std::size_t count = 1 + static_cast<std::size_t>(std::count(line_.begin(), line_.end(), ' '));
    // Saturate: a line of 257 tokens must not look like a line of 1.
    tokenCount_ = count > UINT8_MAX ? UINT8_MAX : static_cast<uint8_t>(count);
}

bool LineReader::Token(uint8_t n, std::string& out) const {
    std::string_view token;
    if (!FindToken(line_, n, token)) {
        out.clear();
        return false;
    }
    out.assign(token);
    return true;
}

void LineReader::TokenUpper(uint8_t n, std::string& out) const {
    Token(n, out);
    UpperAscii(out);
}

bool LineReader::Number16(uint8_t n, uint16_t& out) const {
    out = 0;
    std::string_view token;
    if (!FindToken(line_, n, token)) return false;
    out = TokenNumber16(token);
    return true;
}

bool LineReader::Number32(uint8_t n, uint32_t& out) const {
    out = 0;
    std::string_view token;
    if (!FindToken(line_, n, token)) return false;
    out = static_cast<uint32_t>(ParseNumber(token));
    return true;
}

bool LineReader::Pair(uint8_t n, uint16_t& first, uint16_t& second) const {
    first = 0;
    second = 0;
    std::string_view token;
    if (!FindToken(line_, n, token)) return false;
    const auto colon = token.find(':');
    first = Low16(ParseNumber(token.substr(0, colon)));
    if (colon != std::string_view::npos) second = Low16(ParseNumber(token.substr(colon + 1)));
    return true;
}

void LineReader::Close() {
    text_.clear();
    position_ = 0;
    open_ = false;
    ended_ = false;
    line_.clear();
    tokenCount_ = 0;
    truncated_ = false;
}

}  // namespace quorvane
