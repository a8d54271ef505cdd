#pragma once
// Child processes for the end-to-end tests: upgradectl runs to completion
// with its output captured, devsim runs in the background on a free
// loopback port until the test stops it.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quorvane::testing {

struct ProcessResult {
    int exitCode = -1;  // -1 when the process did not end by itself
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs `argv` in `workDir` with stdin from `input` (/dev/null when empty: no
// terminal) and waits up to `limit`; a process still running then is killed.
// `whileRunning`, when given, is called with the child's id once it started
// (e.g. to send it signals); the wait for its end follows.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::filesystem::path& workDir,
                         std::chrono::milliseconds limit, const std::filesystem::path& input = {},
                         const std::function<void(pid_t)>& whileRunning = {});

std::string ReadFileText(const std::filesystem::path& path);
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileText(const std::filesystem::path& path, const std::string& text);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A fresh folder under the system's temporary folder, removed on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// devsim on 127.0.0.1 with a port it picked itself, logging to sim.log and
// dumping device memory into dump/ (both in `folder`) when stopped.
class SimulatorProcess {
public:
    SimulatorProcess(std::filesystem::path executable, std::filesystem::path folder)
        : executable_(std::move(executable)), folder_(std::move(folder)) {}
    ~SimulatorProcess() { Stop(); }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts devsim with `options` added and waits until it reports its port.
    bool Start(const std::vector<std::string>& options);
    // SIGTERM, then waits for the dumps to be written. True for a clean exit.
    bool Stop();
    uint16_t Port() const { return port_; }
    std::string Log() const { return ReadFileText(folder_ / "sim.log"); }
    std::filesystem::path DumpFolder() const { return folder_ / "dump"; }
    // The bytes written to a device, from its dump (after Stop).
    std::vector<uint8_t> Memory(const std::string& macStem) const;

private:
    std::filesystem::path executable_;
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace quorvane::testing
