#include "tools/upgradectl/global_options.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <type_traits>

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

// The table's help, with the note that closes --jobs's: its upper bound.
std::string HelpOf(const GlobalOption& entry) {
    std::string help(entry.help);
    if (entry.id == GlobalOptionId::Jobs)
        help += "; " + std::to_string(entry.range.highest) +
                " at the most, fewer where the open-file limit is lower)";
    return help;
}

// Binds the option to its field, by the field's type, with the checks its
// value gets.
CLI::Option* BindOption(CLI::App& app, const GlobalOption& entry, GlobalOptions& options) {
    const std::string names = NamesOf(entry);
    const std::string help = HelpOf(entry);
    return std::visit(
        [&](auto field) -> CLI::Option* {
            using Value = std::remove_reference_t<decltype(options.*field)>;
            Value& value = options.*field;
            if constexpr (std::is_same_v<Value, bool>) {
                return app.add_flag(names, value, help);
            } else if constexpr (std::is_same_v<Value, std::string>) {
                // An empty default shows as none.
                CLI::Option* option = app.add_option(names, value, help)->capture_default_str();
                if (entry.refusal == nullptr) return option;
                return option->check(CLI::Validator(
                    [refusal = entry.refusal](std::string& input) { return refusal(input); }, std::string()));
            } else if constexpr (std::is_same_v<Value, int>) {
                // Without a value: counted, -vv is twice as much.
                if (entry.valueName.empty()) return app.add_flag(names, value, help);
                CLI::Option* option = app.add_option(names, value, help)->capture_default_str();
                // The destination's numbers as the network options' parser
                // reads them, which the desktop program's refusals match.
                if (entry.destination) return option->transform(NumberIn(entry.range));
                return option->check(CLI::Range(entry.range.lowest, entry.range.highest));
            } else if constexpr (std::is_same_v<Value, std::vector<std::filesystem::path>>) {
                // One name each time it is given, so that what follows is
                // the command, not a second key.
                return app
                    .add_option_function<std::vector<std::string>>(
                        names, [&value](const std::vector<std::string>& given) { value.assign(given.begin(), given.end()); },
                        help)
                    ->allow_extra_args(false);
            } else {
                // A file: given, even as an empty name, which opens none.
                return app.add_option_function<std::string>(
                    names, [&value](const std::string& name) { value = name; }, help);
            }
        },
        entry.field);
}

}  // namespace

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
    for (const GlobalOption& entry : GlobalOptionTable()) {
        if ((entry.programs & IN_UPGRADECTL) == 0) continue;
        CLI::Option* option = BindOption(app, entry, options);
        if (!entry.valueName.empty()) option->type_name(std::string(entry.valueName));
    }
    // Two destinations at once: which one was meant cannot be told.
    app.get_option("--interface")->excludes(app.get_option("--broadcast"));
}

void AddCommandOption(CLI::App& command, GlobalOptionId id, GlobalOptions& options) {
    // The command's own options show CLI11's type names, as they always did.
    BindOption(command, GlobalOptionOf(id), options);
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
