#pragma once
// upgradectl's side of the shared options (app/global_option_table.h):
// registering them with CLI11, and the endpoint their destination names.

#include <string>

#include "app/global_option_table.h"
#include "protocol/ipv4_text.h"
#include "protocol/udp_endpoint.h"

namespace CLI {
class App;
}

namespace quorvane::cli {

// Registers the shared options upgradectl takes before and after every
// command on the top-level command; the subcommands let unknown options fall
// through to it, so the options are accepted before and after the command name.
void AddGlobalOptions(CLI::App& app, GlobalOptions& options);
// Registers on a command (upgrade) the shared option `id` it takes of its own.
void AddCommandOption(CLI::App& command, GlobalOptionId id, GlobalOptions& options);

// False with `error` set to the line for stderr when the broadcast address
// is not valid or --interface names no IPv4 interface.
bool ToEndpointOptions(const GlobalOptions& options, EndpointOptions& out, std::string& error);


}  // namespace quorvane::cli
