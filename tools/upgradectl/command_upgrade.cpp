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

#include "app/history_recorder.h"
#include "app/output_paths.h"
#include "app/interrupt_watch.h"
#include "app/interrupted_text.h"
#include "app/upgrade_run.h"
#include "res/string_format.h"
#include "res/string_table.h"
#include "package/package_check.h"
#include "package/restrictions.h"
#include "package/script_interpreter.h"
#include "protocol/mac_text.h"
#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/device_listing.h"
#include "app/exit_codes.h"
#include "tools/upgradectl/findings_output.h"
#include "tools/upgradectl/json_output.h"
#include "tools/upgradectl/plan_output.h"
#include "tools/upgradectl/status_line.h"
#include "tools/upgradectl/text_table.h"
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
};

bool ParseMacs(const std::vector<std::string>& texts, std::vector<MacAddress>& out, std::string& error) {
    for (const auto& text : texts) {
        MacAddress mac{};
        if (!ParseMacText(text, mac)) {
            error = Said("'") + text + "' is not a MAC address (aa:bb:cc:dd:ee:ff)";
            return false;
        }
        // Every device takes a request sent to such a MAC as its own.
        if (!NamesOneDevice(mac)) {
            error = Said("'") + text +
                    "' names no single device (a broadcast, multicast or all-zero address)";
            return false;
        }
        out.push_back(mac);
    }
    return true;
}

// The admitted devices with the wanted MACs; false, with every MAC that
// names no admitted device said, when any does not: upgrading only part of
// what was asked for is worse than upgrading nothing.
// A MAC that answered but was not admitted is told why.
bool SelectDevices(const std::vector<DeviceRecord*>& admitted, const std::vector<MacAddress>& wanted,
                   const std::vector<AdmissionRefusal>& refused, const Restrictions& restrictions,
                   std::vector<DeviceRecord*>& selected, std::string& error) {
    std::vector<MacAddress> missing;
    selected = SelectByMac(admitted, wanted, missing);
    for (const MacAddress& mac : missing) {
        if (!error.empty()) std::cerr << error << '\n';
        error = Said(MissingMacText(mac, refused, restrictions));
    }
    return missing.empty();
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
    error = Said("upgrade needs exactly one package, got ") + std::to_string(rest.size());
    return false;
}

// What an interrupt that ends the process at once still does: the
// extracted members must not outlive the process.
std::function<void()> LastWords(const InterruptWatch& interrupts, const UpgradePackage& package) {
    return [&interrupts, &package] {
        std::error_code ignored;
        if (!package.PrivateFolder().empty()) std::filesystem::remove_all(package.PrivateFolder(), ignored);
        if (StderrIsTerminal()) std::cerr << '\n';
        if (interrupts.StopsGracefully())
            std::cerr << MESSAGE_PREFIX << "interrupted again; ending at once: the device being upgraded is "
                         "probably still in programming mode\n";
        else
            std::cerr << MESSAGE_PREFIX << "interrupted; no device was programmed\n";
        std::cerr << std::flush;
    };
}

// What a package that did not become ready says, on stderr (and as JSON
// with --json); the exit code.
int RefusePackage(const PackageGate& gate, const std::string& path, bool json) {
    using Status = PackageGate::Status;
    if (gate.status == Status::CannotOpen)
        // This computer's fault is no reason to doubt the package.
        return FailBeforeWork(
            json, gate.reason.empty() ? InvalidPackageText(gate.fileError, path) : Said(gate.reason),
            EXIT_USAGE);
    PrintFindings(std::cerr, gate.check);
    if (gate.status == Status::OutputsClash) return FailBeforeWork(json, Said(gate.reason), EXIT_USAGE);
    if (gate.status == Status::LocalFailure)
        return FailBeforeWork(json, Said(gate.reason) + "; nothing was sent", EXIT_USAGE);
    std::cerr << MESSAGE_PREFIX
              << (gate.status == Status::Untrusted ? "the package is not trusted; nothing was sent\n"
                                                   : "the package has errors; nothing was sent\n");
    if (json) PrintJson(FindingsJson(gate.check));
    return EXIT_USAGE;
}

