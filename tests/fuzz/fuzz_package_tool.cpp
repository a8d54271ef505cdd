// upgradectl's package commands on files. The input, taken as a package
// file, goes through inspect (text and JSON) and unpack, which must leave it
// as it was. Cut into sections, it is also packed: a package that pack wrote
// unpacks to the very files it was made from.
//
// Sections: script text, "%%", restriction text, "%%", a data file's name on
// one line then its bytes.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_cli.h"
#include "fuzz/fuzz_support.h"
#include "package/upgrade_package.h"

using namespace quorvane;
using namespace quorvane::fuzz;
namespace fs = std::filesystem;

namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Files by their names in the scratch folder, where the commands run.
std::string ReadFile(const fs::path& name) {
    std::ifstream in(ScratchFolder() / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Reading a package never changes it.
void ReadAsPackage(std::span<const uint8_t> input) {
    const std::string original(reinterpret_cast<const char*>(input.data()), input.size());
    FUZZ_CHECK(WriteFile(ScratchFolder() / "in.upk", input));
    RunUpgradectl({"inspect", "in.upk"});
    RunUpgradectl({"inspect", "--json", "in.upk"});
    RunUpgradectl({"unpack", "in.upk", "from-input"});
    FUZZ_CHECK(ReadFile("in.upk") == original);
}

// A data file name pack accepts and that leaves the standard members alone.
bool UsableDataName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return IsSafeFileName(name) && name.size() <= MAX_MEMBER_NAME && upper != SCRIPT_FILE &&
           upper != RESTRICTION_FILE && upper != "OUT.UPK" && upper != "IN.UPK" && upper != "UNPACKED" &&
           upper != "FROM-INPUT" && upper != "SCRIPT" && upper != "RESTRICTIONS" && name[0] != '-';
}

void PackAndUnpack(std::span<const uint8_t> input) {
    const auto sections = SplitSections(input, 3);
    const auto cut = sections[2].find('\n');
    const std::string name(sections[2].substr(0, cut));
    const std::string_view data =
        cut == std::string_view::npos ? std::string_view() : sections[2].substr(cut + 1);
    if (!UsableDataName(name)) return;
    FUZZ_CHECK(WriteFile(ScratchFolder() / "script", Bytes(sections[0])));
    FUZZ_CHECK(WriteFile(ScratchFolder() / "restrictions", Bytes(sections[1])));
    FUZZ_CHECK(WriteFile(ScratchFolder() / name, Bytes(data)));
    if (RunUpgradectl({"pack", "--force", "--script", "script", "--restrictions", "restrictions", "out.upk",
                       name.c_str()}) != 0)
        return;
    FUZZ_CHECK(RunUpgradectl({"unpack", "out.upk", "unpacked"}) == 0);
    FUZZ_CHECK(ReadFile("unpacked/program.cmd") == sections[0]);
    FUZZ_CHECK(ReadFile("unpacked/restriction.ini") == sections[1]);
    FUZZ_CHECK(ReadFile(fs::path("unpacked") / name) == data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadAsPackage({data, size});
    PackAndUnpack({data, size});
    EmptyScratchFolder();
    return 0;
}
