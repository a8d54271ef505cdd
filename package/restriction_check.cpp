#include "package/restriction_check.h"

#include <string>

#include "package/line_reader.h"
#include "package/restrictions.h"
#include "package/upgrade_package.h"
#include "protocol/mac_text.h"

namespace quorvane {
namespace {

void Warn(std::vector<Finding>& findings, int line, std::string text) {
    findings.push_back({FindingLevel::Warning, RESTRICTION_MEMBER, line, std::move(text)});
}

void CheckDeviceIds(const KeyLine& line, std::vector<Finding>& findings) {
    std::size_t count = 0;
    std::size_t start = 0;
    const std::string list = line.value + ',';
    for (std::size_t comma = list.find(','); comma != std::string::npos; comma = list.find(',', start)) {
        const std::string item = list.substr(start, comma - start);
        if (++count <= DEVICEID_CAPACITY && !IsWholeNumber(item))
            Warn(findings, line.line, "DEVICEID item '" + item + "' is not a number; it reads as 0");
        start = comma + 1;
    }
    if (count > DEVICEID_CAPACITY)
        Warn(findings, line.line,
             "DEVICEID lists " + std::to_string(count) + " ids; only the first " +
                 std::to_string(DEVICEID_CAPACITY) + " are used");
}

// The value of the line that counts.
void CheckValue(const RestrictionKey& key, const KeyLine& line, std::vector<Finding>& findings) {
    const std::string name = key.name;
    if (key.number && !IsWholeNumber(line.value))
        Warn(findings, line.line, name + " value '" + line.value + "' is not a number");
    if (name == "DEVICEID") CheckDeviceIds(line, findings);
    MacAddress ignored{};
    if (name == "MAC" && !ParseMacText(line.value, ignored))
        Warn(findings, line.line,
             "MAC value '" + line.value + "' is not six hexadecimal byte values joined by ':' or '-'");
}

void CheckKey(const RestrictionFile& file, const RestrictionKey& key, std::vector<Finding>& findings) {
    const std::string name = key.name;
    const std::vector<KeyLine> lines = file.KeyLines(key.name);
    const KeyLine* counted = nullptr;
    for (const KeyLine& line : lines) {
        if (!line.Counts())
            Warn(findings, line.line,
                 name + " line ignored: it must hold the key and one value, separated by a single space");
        else if (counted != nullptr)
            Warn(findings, line.line,
                 name + " line ignored: the one on line " + std::to_string(counted->line) + " counts");
        else
            CheckValue(key, line, findings);
        if (line.Counts() && counted == nullptr) counted = &line;
    }
    if (counted != nullptr) return;
    if (key.required)
        Warn(findings, 0, "no valid " + name + " line: the package admits no device");
    else if (key.voidAdmitsNone && !lines.empty())
        Warn(findings, 0, name + " is given but no " + name + " line is valid: the package admits no device");
}

}  // namespace

void CheckRestrictionFile(UpgradePackage& package, std::vector<Finding>& findings) {
    const RestrictionFile file = RestrictionFile::Read(package);
    for (const RestrictionKey& key : RESTRICTION_KEYS) CheckKey(file, key, findings);
}

}  // namespace quorvane
