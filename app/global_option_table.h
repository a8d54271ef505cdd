#pragma once
// The options both programs take besides their own: where the device
// requests go, how long a reply is waited for, and what is written beside
// the run. One table, from which upgradectl and the desktop program each
// register theirs with their own parser, so that an option's names, value
// name and help text are written once.

#include <span>
#include <string_view>

namespace quorvane {

// The last one is LogFile: the table checks that it holds one entry for each.
enum class GlobalOptionId {
    Broadcast,
    Interface,
    Port,
    WaitMs,
    Rounds,
    Json,
    Capture,
    Events,
    Verbose,
    LogFile
};

// The programs that take an option, as bits.
inline constexpr unsigned IN_UPGRADECTL = 1;
inline constexpr unsigned IN_DESKTOP = 2;

struct GlobalOption {
    GlobalOptionId id;
    std::string_view longName;   // "broadcast" for --broadcast
    std::string_view shortName;  // "v" for -v; empty when there is none
    std::string_view valueName;  // "ADDR"; empty for an option that takes no value
    std::string_view help;
    unsigned programs;  // IN_UPGRADECTL, IN_DESKTOP or both
};

// Every shared option, in the order the help texts list them.
std::span<const GlobalOption> GlobalOptionTable();

// The table's entry for `id`.
const GlobalOption& GlobalOptionOf(GlobalOptionId id);

}  // namespace quorvane
