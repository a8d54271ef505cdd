#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "res/version_line.h"
#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/command_suggestion.h"
#include "tools/upgradectl/commands.h"
#include "app/exit_codes.h"

namespace quorvane::cli {
namespace {

std::optional<std::string> UnknownCommand(const CLI::App& app, int argc, const char* const* argv) {
    std::vector<std::string> commands;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        commands.push_back(sub->get_name());
    std::vector<std::string> withValue;
    for (const CLI::Option* option : app.get_options())
        if (option->get_items_expected_max() > 0)
            for (const std::string& name : option->get_lnames()) withValue.push_back("--" + name);
    return UnknownCommandMessage(std::vector<std::string>(argv, argv + argc), commands, withValue);
}

}  // namespace

int RunCli(int argc, const char* const* argv, Transport* link) {
    CLI::App app{"Upgrades the firmware of device servers over UDP.", "upgradectl"};
    // Set before the subcommands exist so that they inherit it: the global
    // options may then follow the command name as well.
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("--version", VersionLine("upgradectl"), "Print the program name and version");
    GlobalOptions global;
    global.link = link;
    AddGlobalOptions(app, global);
    const Command commands[] = {AddDiscoverCommand(app, global), AddInterfacesCommand(app, global),
                                AddInspectCommand(app, global),  AddCheckCommand(app, global),
                                AddUpgradeCommand(app, global),  AddPackCommand(app, global),
                                AddUnpackCommand(app, global),   AddHistoryCommand(app, global)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {  // --help, --version
            app.exit(error);
            return EXIT_DONE;
        }
        const bool json = AsksForJson(argc, argv);
        if (const auto message = UnknownCommand(app, argc, argv)) {
            FailBeforeWork(json, Said(*message), EXIT_USAGE);
            std::cerr << "Run with --help for more information.\n";
        } else {
            app.exit(error);
            if (json) PrintErrorJson(error.what(), EXIT_USAGE);
        }
        return EXIT_USAGE;
    }
    for (const auto& command : commands)
        if (command.parser->parsed()) return command.run();
    return EXIT_USAGE;
}

}  // namespace quorvane::cli
