// upgradectl unpack PKG DIR: every member of a package into a folder. A
// damaged container still gives up the members in front of the damage; the
// messages say what was lost and the exit code that something was.

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "package/text.h"
#include "package/upgrade_package.h"
#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/device_session.h"
#include "app/exit_codes.h"
#include "tools/upgradectl/interrupt_cleanup.h"
#include "tools/upgradectl/json_output.h"
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
        if (!IsSafeFileName(member.name))
            lines.push_back("upgradectl: refusing member name '" + PrintableText(member.name) +
                            "': not a plain file name");
    return lines;
}

// What the walk through the container could not reach. True when something
// was lost.
bool ReportContainerFaults(const ContainerLayout& layout, const fs::path& packagePath) {
    std::error_code error;
    const auto fileSize = static_cast<int64_t>(fs::file_size(packagePath, error));
    if (layout.faultOffset >= 0 && fileSize - layout.faultOffset < 4) {
        std::cerr << "upgradectl: the package ends at byte " << layout.faultOffset
                  << " without its end marker: members may be missing\n";
    } else if (layout.faultOffset >= 0) {
        std::cerr << "upgradectl: the member at byte " << layout.faultOffset
                  << " is damaged: it and every member after it could not be read\n";
    }
    if (layout.membersAfterEnd)
        std::cerr << "upgradectl: members follow the end marker: no reader sees them, and they were not "
                     "extracted\n";
    return layout.faultOffset >= 0 || layout.membersAfterEnd;
}

std::string LossReason(ExtractStatus status) {
    switch (status) {
        case ExtractStatus::TooLarge:
            return "its data is " + std::to_string(MEMBER_DATA_LIMIT >> 20) + " MiB or more";
        case ExtractStatus::WriteFailed:
            return "it could not be written";
        default:
            return "it could not be read";
    }
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
                bool json, Extracted& report) {
    bool complete = true;
    std::set<std::string> seen;
    for (const auto& member : members) {
        const std::string shown = PrintableText(member.name);
        std::string upper = member.name;
        UpperAscii(upper);
        if (!seen.insert(upper).second) {
            std::cerr << "upgradectl: skipping '" << shown << "': shadowed by an earlier member\n";
            report.skipped.push_back({{"name", member.name}, {"reason", "shadowed by an earlier member"}});
            continue;
        }
        const bool scrambled = upper == RESTRICTION_FILE;
        const fs::path path = folder / member.name;
        const ExtractStatus status = package.ExtractMember(upper, path, scrambled);
        if (status == ExtractStatus::Done) {
            if (!json) std::cout << shown << '\n';
            report.written.push_back({{"name", member.name}, {"size", member.size}, {"path", path.string()}});
            continue;
        }
        std::cerr << "upgradectl: lost '" << shown << "': " << LossReason(status) << '\n';
        report.lost.push_back({{"name", member.name}, {"reason", LossReason(status)}});
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
    if (folder.empty()) return FailBeforeWork(global.json, "upgradectl: the output folder name is empty", EXIT_USAGE);
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
                              "upgradectl: cannot create " + PrintableText(folder) + ": " + created.message(),
                              EXIT_USAGE);
    Extracted extracted;
    const bool complete = ExtractAll(package, layout.members, folder, global.json, extracted);
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
