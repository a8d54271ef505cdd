// The MAC text parser against its formatter. Any text the parser takes
// formats back to its own digits in lower case, the formatted text parses to
// the same address, and so do the other shapes people type. The first six
// input bytes, as an address, make the same round trip; the restriction
// file's MAC reader reads the formatted text the same way.

#include <cctype>
#include <string>

#include "fuzz/fuzz_support.h"
#include "package/restrictions.h"
#include "protocol/mac_text.h"

using namespace quorvane;
using namespace quorvane::fuzz;

namespace {

std::string HexDigitsOf(std::string_view text) {
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += static_cast<char>(std::tolower(c));
    return digits;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Every shape of one address parses back to it.
void CheckRoundTrip(const MacAddress& mac) {
    const std::string formatted = FormatMac(mac);
    FUZZ_CHECK(formatted.size() == 17);
    const std::string digits = HexDigitsOf(formatted);
    std::string dashes = formatted;
    for (char& c : dashes)
        if (c == ':') c = '-';
    const std::string dots = digits.substr(0, 4) + "." + digits.substr(4, 4) + "." + digits.substr(8, 4);
    for (const std::string& shape : {formatted, Upper(formatted), dashes, dots, digits, Upper(digits)}) {
        MacAddress parsed{};
        FUZZ_CHECK(ParseMacText(shape, parsed));
        FUZZ_CHECK(parsed == mac);
    }
    MacAddress fromRestriction{};
    Restrictions::ParseMac(formatted, fromRestriction);
    FUZZ_CHECK(fromRestriction == mac);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const MacAddress untouched{0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
    MacAddress parsed = untouched;
    if (ParseMacText(text, parsed)) {
        // Nothing but the twelve digits and their separators was taken.
        FUZZ_CHECK(HexDigitsOf(FormatMac(parsed)) == HexDigitsOf(text));
        FUZZ_CHECK(text.size() == 12 || text.size() == 14 || text.size() == 17);
        CheckRoundTrip(parsed);
    } else {
        FUZZ_CHECK(parsed == untouched);  // written only on success
    }
    ByteStream bytes({data, size});
    MacAddress mac{};
    const auto first = bytes.TakePadded(mac.size());
    std::copy(first.begin(), first.end(), mac.begin());
    CheckRoundTrip(mac);
    return 0;
}
