#pragma once
// The small text operations that keywords, keys and member names share.

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvane {

// Upper-cases the ASCII letters a-z in place; every other byte stays.
void UpperAscii(std::string& text);
// Removes the space characters (0x20 only) at both ends, in place.
void TrimSpaces(std::string& text);
// Byte-wise equality after upper-casing both sides.
bool KeywordEquals(std::string_view a, std::string_view b);
// Reads a whole file into `out`. False (and `out` empty) when it cannot be
// opened or a read fails part way: half a text is never taken for the text.
bool ReadWholeFile(const std::filesystem::path& file, std::string& out);

}  // namespace quorvane
