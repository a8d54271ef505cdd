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
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/device_session.h"
#include "tools/upgradectl/exit_codes.h"
#include "tools/upgradectl/interrupt_cleanup.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

namespace fs = std::filesystem;

// Every member is checked before anything is written, so a package with a
// name that could leave the folder writes nothing at all.
bool AllNamesSafe(const std::vector<MemberInfo>& members) {
    bool safe = true;
    for (const auto& member : members) {
        if (IsSafeFileName(member.name)) continue;
        std::cerr << "upgradectl: refusing member name '" << PrintableText(member.name)
                  << "': not a plain file name\n";
        safe = false;
    }
    return safe;
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

// Extracts every member the walk found; false when one was lost.
bool ExtractAll(UpgradePackage& package, const std::vector<MemberInfo>& members, const fs::path& folder) {
    bool complete = true;
    std::set<std::string> seen;
    for (const auto& member : members) {
        const std::string shown = PrintableText(member.name);
        std::string upper = member.name;
        UpperAscii(upper);
        if (!seen.insert(upper).second) {
            std::cerr << "upgradectl: skipping '" << shown << "': shadowed by an earlier member\n";
            continue;
        }
        const bool scrambled = upper == RESTRICTION_FILE;
        const ExtractStatus status = package.ExtractMember(upper, folder / member.name, scrambled);
        if (status == ExtractStatus::Done) {
            std::cout << shown << '\n';
            continue;
        }
        std::cerr << "upgradectl: lost '" << shown << "': " << LossReason(status) << '\n';
        complete = false;
    }
    return complete;
}

int RunUnpack(const std::string& packagePath, const std::string& folder) {
    InterruptCleanup cleanup;
    UpgradePackage package;
    if (!OpenPackage(packagePath, package)) return EXIT_USAGE;
    cleanup.Add(package.PrivateFolder());
    const ContainerLayout layout = package.Layout();
    if (!AllNamesSafe(layout.members)) return EXIT_USAGE;
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        std::cerr << "upgradectl: cannot create " << PrintableText(folder) << ": " << error.message() << '\n';
        return EXIT_USAGE;
    }
    const bool complete = ExtractAll(package, layout.members, folder);
    const bool faults = ReportContainerFaults(layout, package.PackagePath());
    return complete && !faults ? EXIT_DONE : EXIT_USAGE;
}

}  // namespace

Command AddUnpackCommand(CLI::App& app) {
    auto* sub = app.add_subcommand("unpack", "Extract every member of a package into a folder");
    auto packagePath = std::make_shared<std::string>();
    auto folder = std::make_shared<std::string>();
    sub->add_option("PKG", *packagePath, "The upgrade package (.upk)")->required();
    sub->add_option("DIR", *folder, "The folder to write into (created when missing)")->required();
    return {sub, [packagePath, folder] { return RunUnpack(*packagePath, *folder); }};
}

}  // namespace quorvane::cli