// The admission pass and the devices the arguments choose among the
// admitted ones (announced with `keyId`, the package's signer); false with
// `error` set when there is nothing to upgrade.
bool ChooseDevices(const UpgradeArgs& args, const std::vector<MacAddress>& wanted, UpgradePackage& package,
                   LinkStack& links, const EndpointOptions& endpoint, Restrictions& restrictions,
                   const std::string& keyId, std::vector<DeviceRecord*>& selected, bool verbose,
                   std::string& error) {
    DeviceProtocol& protocol = links.Protocol();
    std::vector<AdmissionRefusal> refused;
    const std::vector<AdmittedDevice> devices = AdmitAndAnnounce(
        package, protocol, restrictions, links.Events().IsOpen() ? &links.Events() : nullptr, keyId, &refused);
    ReportDiscovery(std::cerr, protocol.LastDiscovery(), devices, verbose);
    for (const std::string& line : NoDeviceHint(protocol.LastDiscovery(), endpoint))
        std::cerr << line << '\n';
    error = ExpectationShortfall(devices.size(), args.expected, "admitted");
    if (!error.empty()) return false;
    const std::vector<DeviceRecord*> admitted = RecordsOf(devices);
    if (args.all) {
        selected = admitted;
    } else if (!SelectDevices(admitted, wanted, refused, restrictions, selected, error)) {
        return false;
    }
    if (!selected.empty()) return true;
    error = Said("the package admits no device on the network");
    return false;
}

// The check's warnings join the JSON report: the run went on despite them.
// The package's warnings, and the signature it was judged by.
void AddPackageFacts(nlohmann::ordered_json& report, const PackageCheck& check) {
    const nlohmann::ordered_json findings = FindingsJson(check);
    if (check.HasWarnings()) report["warnings"] = findings["warnings"];
    if (findings.contains("signature")) {
        report["key_id"] = findings["signature"]["key_id"];
        report["signature"] = findings["signature"];
    }
}

// --dry-run: everything before the first programming request has run; show
// what the real run would do and exit as it would start (or refuse).
int FinishDryRun(const UpgradeRun& run, const PackageCheck& check, bool json, const UpgradeMonitor& monitor) {
    const int code = run.ExitCode();
    const bool wouldRun = run.Outcome().stop == UpgradeOutcome::Stop::None;
    if (wouldRun && !json) {
        // An unsigned package that nothing requires to be signed runs as it
        // always did, and its plan reads as it always did.
        if (check.signature && (check.signature->status != SignatureStatus::None || !check.signature->reason.empty()))
            std::cout << "signature: " << PrintableText(SignatureLine(*check.signature)) << '\n';
        PrintStages(std::cout, run.Model(), run.Stages());
        PrintPlan(std::cout, TouchedDevices(run.Model()), check, run.Model().devices.size());
    }
    std::cerr << MESSAGE_PREFIX << "dry run; no programming request was sent\n";
    if (!json) return code;
    auto report = monitor.Report(run.Outcome(), code);
    report["dryRun"] = true;
    if (wouldRun) report["devices"] = PlanJson(TouchedDevices(run.Model()), check, run.Model().devices.size());
    if (wouldRun && run.Stages().asked) report["stages"] = StagesJson(run.Model(), run.Stages());
    AddPackageFacts(report, check);
    PrintJson(report);
    return code;
}

// The scripts on every selected device. From the first programming request
// on, an interrupt lets the exchange under way finish, and then says which
// device it left mid-script.
void RunInterruptibly(UpgradeRun& run, const BatchOptions& batch, UpgradeMonitor& monitor,
                      InterruptWatch& interrupts) {
    // Said at once: an exchange may wait for many seconds, and a technician
    // who hears nothing presses Ctrl-C again, which ends mid-device.
    interrupts.OnFirstSignal([notice = Said(StoppingText(StopNotice::Terminal))](int) {
        std::cerr << '\n' << notice << '\n' << std::flush;
    });
    interrupts.SetStopGracefully(true);
    run.Execute(batch, monitor.Prompts(), &monitor);
    run.Complete(monitor.Prompts());
    if (interrupts.Interrupted()) monitor.TellInterrupted();
}

// The run goes on without its history, and says why.
void WarnHistory(const std::string& why) {
    std::cerr << MESSAGE_PREFIX << "warning: " << FormatPlaceholders(IDS_HISTORY_NOT_RECORDED, {why}) << '\n';
}

