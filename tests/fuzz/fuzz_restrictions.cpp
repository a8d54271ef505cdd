// The restriction file on its own, read through an open package whose
// extracted copy is replaced by the input, once per reading as an admission
// pass reads it. Every key is read once from the
// text with line feeds and once with carriage return and line feed: the
// values, the key lines and the check's findings must be the same. A key is
// found the same whatever its case and surrounding spaces.

#include <string>
#include <tuple>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "package/package_check.h"
#include "package/package_writer.h"
#include "package/restriction_check.h"
#include "package/restrictions.h"
#include "package/upgrade_package.h"

using namespace quorvane;
using namespace quorvane::fuzz;

namespace {

// Everything a pass and the check learn from the file.
struct Reading {
    std::vector<std::tuple<bool, uint16_t, std::string>> values;
    std::vector<std::tuple<int, uint8_t, std::string>> keyLines;
    std::vector<std::tuple<int, int, std::string>> findings;

    bool operator==(const Reading&) const = default;
};

UpgradePackage& OpenPackage() {
    static UpgradePackage package;
    if (!package.IsOpen()) {
        const auto file = ScratchFolder() / "restrictions.upk";
        FUZZ_CHECK(WritePackage(file, StandardMembers("RESET\n", "DEFAULT 0\n", {})));
        FUZZ_CHECK(package.Open(file));
    }
    return package;
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

Reading Read(UpgradePackage& package, const std::string& text) {
    const auto path = package.WorkFile(RESTRICTION_FILE);
    FUZZ_CHECK(WriteFile(path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}));
    // Read once, as an admission pass reads it: every lookup below asks the same reading.
    const RestrictionFile file = RestrictionFile::Read(package);
    FUZZ_CHECK(file.Readable());
    Reading reading;
    for (const auto& key : RESTRICTION_KEYS) {
        uint16_t number = 0;
        std::string value;
        const bool found = key.number ? file.LookupNumber(key.name, number) : file.LookupText(key.name, value);
        reading.values.emplace_back(found, number, value);
        uint16_t again = 0;
        std::string valueAgain;
        const bool foundAgain = key.number ? file.LookupNumber(" " + Lower(key.name) + " ", again)
                                           : file.LookupText(Lower(key.name), valueAgain);
        FUZZ_CHECK(foundAgain == found && again == number && valueAgain == value);
        for (const auto& line : file.KeyLines(key.name)) {
            FUZZ_CHECK(line.line >= 1);
            reading.keyLines.emplace_back(line.line, line.tokens, line.value);
        }
    }
    std::vector<Finding> findings;
    CheckRestrictionFile(package, findings);
    for (const auto& finding : findings)
        reading.findings.emplace_back(static_cast<int>(finding.level), finding.line, finding.text);
    return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string lineFeeds;
    std::string carriageReturns;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\r') continue;
        if (c == '\n') carriageReturns += '\r';
        lineFeeds += c;
        carriageReturns += c;
    }
    UpgradePackage& package = OpenPackage();
    FUZZ_CHECK(Read(package, lineFeeds) == Read(package, carriageReturns));
    return 0;
}
