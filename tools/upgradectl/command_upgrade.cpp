// upgradectl upgrade PKG (--mac MAC ... | --all): the package check, the
// admission pass, then the upgrade command over the chosen admitted devices
// (or, with --dry-run, the plan of what it would send them).

#include <CLI/CLI.hpp>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/event_stream.h"
#include "app/interrupt_watch.h"
#include "app/run_events.h"
#include "app/upgrade_command.h"
#include "package/package_check.h"
#include "package/restrictions.h"
#include "package/script_interpreter.h"
#include "protocol/mac_text.h"
#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/device_session.h"
#include "app/exit_codes.h"
#include "tools/upgradectl/findings_output.h"
#include "tools/upgradectl/json_output.h"
#include "tools/upgradectl/plan_output.h"
#include "tools/upgradectl/status_line.h"
#include "tools/upgradectl/upgrade_monitor.h"

namespace quorvane::cli {
namespace {

struct UpgradeArgs {
    // The positionals in their order: the package, and MACs listed after one
    // --mac. The first is registered alone so that the help shows one PKG.
    std::string firstPositional;
    std::vector<std::string> morePositionals;
    std::vector<std::string> positionals;
    std::string package;
    std::vector<std::string> macs;
    bool all = false;
    bool yes = false;
    bool dryRun = false;
    int retries = 0;
    int expected = 0;
    int jobs = 1;  // devices upgraded at once; 0: all selected
};

bool ParseMacs(const std::vector<std::string>& texts, std::vector<MacAddress>& out, std::string& error) {
    for (const auto& text : texts) {
        MacAddress mac{};
        if (!ParseMacText(text, mac)) {
            error = "upgradectl: '" + text + "' is not a MAC address (aa:bb:cc:dd:ee:ff)";
            return false;
        }
        // Every device takes a request sent to such a MAC as its own.
        if (!NamesOneDevice(mac)) {
            error = "upgradectl: '" + text +
                    "' names no single device (a broadcast, multicast or all-zero address)";
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
                   std::vector<DeviceRecord*>& selected, std::string& error) {
    for (const auto& mac : wanted) {
        bool found = false;
        for (const DeviceRecord* record : admitted) found = found || record->mac == mac;
        if (found) continue;
        if (!error.empty()) std::cerr << error << '\n';
        error = "upgradectl: no admitted device has the MAC address " + FormatMac(mac);
    }
    if (!error.empty()) return false;
    for (DeviceRecord* record : admitted)
        for (const auto& mac : wanted)
            if (record->mac == mac) {
                selected.push_back(record);
                break;
            }
    return true;
}

// "--mac A B PKG" and "PKG --mac A B" both work: once --mac was given,
// positionals that read as MACs join the list and exactly one must remain.
bool SortPositionals(UpgradeArgs& args, std::string& error) {
    args.positionals = {args.firstPositional};
    args.positionals.insert(args.positionals.end(), args.morePositionals.begin(), args.morePositionals.end());
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
    error = "upgradectl: upgrade needs exactly one package, got " + std::to_string(rest.size());
    return false;
}

// What an interrupt that ends the process at once still does: the
// extracted members must not outlive the process.
std::function<void()> LastWords(const InterruptWatch& interrupts, std::filesystem::path privateFolder) {
    return [&interrupts, folder = std::move(privateFolder)] {
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
        if (StderrIsTerminal()) std::cerr << '\n';
        if (interrupts.StopsGracefully())
            std::cerr << "upgradectl: interrupted again; ending at once: the device being upgraded is "
                         "probably still in programming mode\n";
        else
            std::cerr << "upgradectl: interrupted; no device was programmed\n";
        std::cerr << std::flush;
    };
}

// The findings on stderr (and the JSON findings with --json); false when
// an error forbids sending anything at all.
bool PackagePasses(const PackageCheck& check, bool json) {
    PrintFindings(std::cerr, check);
    if (!check.HasErrors()) return true;
    if (!check.localError.empty())
        std::cerr << "upgradectl: " << check.localError << "; nothing was sent\n";
    else
        std::cerr << "upgradectl: the package has errors; nothing was sent\n";
    if (json) PrintJson(FindingsJson(check));
    return false;
}

// The admission pass and the devices the arguments choose among the
// admitted ones; false with `error` set when there is nothing to upgrade.
bool ChooseDevices(const UpgradeArgs& args, const std::vector<MacAddress>& wanted, UpgradePackage& package,
                   DeviceProtocol& protocol, Restrictions& restrictions, std::vector<DeviceRecord*>& selected,
                   EventStream& events, bool verbose, std::string& error) {
    const std::vector<AdmittedDevice> devices = AdmitDevices(package, protocol, restrictions);
    ReportDiscovery(std::cerr, protocol.LastDiscovery(), devices, verbose);
    EmitAdmission(events, protocol.Chain().Records().size(), devices);
    error = ExpectationShortfall(devices.size(), args.expected, "admitted");
    if (!error.empty()) return false;
    const std::vector<DeviceRecord*> admitted = RecordsOf(devices);
    if (args.all) {
        selected = admitted;
    } else if (!SelectDevices(admitted, wanted, selected, error)) {
        return false;
    }
    if (!selected.empty()) return true;
    error = "upgradectl: the package admits no device on the network";
    return false;
}

// The check's warnings join the JSON report: the run went on despite them.
void AddWarnings(nlohmann::ordered_json& report, const PackageCheck& check) {
    if (check.HasWarnings()) report["warnings"] = FindingsJson(check)["warnings"];
}

// --dry-run: everything before the first programming request has run; show
// what the real run would do and exit as it would start (or refuse).
int FinishDryRun(const UpgradeOutcome& outcome, const std::vector<DeviceRecord*>& selected,
                 const PackageCheck& check, bool json, const UpgradeMonitor& monitor) {
    const int code = ExitCodeOf(outcome);
    const bool wouldRun = outcome.stop == UpgradeOutcome::Stop::None;
    if (wouldRun && !json) PrintPlan(std::cout, selected, check);
    std::cerr << "upgradectl: dry run; no programming request was sent\n";
    if (!json) return code;
    auto report = monitor.Report(outcome, code);
    report["dryRun"] = true;
    if (wouldRun) report["devices"] = PlanJson(selected, check);
    AddWarnings(report, check);
    PrintJson(report);
    return code;
}

// The scripts on every selected device. From the first programming request
// on, an interrupt lets the exchange under way finish, and then says which
// device it left mid-script.
void RunInterruptibly(const std::vector<DeviceRecord*>& selected, UpgradePackage& package,
                      DeviceProtocol& protocol, const FleetOptions& fleet, UpgradeMonitor& monitor,
                      EventStream& events, InterruptWatch& interrupts, UpgradeOutcome& outcome) {
    // Said at once: an exchange may wait for many seconds, and a technician
    // who hears nothing presses Ctrl-C again, which ends mid-device.
    interrupts.OnFirstSignal([](int) {
        std::cerr
            << "\nupgradectl: stopping after the exchange under way; press Ctrl-C again to end at once\n"
            << std::flush;
    });
    interrupts.SetStopGracefully(true);
    EventProgress eventful(events, &monitor);
    UpgradeProgress* progress = events.IsOpen() ? static_cast<UpgradeProgress*>(&eventful) : &monitor;
    RunScripts(selected, package, protocol, monitor.Prompts(), progress, outcome, fleet);
    ReportCompletion(outcome, monitor.Prompts());
    if (interrupts.Interrupted()) monitor.TellInterrupted(selected);
}

// --events, when given; false with `error` set when it cannot be written.
bool OpenEvents(const GlobalOptions& global, EventStream& events, std::string& error) {
    if (global.events.empty()) return true;
    if (events.Open(global.events, error)) return true;
    error = "upgradectl: " + error;
    return false;
}

// Every file the run writes, as the clash check sees them.
RunOutputs OutputsOf(const GlobalOptions& global, const PackageCheck& check) {
    std::string stdoutWriter;
    if (global.json) stdoutWriter = "--json";
    if (global.events == "-") stdoutWriter = "--events -";
    return {global.capture, global.logFile, global.events, ReadOutputsOf(check), stdoutWriter};
}

// The run's end once the devices are done: the capture and the log are
// closed, "run-done" ends the events, and every output that could not be
// written to the end is said on stderr; the exit code then says so too.
int FinishOutputs(int code, const UpgradeOutcome& outcome, DeviceSession& session, EventStream& events) {
    std::vector<std::string> lost = session.CloseFiles();
    if (!lost.empty()) code = WithLostOutput(code);
    EmitRunDone(events, outcome.succeeded, outcome.failed, code);
    if (const std::string failure = events.Failure(); !failure.empty()) {
        lost.push_back("upgradectl: " + failure);
        code = WithLostOutput(code);
    }
    for (const std::string& line : lost) std::cerr << line << '\n';
    return code;
}

int RunUpgrade(const GlobalOptions& global, UpgradeArgs& args) {
    std::string error;
    if (!SortPositionals(args, error)) return FailBeforeWork(global.json, error, EXIT_USAGE);
    if (args.all == !args.macs.empty())
        return FailBeforeWork(global.json, "upgradectl: upgrade needs either --mac MAC ... or --all",
                              EXIT_USAGE);
    if (global.events == "-" && global.json)
        return FailBeforeWork(
            global.json, "upgradectl: --events - and --json would both write to stdout; give --events a file",
            EXIT_USAGE);
    std::vector<MacAddress> wanted;
    EndpointOptions endpointOptions;
    if (!ParseMacs(args.macs, wanted, error) || !ToEndpointOptions(global, endpointOptions, error))
        return FailBeforeWork(global.json, error, EXIT_USAGE);

    // Made before the package extracts anything and before any other thread
    // exists; it is destroyed after the package is closed.
    InterruptWatch interrupts;
    UpgradePackage package;
    if (!OpenPackage(args.package, package, error)) return FailBeforeWork(global.json, error, EXIT_USAGE);
    interrupts.SetLastWords(LastWords(interrupts, package.PrivateFolder()));
    // Checked before the endpoint even starts: a package with errors sends nothing, not even discovery.
    const PackageCheck check = CheckPackage(package, package.PackageFolder());
    if (!PackagePasses(check, global.json)) return EXIT_USAGE;
    // Before any output is opened: opening one would truncate another, a
    // READ output, or the package.
    if (!OutputsSpareEachOther(OutputsOf(global, check), args.package, error))
        return FailBeforeWork(global.json, error, EXIT_USAGE);
    EventStream events;
    if (!OpenEvents(global, events, error)) return FailBeforeWork(global.json, error, EXIT_USAGE);

    DeviceSession session(endpointOptions, global.capture, {global.rounds},
                          {global.verbosity, global.logFile}, global.link);
    if (!session.OpenFiles(error)) return FailBeforeWork(global.json, error, EXIT_USAGE);
    if (!session.Start(error)) return FailBeforeWork(global.json, error, EXIT_ENDPOINT);
    Restrictions restrictions;
    std::vector<DeviceRecord*> selected;
    // Nothing was upgraded: the events still end with the run's result.
    const auto refuse = [&](const std::string& line) {
        EmitRunDone(events, 0, 0, EXIT_USAGE);
        return FailBeforeWork(global.json, line, EXIT_USAGE);
    };
    if (!ChooseDevices(args, wanted, package, session.Protocol(), restrictions, selected, events,
                       global.verbosity > 0, error))
        return refuse(error);
    const bool sideBySide = args.jobs != 1 && selected.size() > 1;
    if (sideBySide && ScriptReadsBack(package))
        return refuse("upgradectl: the script READs into a file of one name for every device; with --jobs "
                      "several devices would write it at once, so use --jobs 1");

    // A question is only asked where the user both sees it and can answer.
    // The bar redraws its line, which the trace's lines would break up.
    const bool terminal = StderrIsTerminal();
    const bool interactive = terminal && StdinIsTerminal();
    FleetOptions fleet;
    fleet.jobs = static_cast<std::size_t>(args.jobs);
    fleet.retries = args.retries;
    // With one device at a time the retry question comes per device, as it
    // always did; side by side it would break into others' progress.
    fleet.askAfterBatch = interactive && !args.yes && sideBySide;
    fleet.openLink = [&session](const DeviceRecord&, std::string& reason) {
        return session.OpenDeviceLink(reason);
    };
    const bool bar = !global.json && terminal && global.verbosity == 0;
    UpgradeMonitor monitor({args.yes, args.retries, interactive}, bar, !global.json, &interrupts);
    monitor.ShareScreen(session.Trace());
    // The one bar follows one device; devices side by side get a line each.
    if (bar && sideBySide) monitor.DrawSideBySide(selected.size());
    UpgradeOutcome outcome;
    outcome.stop = CheckAndConfirm(selected, restrictions, monitor.Prompts());
    if (args.dryRun) return FinishDryRun(outcome, selected, check, global.json, monitor);
    if (outcome.stop == UpgradeOutcome::Stop::None)
        RunInterruptibly(selected, package, session.Protocol(), fleet, monitor, events, interrupts, outcome);
    monitor.PrintSummary(std::cerr);
    const int code = FinishOutputs(interrupts.Interrupted() ? interrupts.ExitCode() : ExitCodeOf(outcome),
                                   outcome, session, events);
    if (global.json) {
        auto report = monitor.Report(outcome, code);
        AddWarnings(report, check);
        PrintJson(report);
    }
    return code;
}

// The usage line without the hidden positionals, which would read as
// further packages.
class UpgradeFormatter final : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App*, std::string name) const override {
        return get_label("Usage") + ": " + name + " [" + get_label("OPTIONS") + "] PKG\n";
    }
};

}  // namespace

Command AddUpgradeCommand(CLI::App& app, const GlobalOptions& global) {
    auto* sub = app.add_subcommand("upgrade", "Run a package's upgrade script on admitted devices");
    auto args = std::make_shared<UpgradeArgs>();
    sub->add_option("PKG", args->firstPositional, "The upgrade package (.upk)")->required();
    // Hidden (no group): the MACs that may follow "--mac A", and a second
    // package, which SortPositionals refuses with a message of its own.
    sub->add_option("MORE", args->morePositionals)->group("");
    sub->formatter(std::make_shared<UpgradeFormatter>());
    // One value per --mac, so that the option never swallows the package name;
    // further MACs may follow as positionals, be repeated or comma-separated.
    auto* mac = sub->add_option("--mac", args->macs,
                                "MAC address of an admitted device to upgrade (aa:bb:cc:dd:ee:ff, "
                                "aa-bb-cc-dd-ee-ff, aabb.ccdd.eeff or aabbccddeeff); several may follow, "
                                "be comma-separated or repeat --mac");
    mac->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->delimiter(',');
    sub->add_flag("--all", args->all, "Upgrade every admitted device")->excludes(mac);
    sub->add_flag("--yes", args->yes, "Confirm the configuration-loss warning without asking");
    sub->add_flag("--dry-run", args->dryRun,
                  "Check, discover and confirm as usual, then show each device's plan instead of "
                  "sending any programming request");
    sub->add_option("--retries", args->retries, "How often a failed run is retried on each device")
        ->capture_default_str()
        ->check(CLI::Range(0, 1000));
    sub->add_option("--jobs", args->jobs,
                    "How many devices are upgraded at once, each over a socket of its own (0: all "
                    "selected devices; 4096 at the most, fewer where the open-file limit is lower)")
        ->capture_default_str()
        ->check(CLI::Range(0, 4096));
    sub->add_option("--expect", args->expected,
                    "Exit 2 before any programming request when fewer devices are admitted")
        ->check(CLI::Range(0, 1 << 20));
    return {sub, [&global, args] { return RunUpgrade(global, *args); }};
}

}  // namespace quorvane::cli
