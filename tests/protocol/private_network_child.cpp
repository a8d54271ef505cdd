#include "private_network_child.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "protocol_test_util.h"

namespace quorvane::testing {

int EnterPrivateNetwork(bool withDefaultRoute) {
    if (::unshare(CLONE_NEWNET) != 0) return errno == EPERM ? NO_PERMISSION : SETUP_FAILED;
    const int link = std::system("ip link set lo up >/dev/null 2>&1");
    if (WIFEXITED(link) && WEXITSTATUS(link) == 127) return NO_IP_TOOL;
    if (link != 0) return SETUP_FAILED;
    if (withDefaultRoute && std::system("ip route add default dev lo >/dev/null 2>&1") != 0) return SETUP_FAILED;
    return PASSED;
}

void ExpectPassesInChild(int (*body)(), const char* (*describe)(int)) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(30);  // a hung child must not hang the suite
        ::_exit(body());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    const int code = WEXITSTATUS(status);
    if (code == NO_PERMISSION) GTEST_SKIP() << "creating a network namespace is not permitted here (EPERM)";
    if (code == NO_IP_TOOL) GTEST_SKIP() << "the 'ip' tool is missing; cannot set up the private network";
    EXPECT_EQ(code, PASSED) << (code == SETUP_FAILED ? "could not bring up the loopback or its default route"
                                                     : describe(code));
}

int BindDeviceSocket(uint32_t address) {
    const int device = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(4101);
    local.sin_addr.s_addr = htonl(address);
    if (device < 0) return -1;
    if (::bind(device, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(device);
        return -1;
    }
    return device;
}

void AnswerOneDiscovery(int device, uint32_t& sender) {
    pollfd ready{device, POLLIN, 0};
    if (::poll(&ready, 1, 5000) != 1) return;
    uint8_t request[64];
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const ssize_t n =
        ::recvfrom(device, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&peer), &length);
    if (n != 18 || !std::equal(BROADCAST_MAC.begin(), BROADCAST_MAC.end(), request + OFFSET_MAC)) return;
    sender = ntohl(peer.sin_addr.s_addr);
    const auto reply = MakeReplyWords(OP_DISCOVER_REPLY, EXAMPLE_MAC, {0x0A0B, 0x0C0D});
    ::sendto(device, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
}

}  // namespace quorvane::testing
