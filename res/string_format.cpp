#include "res/string_format.h"

#include <cstdio>

#include "res/string_table.h"

namespace quorvane {
namespace {

constexpr std::string_view FLAGS = "-+ 0#";
constexpr std::size_t MAX_WIDTH_DIGITS = 2;  // a width or precision below 100

// Reads up to MAX_WIDTH_DIGITS digits; false when there are more.
bool SkipDigits(std::string_view format, std::size_t& at) {
    std::size_t digits = 0;
    while (at < format.size() && format[at] >= '0' && format[at] <= '9') {
        ++at;
        if (++digits > MAX_WIDTH_DIGITS) return false;
    }
    return true;
}

// Formats one conversion, `directive` being "%[flags][width][.precision]" without
// its conversion letter. The letter is checked against the argument's kind,
// and the length modifier is chosen here, so snprintf always gets exactly
// the type its format names.
bool FormatOne(std::string directive, char conversion, const FormatArg& arg, std::string& out) {
    char buffer[128];
    int written = 0;
    if (conversion == 'c') {
        if (arg.kind != FormatArg::Kind::Character) return false;
        directive += 'c';
        written = std::snprintf(buffer, sizeof buffer, directive.c_str(), static_cast<int>(arg.value));
    } else {
        if (arg.kind != FormatArg::Kind::Integer) return false;
        directive += "ll";
        directive += conversion;
        if (conversion == 'd' || conversion == 'i')
            written = std::snprintf(buffer, sizeof buffer, directive.c_str(), arg.value);
        else
            written = std::snprintf(buffer, sizeof buffer, directive.c_str(),
                                    static_cast<unsigned long long>(arg.value));
    }
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof buffer) return false;
    out.append(buffer, static_cast<std::size_t>(written));
    return true;
}

// The flags each supported conversion defines; nothing for an unsupported one.
std::string_view FlagsFor(char conversion) {
    switch (conversion) {
        case 'c':
            return "-";
        case 'd':
        case 'i':
            return "-+ 0";
        case 'u':
            return "-0";
        case 'x':
        case 'X':
            return "-0#";
        default:
            return {};
    }
}

}  // namespace

bool FormatPrintf(std::string_view format, std::span<const FormatArg> args, std::string& out) {
    out.clear();
    std::string text;
    std::size_t next = 0;
    for (std::size_t at = 0; at < format.size();) {
        if (format[at] != '%') {
            text += format[at++];
            continue;
        }
        const std::size_t start = at++;
        if (at < format.size() && format[at] == '%') {
            text += '%';
            ++at;
            continue;
        }
        const std::size_t flagsStart = at;
        while (at < format.size() && FLAGS.find(format[at]) != std::string_view::npos) ++at;
        const std::string_view flags = format.substr(flagsStart, at - flagsStart);
        if (!SkipDigits(format, at)) return false;
        const bool precision = at < format.size() && format[at] == '.';
        if (precision && !SkipDigits(format, ++at)) return false;
        if (at >= format.size() || next >= args.size()) return false;
        // A flag or precision the conversion does not define is undefined
        // behaviour in printf, so it is refused rather than passed on.
        const std::string_view allowed = FlagsFor(format[at]);
        if (allowed.empty() || flags.find_first_not_of(allowed) != std::string_view::npos) return false;
        if (precision && format[at] == 'c') return false;
        if (!FormatOne(std::string(format.substr(start, at - start)), format[at], args[next++], text))
            return false;
        ++at;
    }
    if (next != args.size()) return false;
    out = std::move(text);
    return true;
}

std::string FormatStringId(int id, std::initializer_list<FormatArg> args) {
    std::string out;
    FormatPrintf(LoadString(id), std::span<const FormatArg>(args.begin(), args.size()), out);
    return out;
}

std::string ReplacePlaceholders(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        const bool placeholder =
            pattern[at] == '%' && at + 1 < pattern.size() && pattern[at + 1] >= '1' && pattern[at + 1] <= '9';
        const std::size_t index = placeholder ? static_cast<std::size_t>(pattern[at + 1] - '1') : 0;
        if (placeholder && index < args.size()) {
            out += *(args.begin() + index);
            ++at;
        } else {
            out += pattern[at];
        }
    }
    return out;
}

std::string FormatPlaceholders(int id, std::initializer_list<std::string_view> args) {
    return ReplacePlaceholders(LoadString(id), args);
}

}  // namespace quorvane
