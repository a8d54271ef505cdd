// upgradectl upgrade PKG (--mac MAC ... | --all): the admission pass, then
// the upgrade command over the chosen admitted devices.

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/upgrade_command.h"
#include "package/restrictions.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/device_session.h"
#include "tools/upgradectl/exit_codes.h"
#include "tools/upgradectl/json_output.h"
#include "protocol/mac_text.h"
#include "tools/upgradectl/upgrade_monitor.h"

namespace quorvane::cli {
namespace {

struct UpgradeArgs {
    std::vector<std::string> positionals;  // the package, and MACs listed after one --mac
    std::string package;
    std::vector<std::string> macs;
    bool all = false;
    bool yes = false;
    int retries = 0;
    int expected = 0;
};

bool ParseMacs(const std::vector<std::string>& texts, std::vector<MacAddress>& out) {
    for (const auto& text : texts) {
        MacAddress mac{};
        if (!ParseMacText(text, mac)) {
            std::cerr << "upgradectl: '" << text << "' is not a MAC address (aa:bb:cc:dd:ee:ff)\n";
            return false;
        }
        out.push_back(mac);
    }
    return true;
}

// The admitted devices with the wanted MACs, in admission order (so a MAC
// given twice still upgrades its device once). False when a MAC names no
// admitted device: upgrading only part of what was asked for is worse than
// upgrading nothing.
bool SelectDevices(const std::vector<DeviceRecord*>& admitted, const std::vector<MacAddress>& wanted,
                   std::vector<DeviceRecord*>& selected) {
    bool allFound = true;
    for (const auto& mac : wanted) {
        bool found = false;
        for (const DeviceRecord* record : admitted) found = found || record->mac == mac;
        if (!found)
            std::cerr << "upgradectl: no admitted device has the MAC address " << FormatMac(mac) << '\n';
        allFound = allFound && found;
    }
    if (!allFound) return false;
    for (DeviceRecord* record : admitted)
        for (const auto& mac : wanted)
            if (record->mac == mac) {
                selected.push_back(record);
                break;
            }
    return true;
}

int ExitCodeOf(const UpgradeOutcome& outcome) {
    switch (outcome.stop) {
        case UpgradeOutcome::Stop::None:
            return outcome.failed > 0 ? EXIT_SCRIPT_FAILED : EXIT_DONE;
        case UpgradeOutcome::Stop::NothingSelected:
            return EXIT_USAGE;
        case UpgradeOutcome::Stop::MacRefused:
        case UpgradeOutcome::Stop::FirmwareRefused:
        case UpgradeOutcome::Stop::WarningDeclined:
            break;
    }
    return EXIT_REFUSED;
}

// "--mac A B PKG" and "PKG --mac A B" both work: once --mac was given,
// positionals that read as MACs join the list and exactly one must remain.
bool SortPositionals(UpgradeArgs& args) {
    std::vector<std::string> rest;
    for (const auto& text : args.positionals) {
        MacAddress ignored{};
        if (!args.macs.empty() && ParseMacText(text, ignored))
            args.macs.push_back(text);
        else
            rest.push_back(text);
    }
    if (rest.size() == 1) {
        args.package = rest.front();
        return true;
    }
    std::cerr << "upgradectl: upgrade needs exactly one package, got " << rest.size() << '\n';
    return false;
}

int RunUpgrade(const GlobalOptions& global, UpgradeArgs& args) {
    if (!SortPositionals(args)) return EXIT_USAGE;
    if (args.all == !args.macs.empty()) {
        std::cerr << "upgradectl: upgrade needs either --mac MAC ... or --all\n";
        return EXIT_USAGE;
    }
    std::vector<MacAddress> wanted;
    EndpointOptions endpointOptions;
    if (!ParseMacs(args.macs, wanted) || !ToEndpointOptions(global, endpointOptions)) return EXIT_USAGE;
    UpgradePackage package;
    if (!OpenPackage(args.package, package)) return EXIT_USAGE;
    DeviceSession session(endpointOptions, {global.rounds});
    if (!session.Start()) return EXIT_ENDPOINT;

    Restrictions restrictions;
    std::vector<DeviceRecord*> admitted;
    AdmitDevices(package, session.Protocol(), restrictions, admitted);
    if (!MeetsExpectation(admitted.size(), args.expected, "admitted")) return EXIT_USAGE;
    std::vector<DeviceRecord*> selected;
    if (args.all) {
        selected = admitted;
    } else if (!SelectDevices(admitted, wanted, selected)) {
        return EXIT_USAGE;
    }
    if (selected.empty()) {
        std::cerr << "upgradectl: the package admits no device on the network\n";
        return EXIT_USAGE;
    }

    // A question is only asked where the user both sees it and can answer.
    const bool terminal = StderrIsTerminal();
    UpgradeMonitor monitor({args.yes, args.retries, terminal && StdinIsTerminal()}, !global.json && terminal,
                           !global.json);
    const UpgradeOutcome outcome =
        RunUpgradeCommand(selected, package, restrictions, session.Protocol(), monitor.Prompts(), &monitor);
    const int code = ExitCodeOf(outcome);
    if (global.json) PrintJson(monitor.Report(outcome, code));
    return code;
}

}  // namespace

Command AddUpgradeCommand(CLI::App& app, const GlobalOptions& global) {
    auto* sub = app.add_subcommand("upgrade", "Run a package's upgrade script on admitted devices");
    auto args = std::make_shared<UpgradeArgs>();
    sub->add_option("PKG", args->positionals, "The upgrade package (.upk)")->required();
    // One value per --mac, so that the option never swallows the package name;
    // further MACs may follow as positionals, be repeated or comma-separated.
    auto* mac = sub->add_option("--mac", args->macs,
                                "MAC address of an admitted device to upgrade (aa:bb:cc:dd:ee:ff or "
                                "aa-bb-cc-dd-ee-ff); several may follow, be comma-separated or repeat --mac");
    mac->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->delimiter(',');
    sub->add_flag("--all", args->all, "Upgrade every admitted device")->excludes(mac);
    sub->add_flag("--yes", args->yes, "Confirm the configuration-loss warning without asking");
    sub->add_option("--retries", args->retries, "How often a failed run is retried on each device")
        ->capture_default_str()
        ->check(CLI::Range(0, 1000));
    sub->add_option("--expect", args->expected,
                    "Exit 2 before any programming request when fewer devices are admitted")
        ->check(CLI::Range(0, 1 << 20));
    return {sub, [&global, args] { return RunUpgrade(global, *args); }};
}

}  // namespace quorvane::cli
