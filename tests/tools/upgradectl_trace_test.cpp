// upgradectl's diagnostics as real processes: the packet trace on stderr
// and in the log file against devsim on 127.0.0.1, the JSON error object of
// a command that could not begin, and the JSON reports of pack and unpack.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "upgradectl_process.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

class UpgradectlDiagnostics : public ::testing::Test {
protected:
    fs::path Dir() const { return temp_.Path(); }

    void StartSimulator() {
        fs::create_directories(Dir() / "sim");
        sim_ = std::make_unique<SimulatorProcess>(DEVSIM_PATH, Dir() / "sim");
        ASSERT_TRUE(sim_->Start({"--devices", "1"})) << ReadFileText(Dir() / "sim" / "sim.err");
    }
    std::vector<std::string> Network() const {
        return {"--broadcast", "127.0.0.1", "--wait-ms", "100", "--port", std::to_string(sim_->Port())};
    }
    ProcessResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), UPGRADECTL_PATH);
        ProcessResult result = RunProcess(args, Dir(), 30s);
        EXPECT_FALSE(result.timedOut) << "upgradectl did not end in time";
        return result;
    }
    ProcessResult Pack() {
        WriteFileText(Dir() / "program.cmd", "SETPROGRAMMODE\nERASE 1\nLOAD image.bin 1:0\nRESET\n");
        WriteFileText(Dir() / "restriction.ini",
                      "PRODUCTID 0x0101\nVENDORID 0x1407\nREVISIONID 4\nDEFAULT 1\n");
        WriteFileText(Dir() / "image.bin", std::string(3001, 'x'));
        return Run({"--json", "pack", "p.upk", "--script", "program.cmd", "--restrictions", "restriction.ini",
                    "image.bin"});
    }
    SimulatorProcess& Sim() { return *sim_; }

private:
    TempFolder temp_;
    std::unique_ptr<SimulatorProcess> sim_;
};

