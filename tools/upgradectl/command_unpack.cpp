// upgradectl unpack PKG DIR: every member of a package into a folder. A
// damaged container still gives up the members in front of the damage; the
// messages say what was lost and the exit code that something was.

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "package/member_rules.h"
#include "package/package_writer.h"
#include "package/upgrade_package.h"
#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/device_listing.h"
#include "tools/upgradectl/interrupt_cleanup.h"
#include "tools/upgradectl/json_output.h"
#include "tools/upgradectl/replacement_file.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

namespace fs = std::filesystem;

// Every member is checked before anything is written, so a package with a
// name that could leave the folder writes nothing at all.
// The lines for stderr, one per refused name; none when all are safe.
std::vector<std::string> UnsafeNames(const std::vector<MemberInfo>& members) {
    std::vector<std::string> lines;
    for (const auto& member : members)
        if (!IsAcceptedMemberName(member.name))
            lines.push_back(
                Said("refusing member name '" + PrintableText(member.name) + "': not a plain file name"));
    return lines;
}

// What the walk through the container could not reach. True when something
// was lost.
bool ReportContainerFaults(const ContainerLayout& layout, const fs::path& packagePath) {
    std::error_code error;
    const auto fileSize = static_cast<int64_t>(fs::file_size(packagePath, error));
    if (layout.faultOffset >= 0 && fileSize - layout.faultOffset < 4) {
        std::cerr << MESSAGE_PREFIX << "the package ends at byte " << layout.faultOffset
                  << " without its end marker: members may be missing\n";
    } else if (layout.faultOffset >= 0) {
        std::cerr << MESSAGE_PREFIX << "the member at byte " << layout.faultOffset
                  << " is damaged: it and every member after it could not be read\n";
    }
    if (layout.membersAfterEnd)
        std::cerr << MESSAGE_PREFIX
                  << "members follow the end marker: no reader sees them, and they were not "
                     "extracted\n";
    return layout.faultOffset >= 0 || layout.membersAfterEnd;
}

// Why a member's data could not be read from the package.
std::string ReadLoss(ExtractStatus status) {
    if (status == ExtractStatus::TooLarge)
        return "its data is " + std::to_string(MEMBER_DATA_LIMIT >> 20) + " MiB or more";
    return "it could not be read";
}

std::string WriteLoss(const std::string& why) {
    return "it could not be written: " + why;
}

// Puts `data` in a new file beside `path` and renames it over `path`: a link
// planted at the name (symbolic or hard) is replaced, and the file it points
// to is never opened. The system's reason when that fails, else empty.
std::string PlaceData(const fs::path& path, const std::string& data, InterruptCleanup& cleanup) {
    ReplacementFile file(path);
    const bool created = file.Create();
    cleanup.Add(file.TemporaryPath());
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    if (created && WriteAll(file.Descriptor(), bytes, data.size()) && file.Finish() && file.Commit())
        return {};
    return std::strerror(errno);
}

// Writes one member (below the data limit, so it is read whole) to `path`.
// Why it was lost, or empty when it was written.
std::string WriteMember(UpgradePackage& package, const std::string& upperName, const fs::path& path,
                        InterruptCleanup& cleanup) {
    // The rename would put the member where the package being read now lies.
    if (package.IsPackageFile(path)) return WriteLoss("it is the package itself");
    std::string data;
    const ExtractStatus status = package.ReadMemberData(upperName, data, IsScrambledMember(upperName));
    if (status != ExtractStatus::Done) return ReadLoss(status);
    const std::string failed = PlaceData(path, data, cleanup);
    return failed.empty() ? failed : WriteLoss(failed);
}

// What became of each member, for the JSON report.
struct Extracted {
    nlohmann::ordered_json written = nlohmann::ordered_json::array();
    nlohmann::ordered_json skipped = nlohmann::ordered_json::array();
    nlohmann::ordered_json lost = nlohmann::ordered_json::array();
};

