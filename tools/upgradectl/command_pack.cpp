// upgradectl pack / unpack: building a package from files and taking one apart.

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "package/text.h"
#include "package/upgrade_package.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/device_session.h"
#include "tools/upgradectl/exit_codes.h"

namespace quorvane::cli {
namespace {

namespace fs = std::filesystem;

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "upgradectl: cannot read " << path.string() << '\n';
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (out.size() >= MEMBER_DATA_LIMIT) {
        std::cerr << "upgradectl: " << path.string() << " is too large for a package member\n";
        return false;
    }
    return true;
}

// A member that a reader could never reach (a second one of the same name,
// case ignored, is shadowed by the first) or never write back out is refused.
bool AcceptMemberName(const std::string& name, std::set<std::string>& taken) {
    std::string upper = name;
    UpperAscii(upper);
    if (!IsSafeFileName(name) || name.size() > MAX_MEMBER_NAME) {
        std::cerr << "upgradectl: '" << name << "' cannot be a member name\n";
        return false;
    }
    if (!taken.insert(upper).second) {
        std::cerr << "upgradectl: a member named '" << name << "' is already in the package\n";
        return false;
    }
    return true;
}

// The package must not replace one of the files it is made from.
bool OutputIsAnInput(const std::string& output, const std::vector<std::string>& inputs) {
    for (const auto& input : inputs) {
        std::error_code ignored;
        if (fs::equivalent(output, input, ignored)) {
            std::cerr << "upgradectl: " << output << " is also an input file\n";
            return true;
        }
    }
    return false;
}

struct PackArgs {
    std::string output;
    std::string script;
    std::string restrictions;
    std::vector<std::string> dataFiles;
};

int RunPack(const PackArgs& args) {
    std::vector<std::string> inputs = args.dataFiles;
    inputs.push_back(args.script);
    inputs.push_back(args.restrictions);
    if (OutputIsAnInput(args.output, inputs)) return EXIT_USAGE;
    std::vector<uint8_t> script;
    std::vector<uint8_t> restrictions;
    if (!ReadWholeFile(args.script, script) || !ReadWholeFile(args.restrictions, restrictions))
        return EXIT_USAGE;
    std::set<std::string> taken{"PROGRAM.CMD", "RESTRICTION.INI"};
    std::vector<PackageMember> data;
    for (const auto& file : args.dataFiles) {
        PackageMember member;
        member.name = fs::path(file).filename().string();
        if (!AcceptMemberName(member.name, taken) || !ReadWholeFile(file, member.data)) return EXIT_USAGE;
        data.push_back(std::move(member));
    }
    const auto members =
        StandardMembers(std::string(script.begin(), script.end()),
                        std::string(restrictions.begin(), restrictions.end()), std::move(data));
    if (!WritePackage(args.output, members)) {
        std::cerr << "upgradectl: cannot write " << args.output << '\n';
        return EXIT_USAGE;
    }
    std::cerr << "Wrote " << args.output << " (" << members.size() << " members)\n";
    return EXIT_DONE;
}

// Every member is checked before anything is written, so a package with a
// name that could leave the folder writes nothing at all.
bool AllNamesSafe(const std::vector<MemberInfo>& members) {
    bool safe = true;
    for (const auto& member : members) {
        if (IsSafeFileName(member.name)) continue;
        std::cerr << "upgradectl: refusing member name '" << member.name << "': not a plain file name\n";
        safe = false;
    }
    return safe;
}

int RunUnpack(const std::string& packagePath, const std::string& folder) {
    UpgradePackage package;
    if (!OpenPackage(packagePath, package)) return EXIT_USAGE;
    const auto members = package.Members();
    if (!AllNamesSafe(members)) return EXIT_USAGE;
    std::error_code error;
    fs::create_directories(folder, error);
    std::set<std::string> seen;
    for (const auto& member : members) {
        std::string upper = member.name;
        UpperAscii(upper);
        if (!seen.insert(upper).second) {
            std::cerr << "upgradectl: skipping '" << member.name << "': shadowed by an earlier member\n";
            continue;
        }
        const bool scrambled = upper == "RESTRICTION.INI";
        if (!package.Extract(upper, fs::path(folder) / member.name, scrambled)) {
            std::cerr << "upgradectl: cannot extract '" << member.name << "' into " << folder << '\n';
            return EXIT_USAGE;
        }
        std::cout << member.name << '\n';
    }
    return EXIT_DONE;
}

}  // namespace

Command AddPackCommand(CLI::App& app) {
    auto* sub =
        app.add_subcommand("pack", "Build an upgrade package from a script, restrictions and data files");
    auto args = std::make_shared<PackArgs>();
    sub->add_option("OUT", args->output, "The package file to write (.upk)")->required();
    sub->add_option("--script", args->script, "The upgrade script, stored as program.cmd")
        ->required()
        ->check(CLI::ExistingFile);
    sub->add_option("--restrictions", args->restrictions, "The restriction keys, stored as restriction.ini")
        ->required()
        ->check(CLI::ExistingFile);
    sub->add_option("DATAFILE", args->dataFiles, "Data files, each stored under its base name")
        ->check(CLI::ExistingFile);
    return {sub, [args] { return RunPack(*args); }};
}

Command AddUnpackCommand(CLI::App& app) {
    auto* sub = app.add_subcommand("unpack", "Extract every member of a package into a folder");
    auto packagePath = std::make_shared<std::string>();
    auto folder = std::make_shared<std::string>();
    sub->add_option("PKG", *packagePath, "The upgrade package (.upk)")->required();
    sub->add_option("DIR", *folder, "The folder to write into (created when missing)")->required();
    return {sub, [packagePath, folder] { return RunUnpack(*packagePath, *folder); }};
}

}  // namespace quorvane::cli
