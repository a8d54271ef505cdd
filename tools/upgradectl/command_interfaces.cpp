// upgradectl interfaces: every IPv4 interface with its address and the
// broadcast address that --interface would send to.

#include <CLI/CLI.hpp>
#include <iostream>

#include "protocol/interfaces.h"
#include "tools/upgradectl/commands.h"
#include "app/exit_codes.h"
#include "tools/upgradectl/json_output.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

nlohmann::json InterfacesJson(const std::vector<Ipv4Interface>& interfaces) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& item : interfaces)
        list.push_back({{"name", item.name},
                        {"address", FormatIpv4(item.address)},
                        {"netmask", FormatIpv4(item.netmask)},
                        {"broadcast", FormatIpv4(item.broadcast)}});
    return list;
}

int RunInterfaces(const GlobalOptions& global) {
    const std::vector<Ipv4Interface> interfaces = ListIpv4Interfaces();
    if (global.json) {
        PrintJson(InterfacesJson(interfaces));
        return EXIT_DONE;
    }
    TextTable table({"INTERFACE", "ADDRESS", "NETMASK", "BROADCAST"});
    for (const auto& item : interfaces)
        table.AddRow({PrintableText(item.name), FormatIpv4(item.address), FormatIpv4(item.netmask),
                      FormatIpv4(item.broadcast)});
    table.Print(std::cout);
    return EXIT_DONE;
}

}  // namespace

Command AddInterfacesCommand(CLI::App& app, const GlobalOptions& global) {
    auto* sub = app.add_subcommand("interfaces", "List the IPv4 interfaces that --interface can name");
    return {sub, [&global] { return RunInterfaces(global); }};
}

}  // namespace quorvane::cli