// Extracts every member the walk found, naming each written one on stdout
// unless `json`; false when one was lost.
bool ExtractAll(UpgradePackage& package, const std::vector<MemberInfo>& members, const fs::path& folder,
                bool json, InterruptCleanup& cleanup, Extracted& report) {
    bool complete = true;
    std::set<std::string> seen;
    for (const auto& member : members) {
        const std::string shown = PrintableText(member.name);
        const std::string upper = MemberKey(member.name);
        if (!seen.insert(upper).second) {
            std::cerr << MESSAGE_PREFIX << "skipping '" << shown << "': shadowed by an earlier member\n";
            report.skipped.push_back({{"name", member.name}, {"reason", "shadowed by an earlier member"}});
            continue;
        }
        const fs::path path = folder / member.name;
        const std::string lost = WriteMember(package, upper, path, cleanup);
        if (lost.empty()) {
            if (!json) std::cout << shown << '\n';
            report.written.push_back({{"name", member.name}, {"size", member.size}, {"path", path.string()}});
            continue;
        }
        std::cerr << MESSAGE_PREFIX << "lost '" << shown << "': " << lost << '\n';
        report.lost.push_back({{"name", member.name}, {"reason", lost}});
        complete = false;
    }
    return complete;
}

void PrintUnpackJson(const std::string& packagePath, const std::string& folder, const Extracted& extracted,
                     bool complete) {
    nlohmann::ordered_json report;
    report["package"] = packagePath;
    report["folder"] = folder;
    report["members"] = extracted.written;
    if (!extracted.skipped.empty()) report["skipped"] = extracted.skipped;
    if (!extracted.lost.empty()) report["lost"] = extracted.lost;
    report["complete"] = complete;
    PrintJson(report);
}

int RunUnpack(const GlobalOptions& global, const std::string& packagePath, const std::string& folder) {
    // An empty name is no folder at all; said before the package is even opened.
    if (folder.empty())
        return FailBeforeWork(global.json, Said("the output folder name is empty"), EXIT_USAGE);
    InterruptCleanup cleanup;
    UpgradePackage package;
    std::string error;
    if (!OpenPackage(packagePath, package, error)) return FailBeforeWork(global.json, error, EXIT_USAGE);
    cleanup.Add(package.PrivateFolder());
    const ContainerLayout layout = package.Layout();
    if (const auto refused = UnsafeNames(layout.members); !refused.empty()) {
        FailBeforeWork(global.json, refused.front(), EXIT_USAGE);
        for (std::size_t i = 1; i < refused.size(); ++i) std::cerr << refused[i] << '\n';
        return EXIT_USAGE;
    }
    std::error_code created;
    fs::create_directories(folder, created);
    if (created)
        return FailBeforeWork(global.json,
                              Said("cannot create " + PrintableText(folder) + ": " + created.message()),
                              EXIT_USAGE);
    Extracted extracted;
    const bool complete = ExtractAll(package, layout.members, folder, global.json, cleanup, extracted);
    const bool faults = ReportContainerFaults(layout, package.PackagePath());
    if (global.json) PrintUnpackJson(packagePath, folder, extracted, complete && !faults);
    return complete && !faults ? EXIT_DONE : EXIT_USAGE;
}

}  // namespace

Command AddUnpackCommand(CLI::App& app, const GlobalOptions& global) {
    auto* sub = app.add_subcommand("unpack", "Extract every member of a package into a folder");
    auto packagePath = std::make_shared<std::string>();
    auto folder = std::make_shared<std::string>();
    sub->add_option("PKG", *packagePath, "The upgrade package (.upk)")->required();
    sub->add_option("DIR", *folder, "The folder to write into (created when missing)")->required();
    return {sub, [&global, packagePath, folder] { return RunUnpack(global, *packagePath, *folder); }};
}

}  // namespace quorvane::cli
