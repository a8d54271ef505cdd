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

// Keys are compared upper-cased, without the spaces around them.
std::string KeyName(std::string key) {
    UpperAscii(key);
    TrimSpaces(key);
    return key;
}

}  // namespace

RestrictionFile RestrictionFile::Read(const UpgradePackage& package) {
    std::string text;
    if (!package.ReadWorkText(RESTRICTION_FILE, text)) return {};
    return Parse(std::move(text));
}

RestrictionFile RestrictionFile::Parse(std::string text) {
    RestrictionFile file;
    file.readable_ = true;
    LineReader reader;
    reader.OpenText(std::move(text));
    std::string name;
    for (int number = 1; reader.NextLine(); ++number) {
        if (reader.TokenCount() == 0) continue;
        reader.TokenUpper(1, name);
        // A key too long for any key buffer makes the line unrecognised rather
        // than being compared cut short. Values are taken whole: dropping a
        // long one would quietly lift the restriction it carries.
        if (name.size() > MAX_TOKEN_LENGTH) continue;
        Line line{name, {number, reader.TokenCount(), {}}};
        reader.Token(2, line.keyLine.value);
        file.lines_.push_back(std::move(line));
    }
    return file;
}

const RestrictionFile::Line* RestrictionFile::FindCounting(std::string key) const {
    key = KeyName(std::move(key));
    for (const Line& line : lines_)
        if (line.keyLine.Counts() && line.key == key) return &line;
    return nullptr;
}

bool RestrictionFile::LookupNumber(std::string key, uint16_t& out) const {
    const Line* line = FindCounting(std::move(key));
    if (line == nullptr) return false;
    out = TokenNumber16(line->keyLine.value);
    return true;
}

bool RestrictionFile::LookupText(std::string key, std::string& out) const {
    const Line* line = FindCounting(std::move(key));
    if (line == nullptr) return false;
    out = line->keyLine.value;
    return true;
}

std::vector<KeyLine> RestrictionFile::KeyLines(std::string key) const {
    key = KeyName(std::move(key));
    std::vector<KeyLine> found;
    for (const Line& line : lines_)
        if (line.key == key) found.push_back(line.keyLine);
    return found;
}

bool Restrictions::LookupNumber(UpgradePackage& package, std::string key, uint16_t& out) {
    return RestrictionFile::Read(package).LookupNumber(std::move(key), out);
}

bool Restrictions::LookupText(UpgradePackage& package, std::string key, std::string& out) {
    return RestrictionFile::Read(package).LookupText(std::move(key), out);
}

std::vector<KeyLine> Restrictions::KeyLines(UpgradePackage& package, std::string key) {
    return RestrictionFile::Read(package).KeyLines(std::move(key));
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
