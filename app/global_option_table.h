#pragma once
// The options both programs take besides their own: where the device
// requests go, how long a reply is waited for, what is written beside the
// run and how many devices run at once. One table, from which upgradectl
// and the desktop program each register theirs with their own parser and
// into the one values struct below, so that an option's names, value name,
// help text, range and field are written once.
//
// Adding an option: its id, its field in GlobalOptions, its row in the
// table (global_option_table.cpp), and for upgradectl's its name in the
// bash completion. Both parsers bind it by the field's type; the link stack
// gets the values as they are (LinkSettingsOf).

#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/rollout_gate.h"
#include "protocol/ipv4_text.h"
#include "protocol/network_options.h"
#include "protocol/transport.h"
#include "protocol/udp_endpoint.h"

namespace quorvane {

// The last one is SkipFirmware: the table checks that it holds one entry for each.
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
    LogFile,
    Jobs,
    TrustedKey,
    Signature,
    AllowUnsigned,
    History,
    NoHistory,
    VerifyTimeout,
    NoVerify,
    Canary,
    MaxFailures,
    SkipFirmware
};

// The values of the options, as the parsers leave them.
struct GlobalOptions {
    // The endpoint's own defaults, as the options write them.
    std::string broadcast = FormatIpv4(EndpointOptions{}.broadcastAddress);
    std::string interfaceName;  // --interface: that interface's broadcast, from its address
    int port = EndpointOptions{}.port;
    int waitMs = static_cast<int>(EndpointOptions{}.receiveWait.count());
    int rounds = 1;  // discovery rounds asked for
    bool json = false;
    std::optional<std::filesystem::path> capture;  // pcap file for every datagram sent and received
    std::string events;  // JSON Lines of the run's events; "-" for stdout, none when empty
    int verbosity = 0;   // -v: each request and reply on stderr; -vv: with their bytes
    std::optional<std::filesystem::path> logFile;  // the same trace, with timestamps
    int jobs = 1;  // devices upgraded at once; 0: all selected
    // Public keys trusted besides the installed ones, in the order given.
    std::vector<std::filesystem::path> trustedKeys;
    std::optional<std::filesystem::path> signature;  // the package's, when not beside it
    bool allowUnsigned = false;  // an unsigned package passes though keys are trusted
    std::optional<std::filesystem::path> history;  // the history database, when not the default one
    bool noHistory = false;                        // nothing is recorded
    // How long a device may take to answer again after its script's RESET,
    // in seconds; 0, or --no-verify, and it is not waited for.
    int verifyTimeout = 60;
    bool noVerify = false;
    // A staged rollout: the first `canary` devices first, no device started
    // once `maxFailures` ("3", "10%") have failed, and devices whose firmware
    // is `skipFirmware` left alone. None of them by default.
    int canary = 0;
    std::string maxFailures;
    std::string skipFirmware;
    // Not an option: a transport that stands in for the UDP endpoint, so that
    // tests and fuzzers run whole commands without a socket. None in use.
    Transport* link = nullptr;
};

// What the options leave of the wait after a device's reset (zero: none).
std::chrono::milliseconds ReturnLimitOf(const GlobalOptions& options);

// The staged rollout the options ask for (see RolloutOptions); a budget
// that does not parse is none, the parsers having refused it.
RolloutOptions RolloutOf(const GlobalOptions& options);

// Why --max-failures refuses `text`; empty when it takes it.
std::string FailureBudgetRefusal(const std::string& text);

// The programs that take an option, as bits. upgradectl takes some on its
// upgrade command only, not before or after every command.
inline constexpr unsigned IN_UPGRADECTL = 1;
inline constexpr unsigned IN_DESKTOP = 2;
inline constexpr unsigned IN_UPGRADECTL_UPGRADE = 4;

// The field an option sets, which also says how it is read: a text, a file
// name (none when not given), file names (one each time it is given), a
// number (an int with a value name), a flag (a bool), or a count of how
// often it is given (an int without a value name).
using GlobalOptionField =
    std::variant<std::string GlobalOptions::*, std::optional<std::filesystem::path> GlobalOptions::*,
                 std::vector<std::filesystem::path> GlobalOptions::*, int GlobalOptions::*,
                 bool GlobalOptions::*>;

struct GlobalOption {
    GlobalOptionId id;
    std::string_view longName;   // "broadcast" for --broadcast
    std::string_view shortName;  // "v" for -v; empty when there is none
    std::string_view valueName;  // "ADDR"; empty for an option that takes no value
    std::string_view help;
    unsigned programs;  // IN_UPGRADECTL, IN_DESKTOP, IN_UPGRADECTL_UPGRADE, or several
    GlobalOptionField field;
    OptionRange range{0, 0};  // of a number
    // Read with the destination by the network options' parser
    // (ResolveNetworkOptions), which both programs hand these texts to.
    bool destination = false;
    // Of a text: why a value is refused (empty when it is taken); none: any text.
    std::string (*refusal)(const std::string&) = nullptr;
};

// Every shared option, in the order the help texts list them.
std::span<const GlobalOption> GlobalOptionTable();

// The table's entry for `id`.
const GlobalOption& GlobalOptionOf(GlobalOptionId id);

}  // namespace quorvane
