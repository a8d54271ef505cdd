// upgradectl never leaves a device half-written for a reason of its own:
// a hangup, a broken pipe, too few descriptors, an output that is another
// output, a full disk. Real processes against devsim on 127.0.0.1.

#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <set>

#include "upgradectl_fixture.h"

namespace quorvane::testing {
namespace {

const std::string NO_READ_SCRIPT = "SETPROGRAMMODE\nERASE 1\nLOAD image.bin 1:0\nRESET\n";
// A device named as left in programming mode by an interrupted run.
const std::string LEFT_TEXT = " was left mid-script and is probably still in programming mode";

class UpgradectlSafety : public UpgradectlEndToEnd {
protected:
    // upgradectl with the simulator's network options, through bash, so that
    // a case can pipe its output or lower its limits; `shell` holds "CTL"
    // where the command goes.
    ProcessResult Shell(const std::string& shell, const std::function<void(pid_t)>& whileRunning = {}) {
        const std::string ctl = std::string(UPGRADECTL_PATH) + " --broadcast 127.0.0.1 --wait-ms 100 --port " +
                                std::to_string(Sim().Port());
        std::string script = shell;
        script.replace(script.find("CTL"), 3, ctl);
        ProcessResult result = RunProcess({"/bin/bash", "-c", script}, Dir(), 90s, {}, whileRunning);
        EXPECT_FALSE(result.timedOut) << script;
        return result;
    }
};

// The MACs the log shows a PROGRAM_MODE request for, with no RESET after it.
std::set<std::string> LeftInProgrammingMode(const std::string& log) {
    std::set<std::string> left;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const std::string mac = line.substr(line.find(' ', 3) + 1, 17);
        if (line.rfind("rx PROGRAM_MODE ", 0) == 0) left.insert(mac);
        if (line.rfind("rx RESET ", 0) == 0) left.erase(mac);
    }
    return left;
}

TEST_F(UpgradectlSafety, HangupsAndBrokenPipesNeverEndARunBetweenExchanges) {
    // Storing a LOAD block takes 150 ms: a signal arrives while one is under way.
    StartSimulator({"--devices", "3", "--block-delay-ms", "150"});
    const fs::path package = MakePackage(ADMIT_ALL, NO_READ_SCRIPT);
    struct Case {
        const char* name;
        std::string shell;
        int hangups;  // SIGHUPs sent once the first LOAD block arrived
        int exitCode;
        bool completes;  // the script runs to its RESET
    };
    const std::string upgrade = " upgrade " + package.string() + " --yes";
    const Case cases[] = {
        {"hangup, one device", "exec env TMPDIR=tmp CTL" + upgrade + " --mac 02:00:00:00:00:01", 1, 129, false},
        // A dropped session may send it twice: the second must not end the run mid-exchange.
        {"two hangups, side by side", "exec env TMPDIR=tmp CTL" + upgrade + " --all --jobs 0", 2, 129, false},
        {"hangup under nohup", "exec env TMPDIR=tmp nohup CTL" + upgrade + " --mac 02:00:00:00:00:02", 1, 0, true},
        // The trace goes to a reader that leaves after two lines.
        {"broken pipe",
         "env TMPDIR=tmp CTL -v" + upgrade + " --mac 02:00:00:00:00:03 2>&1 | head -n 2 >/dev/null; exit ${PIPESTATUS[0]}",
         0, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Dir() / "tmp");
        fs::create_directories(Dir() / "tmp");
        const std::size_t logStart = Sim().Log().size();
        const auto result = Shell(c.shell, [&](pid_t pid) {
            if (c.hangups == 0) return;
            for (int i = 0; i < 1500 && CountLines(Sim().Log().substr(logStart), "rx LOAD_BLOCK ") == 0; ++i)
                std::this_thread::sleep_for(20ms);
            // bash exec'd upgradectl: the pid is upgradectl's own.
            for (int i = 0; i < c.hangups; ++i) {
                kill(pid, SIGHUP);
                std::this_thread::sleep_for(50ms);
            }
        });
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_TRUE(fs::is_empty(Dir() / "tmp")) << "the private folder was left behind";
        const std::string log = Sim().Log().substr(logStart);
        const std::set<std::string> left = LeftInProgrammingMode(log);
        EXPECT_EQ(left.empty(), c.completes) << "a hangup before any device was touched, or a run cut short";
        for (const std::string& mac : left)
            EXPECT_NE(result.err.find("upgradectl: interrupted; " + mac + LEFT_TEXT), std::string::npos)
                << mac << " is left in programming mode without a word:\n"
                << result.err;
        EXPECT_EQ(result.err.find("interrupted again"), std::string::npos) << result.err;
    }
    ASSERT_TRUE(Sim().Stop());
    EXPECT_EQ(Sim().Memory("020000000003"), Image());
}

TEST_F(UpgradectlSafety, TooFewDescriptorsLowerTheJobsBeforeAnyDeviceIsTouched) {
    std::string profile;
    for (int i = 1; i <= 64; ++i) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "mac=02:00:00:00:01:%02x vendor=0x1407 device=0x70FC product=0x0101 version=4.0.2 "
                      "date=1/1/15\n",
                      i);
        profile += line;
    }
    WriteFileText(Dir() / "fleet.profile", profile);
    StartSimulator({"--profile", (Dir() / "fleet.profile").string()});
    const fs::path package = MakePackage(ADMIT_ALL, NO_READ_SCRIPT);
    const auto result =
        Shell("mkdir -p tmp && ulimit -n 32 && exec env TMPDIR=tmp CTL upgrade " + package.string() +
              " --all --yes --jobs 64 --expect 64");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::regex_search(result.err,
                                  std::regex("upgradectl: only [0-9]+ of 64 devices can be upgraded at once here "
                                             "\\(at most 32 files may be open\\); the others wait for a free "
                                             "place\n")))
        << result.err;
    EXPECT_EQ(Occurrences(result.err, ": upgraded, "), 64) << result.err;
    const std::string log = Sim().Log();
    EXPECT_EQ(CountLines(log, "rx RESET "), 64);
    EXPECT_TRUE(LeftInProgrammingMode(log).empty());
    EXPECT_TRUE(fs::is_empty(Dir() / "tmp")) << "the private folder was left behind";
}

