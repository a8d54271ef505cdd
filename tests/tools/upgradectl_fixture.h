#pragma once
// What the end-to-end tests of upgradectl share: the test image and
// script, the messages they look for, and a fixture that runs devsim and
// upgradectl as real processes talking UDP over 127.0.0.1.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "upgradectl_process.h"

namespace quorvane::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The messages the upgrade command shows, as the string table words them.
inline const std::string RETRY_TEXT = "Upgrade failed on device with MAC address ";
inline const std::string GIVEN_UP_TEXT = "I am sorry for the failure.";
inline const std::string COMPLETE_TEXT = "Upgrade complete.";
inline const std::string WARNING_TEXT = "Devices selected for upgrade will lose their configuration settings.";
inline const std::string FIRMWARE_REFUSED_TEXT = "The firmware currently inside this device is not compatible";
inline const std::string MAC_REFUSED_TEXT = "The MAC address of the device is not compatible";

// An odd size: five full blocks of 512, a partial one, and a partial READ request.
inline std::vector<uint8_t> Image(std::size_t size = 3001) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = 0x12345678;
    for (auto& byte : bytes) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

inline const std::string SCRIPT =
    "; test upgrade\n"
    "SETPROGRAMMODE\n"
    "ERASE 1\n"
    "LOAD image.bin 1:0\n"
    "READ readback.bin 1:0 3001\n"
    "RESET\n";

// Admits the simulator's first three default devices.
inline const std::string ADMIT_ALL = "PRODUCTID 0x0101\nVENDORID 0x1407\nREVISIONID 4\nDEFAULT 1\n";

inline int CountLines(const std::string& text, const std::string& prefix) {
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line.rfind(prefix, 0) == 0;
    return count;
}

inline int Occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Requests that change a device: none may arrive when a check refuses.
inline int ProgrammingRequests(const std::string& log) {
    int count = 0;
    for (const char* op : {"PROGRAM_MODE", "LOCK", "UNLOCK", "ERASE", "LOAD_BEGIN", "LOAD_BLOCK", "RESET"})
        count += CountLines(log, std::string("rx ") + op + " ");
    return count;
}

class UpgradectlEndToEnd : public ::testing::Test {
protected:
    // upgradectl trusts the keys of the user's configuration: the tests
    // give it one of their own, so that a key installed there changes nothing.
    // Its history goes into the test's folder too.
    UpgradectlEndToEnd() {
        ::setenv("XDG_CONFIG_HOME", (Dir() / "config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (Dir() / "state").c_str(), 1);
    }

    fs::path Dir() const { return temp_.Path(); }

    void StartSimulator(const std::vector<std::string>& options) {
        fs::create_directories(Dir() / "sim");
        sim_ = std::make_unique<SimulatorProcess>(DEVSIM_PATH, Dir() / "sim");
        ASSERT_TRUE(sim_->Start(options)) << ReadFileText(Dir() / "sim" / "sim.err");
    }

    // upgradectl with `args`, the network options behind them when a
    // simulator runs, in the package folder.
    ProcessResult Ctl(std::vector<std::string> args, std::chrono::milliseconds limit = 60s) {
        args.insert(args.begin(), UPGRADECTL_PATH);
        if (sim_) {
            for (std::string option : {"--broadcast", "127.0.0.1", "--wait-ms", "100", "--port"})
                args.push_back(option);
            args.push_back(std::to_string(sim_->Port()));
        }
        ProcessResult result = RunProcess(args, Dir(), limit);
        EXPECT_FALSE(result.timedOut) << "upgradectl did not end in time";
        return result;
    }

    // Packs SCRIPT (or `script`), the restrictions and the test image with
    // upgradectl itself; --force, so that packages the check warns about can
    // be made too (a package with errors still fails here).
    fs::path MakePackage(const std::string& restrictions, const std::string& script = SCRIPT) {
        const fs::path source = Dir() / "source";
        fs::create_directories(source);
        WriteFileText(source / "program.cmd", script);
        WriteFileText(source / "restriction.ini", restrictions);
        WriteFileBytes(source / "image.bin", Image());
        const fs::path package = Dir() / ("test" + std::to_string(++packages_) + ".upk");
        const auto result =
            RunProcess({UPGRADECTL_PATH, "pack", package.string(), "--script",
                        (source / "program.cmd").string(), "--restrictions",
                        (source / "restriction.ini").string(), (source / "image.bin").string(), "--force"},
                       Dir(), 30s);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return package;
    }

    SimulatorProcess& Sim() { return *sim_; }

private:
    TempFolder temp_;
    std::unique_ptr<SimulatorProcess> sim_;
    int packages_ = 0;
};

// Waits (bounded) until the simulator's log has a line starting with `prefix`.
inline bool WaitForLogLine(const SimulatorProcess& sim, const std::string& prefix) {
    for (int i = 0; i < 1500; ++i) {
        if (CountLines(sim.Log(), prefix) > 0) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

}  // namespace quorvane::testing
