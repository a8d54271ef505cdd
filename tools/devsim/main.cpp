// devsim: simulated device servers for trying and testing the upgrade tools
// without hardware. See README.md.

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "tools/devsim/devsim_options.h"
#include "tools/devsim/memory_dump.h"
#include "tools/devsim/profile_file.h"
#include "tools/devsim/udp_server.h"

namespace {

using namespace quorvane::devsim;

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t dumpRequested = 0;

extern "C" void OnStop(int) {
    stopRequested = 1;
}
extern "C" void OnDump(int) {
    dumpRequested = 1;
}

void InstallHandlers() {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the poll must return so the loop sees the flag.
    action.sa_handler = OnStop;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = OnDump;
    sigaction(SIGUSR1, &action, nullptr);
}

bool LoadDevices(const DevsimConfig& config, std::vector<DeviceProfile>& profiles) {
    if (config.profile.empty()) {
        profiles = DefaultProfiles(config.devices);
        for (auto& p : profiles) {
            p.blockSize = config.blockSize;
            p.firmwareAfter = config.release;
        }
        return true;
    }
    std::string error;
    if (!LoadProfileFile(config.profile, profiles, error, config.blockSize)) {
        std::cerr << "devsim: " << config.profile << ": " << error << "\n";
        return false;
    }
    for (auto& p : profiles)
        if (!p.firmwareAfter) p.firmwareAfter = config.release;
    return true;
}

// Written under a temporary name and renamed, so a reader never sees half a number.
bool WritePortFile(const std::string& path, uint16_t port) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        if (!(out << port << "\n")) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

void DumpAll(const DevsimConfig& config, const Simulator& simulator) {
    if (config.dumpDir.empty()) return;
    for (const auto& device : simulator.Devices()) {
        std::string error;
        if (!WriteMemoryDump(config.dumpDir, device, error)) std::cerr << "devsim: " << error << "\n";
    }
}

LogSink MakeLogSink(const DevsimConfig& config, std::ofstream& logFile) {
    if (!config.verbose && !logFile.is_open()) return nullptr;
    return [&config, &logFile](const std::string& line) {
        if (config.verbose) std::cerr << "devsim: " << line << "\n";
        if (logFile.is_open()) logFile << line << std::endl;  // flushed so tests can read it while we run
    };
}

int Serve(const DevsimConfig& config) {
    ListenAddress where;
    if (!ParseListenAddress(config.listen, where)) {
        std::cerr << "devsim: --listen wants ADDR:PORT, got '" << config.listen << "'\n";
        return EXIT_USAGE;
    }
    std::vector<DeviceProfile> profiles;
    if (!LoadDevices(config, profiles)) return 1;
    std::ofstream logFile;
    if (!config.logFile.empty()) {
        logFile.open(config.logFile, std::ios::app);
        if (!logFile) {
            std::cerr << "devsim: cannot open log file " << config.logFile << "\n";
            return 1;
        }
    }
    // Opened before the socket, so nothing is answered when it cannot be written.
    quorvane::PcapWriter capture;
    std::string error;
    if (!config.capture.empty() && !capture.Open(config.capture, error)) {
        std::cerr << "devsim: " << error << "\n";
        return 1;
    }
    Simulator simulator(std::move(profiles), config.faults);
    simulator.SetLog(MakeLogSink(config, logFile));
    UdpServer server;
    if (!server.Open(where, error)) {
        std::cerr << "devsim: " << config.listen << ": " << error << "\n";
        return 1;
    }
    if (capture.IsOpen()) server.CaptureInto(capture);
    InstallHandlers();
    if (!config.portFile.empty() && !WritePortFile(config.portFile, server.BoundPort())) {
        std::cerr << "devsim: cannot write port file " << config.portFile << "\n";
        return 1;
    }
    if (config.verbose) {
        std::cerr << "devsim: " << simulator.Devices().size() << " device(s) listening on port "
                  << server.BoundPort() << "\n";
    }
    const bool ok = server.Run(
        simulator, {&stopRequested, &dumpRequested}, [&] { DumpAll(config, simulator); }, error);
    DumpAll(config, simulator);
    if (!ok) std::cerr << "devsim: " << error << "\n";
    if (!capture.Close(error)) std::cerr << "devsim: " << error << "\n";
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    DevsimConfig config;
    const int code = ParseDevsimOptions(argc, argv, config, std::cout, std::cerr);
    if (code >= 0) return code;
    return Serve(config);
}