TEST_F(UpgradectlSafety, ALowSoftFileLimitIsRaisedSoThreeHundredDevicesRunAtOnce) {
    // 64 descriptors hold some twenty devices; the hard limit, 4096, holds them all.
    const std::string setLimits = "ulimit -Sn 64 && ulimit -Hn 4096";
    // Raising a hard limit takes a privilege, and the system's own ceiling
    // may be lower: where the shell cannot set these limits there is nothing to try.
    const ProcessResult probe = RunProcess({"/bin/bash", "-c", setLimits}, Dir(), 10s);
    if (probe.exitCode != 0) GTEST_SKIP() << "the file limits cannot be set here (" << setLimits << "): " << probe.err;
    std::string profile;
    for (int i = 1; i <= 300; ++i) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "mac=02:00:00:00:%02x:%02x vendor=0x1407 device=0x70FC product=0x0101 version=4.0.2 "
                      "date=1/1/15\n",
                      i >> 8, i & 0xFF);
        profile += line;
    }
    WriteFileText(Dir() / "fleet.profile", profile);
    // Six blocks of 100 ms each: every device is still loading when the last starts.
    StartSimulator({"--profile", (Dir() / "fleet.profile").string(), "--block-delay-ms", "100"});
    const fs::path package = MakePackage(ADMIT_ALL, NO_READ_SCRIPT);
    const std::string limits = "mkdir -p tmp && " + setLimits + " && exec env TMPDIR=tmp ";
    const auto result =
        Shell(limits + "CTL upgrade " + package.string() + " --all --yes --jobs 0 --expect 300");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("can be upgraded at once here"), std::string::npos) << result.err;
    EXPECT_EQ(Occurrences(result.err, ": upgraded, "), 300);
    const std::string log = Sim().Log();
    const std::size_t firstReset = log.find("rx RESET ");
    ASSERT_NE(firstReset, std::string::npos);
    EXPECT_EQ(CountLines(log.substr(0, firstReset), "rx LOAD_BEGIN "), 300)
        << "a device began its load only after another had finished";
    EXPECT_EQ(CountLines(log, "rx RESET "), 300);
}

