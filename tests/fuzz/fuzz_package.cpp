// The package container over hostile bytes: open, list, extract, close.
// The input is the package file. It lives in the scratch folder, which is
// also where the package makes its private work folder, so after Close the
// folder must hold the package file and nothing else.

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "package/text.h"
#include "package/upgrade_package.h"

using namespace quorvane;
using namespace quorvane::fuzz;

namespace {

constexpr std::size_t MAX_EXTRACTS = 4;
constexpr const char* PACKAGE_NAME = "fuzz.upk";
constexpr const char* LOOSE_OUTPUT = "loose.out";

// Names worth asking for: the first few members as stored and in lower
// case (lookups upper-case both sides), and two that must never match.
std::vector<std::string> NamesToExtract(const std::vector<MemberInfo>& members) {
    std::vector<std::string> names = {"../PROGRAM.CMD", ""};
    for (std::size_t i = 0; i < members.size() && i < MAX_EXTRACTS; ++i) {
        names.push_back(members[i].name);
        std::string lower = members[i].name;
        for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        names.push_back(lower);
    }
    return names;
}

void ExtractAll(UpgradePackage& package, const std::vector<MemberInfo>& members) {
    bool unscramble = false;
    for (std::string name : NamesToExtract(members)) {
        UpperAscii(name);
        // Unsafe names have no work file; their data goes to a fixed file of the scratch folder.
        auto output = package.WorkFile(name);
        if (output.empty()) output = ScratchFolder() / LOOSE_OUTPUT;
        const bool extracted = package.Extract(name, output, unscramble);
        if (extracted) FUZZ_CHECK(std::filesystem::exists(output));
        unscramble = !unscramble;
    }
    // Extracting onto the package itself must be refused, whatever the name.
    std::string script = SCRIPT_MEMBER;
    FUZZ_CHECK(!package.Extract(script, package.PackagePath(), false));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto packageFile = ScratchFolder() / PACKAGE_NAME;
    const std::vector<uint8_t> bytes(data, data + size);
    FUZZ_CHECK(WriteFile(packageFile, bytes));
    {
        UpgradePackage package;
        const bool opened = package.Open(packageFile);
        FUZZ_CHECK(opened == package.IsOpen());
        const auto members = package.Members();
        for (const MemberInfo& member : members) FUZZ_CHECK(member.name.size() <= MAX_MEMBER_NAME);
        if (opened) {
            // The private work folder lies in the scratch folder, never elsewhere.
            FUZZ_CHECK(package.WorkFile("PROGRAM.CMD").parent_path().parent_path() == ScratchFolder());
            ExtractAll(package, members);
        }
        package.Close();
        FUZZ_CHECK(!package.IsOpen());
    }
    // The package file itself is never written, and the work folder is gone.
    std::error_code error;
    FUZZ_CHECK(std::filesystem::file_size(packageFile, error) == size);
    std::filesystem::remove(ScratchFolder() / LOOSE_OUTPUT, error);
    FUZZ_CHECK(ScratchEntries() == std::vector<std::string>{PACKAGE_NAME});
    return 0;
}
