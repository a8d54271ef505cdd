#include "package/restrictions.h"

#include <cstddef>
#include <string>

#include "package/line_reader.h"
#include "package/text.h"
#include "package/upgrade_package.h"

namespace quorvane {

namespace {

// Positions of the six two-digit groups of a MAC value; the separators
// between them may be any character.
constexpr std::size_t MAC_GROUP_START[6] = {0, 3, 6, 9, 12, 15};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The leading hexadecimal digits of `group`, low 8 bits kept; a group
// without digits (or beyond the end of a short value) gives 0.
uint8_t HexGroup(std::string_view group) {
    unsigned value = 0;
    for (char c : group) {
        const int digit = HexDigit(c);
        if (digit < 0) break;
        value = (value << 4 | static_cast<unsigned>(digit)) & 0xFFu;
    }
    return static_cast<uint8_t>(value);
}

// Scans the restriction file for the first line of exactly two tokens whose
// first token is `key`, and leaves the reader on that line. The reader is
// closed again when no such line exists.
bool FindKeyLine(UpgradePackage& package, std::string key) {
    UpperAscii(key);
    TrimSpaces(key);
    const auto file = package.WorkFile(RESTRICTION_FILE);
    LineReader& reader = package.reader;
    if (file.empty() || !reader.Open(file)) return false;
    std::string name;
    while (reader.NextLine()) {
        if (reader.TokenCount() != 2) continue;
        reader.TokenUpper(1, name);
        // A key too long for any key buffer makes the line unrecognised rather
        // than being compared cut short. Values are taken whole: dropping a
        // long one would quietly lift the restriction it carries.
        if (name.size() > MAX_TOKEN_LENGTH) continue;
        if (name == key) return true;
    }
    reader.Close();
    return false;
}

}  // namespace

bool Restrictions::LookupNumber(UpgradePackage& package, std::string key, uint16_t& out) {
    if (!FindKeyLine(package, std::move(key))) return false;
    package.reader.Number16(2, out);
    package.reader.Close();
    return true;
}

bool Restrictions::LookupText(UpgradePackage& package, std::string key, std::string& out) {
    if (!FindKeyLine(package, std::move(key))) return false;
    package.reader.Token(2, out);
    package.reader.Close();
    return true;
}

std::vector<KeyLine> Restrictions::KeyLines(UpgradePackage& package, std::string key) {
    UpperAscii(key);
    TrimSpaces(key);
    std::vector<KeyLine> lines;
    LineReader reader;
    const auto file = package.WorkFile(RESTRICTION_FILE);
    if (file.empty() || !reader.Open(file)) return lines;
    std::string name;
    for (int number = 1; reader.NextLine(); ++number) {
        if (reader.TokenCount() == 0) continue;
        reader.TokenUpper(1, name);
        if (name.size() > MAX_TOKEN_LENGTH || name != key) continue;
        KeyLine line{number, reader.TokenCount(), {}};
        reader.Token(2, line.value);
        lines.push_back(std::move(line));
    }
    return lines;
}

void Restrictions::ParseMac(std::string_view text, MacAddress& out) {
    for (std::size_t k = 0; k < out.size(); ++k) {
        const std::size_t start = MAC_GROUP_START[k];
        if (start >= text.size()) {
            out[k] = 0;
            continue;
        }
        // The last group runs to the end of the value; the others hold two digits.
        const std::size_t length = (k + 1 == out.size()) ? std::string_view::npos : 2;
        out[k] = HexGroup(text.substr(start, length));
    }
}

}  // namespace quorvane
