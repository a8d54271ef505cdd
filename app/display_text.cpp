#include "app/display_text.h"

namespace quorvane {
namespace {

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Decodes the character that starts at `at` into `code` and its byte count
// into `length`. False for a malformed or truncated sequence.
bool DecodeAt(std::string_view bytes, std::size_t at, char32_t& code, std::size_t& length) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    char32_t smallest = 0;
    if (lead < 0x80) {
        code = lead;
        length = 1;
        return true;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, smallest = 0x10000;
    } else {
        return false;
    }
    if (bytes.size() - at < length) return false;
    for (std::size_t i = 1; i < length; ++i) {
        if (!IsContinuationByte(bytes[at + i])) return false;
        code = code << 6 | (static_cast<unsigned char>(bytes[at + i]) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code >= smallest && code <= 0x10FFFF && !surrogate;
}

// Characters that move the cursor, start escape sequences or reorder what
// follows them on the screen.
bool IsControl(char32_t code) {
    const bool c0OrC1 = code < 0x20 || (code >= 0x7F && code <= 0x9F);
    const bool bidi = code == 0x061C || code == 0x200E || code == 0x200F ||
                      (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
    return c0OrC1 || bidi;
}

// Whether a line feed is replaced like every other control: only a text of
// several lines keeps it.
enum class LineFeeds { Replace, Keep };

bool IsReplaced(char32_t code, LineFeeds lineFeeds) {
    return IsControl(code) && !(lineFeeds == LineFeeds::Keep && code == U'\n');
}

void AppendLatin1(std::string& out, unsigned char byte, LineFeeds lineFeeds) {
    if (IsReplaced(byte, lineFeeds)) {
        out += '?';
    } else if (byte < 0x80) {
        out += static_cast<char>(byte);
    } else {
        out += static_cast<char>(0xC0 | byte >> 6);
        out += static_cast<char>(0x80 | (byte & 0x3F));
    }
}

std::string SafeText(std::string_view bytes, LineFeeds lineFeeds) {
    std::string out;
    out.reserve(bytes.size());
    if (!IsValidUtf8(bytes)) {
        for (char c : bytes) AppendLatin1(out, static_cast<unsigned char>(c), lineFeeds);
        return out;
    }
    char32_t code = 0;
    std::size_t length = 0;
    for (std::size_t at = 0; at < bytes.size(); at += length) {
        DecodeAt(bytes, at, code, length);
        if (IsReplaced(code, lineFeeds))
            out += '?';
        else
            out.append(bytes.substr(at, length));
    }
    return out;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    char32_t code = 0;
    std::size_t length = 0;
    for (std::size_t at = 0; at < bytes.size(); at += length)
        if (!DecodeAt(bytes, at, code, length)) return false;
    return true;
}

std::string TerminalText(std::string_view bytes) {
    return SafeText(bytes, LineFeeds::Replace);
}

std::string MultilineText(std::string_view bytes) {
    return SafeText(bytes, LineFeeds::Keep);
}

std::size_t CharacterCount(std::string_view text) {
    if (!IsValidUtf8(text)) return text.size();
    std::size_t count = 0;
    for (char c : text) count += !IsContinuationByte(c);
    return count;
}

std::string FirstCharacters(std::string_view text, std::size_t limit) {
    if (!IsValidUtf8(text)) return std::string(text.substr(0, limit));
    std::size_t end = 0;
    for (std::size_t count = 0; end < text.size(); ++end) {
        if (!IsContinuationByte(text[end]) && count++ == limit) break;
    }
    return std::string(text.substr(0, end));
}

std::string CutBytes(std::string_view bytes, std::size_t limit) {
    if (bytes.size() <= limit || !IsValidUtf8(bytes)) return std::string(bytes.substr(0, limit));
    std::size_t end = limit;
    while (end > 0 && IsContinuationByte(bytes[end])) --end;
    return std::string(bytes.substr(0, end));
}

}  // namespace quorvane
