#pragma once
// Filling the string table's formats. Two kinds exist: printf-style formats
// (%c, %d, %u, %x with flags and width, e.g. "%02x") and numbered
// placeholders (%1 .. %9). Each argument is checked against its conversion,
// so a format never reads an argument it was not given.

#include <concepts>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace quorvane {

// One argument of a printf-style format: a character for %c, an integer for
// %d, %i, %u, %x and %X. uint8_t counts as an integer, char as a character.
struct FormatArg {
    enum class Kind { Character, Integer };

    FormatArg(char c) : kind(Kind::Character), value(static_cast<unsigned char>(c)) {}
    template <std::integral T>
    requires(!std::same_as<T, char> && !std::same_as<T, bool>) FormatArg(T number)
        : kind(Kind::Integer), value(static_cast<long long>(number)) {}

    Kind kind;
    long long value;
};

// Formats `format` as printf would with `args`. False (and an empty `out`)
// when a conversion is not supported, an argument has the wrong kind, or the
// number of arguments differs from the number of conversions.
bool FormatPrintf(std::string_view format, std::span<const FormatArg> args, std::string& out);

// String `id` of the table formatted with `args`; empty on any mismatch.
std::string FormatStringId(int id, std::initializer_list<FormatArg> args);

// Replaces %1 .. %9 by the matching argument in one pass, so text inside an
// argument is never replaced again. A placeholder without an argument and
// every other '%' stay as written.
std::string ReplacePlaceholders(std::string_view pattern, std::initializer_list<std::string_view> args);

// String `id` of the table with its placeholders replaced.
std::string FormatPlaceholders(int id, std::initializer_list<std::string_view> args);

}  // namespace quorvane
