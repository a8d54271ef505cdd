#include "package/text.h"

#include <cstdio>

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
    // In place: a copy of the middle would cost an allocation per long line.
    text.erase(text.find_last_not_of(' ') + 1);
    text.erase(0, first);
}

bool KeywordEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperByte(a[i]) != UpperByte(b[i])) return false;
    }
    return true;
}

bool ReadWholeFile(const std::filesystem::path& file, std::string& out) {
    out.clear();
    std::FILE* stream = std::fopen(file.c_str(), "rb");
    if (stream == nullptr) return false;
    char chunk[4096];
    for (std::size_t count; (count = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) out.append(chunk, count);
    const bool failed = std::ferror(stream) != 0;
    std::fclose(stream);
    if (failed) out.clear();
    return !failed;
}

}  // namespace quorvane
