// upgradectl discover [--package PKG]: the devices on the network, or those
// a package admits.

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

#include "app/output_paths.h"
#include "app/run_events.h"
#include "package/restrictions.h"
#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/device_output.h"
#include "tools/upgradectl/device_listing.h"
#include "app/exit_codes.h"
#include "tools/upgradectl/interrupt_cleanup.h"
#include "tools/upgradectl/json_output.h"

namespace quorvane::cli {
namespace {

int RunDiscover(const GlobalOptions& global, const std::string& packagePath, int expected) {
    std::string error;
    EndpointOptions endpointOptions;
    if (!ToEndpointOptions(global, endpointOptions, error))
        return FailBeforeWork(global.json, error, EXIT_USAGE);
    InterruptCleanup cleanup;
    UpgradePackage package;
    if (!packagePath.empty() && !OpenPackage(packagePath, package, error))
        return FailBeforeWork(global.json, error, EXIT_USAGE);
    cleanup.Add(package.PrivateFolder());
    if (!OutputsSparePackage(FileText(global.capture), FileText(global.logFile), {}, packagePath, error))
        return FailBeforeWork(global.json, error, EXIT_USAGE);
    LinkStack links(LinkSettingsOf(global, endpointOptions, false));
    if (!links.OpenFiles(error)) return FailBeforeWork(global.json, Said(error), EXIT_USAGE);
    if (!links.Start(error)) return FailBeforeWork(global.json, error, EXIT_ENDPOINT);

    Restrictions restrictions;
    const std::vector<AdmittedDevice> devices = packagePath.empty()
                                                    ? ListAllDevices(links.Protocol())
                                                    : AdmitDevices(package, links.Protocol(), restrictions);
    ReportDiscovery(std::cerr, links.Protocol().LastDiscovery(), devices, global.verbosity > 0);
    for (const std::string& line : NoDeviceHint(links.Protocol().LastDiscovery(), endpointOptions))
        std::cerr << line << '\n';
    if (global.json) {
        PrintJson(AdmittedListJson(devices));
    } else {
        PrintDeviceTable(std::cout, MakeRows(devices));
        std::cerr << devices.size() << (packagePath.empty() ? " device(s) found" : " device(s) admitted")
                  << '\n';
    }
    const int code = MeetsExpectation(devices.size(), expected, packagePath.empty() ? "found" : "admitted")
                         ? EXIT_DONE
                         : EXIT_USAGE;
    const std::vector<std::string> lost = LostLines(links.CloseCaptureAndLog());
    for (const std::string& line : lost) std::cerr << line << '\n';
    return lost.empty() ? code : WithLostOutput(code);
}

}  // namespace

Command AddDiscoverCommand(CLI::App& app, const GlobalOptions& global) {
    auto* sub = app.add_subcommand("discover", "List the devices that answer a discovery");
    auto packagePath = std::make_shared<std::string>();
    auto expected = std::make_shared<int>(0);
    sub->add_option("--package", *packagePath,
                    "List only the devices this package admits, in admission order");
    sub->add_option("--expect", *expected, "Exit 2 when fewer devices are found (or admitted)")
        ->check(CLI::Range(0, 1 << 20));
    return {sub, [&global, packagePath, expected] { return RunDiscover(global, *packagePath, *expected); }};
}

}  // namespace quorvane::cli
