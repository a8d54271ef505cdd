// upgradectl check PKG [--strict]: the package check alone, without a
// network or a device.

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

#include "package/member_rules.h"
#include "package/package_check.h"
#include "package/script_interpreter.h"
#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/device_listing.h"
#include "app/exit_codes.h"
#include "tools/upgradectl/findings_output.h"
#include "tools/upgradectl/interrupt_cleanup.h"
#include "tools/upgradectl/json_output.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

struct CheckArgs {
    std::string package;
    bool strict = false;
};

std::size_t CountOf(const PackageCheck& check, FindingLevel level) {
    std::size_t count = 0;
    for (const Finding& finding : check.findings) count += finding.level == level ? 1 : 0;
    return count;
}

// Where each READ writes: a run of several devices gives each a file of its own.
void PrintReads(const PackageCheck& check) {
    for (const PlannedCommand& planned : check.plan) {
        if (planned.readOutput.empty()) continue;
        const std::string name = planned.readOutput.filename().string();
        std::cerr << PrintableText(std::string(SCRIPT_MEMBER) + ":" + std::to_string(planned.line) +
                                   ": READ writes " + planned.readOutput.string() +
                                   "; with more than one device one file per device, " +
                                   TaggedReadName(name, "-<MAC>"))
                  << '\n';
    }
}

void PrintSummary(const std::string& packagePath, const PackageCheck& check) {
    PrintFindings(std::cerr, check);
    PrintReads(check);
    // A signature that refuses or warns is among the findings already.
    if (check.signature && check.signature->reason.empty())
        std::cerr << "signature: " << PrintableText(SignatureLine(*check.signature)) << '\n';
    const std::size_t errors = CountOf(check, FindingLevel::Error);
    const std::size_t warnings = CountOf(check, FindingLevel::Warning);
    std::cerr << PrintableText(packagePath) << ": " << errors << (errors == 1 ? " error, " : " errors, ")
              << warnings << (warnings == 1 ? " warning\n" : " warnings\n");
}

int RunCheck(const GlobalOptions& global, const CheckArgs& args) {
    InterruptCleanup cleanup;
    UpgradePackage package;
    std::string error;
    PackageCheck check;
    if (!OpenChecked(args.package, package, TrustOptionsOf(global), check, error))
        return FailBeforeWork(global.json, error, EXIT_USAGE);
    cleanup.Add(package.PrivateFolder());
    if (global.json)
        PrintJson(FindingsJson(check));
    else
        PrintSummary(args.package, check);
    const bool refused = check.HasErrors() || (args.strict && check.HasWarnings());
    return refused ? EXIT_USAGE : EXIT_DONE;
}

}  // namespace

Command AddCheckCommand(CLI::App& app, const GlobalOptions& global) {
    auto* sub = app.add_subcommand("check", "Check a package without touching the network");
    auto args = std::make_shared<CheckArgs>();
    sub->add_option("PKG", args->package, "The upgrade package (.upk)")->required();
    sub->add_flag("--strict", args->strict, "Warnings fail the check too (exit 2)");
    return {sub, [&global, args] { return RunCheck(global, *args); }};
}

}  // namespace quorvane::cli
