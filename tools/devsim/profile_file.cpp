#include "tools/devsim/profile_file.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>

namespace quorvane::devsim {
namespace {

// Unsigned number with a 0x prefix for hexadecimal, otherwise decimal, within [0, max].
bool ParseNumber(const std::string& text, unsigned long max, unsigned long& out) {
    int base = 10;
    std::size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
    }
    unsigned long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data() + start, end, value, base);
    if (start == text.size() || ec != std::errc() || ptr != end || value > max) return false;
    out = value;
    return true;
}

template <typename T>
bool Number(const std::string& text, T& field, unsigned long max = 0xFFFF) {
    unsigned long value = 0;
    if (!ParseNumber(text, max, value)) return false;
    field = static_cast<T>(value);
    return true;
}

// "a<sep>b<sep>c" into three numbers.
bool Triple(const std::string& text, char sep, unsigned long (&parts)[3], const unsigned long (&max)[3]) {
    std::size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t at = (i < 2) ? text.find(sep, from) : text.size();
        if (at == std::string::npos) return false;
        if (!ParseNumber(text.substr(from, at - from), max[i], parts[i])) return false;
        from = at + 1;
    }
    return true;
}

bool Version(const std::string& text, DeviceProfile& p) {
    unsigned long parts[3];
    if (!Triple(text, '.', parts, {255, 255, 255})) return false;
    p.revisionId = static_cast<uint8_t>(parts[0]);
    p.versionSecond = static_cast<uint8_t>(parts[1]);
    p.versionThird = static_cast<uint8_t>(parts[2]);
    return true;
}

bool Date(const std::string& text, DeviceProfile& p) {
    unsigned long parts[3];
    if (!Triple(text, '/', parts, {0xFFFF, 255, 255})) return false;
    p.dateFirst = static_cast<uint16_t>(parts[0]);
    p.dateSecond = static_cast<uint8_t>(parts[1]);
    p.dateThird = static_cast<uint8_t>(parts[2]);
    return true;
}

bool FirmwareAfter(const std::string& text, DeviceProfile& p) {
    FirmwareRelease release;
    if (!ParseFirmwareRelease(text, release)) return false;
    p.firmwareAfter = release;
    return true;
}

bool Letters(const std::string& text, DeviceProfile& p) {
    if (text.size() > 3) return false;
    p.firmwareLetters = {' ', ' ', ' '};
    for (std::size_t i = 0; i < text.size(); ++i) p.firmwareLetters[i] = text[i];
    return true;
}

bool Text(const std::string& text, std::size_t room, std::string& field) {
    if (text.size() > room) return false;
    field = text;
    return true;
}

bool Info(const std::string& text, DeviceProfile& p) {
    static const std::map<std::string, InfoMode> modes{
        {"full", InfoMode::Full}, {"flag", InfoMode::FlagOnly}, {"empty", InfoMode::Empty}};
    auto it = modes.find(text);
    if (it == modes.end()) return false;
    p.infoMode = it->second;
    return true;
}

bool Clone(const std::string& text, DeviceProfile& p) {
    if (text != "yes" && text != "no") return false;
    p.clone = text == "yes";
    return true;
}

bool Discovery(const std::string& text, DeviceProfile& p) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    return Number(text.substr(0, comma), p.discoveryWord1) &&
           Number(text.substr(comma + 1), p.discoveryWord2);
}

using FieldSetter = std::function<bool(const std::string&, DeviceProfile&)>;

const std::map<std::string, FieldSetter>& Setters() {
    static const std::map<std::string, FieldSetter> setters{
        {"mac", [](const std::string& v, DeviceProfile& p) { return ParseMacText(v, p.mac); }},
        {"vendor", [](const std::string& v, DeviceProfile& p) { return Number(v, p.vendorId); }},
        {"device", [](const std::string& v, DeviceProfile& p) { return Number(v, p.deviceId); }},
        {"product", [](const std::string& v, DeviceProfile& p) { return Number(v, p.productId); }},
        {"revision", [](const std::string& v, DeviceProfile& p) { return Number(v, p.revisionId, 255); }},
        {"version", Version},
        {"date", Date},
        {"letters", Letters},
        {"firmware_after", FirmwareAfter},
        {"name", [](const std::string& v, DeviceProfile& p) { return Text(v, NAME_ROOM, p.name); }},
        {"workgroup",
         [](const std::string& v, DeviceProfile& p) { return Text(v, WORKGROUP_ROOM - 1, p.workgroup); }},
        {"block",
         [](const std::string& v, DeviceProfile& p) { return Number(v, p.blockSize) && p.blockSize > 0; }},
        {"flag", [](const std::string& v, DeviceProfile& p) { return Number(v, p.infoFlag, 255); }},
        {"info", Info},
        {"discovery", Discovery},
        {"clone", Clone},
    };
    return setters;
}