TEST_F(UpgradectlDiagnostics, VerboseTracesEveryRequestAndReplyOnStderrAndTheLogFile) {
    StartSimulator();
    auto args = Network();
    for (const char* more : {"-vv", "--log-file", "trace.log", "discover"}) args.push_back(more);
    const auto result = Run(args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string discover =
        "-> DISCOVER ff:ff:ff:ff:ff:ff p1=0xffff p2=0xffff, 18 bytes\n"
        "    0000  00 00 72 19 01 13 ff ff ff ff ff ff 04 00 ff ff\n"
        "    0010  ff ff\n";
    EXPECT_NE(result.err.find(discover), std::string::npos) << result.err;
    const std::regex reply(
        "<- DISCOVER_REPLY 02:00:00:00:00:01 w1=0x0000 w2=0x0000, 18 bytes from 127\\.0\\.0\\.1 after "
        "[0-9]+\\.[0-9]{3} ms\n");
    EXPECT_TRUE(std::regex_search(result.err, reply)) << result.err;
    EXPECT_NE(result.err.find("-> GET_INFO 02:00:00:00:00:01, 14 bytes\n"), std::string::npos);
    EXPECT_EQ(result.out.find("->"), std::string::npos) << "the trace belongs on stderr";

    const std::string log = ReadFileText(Dir() / "trace.log");
    EXPECT_TRUE(std::regex_search(
        log, std::regex("(^|\n)[0-9-]{10}T[0-9:]{8}\\.[0-9]{6}Z -> DISCOVER ff:ff:ff:ff:ff:ff p1=0xffff "
                        "p2=0xffff, 18 bytes\n    0000  00 00 72 19")))
        << log;

    auto quietArgs = Network();
    quietArgs.push_back("discover");
    const auto quiet = Run(quietArgs);
    EXPECT_EQ(quiet.err.find("->"), std::string::npos) << quiet.err;
}

TEST_F(UpgradectlDiagnostics, AnErrorBeforeAnyWorkIsOneJsonObjectWithTheMessageAndExitCode) {
    StartSimulator();
    ASSERT_EQ(Pack().exitCode, 0);
    const std::string package = ReadFileText(Dir() / "p.upk");
    const struct {
        std::vector<std::string> args;
        const char* error;
        const char* stderrLine;
    } cases[] = {
        {{"--log-file", "missing/trace.log", "discover"},
         "cannot write log file missing/trace.log: No such file or directory",
         "upgradectl: cannot write log file missing/trace.log: No such file or directory\n"},
        // A package that is not there says so first.
        {{"upgrade", "missing.upk", "--all"},
         "missing.upk: No such file or directory\nInvalid Upgrade File: missing.upk",
         "upgradectl: missing.upk: No such file or directory\nInvalid Upgrade File: missing.upk\n"},
        {{"upgarde"},
         "unknown command 'upgarde'; did you mean 'upgrade'?",
         "upgradectl: unknown command 'upgarde'; did you mean 'upgrade'?\n"},
        {{"discover", "--wait-ms", "0"},
         "--wait-ms: Value 0 not in range 1 to 60000",
         "--wait-ms: Value 0 not in range 1 to 60000\n"},
        // Opening an output would truncate or append to the package itself.
        {{"--events", "p.upk", "upgrade", "p.upk", "--all"},
         "--events p.upk is the package itself; nothing was done",
         "upgradectl: --events p.upk is the package itself; nothing was done\n"},
        {{"--capture", "./p.upk", "discover", "--package", "p.upk"},
         "--capture ./p.upk is the package itself; nothing was done",
         "upgradectl: --capture ./p.upk is the package itself; nothing was done\n"},
        // Two outputs in one file (not there yet) would overwrite each other.
        {{"--log-file", "run.txt", "--events", "./run.txt", "upgrade", "p.upk", "--all"},
         "--log-file run.txt and --events ./run.txt are one file; nothing was done",
         "upgradectl: --log-file run.txt and --events ./run.txt are one file; nothing was done\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = Network();
        args.push_back("--json");
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = Run(args);
        EXPECT_EQ(result.exitCode, 2) << c.error;
        EXPECT_EQ(json::parse(result.out), json({{"error", c.error}, {"exit", 2}})) << result.out;
        EXPECT_EQ(result.err.rfind(c.stderrLine, 0), 0u) << result.err;
    }
    EXPECT_EQ(ReadFileText(Dir() / "p.upk"), package);
    EXPECT_FALSE(fs::exists(Dir() / "run.txt"));
    ASSERT_TRUE(Sim().Stop());
    EXPECT_EQ(Sim().Log().find("rx "), std::string::npos) << "nothing may be sent: " << Sim().Log();
}

// A port written with a leading zero is still decimal, as in the desktop
// program: the device on that port is found.
TEST_F(UpgradectlDiagnostics, APortWithALeadingZeroIsDecimal) {
    StartSimulator();
    const auto result = Run({"--broadcast", "127.0.0.1", "--wait-ms", "100", "--port",
                             "0" + std::to_string(Sim().Port()), "--json", "discover"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(json::parse(result.out).size(), 1u) << result.out;
}

// After discovery the error still reaches a script as one JSON object.
TEST_F(UpgradectlDiagnostics, TooFewAdmittedDevicesIsAJsonErrorToo) {
    StartSimulator();
    ASSERT_EQ(Pack().exitCode, 0);
    auto args = Network();
    args.insert(args.end(), {"--json", "upgrade", "p.upk", "--all", "--yes", "--expect", "2"});
    const auto result = Run(args);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(json::parse(result.out),
              json({{"error", "1 device(s) admitted, 2 expected; nothing was done"}, {"exit", 2}}))
        << result.out;
}

TEST_F(UpgradectlDiagnostics, PackAndUnpackReportWhatTheyWroteInJson) {
    const auto packed = Pack();
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    const json pack = json::parse(packed.out);
    EXPECT_EQ(pack.at("output"), "p.upk");
    EXPECT_EQ(pack.at("size").get<uintmax_t>(), fs::file_size(Dir() / "p.upk"));
    EXPECT_EQ(pack.at("members"), json::parse(R"([
        {"name": "program.cmd", "size": 48, "source": "program.cmd"},
        {"name": "restriction.ini", "size": 56, "source": "restriction.ini"},
        {"name": "image.bin", "size": 3001, "source": "image.bin"}])"));

    const auto unpacked = Run({"--json", "unpack", "p.upk", "out"});
    ASSERT_EQ(unpacked.exitCode, 0) << unpacked.err;
    EXPECT_EQ(json::parse(unpacked.out), json::parse(R"({"package": "p.upk", "folder": "out", "members": [
        {"name": "program.cmd", "size": 48, "path": "out/program.cmd"},
        {"name": "restriction.ini", "size": 56, "path": "out/restriction.ini"},
        {"name": "image.bin", "size": 3001, "path": "out/image.bin"}], "complete": true})"));
    EXPECT_EQ(fs::file_size(Dir() / "out" / "image.bin"), 3001u);
}

}  // namespace
}  // namespace quorvane::testing