// The command's end (see EndWithOutputs), with every output that could not
// be written to the end said on stderr.
int FinishOutputs(int code, UpgradeRun* run, LinkStack& links) {
    std::vector<std::string> lost;
    code = EndWithOutputs(code, run, links, lost);
    for (const std::string& line : LostLines(lost)) std::cerr << line << '\n';
    return code;
}

int RunUpgrade(const GlobalOptions& global, UpgradeArgs& args) {
    std::string error;
    if (!SortPositionals(args, error)) return FailBeforeWork(global.json, error, EXIT_USAGE);
    if (args.all == !args.macs.empty())
        return FailBeforeWork(global.json, Said("upgrade needs either --mac MAC ... or --all"),
                              EXIT_USAGE);
    if (global.events == "-" && global.json)
        return FailBeforeWork(
            global.json, Said("--events - and --json would both write to stdout; give --events a file"),
            EXIT_USAGE);
    std::vector<MacAddress> wanted;
    EndpointOptions endpointOptions;
    if (!ParseMacs(args.macs, wanted, error) || !ToEndpointOptions(global, endpointOptions, error))
        return FailBeforeWork(global.json, error, EXIT_USAGE);

    // Made before the package extracts anything and before any other thread
    // exists; it is destroyed after the package is closed.
    InterruptWatch interrupts;
    UpgradePackage package;
    interrupts.SetLastWords(LastWords(interrupts, package));
    // Ready before the endpoint even starts: a package with errors sends
    // nothing, not even discovery, and no output is opened before it is
    // known to spare the others, the READ outputs and the package.
    const PackageGate gate = OpenForRun(args.package, package, OutputsOf(global), TrustOptionsOf(global));
    if (!gate.Ready()) return RefusePackage(gate, args.package, global.json);
    PrintFindings(std::cerr, gate.check);
    if (gate.check.signature->status == SignatureStatus::Good)
        std::cerr << MESSAGE_PREFIX << PrintableText(SignatureLine(*gate.check.signature)) << '\n';
    // A history the user named must take the run before anything is sent.
    HistoryStart history = StartHistory(global, "upgradectl", global.jobs, args.retries);
    if (!history.error.empty())
        return FailBeforeWork(global.json, Said(FormatPlaceholders(IDS_HISTORY_REFUSED, {history.error})),
                              EXIT_USAGE);
    if (!history.warning.empty()) WarnHistory(history.warning);

    LinkStack links(LinkSettingsOf(global, endpointOptions, true));
    if (!links.OpenFiles(error)) return FailBeforeWork(global.json, Said(error), EXIT_USAGE);
    if (!links.Start(error)) return FinishOutputs(FailBeforeWork(global.json, error, EXIT_ENDPOINT), nullptr, links);
    Restrictions restrictions;
    UpgradeRun run(links, package, &gate.check, restrictions, OutputsOf(global));
    run.RecordTo(history.recorder.get());
    run.SetRollout(RolloutOf(global));
    std::vector<DeviceRecord*> selected;
    // Nothing was upgraded: the events still end with the run's result.
    const auto refuse = [&](const std::string& line) {
        return FinishOutputs(FailBeforeWork(global.json, line, EXIT_USAGE), &run, links);
    };
    if (!ChooseDevices(args, wanted, package, links, endpointOptions, restrictions, KeyIdOf(gate.check), selected,
                       global.verbosity > 0, error))
        return refuse(error);
    BatchOptions batch;
    batch.jobs = static_cast<std::size_t>(global.jobs);
    batch.retries = args.retries;
    batch.returnLimit = ReturnLimitOf(global);

    // A question is only asked where the user both sees it and can answer.
    // The bar redraws its line, which the trace's lines would break up.
    const bool terminal = StderrIsTerminal();
    const bool interactive = terminal && StdinIsTerminal();
    const bool sideBySide = RunsSideBySide(batch.jobs, selected.size());
    // With one device at a time the retry question comes per device, as it
    // always did; side by side it would break into others' progress.
    batch.askAfterBatch = interactive && !args.yes && sideBySide;
    const bool bar = !global.json && terminal && global.verbosity == 0;
    UpgradeMonitor monitor({args.yes, args.retries, interactive}, bar, !global.json, &interrupts);
    monitor.ShareScreen(links.Trace());
    monitor.Follow(run.Model());
    // The one bar follows one device; devices side by side get a line each.
    if (bar && sideBySide) monitor.DrawSideBySide(selected.size());
    // On a terminal the devices are listed and confirmed before anything
    // is flashed; a dry run flashes nothing and lists them in its plan.
    const DeviceQuestion question =
        interactive && !args.yes && !args.dryRun ? DeviceQuestion::Listed : DeviceQuestion::FrontEnds;
    const UpgradeOutcome::Stop stop = run.Confirm(selected, monitor.Prompts(), question);
    // Several devices READ into files of their own, which no output may be:
    // the run said which on stderr, refusing as a package whose outputs clash.
    if (stop == UpgradeOutcome::Stop::ReadsClash) {
        if (global.json) PrintErrorJson(Said(run.Refusal()), EXIT_USAGE);
        return FinishOutputs(EXIT_USAGE, &run, links);
    }
    if (args.dryRun) {
        const int code = FinishDryRun(run, gate.check, global.json, monitor);
        run.FinishDryRun(code);
        return code;
    }
    if (stop == UpgradeOutcome::Stop::None) RunInterruptibly(run, batch, monitor, interrupts);
    monitor.PrintSummary(std::cerr, run.Outcome());
    const int code = FinishOutputs(interrupts.Interrupted() ? interrupts.ExitCode() : run.ExitCode(), &run, links);
    if (history.recorder && !history.recorder->Error().empty()) WarnHistory(history.recorder->Error());
    if (global.json) {
        auto report = monitor.Report(run.Outcome(), code);
        AddPackageFacts(report, gate.check);
        PrintJson(report);
    }
    return code;
}