// Splits a line into key=value fields; false on an unterminated quote or a
// field without '='.
bool SplitFields(const std::string& line, std::vector<std::pair<std::string, std::string>>& fields,
                 std::string& error) {
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        if (line[i] == '#') break;
        const std::size_t eq = line.find('=', i);
        const std::size_t space = line.find_first_of(" \t", i);
        if (eq == std::string::npos || eq > space) {
            error = "field without '=': " + line.substr(i, space == std::string::npos ? space : space - i);
            return false;
        }
        std::string key = line.substr(i, eq - i);
        std::string value;
        i = eq + 1;
        if (i < line.size() && line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                error = "unterminated quote in " + key;
                return false;
            }
            value = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const std::size_t stop = line.find_first_of(" \t\r", i);
            value = line.substr(i, stop == std::string::npos ? std::string::npos : stop - i);
            i = (stop == std::string::npos) ? line.size() : stop;
        }
        fields.emplace_back(std::move(key), std::move(value));
    }
    return true;
}

}  // namespace

bool ParseFirmwareRelease(const std::string& text, FirmwareRelease& release) {
    const std::size_t space = text.find(' ');
    if (space == std::string::npos) return false;
    DeviceProfile fields;
    if (!Version(text.substr(0, space), fields) || !Date(text.substr(space + 1), fields)) return false;
    release = {fields.revisionId, fields.versionSecond, fields.versionThird,
               fields.dateFirst,  fields.dateSecond,    fields.dateThird};
    return true;
}

bool ApplyProfileField(const std::string& key, const std::string& value, DeviceProfile& profile,
                       std::string& error) {
    const auto& setters = Setters();
    auto it = setters.find(key);
    if (it == setters.end()) {
        error = "unknown key '" + key + "'";
        return false;
    }
    if (!it->second(value, profile)) {
        error = "bad value for " + key + ": '" + value + "'";
        return false;
    }
    return true;
}

bool ParseProfiles(std::istream& in, std::vector<DeviceProfile>& out, std::string& error,
                   uint16_t blockSize) {
    std::vector<DeviceProfile> profiles;
    std::map<MacAddress, int> macs;  // devices so far with each MAC
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::vector<std::pair<std::string, std::string>> fields;
        std::string problem;
        if (!SplitFields(line, fields, problem)) {
            error = "line " + std::to_string(number) + ": " + problem;
            return false;
        }
        if (fields.empty()) continue;
        DeviceProfile profile = DefaultProfiles(profiles.size() + 1).back();
        profile.blockSize = blockSize;
        for (const auto& [key, value] : fields) {
            if (!ApplyProfileField(key, value, profile, problem)) {
                error = "line " + std::to_string(number) + ": " + problem;
                return false;
            }
        }
        // A repeated MAC is a typo unless the line says it is a clone.
        int& sameMac = macs[profile.mac];
        if (sameMac > 0 && !profile.clone) {
            error = "line " + std::to_string(number) + ": MAC " + FormatMac(profile.mac) +
                    " used twice (clone=yes for a device that shares it)";
            return false;
        }
        profile.sameMacBefore = sameMac++;
        profiles.push_back(std::move(profile));
    }
    if (profiles.empty()) {
        error = "no device in the profile";
        return false;
    }
    out = std::move(profiles);
    return true;
}

bool LoadProfileFile(const std::string& path, std::vector<DeviceProfile>& out, std::string& error,
                     uint16_t blockSize) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot open profile " + path;
        return false;
    }
    return ParseProfiles(in, out, error, blockSize);
}

}  // namespace quorvane::devsim
