// upgradectl inspect PKG: what a package holds and what its check finds,
// without touching a device.

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "package/package_check.h"
#include "package/restrictions.h"
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

// In the order the admission pass reads them; text values are shown as written.
nlohmann::ordered_json RestrictionsJson(UpgradePackage& package) {
    nlohmann::ordered_json keys = nlohmann::ordered_json::object();
    for (const RestrictionKey& entry : RESTRICTION_KEYS) {
        if (!entry.number) {
            std::string value;
            if (Restrictions::LookupText(package, entry.name, value)) keys[entry.name] = value;
        } else {
            uint16_t value = 0;
            if (Restrictions::LookupNumber(package, entry.name, value)) keys[entry.name] = value;
        }
    }
    return keys;
}

// The script as stored, line by line, comments included.
nlohmann::ordered_json ScriptLines(const UpgradePackage& package) {
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    std::ifstream in(package.WorkFile(SCRIPT_FILE), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void PrintText(const nlohmann::ordered_json& report, const PackageCheck& check) {
    std::cout << "Members:\n";
    TextTable members({"Name", "Size"});
    for (const auto& member : report["members"])
        members.AddRow({member["name"].get<std::string>(), std::to_string(member["size"].get<uint32_t>())});
    members.Print(std::cout);
    std::cout << "\nRestrictions:\n";
    TextTable keys({"Key", "Value"});
    for (const auto& [key, value] : report["restrictions"].items()) {
        if (value.is_string()) {
            keys.AddRow({key, value.get<std::string>()});
        } else {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%04X", value.get<unsigned>());
            keys.AddRow({key, std::to_string(value.get<unsigned>()) + " (" + hex + ")"});
        }
    }
    keys.Print(std::cout);
    std::cout << "\nScript:\n";
    for (const auto& line : report["script"])
        std::cout << "  " << PrintableText(line.get<std::string>()) << '\n';
    if (check.signature) std::cout << "\nSignature:\n  " << PrintableText(SignatureLine(*check.signature)) << '\n';
    std::cout << "\nFindings:\n";
    if (check.findings.empty()) std::cout << "none\n";
    PrintFindings(std::cout, check);
}

int RunInspect(const GlobalOptions& global, const std::string& packagePath) {
    InterruptCleanup cleanup;
    UpgradePackage package;
    std::string error;
    // A package that opens is shown whatever its check finds, its signature
    // too: inspecting is how one learns what is wrong with it.
    PackageCheck check;
    if (!OpenChecked(packagePath, package, TrustOptionsOf(global), check, error))
        return FailBeforeWork(global.json, error, EXIT_USAGE);
    cleanup.Add(package.PrivateFolder());
    nlohmann::ordered_json report;
    report["members"] = nlohmann::ordered_json::array();
    for (const auto& member : package.Members())
        report["members"].push_back({{"name", member.name}, {"size", member.size}});
    report["restrictions"] = RestrictionsJson(package);
    report["script"] = ScriptLines(package);
    report["findings"] = FindingsJson(check);
    if (global.json)
        PrintJson(report);
    else
        PrintText(report, check);
    return EXIT_DONE;
}

}  // namespace

Command AddInspectCommand(CLI::App& app, const GlobalOptions& global) {
    auto* sub = app.add_subcommand("inspect", "Show a package's members, restriction keys and script");
    auto packagePath = std::make_shared<std::string>();
    sub->add_option("PKG", *packagePath, "The upgrade package (.upk)")->required();
    return {sub, [&global, packagePath] { return RunInspect(global, *packagePath); }};
}

}  // namespace quorvane::cli
