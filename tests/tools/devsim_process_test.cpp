// The real devsim executable on a loopback port: discovery over UDP, a small
// load, the memory dump and log file, and a clean exit on SIGTERM.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/tools/devsim_packets.h"
#include "tools/devsim/memory_dump.h"

extern char** environ;

namespace quorvane::devsim {
namespace {

using namespace quorvane::devsim::testing;
namespace fs = std::filesystem;

// Runs devsim with the given arguments; the child is killed if a test ends early.
class DevsimProcess {
public:
    explicit DevsimProcess(std::vector<std::string> args) {
        args.insert(args.begin(), DEVSIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, DEVSIM_PATH, nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    }
    ~DevsimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Started() const { return pid_ > 0; }
    // Exit status after `signal`, or -1 when it did not end normally within 5 s.
    int Stop(int signal) {
        kill(pid_, signal);
        return Wait();
    }
    int Wait() {
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
};

// A loopback UDP socket standing in for the program.
class Client {
public:
    Client() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    ~Client() { close(fd_); }
    void Send(uint16_t port, const std::vector<uint8_t>& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // The next datagram, or nothing after `waitMs`.
    std::vector<uint8_t> Receive(int waitMs = 2000) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, waitMs) <= 0) return {};
        std::vector<uint8_t> buffer(2048);
        const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
        buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return buffer;
    }

private:
    int fd_ = -1;
};

uint16_t WaitForPort(const fs::path& file) {
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(file);
        unsigned port = 0;
        if (in >> port && port > 0) return static_cast<uint16_t>(port);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

class DevsimExecutable : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("devsim_run_" + std::to_string(getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::vector<std::string> Args(std::vector<std::string> extra) const {
        std::vector<std::string> args{"--listen",   "127.0.0.1:0", "--port-file", (dir_ / "port").string(),
                                      "--dump-dir", dir_.string(), "--log-file",  (dir_ / "log").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    fs::path dir_;
};

TEST_F(DevsimExecutable, AnswersDiscoveryAndLoadThenExitsCleanly) {
    DevsimProcess devsim(Args({"--devices", "4"}));
    ASSERT_TRUE(devsim.Started());
    const uint16_t port = WaitForPort(dir_ / "port");
    ASSERT_NE(port, 0);
    Client client;
    client.Send(port, Discover());
    std::set<MacAddress> macs;
    for (int i = 0; i < 4; ++i) {
        const auto reply = client.Receive();
        ASSERT_TRUE(MatchReply(reply, nullptr, OP_DISCOVER_REPLY)) << "reply " << i;
        macs.insert(MacAddress{reply[6], reply[7], reply[8], reply[9], reply[10], reply[11]});
    }
    EXPECT_EQ(macs.size(), 4u);
    EXPECT_TRUE(client.Receive(200).empty());

    const auto image = Pattern(700, 3);
    client.Send(port, LoadBegin(DEVICE_2, 0x10, 0, 700));
    EXPECT_EQ(ReplyWord(client.Receive()), 512);
    client.Send(port, LoadBlock(DEVICE_2, 0, std::span<const uint8_t>(image.data(), 512)));
    EXPECT_EQ(ReplyWord(client.Receive()), 0);
    client.Send(port, LoadBlock(DEVICE_2, 1, std::span<const uint8_t>(image.data() + 512, 188)));
    EXPECT_EQ(ReplyWord(client.Receive()), 1);
    client.Send(port, Read(DEVICE_2, 128, 0x10, 0x200));
    const auto read = client.Receive();
    ASSERT_TRUE(MatchReply(read, &DEVICE_2, OP_READ));
    EXPECT_EQ(Payload(read), std::vector<uint8_t>(image.begin() + 512, image.begin() + 640));

    EXPECT_EQ(devsim.Stop(SIGTERM), 0);
    std::vector<MemorySegment> segments;
    ASSERT_TRUE(ReadMemoryDump((dir_ / "020000000002.mem").string(), segments));
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].bytes, image);
    ASSERT_TRUE(ReadMemoryDump((dir_ / "020000000004.mem").string(), segments));
    EXPECT_TRUE(segments.empty());
    std::ifstream log(dir_ / "log");
    const std::string text{std::istreambuf_iterator<char>(log), {}};
    EXPECT_NE(text.find("rx DISCOVER 02:00:00:00:00:04 p1=0xffff p2=0xffff\n"), std::string::npos);
    EXPECT_NE(text.find("rx LOAD_BLOCK 02:00:00:00:00:02 index=1 bytes=188\n"), std::string::npos);
    EXPECT_NE(text.find("tx READ 02:00:00:00:00:02 length=128\n"), std::string::npos);
}

TEST_F(DevsimExecutable, DelayedRepliesStillGoOutAndSigintStops) {
    DevsimProcess devsim(Args({"--devices", "1", "--delay-ms", "50", "--silent", "LOCK"}));
    const uint16_t port = WaitForPort(dir_ / "port");
    ASSERT_NE(port, 0);
    Client client;
    client.Send(port, Request(OP_LOCK, DEVICE_1));
    client.Send(port, Erase(DEVICE_1, 5));
    const auto start = std::chrono::steady_clock::now();
    const auto reply = client.Receive();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    ASSERT_TRUE(MatchReply(reply, &DEVICE_1, OP_ERASE));  // the LOCK stayed unanswered
    EXPECT_EQ(devsim.Stop(SIGINT), 0);
}

TEST_F(DevsimExecutable, StartupFailuresExitNonZero) {
    DevsimProcess usage({"--drop-first", "NOPE:1"});
    EXPECT_EQ(usage.Wait(), 2);
    DevsimProcess badListen({"--listen", "127.0.0.1:99999"});
    EXPECT_EQ(badListen.Wait(), 2);
    std::ofstream(dir_ / "profile") << "colour=red\n";
    DevsimProcess badProfile({"--listen", "127.0.0.1:0", "--profile", (dir_ / "profile").string()});
    EXPECT_EQ(badProfile.Wait(), 1);
}

}  // namespace
}  // namespace quorvane::devsim
