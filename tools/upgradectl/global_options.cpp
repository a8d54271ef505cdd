#include "tools/upgradectl/global_options.h"

#include <CLI/CLI.hpp>
#include <optional>

#include "app/global_option_table.h"
#include "protocol/network_options.h"
#include "tools/upgradectl/command_error.h"

namespace quorvane::cli {

namespace {

// Worded as the command line's own range checks word a refusal.
std::string RangeRefusal(const std::string& input, OptionRange range) {
    return "Value " + input + " not in range " + std::to_string(range.lowest) + " to " +
           std::to_string(range.highest);
}

// The shared number parser as a check of the command line. The text is
// handed on as the parser read it, so that the command line's own
// conversion never reads it another way (a leading 0 as octal).
CLI::Validator NumberIn(OptionRange range) {
    const std::string description =
        "INT in [" + std::to_string(range.lowest) + " - " + std::to_string(range.highest) + "]";
    return CLI::Validator(
        [range](std::string& input) {
            const std::optional<int> value = ParseOptionNumber(input, range);
            if (!value) return RangeRefusal(input, range);
            input = std::to_string(*value);
            return std::string();
        },
        description);
}

// "-v,--verbose", "--port": the names as the command line takes them.
std::string NamesOf(const GlobalOption& entry) {
    const std::string longName = "--" + std::string(entry.longName);
    return entry.shortName.empty() ? longName : "-" + std::string(entry.shortName) + "," + longName;
}

// Binds the option to its field, with the checks its value gets.
CLI::Option* BindOption(CLI::App& app, const GlobalOption& entry, GlobalOptions& options) {
    const std::string names = NamesOf(entry);
    const std::string help(entry.help);
    switch (entry.id) {
        case GlobalOptionId::Broadcast:
            return app.add_option(names, options.broadcast, help)->capture_default_str();
        case GlobalOptionId::Interface:
            return app.add_option(names, options.interfaceName, help);
        case GlobalOptionId::Port:
            return app.add_option(names, options.port, help)
                ->capture_default_str()
                ->transform(NumberIn(PORT_OPTION_RANGE));
        case GlobalOptionId::WaitMs:
            return app.add_option(names, options.waitMs, help)
                ->capture_default_str()
                ->transform(NumberIn(WAIT_MS_OPTION_RANGE));
        case GlobalOptionId::Rounds:
            return app.add_option(names, options.rounds, help)
                ->capture_default_str()
                ->check(CLI::Range(1, 100));
        case GlobalOptionId::Json:
            return app.add_flag(names, options.json, help);
        case GlobalOptionId::Capture:
            return app.add_option(names, options.capture, help);
        case GlobalOptionId::Events:
            return app.add_option(names, options.events, help);
        case GlobalOptionId::Verbose:
            // Counted: -vv is twice as much.
            return app.add_flag(names, options.verbosity, help);
        case GlobalOptionId::LogFile:
            return app.add_option(names, options.logFile, help);
    }
    return nullptr;
}

void AddGlobalOption(CLI::App& app, const GlobalOption& entry, GlobalOptions& options) {
    CLI::Option* option = BindOption(app, entry, options);
    if (option != nullptr && !entry.valueName.empty()) option->type_name(std::string(entry.valueName));
}

}  // namespace

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
    for (const GlobalOption& entry : GlobalOptionTable())
        if ((entry.programs & IN_UPGRADECTL) != 0) AddGlobalOption(app, entry, options);
    // Two destinations at once: which one was meant cannot be told.
    app.get_option("--interface")->excludes(app.get_option("--broadcast"));
}

bool ToEndpointOptions(const GlobalOptions& options, EndpointOptions& out, std::string& error) {
    // --interface wins: --broadcast always has a value, its default.
    const bool named = !options.interfaceName.empty();
    const NetworkOptionTexts texts{named ? std::nullopt : std::optional(options.broadcast),
                                   named ? std::optional(options.interfaceName) : std::nullopt,
                                   std::to_string(options.port), std::to_string(options.waitMs)};
    switch (ResolveNetworkOptions(texts, out)) {
        case NetworkOptionFault::None:
            return true;
        case NetworkOptionFault::Interface:
            error =
                Said("no IPv4 interface named '" + options.interfaceName + "' (see 'upgradectl interfaces')");
            return false;
        case NetworkOptionFault::Broadcast:
            error = Said("--broadcast needs an IPv4 address, not '" + options.broadcast + "'");
            return false;
        case NetworkOptionFault::Port:
            error = Said("--port: " + RangeRefusal(std::to_string(options.port), PORT_OPTION_RANGE));
            return false;
        case NetworkOptionFault::WaitMs:
            error = Said("--wait-ms: " + RangeRefusal(std::to_string(options.waitMs), WAIT_MS_OPTION_RANGE));
            return false;
        case NetworkOptionFault::InterfaceWithBroadcast:  // only one of them is passed on
            error = Said("--interface excludes --broadcast");
            return false;
    }
    return false;
}

}  // namespace quorvane::cli
