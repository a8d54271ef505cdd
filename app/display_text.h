#pragma once
// Texts from outside (device names, member names, script lines) made safe to
// show. Both front ends use these, so a name looks the same in either.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

// True for well-formed UTF-8: no stray or missing continuation bytes, no
// overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// `bytes` as UTF-8 that cannot steer a terminal. Valid UTF-8 keeps its
// characters, except that every C0 control, DEL, C1 control (U+0080 to
// U+009F) and bidirectional control (U+061C, U+200E, U+200F, U+202A to
// U+202E, U+2066 to U+2069) becomes one '?'. Any other text is read as
// Latin-1, one character per byte, with the same controls replaced.
std::string TerminalText(std::string_view bytes);

// TerminalText for a text of several lines on its way to a widget: every
// line feed stays, as there it only breaks the line.
std::string MultilineText(std::string_view bytes);

// The number of characters of a UTF-8 text (each byte of text that is not
// valid UTF-8), which is what a terminal column is measured in.
std::size_t CharacterCount(std::string_view text);

// At most the first `limit` characters of a text, cut as CharacterCount counts.
std::string FirstCharacters(std::string_view text, std::size_t limit);

// At most the first `limit` bytes of `bytes`. Valid UTF-8 is cut before a
// character that would not fit whole, so the result stays valid UTF-8;
// anything else is cut at `limit` bytes, as it is shown byte by byte.
std::string CutBytes(std::string_view bytes, std::size_t limit);

}  // namespace quorvane
