#include "package/text.h"

namespace quorvane {

namespace {

char UpperByte(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

}  // namespace

void UpperAscii(std::string& text) {
    for (char& c : text) c = UpperByte(c);
}

void TrimSpaces(std::string& text) {
    // Only the space character counts: a tab at either end is part of a token.
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    const auto last = text.find_last_not_of(' ');
    text = text.substr(first, last - first + 1);
}

bool KeywordEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperByte(a[i]) != UpperByte(b[i])) return false;
    }
    return true;
}

}  // namespace quorvane