TEST_F(UpgradectlSafety, OutputsThatAreOneFileOrNoFileAtAllAreRefusedBeforeAnythingIsSent) {
    StartSimulator({"--devices", "1"});
    const fs::path package = MakePackage(ADMIT_ALL);  // its READ writes READBACK.BIN beside it
    fs::create_directories(Dir() / "sub");
    fs::create_symlink("READBACK.BIN", Dir() / "link.pcap");
    fs::create_directories(Dir() / "folder");
    ASSERT_EQ(mkfifo((Dir() / "fifo").c_str(), 0600), 0);
    const std::string read = " and the READ of program.cmd line 5 (" + (Dir() / "READBACK.BIN").string() + ")";
    const struct {
        std::vector<std::string> options;
        std::string message;
    } cases[] = {
        {{"--capture", "READBACK.BIN"}, "--capture READBACK.BIN" + read + " are one file"},
        {{"--log-file", "readback.bin"}, "--log-file readback.bin" + read + " are one file"},
        {{"--events", "sub/../READBACK.BIN"}, "--events sub/../READBACK.BIN" + read + " are one file"},
        {{"--capture", "link.pcap"}, "--capture link.pcap" + read + " are one file"},
        {{"--json", "--events", "/dev/stdout"}, "--events /dev/stdout is stdout, where --json writes"},
        {{"--capture", "fifo"}, "cannot write capture file fifo: it is a FIFO, not a regular file"},
        {{"--events", "folder"}, "cannot write the event file folder: it is a folder, not a regular file"},
        {{"--log-file", "folder"}, "cannot write log file folder: it is a folder, not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args = c.options;
        for (const char* arg : {"upgrade", package.c_str(), "--all", "--yes"}) args.push_back(arg);
        const auto result = Ctl(args, 20s);
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_EQ(result.err.rfind("upgradectl: " + c.message, 0), 0u) << result.err;
    }
    EXPECT_EQ(Sim().Log().find("rx "), std::string::npos) << "nothing may be sent: " << Sim().Log();
    EXPECT_FALSE(fs::exists(Dir() / "READBACK.BIN"));
    // Character devices named on purpose take any number of outputs.
    const auto quiet = Ctl({"--capture", "/dev/null", "--log-file", "/dev/null", "--events", "/dev/stderr",
                            "upgrade", package.string(), "--all", "--yes"});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(ReadFileBytes(Dir() / "READBACK.BIN"), Image());
}

TEST_F(UpgradectlSafety, AWriteThatFailsIsSaidAndExitsTwoOnceTheDeviceIsUpgraded) {
    StartSimulator({"--devices", "1"});
    const fs::path package = MakePackage(ADMIT_ALL, NO_READ_SCRIPT);
    const std::string upgrade = " upgrade " + package.string() + " --all --yes";
    const struct {
        std::string shell;
        std::string message;
    } cases[] = {
        {"CTL --events /dev/full" + upgrade,
         "upgradectl: the event file /dev/full is incomplete: No space left on device\n"},
        {"CTL --log-file /dev/full" + upgrade, "upgradectl: log file /dev/full is incomplete: No space left on device\n"},
        {"CTL --json" + upgrade + " > /dev/full",
         "upgradectl: some output could not be written to stdout: No space left on device\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shell);
        const std::size_t logStart = Sim().Log().size();
        const auto result = Shell(c.shell);
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(COMPLETE_TEXT), std::string::npos) << "the upgrade went on: " << result.err;
        EXPECT_EQ(CountLines(Sim().Log().substr(logStart), "rx RESET "), 1);
    }
}

// A READ whose output folder is full fails the device with the system's
// reason, and a full private folder refuses the package with it: the
// network advice, or "invalid", would send the technician the wrong way.
TEST_F(UpgradectlSafety, AFullDiskIsNamedNotTheNetworkNorThePackage) {
    if (RunProcess({"/usr/bin/unshare", "-m", "true"}, Dir(), 10s).exitCode != 0)
        GTEST_SKIP() << "a private mount namespace is not permitted here";
    StartSimulator({"--devices", "1"});
    const fs::path package = MakePackage(ADMIT_ALL, "SETPROGRAMMODE\nREAD readback.bin 1:0 20000\nRESET\n");
    fs::create_directories(Dir() / "small");
    // 8 KiB: the package takes one page of it, the read-back finds room for one more.
    const std::string shell = "mount -t tmpfs -o size=8k tmpfs small && cp " + package.string() +
                              " small/p.upk && cd small && exec " + UPGRADECTL_PATH +
                              " --broadcast 127.0.0.1 --wait-ms 100 --port " + std::to_string(Sim().Port()) +
                              " upgrade p.upk --all --yes";
    const auto result =
        RunProcess({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/bash", "-c", shell}, Dir(), 60s);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(
        result.err.find("The upgrade stopped because of a problem on this computer, not on the network:\n"
                        "02:00:00:00:00:01: line 2 READ readback.bin: cannot write READBACK.BIN: No "
                        "space left on device\n"),
        std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find(GIVEN_UP_TEXT), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("02:00:00:00:00:01: failed, "), std::string::npos) << result.err;

    // A private folder with room for the two text members but not for the
    // LOAD member: this computer is named, not the package, and nothing is sent.
    const fs::path loading = MakePackage(ADMIT_ALL, NO_READ_SCRIPT);
    const std::size_t logStart = Sim().Log().size();
    const auto full = RunProcess({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/bash", "-c",
                                  "mount -t tmpfs -o size=8k tmpfs small && exec env TMPDIR=small " +
                                      std::string(UPGRADECTL_PATH) + " --broadcast 127.0.0.1 --port " +
                                      std::to_string(Sim().Port()) + " upgrade " + loading.string() +
                                      " --all --yes"},
                                 Dir(), 60s);
    EXPECT_EQ(full.exitCode, 2) << full.err;
    EXPECT_TRUE(std::regex_search(full.err, std::regex("(^|\n)upgradectl: cannot extract image\\.bin into the private "
                                                       "folder small/quorvane-upk-[^:]+: No space left on device; "
                                                       "nothing was sent\n")))
        << full.err;
    EXPECT_EQ(Sim().Log().find("rx ", logStart), std::string::npos);
}

TEST_F(UpgradectlSafety, APrivateFolderThatCannotBeMadeIsSaidAsSuchNotAsAnInvalidPackage) {
    const fs::path package = MakePackage(ADMIT_ALL);
    WriteFileText(Dir() / "plain-file", "");
    const struct {
        std::string tmpdir;
        std::string message;
    } cases[] = {
        {(Dir() / "missing").string(),
         "upgradectl: cannot make the private folder in " + (Dir() / "missing").string() +
             ": No such file or directory\n"},
        {(Dir() / "plain-file").string(),
         "upgradectl: cannot make the private folder in " + (Dir() / "plain-file").string() + ": Not a directory\n"},
    };
    for (const auto& c : cases) {
        const auto result = RunProcess({"/usr/bin/env", "TMPDIR=" + c.tmpdir, UPGRADECTL_PATH, "check", package.string()},
                                       Dir(), 20s);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err, c.message);
    }
}

}  // namespace
}  // namespace quorvane::testing
