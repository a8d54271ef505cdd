// upgradectl pack: building a package from files. The package is written
// beside OUT, checked as any package is before it is used, and renamed over
// OUT only then: a failed or refused pack leaves an existing OUT as it was.

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
#include "package/package_check.h"
#include "package/package_writer.h"
#include "package/upgrade_package.h"
#include "res/string_table.h"
#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/findings_output.h"
#include "tools/upgradectl/interrupt_cleanup.h"
#include "tools/upgradectl/json_output.h"
#include "tools/upgradectl/replacement_file.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

namespace fs = std::filesystem;

struct PackArgs {
    std::string output;
    std::string script;
    std::string restrictions;
    std::vector<std::string> dataFiles;
    bool force = false;
};

// A member that a reader could never reach (one whose key another member
// has is shadowed by it) or never write back out is refused.
bool AcceptMemberName(const std::string& name, std::set<std::string>& taken, std::string& error) {
    if (!IsAcceptedMemberName(name)) {
        error = Said("'" + PrintableText(name) + "' cannot be a member name");
        return false;
    }
    if (!taken.insert(MemberKey(name)).second) {
        error = Said("a member named '" + PrintableText(name) + "' is already in the package");
        return false;
    }
    return true;
}

// The package must not replace one of the files it is made from.
bool OutputIsAnInput(const std::string& output, const std::vector<std::string>& inputs, std::string& error) {
    for (const auto& input : inputs) {
        std::error_code ignored;
        if (fs::equivalent(output, input, ignored)) {
            error = Said(PrintableText(output) + " is also an input file");
            return true;
        }
    }
    return false;
}

bool AddSource(const std::string& path, MemberSource source, std::vector<MemberSource>& sources,
               std::string& error) {
    const SourceProblem problem = source.Open(path);
    const std::string shown = PrintableText(path);
    switch (problem) {
        case SourceProblem::None:
            sources.push_back(std::move(source));
            return true;
        case SourceProblem::CannotOpen:
            error = Said("cannot read " + shown + ": " + std::strerror(errno));
            break;
        case SourceProblem::NotRegularFile:
            error = Said(shown + " is not a regular file");
            break;
        case SourceProblem::TooLarge:
            error = Said(shown + " is too large for a package member (" +
                         std::to_string(MEMBER_DATA_LIMIT >> 20) + " MiB or more)");
            break;
    }
    return false;
}

// Every input is opened and measured before a byte is written.
bool OpenSources(const PackArgs& args, std::vector<MemberSource>& sources, std::string& error) {
    if (!AddSource(args.script, MemberSource(SCRIPT_MEMBER, IsScrambledMember(SCRIPT_MEMBER)), sources,
                   error) ||
        !AddSource(args.restrictions, MemberSource(RESTRICTION_MEMBER, IsScrambledMember(RESTRICTION_MEMBER)),
                   sources, error))
        return false;
    std::set<std::string> taken{MemberKey(SCRIPT_MEMBER), MemberKey(RESTRICTION_MEMBER)};
    for (const auto& file : args.dataFiles) {
        const std::string name = fs::path(file).filename().string();
        if (!AcceptMemberName(name, taken, error) ||
            !AddSource(file, MemberSource(name, IsScrambledMember(name)), sources, error))
            return false;
    }
    return true;
}

bool WriteTemporary(ReplacementFile& file, const std::vector<MemberSource>& sources,
                    const std::string& output, InterruptCleanup& cleanup, std::string& error) {
    const bool created = file.Create();
    cleanup.Add(file.TemporaryPath());
    if (!created) {
        error = Said("cannot create a file beside " + PrintableText(output) + ": " + std::strerror(errno));
        return false;
    }
    errno = 0;
    if (StreamPackage(file.Descriptor(), sources) && file.Finish()) return true;
    // A source that ends early sets no error of its own: it shrank while read.
    const char* reason = errno != 0 ? std::strerror(errno) : "an input file changed while it was read";
    error = Said("cannot write " + PrintableText(output) + ": " + reason);
    return false;
}

// The written package is opened and checked as every run checks it; READ
// output would go beside OUT.
bool PassesCheck(const ReplacementFile& file, const PackArgs& args, InterruptCleanup& cleanup,
                 std::string& error) {
    UpgradePackage package;
    const bool opened = package.Open(file.TemporaryPath());
    cleanup.Add(package.PrivateFolder());
    if (!opened) {
        error = LoadString(IDS_INVALID_PACKAGE) + ": " + PrintableText(args.output);
        return false;
    }
    // READ output goes beside OUT, and a READ onto OUT itself is caught too.
    std::error_code failed;
    fs::path output = fs::absolute(args.output, failed);
    if (failed) output = args.output;  // the name as given still says where READ output goes
    const PackageCheck check = CheckPackage(package, output.parent_path(), output);
    package.Close();
    PrintFindings(std::cerr, check);
    const std::string shown = PrintableText(args.output);
    if (check.HasErrors()) {
        error = Said(shown + " not written: the package has errors");
        return false;
    }
    if (check.HasWarnings() && !args.force) {
        error = Said(shown + " not written: the package has warnings (--force writes it)");
        return false;
    }
    return true;
}

// What was written: the package and each member with the file it came from.
nlohmann::ordered_json PackReport(const PackArgs& args, const std::vector<MemberSource>& sources) {
    std::vector<std::string> inputs{args.script, args.restrictions};
    inputs.insert(inputs.end(), args.dataFiles.begin(), args.dataFiles.end());
    nlohmann::ordered_json members = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < sources.size(); ++i)
        members.push_back({{"name", sources[i].Name()}, {"size", sources[i].Size()}, {"source", inputs[i]}});
    std::error_code ignored;
    nlohmann::ordered_json report;
    report["output"] = args.output;
    report["size"] = fs::file_size(args.output, ignored);
    report["members"] = members;
    return report;
}

// A pack that fails leaves nothing behind, so every failure is one that
// came before any work as far as the caller can see.
int RunPack(const GlobalOptions& global, const PackArgs& args) {
    std::vector<std::string> inputs = args.dataFiles;
    inputs.push_back(args.script);
    inputs.push_back(args.restrictions);
    std::string error;
    std::vector<MemberSource> sources;
    // An empty name is no file at all: there would be nothing to write into.
    if (args.output.empty())
        return FailBeforeWork(global.json, Said("the output file name is empty"), EXIT_USAGE);
    if (OutputIsAnInput(args.output, inputs, error) || !OpenSources(args, sources, error))
        return FailBeforeWork(global.json, error, EXIT_USAGE);
    InterruptCleanup cleanup;
    ReplacementFile file(args.output);
    if (!WriteTemporary(file, sources, args.output, cleanup, error) ||
        !PassesCheck(file, args, cleanup, error))
        return FailBeforeWork(global.json, error, EXIT_USAGE);
    if (!file.Commit()) {
        const std::string reason = std::strerror(errno);
        return FailBeforeWork(global.json, Said("cannot write " + PrintableText(args.output) + ": " + reason),
                              EXIT_USAGE);
    }
    std::cerr << "Wrote " << PrintableText(args.output) << " (" << sources.size() << " members)\n";
    if (global.json) PrintJson(PackReport(args, sources));
    return EXIT_DONE;
}

}  // namespace

Command AddPackCommand(CLI::App& app, const GlobalOptions& global) {
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
    sub->add_flag("--force", args->force, "Write the package even when its check gives warnings");
    return {sub, [&global, args] { return RunPack(global, *args); }};
}

}  // namespace quorvane::cli
