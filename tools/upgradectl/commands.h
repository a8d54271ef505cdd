#pragma once
// The subcommands. Each Add function registers one on the top-level parser
// and returns what runs it once parsing has chosen it; the result is the
// process exit code (exit_codes.h).

#include <functional>

#include "tools/upgradectl/global_options.h"

namespace CLI {
class App;
}

namespace quorvane::cli {

struct Command {
    CLI::App* parser = nullptr;
    std::function<int()> run;
};

Command AddDiscoverCommand(CLI::App& app, const GlobalOptions& global);
Command AddInterfacesCommand(CLI::App& app, const GlobalOptions& global);
Command AddInspectCommand(CLI::App& app, const GlobalOptions& global);
Command AddCheckCommand(CLI::App& app, const GlobalOptions& global);
Command AddUpgradeCommand(CLI::App& app, GlobalOptions& global);
Command AddPackCommand(CLI::App& app, const GlobalOptions& global);
Command AddUnpackCommand(CLI::App& app, const GlobalOptions& global);
Command AddHistoryCommand(CLI::App& app, const GlobalOptions& global);

// Builds the whole parser and runs the chosen command. `link`, when given,
// carries the device requests instead of a UDP socket.
int RunCli(int argc, const char* const* argv, Transport* link = nullptr);

}  // namespace quorvane::cli
