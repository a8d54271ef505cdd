#include "upgradectl_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace quorvane::testing {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;

// In the child only: stdin, stdout and stderr from and to the given files
// (or /dev/null when empty), then exec. Never returns.
[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const fs::path& workDir,
                            const fs::path& inFile, const fs::path& outFile, const fs::path& errFile) {
    const int in = open(inFile.empty() ? "/dev/null" : inFile.c_str(), O_RDONLY);
    const int out = open(outFile.empty() ? "/dev/null" : outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile.empty() ? "/dev/null" : errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

pid_t Spawn(const std::vector<std::string>& argv, const fs::path& workDir, const fs::path& inFile,
            const fs::path& outFile, const fs::path& errFile) {
    const pid_t pid = fork();
    if (pid == 0) ExecChild(argv, workDir, inFile, outFile, errFile);
    return pid;
}

// Waits for `pid` until `deadline`; the exit code, or -1 (still running or
// ended by a signal). `ended` tells whether it was reaped.
int WaitUntil(pid_t pid, Clock::time_point deadline, bool& ended) {
    ended = false;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            ended = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (done < 0 || Clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const fs::path& workDir,
                         std::chrono::milliseconds limit, const fs::path& input,
                         const std::function<void(pid_t)>& whileRunning) {
    ProcessResult result;
    static int runs = 0;
    const fs::path capture = fs::temp_directory_path() /
                             ("upgradectl_e2e_" + std::to_string(getpid()) + "_" + std::to_string(++runs));
    const fs::path outFile = capture.string() + ".out";
    const fs::path errFile = capture.string() + ".err";
    const pid_t pid = Spawn(argv, workDir, input, outFile, errFile);
    if (pid < 0) return result;
    const auto deadline = Clock::now() + limit;
    if (whileRunning) whileRunning(pid);
    bool ended = false;
    result.exitCode = WaitUntil(pid, deadline, ended);
    if (!ended) {
        result.timedOut = true;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    result.out = ReadFileText(outFile);
    result.err = ReadFileText(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return result;
}

std::string ReadFileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> ReadFileBytes(const fs::path& path) {
    const std::string text = ReadFileText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

void WriteFileText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "upgradectl_e2e_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
}

bool SimulatorProcess::Start(const std::vector<std::string>& options) {
    fs::create_directories(DumpFolder());
    const fs::path portFile = folder_ / "port";
    std::vector<std::string> argv{executable_.string(),
                                  "--listen",
                                  "127.0.0.1:0",
                                  "--port-file",
                                  portFile.string(),
                                  "--log-file",
                                  (folder_ / "sim.log").string(),
                                  "--dump-dir",
                                  DumpFolder().string()};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = Spawn(argv, folder_, {}, {}, folder_ / "sim.err");
    if (pid_ < 0) return false;
    // The port file appears once the socket is bound.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        const std::string text = ReadFileText(portFile);
        if (!text.empty() && text.back() == '\n') {
            port_ = static_cast<uint16_t>(std::atoi(text.c_str()));
            return port_ != 0;
        }
        bool ended = false;
        WaitUntil(pid_, Clock::now(), ended);
        if (ended) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool SimulatorProcess::Stop() {
    if (pid_ < 0) return false;
    kill(pid_, SIGTERM);
    bool ended = false;
    const int code = WaitUntil(pid_, Clock::now() + std::chrono::seconds(10), ended);
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    return ended && code == 0;
}

std::vector<uint8_t> SimulatorProcess::Memory(const std::string& macStem) const {
    return ReadFileBytes(DumpFolder() / (macStem + ".bin"));
}

}  // namespace quorvane::testing
