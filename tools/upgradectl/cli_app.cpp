#include <CLI/CLI.hpp>

#include "res/version_line.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/exit_codes.h"

namespace quorvane::cli {

int RunCli(int argc, const char* const* argv) {
    CLI::App app{"Upgrades the firmware of device servers over UDP.", "upgradectl"};
    // Set before the subcommands exist so that they inherit it: the global
    // options may then follow the command name as well.
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("--version", VersionLine("upgradectl"), "Print the program name and version");
    GlobalOptions global;
    AddGlobalOptions(app, global);
    const Command commands[] = {AddDiscoverCommand(app, global), AddInterfacesCommand(app, global),
                                AddInspectCommand(app, global),
                                AddCheckCommand(app, global),
                                AddUpgradeCommand(app, global), AddPackCommand(app), AddUnpackCommand(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? EXIT_DONE : EXIT_USAGE;
    }
    for (const auto& command : commands)
        if (command.parser->parsed()) return command.run();
    return EXIT_USAGE;
}

}  // namespace quorvane::cli
