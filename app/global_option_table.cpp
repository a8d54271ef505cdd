#include "app/global_option_table.h"

#include <cstddef>
#include <iterator>

#include "app/upgrade_command.h"

namespace quorvane {
namespace {

constexpr unsigned BOTH = IN_UPGRADECTL | IN_DESKTOP;
using G = GlobalOptions;

// Worded for both programs: neither help text may name what only the other
// has. In the order of the ids, so that an id is its entry's index.
constexpr GlobalOption TABLE[] = {
    {GlobalOptionId::Broadcast, "broadcast", "", "ADDR",
     "Address that receives the device requests (127.0.0.1 for the simulator)", BOTH, &G::broadcast, {}, true},
    {GlobalOptionId::Interface, "interface", "", "NAME",
     "Send to the broadcast address of the IPv4 interface NAME, from its own address "
     "('upgradectl interfaces' lists them)",
     BOTH, &G::interfaceName, {}, true},
    {GlobalOptionId::Port, "port", "", "N", "Destination UDP port of the device requests", BOTH, &G::port,
     PORT_OPTION_RANGE, true},
    {GlobalOptionId::WaitMs, "wait-ms", "", "N", "How long one receive waits for a reply, in milliseconds",
     BOTH, &G::waitMs, WAIT_MS_OPTION_RANGE, true},
    {GlobalOptionId::Rounds, "rounds", "", "N",
     "Discovery rounds at most; a round follows only while the last found new devices", IN_UPGRADECTL,
     &G::rounds, {1, 100}},
    {GlobalOptionId::Json, "json", "", "", "Machine-readable output on stdout; messages stay on stderr",
     IN_UPGRADECTL, &G::json},
    {GlobalOptionId::Capture, "capture", "", "FILE",
     "Write every datagram sent and received to the pcap file FILE (for Wireshark or tshark)", BOTH,
     &G::capture},
    {GlobalOptionId::Events, "events", "", "FILE",
     "Write the upgrade's events to FILE as JSON Lines ('-': stdout)", BOTH, &G::events},
    {GlobalOptionId::Verbose, "verbose", "v", "",
     "Show each request and reply on stderr: opcode, MAC, fields, size, round trip; "
     "-vv adds their bytes in hexadecimal",
     BOTH, &G::verbosity},
    {GlobalOptionId::LogFile, "log-file", "", "FILE",
     "Append the same trace, each entry with its UTC time, to FILE (at least as -v)", BOTH, &G::logFile},
    // Left open: each program closes the parenthesis with its own note, its
    // default or its upper bound.
    {GlobalOptionId::Jobs, "jobs", "", "N",
     "How many devices are upgraded at once, each over a socket of its own (0: all selected devices",
     IN_DESKTOP | IN_UPGRADECTL_UPGRADE, &G::jobs, {0, static_cast<int>(MAX_SIDE_BY_SIDE)}},
    {GlobalOptionId::TrustedKey, "trusted-key", "", "FILE",
     "Trust the minisign public key in FILE besides the installed ones (may be given more than once)", BOTH,
     &G::trustedKeys},
    {GlobalOptionId::Signature, "signature", "", "FILE",
     "The package's minisign signature (default: the package's name with .minisig added)", BOTH,
     &G::signature},
    {GlobalOptionId::AllowUnsigned, "allow-unsigned", "", "",
     "Upgrade from an unsigned package although trusted keys are installed; a bad signature is still refused",
     BOTH, &G::allowUnsigned},
    {GlobalOptionId::History, "history", "", "FILE",
     "Record the runs in the SQLite database FILE instead of the default one under $XDG_STATE_HOME", BOTH,
     &G::history},
    {GlobalOptionId::NoHistory, "no-history", "", "", "Record nothing in the history", BOTH, &G::noHistory},
    {GlobalOptionId::VerifyTimeout, "verify-timeout", "", "SECONDS",
     "After a script's final RESET, wait this long for each device to answer again; one that does not has "
     "failed (default 60; 0: no wait, as --no-verify)",
     IN_DESKTOP | IN_UPGRADECTL_UPGRADE, &G::verifyTimeout, {0, 3600}},
    {GlobalOptionId::NoVerify, "no-verify", "", "", "Do not wait for the devices to come back after their reset",
     IN_DESKTOP | IN_UPGRADECTL_UPGRADE, &G::noVerify},
    {GlobalOptionId::Canary, "canary", "", "N",
     "Upgrade the first N selected devices first; the others start only once every one of them was upgraded "
     "and came back, and not at all when one failed (default 0: no canaries)",
     IN_UPGRADECTL_UPGRADE, &G::canary, {0, 1 << 20}},
    {GlobalOptionId::MaxFailures, "max-failures", "", "N|P%",
     "Start no further device once N devices (or P% of the selected ones, rounded up) have failed; those "
     "under way finish (default: no limit)",
     IN_UPGRADECTL_UPGRADE, &G::maxFailures, {}, false, FailureBudgetRefusal},
    {GlobalOptionId::SkipFirmware, "skip-firmware", "", "TEXT",
     "Leave alone the devices whose firmware is TEXT, as the firmware column shows it "
     "(\"v QVN 4.1.0 12/01/26\") or its version number alone (\"4.1.0\"); they count as current",
     IN_UPGRADECTL_UPGRADE, &G::skipFirmware},
};

constexpr bool InIdOrder() {
    for (std::size_t i = 0; i < std::size(TABLE); ++i)
        if (static_cast<std::size_t>(TABLE[i].id) != i) return false;
    return std::size(TABLE) == static_cast<std::size_t>(GlobalOptionId::SkipFirmware) + 1;
}
static_assert(InIdOrder(), "one entry for every id, in the order of the ids");

}  // namespace

std::string FailureBudgetRefusal(const std::string& text) {
    if (ParseFailureBudget(text)) return {};
    return "needs a count of at least 1 or a percentage from 1% to 100%, not '" + text + "'";
}

RolloutOptions RolloutOf(const GlobalOptions& options) {
    RolloutOptions rollout;
    rollout.canaries = options.canary > 0 ? static_cast<std::size_t>(options.canary) : 0;
    rollout.maxFailures = ParseFailureBudget(options.maxFailures).value_or(FailureBudget{});
    rollout.skipFirmware = options.skipFirmware;
    return rollout;
}

std::span<const GlobalOption> GlobalOptionTable() {
    return TABLE;
}

const GlobalOption& GlobalOptionOf(GlobalOptionId id) {
    return TABLE[static_cast<std::size_t>(id)];
}

std::chrono::milliseconds ReturnLimitOf(const GlobalOptions& options) {
    if (options.noVerify) return std::chrono::milliseconds(0);
    return std::chrono::seconds(options.verifyTimeout);
}

}  // namespace quorvane
