// The line reader on its own, over the input as a text. Each line it gives
// is checked against what the text says: one line per physical line (and
// one more, empty, after a final line feed), its first 499 bytes up to the
// first zero byte, without its line end, the comment after ';' and the
// outer spaces; cut (Truncated) exactly when bytes past the first 499 were
// passed over, other than a single carriage return that ends the line.
// Tokens, numbers and pairs agree with each other.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "package/line_reader.h"

using namespace quorvane;
using namespace quorvane::fuzz;

namespace {

constexpr std::size_t KEPT = 499;  // bytes of a physical line that a read keeps

// What the reader should make of the kept bytes of one physical line.
std::string Expected(std::string_view physical, bool lineFeed) {
    std::string line(physical);
    if (lineFeed) line += '\n';
    line.resize(line.find('\0') == std::string::npos ? line.size() : line.find('\0'));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line.resize(std::min(line.size(), line.find(';')));
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

void CheckTokens(const LineReader& reader) {
    const uint8_t count = reader.TokenCount();
    FUZZ_CHECK((count == 0) == reader.Line().empty());
    std::string token;
    std::string joined;
    for (unsigned n = 1; n <= count; ++n) {
        FUZZ_CHECK(reader.Token(static_cast<uint8_t>(n), token));
        joined += (n > 1 ? " " : "") + token;
        uint16_t low = 0;
        uint32_t whole = 0;
        FUZZ_CHECK(reader.Number16(static_cast<uint8_t>(n), low));
        FUZZ_CHECK(reader.Number32(static_cast<uint8_t>(n), whole));
        FUZZ_CHECK(low == static_cast<uint16_t>(whole));
        uint16_t first = 0;
        uint16_t second = 0;
        FUZZ_CHECK(reader.Pair(static_cast<uint8_t>(n), first, second));
        if (token.find(':') == std::string::npos) FUZZ_CHECK(first == low && second == 0);
    }
    // Tokens are the pieces between single spaces, so they rebuild the line.
    if (count < 255) {
        FUZZ_CHECK(joined == reader.Line());
        FUZZ_CHECK(!reader.Token(static_cast<uint8_t>(count + 1), token) && token.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> physical;
    std::string_view rest(text);
    for (;;) {
        const auto end = rest.find('\n');
        physical.push_back(rest.substr(0, end));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    LineReader reader;
    reader.OpenText(text);
    std::size_t lines = 0;
    while (reader.NextLine()) {
        const std::string& line = reader.Line();
        FUZZ_CHECK(line.size() < LINE_CAPACITY);
        FUZZ_CHECK(line.find('\n') == std::string::npos && line.find(';') == std::string::npos);
        FUZZ_CHECK(line.empty() || (line.front() != ' ' && line.back() != ' '));
        FUZZ_CHECK(lines < physical.size());
        const std::string_view p = physical[lines];
        FUZZ_CHECK(line == Expected(p.substr(0, KEPT), lines + 1 < physical.size()));
        FUZZ_CHECK(reader.Truncated() == (p.size() > KEPT && !(p.size() == KEPT + 1 && p[KEPT] == '\r')));
        CheckTokens(reader);
        ++lines;
    }
    FUZZ_CHECK(lines == physical.size());
    reader.Close();
    FUZZ_CHECK(!reader.IsOpen() && !reader.NextLine());
    return 0;
}
