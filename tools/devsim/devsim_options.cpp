#include "tools/devsim/devsim_options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <vector>

#include "protocol/opcode_names.h"
#include "res/version_line.h"
#include "tools/devsim/profile_file.h"
#include "tools/devsim/device_profile.h"

namespace quorvane::devsim {
namespace {

struct RawFaults {
    std::string dropMode = "both";
    std::vector<std::string> dropFirst;
    std::vector<std::string> silent;
    std::vector<std::string> wrongEcho;
    std::vector<std::string> devices;
    std::vector<std::string> noReturn;
};

void AddFaultOptions(CLI::App& app, FaultOptions& f, RawFaults& raw) {
    app.add_option("--drop", f.dropFraction, "Lose this fraction (0..1) of requests and/or replies")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--drop-mode", raw.dropMode, "What --drop loses: both, requests or replies")
        ->check(CLI::IsMember({"both", "requests", "replies"}));
    app.add_option("--seed", f.seed, "Seed of the random drops");
    app.add_option("--drop-first", raw.dropFirst, "OPNAME:K - ignore the first K requests of that opcode")
        ->allow_extra_args(false)
        ->delimiter(',');
    app.add_option("--silent", raw.silent, "OPNAME - never answer that opcode")
        ->allow_extra_args(false)
        ->delimiter(',');
    app.add_option("--wrong-echo-once", raw.wrongEcho,
                   "OPNAME - spoil the first reply: ERASE/LOAD_BLOCK echo, READ length, LOAD_VERIFY checksum")
        ->allow_extra_args(false)
        ->delimiter(',');
    app.add_flag("--bad-checksum", f.badChecksum, "LOAD_VERIFY reports the checksum plus one");
    app.add_flag("--duplicate", f.duplicate, "Send every reply twice");
    app.add_option("--delay-ms", f.delayMs, "Delay every reply by N ms")->check(CLI::NonNegativeNumber);
    app.add_option("--block-delay-ms", f.blockDelayMs, "Time to store one LOAD block, in ms")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--foreign-per-s", f.foreignPerSecond,
                   "Send N datagrams a second from no simulated device to the last client")
        ->check(CLI::Range(0, 10000));
    app.add_option("--oversized-per-s", f.oversizedPerSecond,
                   "Send N datagrams a second longer than any reply to the last client")
        ->check(CLI::Range(0, 10000));
    app.add_option("--reboot-ms", f.rebootMs, "After answering RESET a device is silent for N ms, as it boots")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--no-return", raw.noReturn, "MAC - this device never answers again after its RESET (repeatable)");
    app.add_option("--fault-device", raw.devices, "MAC - apply the faults to this device only (repeatable)")
        ->allow_extra_args(false)
        ->delimiter(',');
}

bool Opcode(const std::string& text, uint8_t& out, std::string& error) {
    auto op = ParseOpcodeName(text);
    if (!op) {
        error = "unknown opcode name '" + text + "'";
        return false;
    }
    out = *op;
    return true;
}

bool DropFirst(const std::string& text, FaultOptions& f, std::string& error) {
    const std::size_t colon = text.rfind(':');
    uint8_t op = 0;
    int count = 0;
    if (colon == std::string::npos) {
        error = "--drop-first wants OPNAME:K, got '" + text + "'";
        return false;
    }
    if (!Opcode(text.substr(0, colon), op, error)) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data() + colon + 1, end, count);
    if (ec != std::errc() || ptr != end || count < 0) {
        error = "--drop-first wants a count after ':', got '" + text + "'";
        return false;
    }
    f.dropFirst[op] = count;
    return true;
}

bool Resolve(const RawFaults& raw, FaultOptions& f, std::string& error) {
    f.dropMode = raw.dropMode == "requests"  ? DropMode::Requests
                 : raw.dropMode == "replies" ? DropMode::Replies
                                             : DropMode::Both;
    for (const auto& text : raw.dropFirst) {
        if (!DropFirst(text, f, error)) return false;
    }
    uint8_t op = 0;
    for (const auto& text : raw.silent) {
        if (!Opcode(text, op, error)) return false;
        f.silent.insert(op);
    }
    for (const auto& text : raw.wrongEcho) {
        if (!Opcode(text, op, error)) return false;
        if (!HasEcho(op)) {
            error = "--wrong-echo-once applies to ERASE, LOAD_BLOCK, READ and LOAD_VERIFY, not " + text;
            return false;
        }
        f.wrongEchoOnce.insert(op);
    }
    for (const auto& text : raw.devices) {
        MacAddress mac{};
        if (!ParseMacText(text, mac)) {
            error = "--fault-device wants a MAC like 02:00:00:00:00:01, got '" + text + "'";
            return false;
        }
        f.devices.push_back(mac);
    }
    for (const auto& text : raw.noReturn) {
        MacAddress mac{};
        if (!ParseMacText(text, mac)) {
            error = "--no-return wants a MAC like 02:00:00:00:00:01, got '" + text + "'";
            return false;
        }
        f.noReturn.push_back(mac);
    }
    return true;
}

}  // namespace

int ParseDevsimOptions(int argc, const char* const* argv, DevsimConfig& config, std::ostream& out,
                       std::ostream& err) {
    CLI::App app{"devsim - simulated device servers on one UDP socket", "devsim"};
    app.set_version_flag("--version", VersionLine("devsim"), "Print the program name and version");
    RawFaults raw;
    app.add_option("--listen", config.listen, "ADDR:PORT to listen on (port 0: any free port)")
        ->capture_default_str();
    app.add_option("--port-file", config.portFile, "Write the bound port to this file once listening");
    auto* devices = app.add_option("--devices", config.devices, "Number of default devices")
                        ->check(CLI::Range(1, 65535))
                        ->capture_default_str();
    app.add_option("--profile", config.profile, "Device-profile file, one device per line")
        ->check(CLI::ExistingFile)
        ->excludes(devices);
    app.add_option("--block-size", config.blockSize, "LOAD block size the devices announce")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    app.add_flag("-v,--verbose", config.verbose, "Log every request and reply on stderr");
    app.add_option("--log-file", config.logFile, "Append one line per request and reply to this file");
    app.add_option("--dump-dir", config.dumpDir, "On exit (and on SIGUSR1) write each device's memory here");
    app.add_option("--capture", config.capture, "Write every datagram received and sent to this pcap file");
    app.add_option("--firmware-after", config.firmwareAfter,
                   "\"A.B.C D/E/F\" - the firmware a device reports after a LOAD and a RESET "
                   "(devices whose profile line gives none)");
    AddFaultOptions(app, config.faults, raw);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == 0 ? 0 : EXIT_USAGE;
    }
    std::string error;
    FirmwareRelease release;
    if (!config.firmwareAfter.empty() && !ParseFirmwareRelease(config.firmwareAfter, release)) {
        err << "devsim: --firmware-after wants a version and a date like \"4.1.0 12/01/26\", got '"
            << config.firmwareAfter << "'\n";
        return EXIT_USAGE;
    }
    if (!config.firmwareAfter.empty()) config.release = release;
    if (!Resolve(raw, config.faults, error)) {
        err << "devsim: " << error << "\n";
        return EXIT_USAGE;
    }
    return -1;
}

}  // namespace quorvane::devsim