// The usage line without the hidden positionals, which would read as
// further packages.
// What --yes and --retries do to the questions, said once for both. Wrapped
// by hand: the formatter prints a footer as it is. No line may open with
// "  -", which reads as an option line.
constexpr const char* QUESTIONS_FOOTER =
    "Questions (--yes, --retries):\n"
    "On a terminal without --yes, the devices about to be upgraded are listed (name,\n"
    "MAC, firmware, type) and asked about once before anything is flashed (\"Upgrade\n"
    "these 3 devices? [y/N]\"); the package's configuration-loss warning, when it\n"
    "gives one, comes in the same question. No exits 3 before any programming\n"
    "request. --yes confirms both without asking; without a terminal nothing is\n"
    "asked and the warning refuses (exit 3) unless --yes is given.\n"
    "A failed run is retried up to --retries N times (0 by default) on each device\n"
    "without asking; after that, on a terminal without --yes, the retry question is\n"
    "asked: for each device in turn with one job, and side by side once all are\n"
    "done, for the failed devices together. With --yes or without a terminal a run\n"
    "that still fails is given up.";

class UpgradeFormatter final : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App*, std::string name) const override {
        return get_label("Usage") + ": " + name + " [" + get_label("OPTIONS") + "] PKG\n";
    }
};

}  // namespace

Command AddUpgradeCommand(CLI::App& app, GlobalOptions& global) {
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
    sub->add_flag("--yes", args->yes, "Ask nothing; see \"Questions\" below");
    sub->add_flag("--dry-run", args->dryRun,
                  "Check, discover and confirm as usual, then show each device's plan instead of "
                  "sending any programming request");
    sub->add_option("--retries", args->retries,
                    "How often a failed run is retried on each device without asking; see \"Questions\" below")
        ->capture_default_str()
        ->check(CLI::Range(0, 1000));
    AddCommandOption(*sub, GlobalOptionId::Jobs, global);
    AddCommandOption(*sub, GlobalOptionId::VerifyTimeout, global);
    AddCommandOption(*sub, GlobalOptionId::NoVerify, global);
    AddCommandOption(*sub, GlobalOptionId::Canary, global);
    AddCommandOption(*sub, GlobalOptionId::MaxFailures, global);
    AddCommandOption(*sub, GlobalOptionId::SkipFirmware, global);
    sub->add_option("--expect", args->expected,
                    "Exit 2 before any programming request when fewer devices are admitted")
        ->check(CLI::Range(0, 1 << 20));
    sub->footer(QUESTIONS_FOOTER);
    return {sub, [&global, args] { return RunUpgrade(global, *args); }};
}

}  // namespace quorvane::cli
