// The desktop program as a process: a termination signal must not leave the
// open package's extracted members behind.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QTest>
#include <filesystem>

#include "package/package_fixture.h"
#include "package/package_writer.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

// A UDP port on 127.0.0.1 that takes the discovery and never answers.
class SilentPort {
public:
    SilentPort() : socket_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~SilentPort() { ::close(socket_); }
    uint16_t Port() const { return port_; }

private:
    int socket_;
    uint16_t port_ = 0;
};

bool WaitUntilNotEmpty(const fs::path& folder) {
    for (int i = 0; i < 400; ++i) {
        if (!fs::is_empty(folder)) return true;
        QTest::qWait(50);
    }
    return false;
}

TEST(Termination, SignalRemovesThePackagesPrivateFolderAndEndsTheProgram) {
    struct Case {
        int signal;
        int exitCode;
    };
    for (const Case c : {Case{SIGTERM, 143}, Case{SIGINT, 130}, Case{SIGHUP, 129}}) {
        SCOPED_TRACE(c.signal);
        test::TempFolder folder;
        const fs::path temp = folder.File("tmp");  // the package's private folder is made in TMPDIR
        fs::create_directories(temp);
        const fs::path package = folder.File("test.upk");
        ASSERT_TRUE(WritePackage(package,
                                 StandardMembers("SETPROGRAMMODE\nRESET\n",
                                                 "PRODUCTID 1\nVENDORID 0x1407\nREVISIONID 0\nDEFAULT 0\n")));
        SilentPort port;
        ASSERT_NE(port.Port(), 0);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), QString::fromStdString(temp.string()));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(QV_UPGRADE_PATH),
                      {"--broadcast", "127.0.0.1", "--port", QString::number(port.Port()), "--wait-ms", "100",
                       QString::fromStdString(package.string())});
        ASSERT_TRUE(program.waitForStarted(10000));
        ASSERT_TRUE(WaitUntilNotEmpty(temp)) << "the package never opened";
        ::kill(static_cast<pid_t>(program.processId()), c.signal);
        ASSERT_TRUE(program.waitForFinished(20000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), c.exitCode);
        EXPECT_TRUE(fs::is_empty(temp)) << "the private folder was left behind";
    }
}

}  // namespace
}  // namespace quorvane::testing
