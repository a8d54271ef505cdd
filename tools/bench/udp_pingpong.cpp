// udp-pingpong: the yardstick for devsim's speed. A bare UDP request and
// reply of given sizes between two sockets on 127.0.0.1, with nothing else
// done per datagram, so that the LOAD rate through devsim can be compared
// with what the loopback itself allows.
//
//   udp-pingpong serve PORTFILE REPLY_BYTES     answers every datagram until killed
//   udp-pingpong run PORT REQUEST_BYTES SECONDS prints exchanges per second
//   udp-pingpong cost BYTES COUNT               prints the CPU microseconds one
//                                               datagram costs, sent and received
//
// `cost` is the floor of any fleet figure: whatever the program does, each
// exchange is two datagrams through the loopback, and the kernel's own work
// for them is spent on the machine's cores however they are batched.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int Serve(const char* portFile, std::size_t replyBytes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = Loopback(0);
    socklen_t length = sizeof local;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        std::perror("udp-pingpong");
        return 1;
    }
    std::ofstream(portFile) << ntohs(local.sin_port) << "\n";
    std::vector<uint8_t> buffer(65536);
    const std::vector<uint8_t> reply(replyBytes, 0x5A);
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        if (::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength) <
            0)
            continue;
        ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
}

int Run(uint16_t port, std::size_t requestBytes, double seconds) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in server = Loopback(port);
    const std::vector<uint8_t> request(requestBytes, 0xA5);
    std::vector<uint8_t> buffer(65536);
    long exchanges = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&server),
                 sizeof server);
        // The same readiness wait and read as the program's endpoint.
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 1000) == 1 && ::recv(fd, buffer.data(), buffer.size(), 0) > 0) ++exchanges;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.0f\n", exchanges / elapsed);
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int BoundSocket(sockaddr_in& local) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    local = Loopback(0);
    socklen_t length = sizeof local;
    const int room = 8 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return -1;
    return fd;
}

// Sends `count` datagrams of `bytes` from one socket to another in batches of
// 64 (sendmmsg, recvmmsg) so that the system calls themselves weigh little.
int Cost(std::size_t bytes, long count) {
    constexpr unsigned BATCH = 64;
    sockaddr_in sender{};
    sockaddr_in receiver{};
    const int from = BoundSocket(sender);
    const int to = BoundSocket(receiver);
    if (from < 0 || to < 0) {
        std::perror("udp-pingpong");
        return 1;
    }
    std::vector<uint8_t> data(bytes * BATCH, 0xA5);
    std::vector<iovec> pieces(BATCH);
    std::vector<mmsghdr> sends(BATCH);
    std::vector<mmsghdr> receipts(BATCH);
    for (unsigned i = 0; i < BATCH; ++i) {
        pieces[i] = {data.data() + i * bytes, bytes};
        sends[i].msg_hdr.msg_iov = receipts[i].msg_hdr.msg_iov = &pieces[i];
        sends[i].msg_hdr.msg_iovlen = receipts[i].msg_hdr.msg_iovlen = 1;
        sends[i].msg_hdr.msg_name = &receiver;
        sends[i].msg_hdr.msg_namelen = sizeof receiver;
    }
    const double start = CpuSeconds();
    for (long done = 0; done < count;) {
        const int sent = ::sendmmsg(from, sends.data(), BATCH, 0);
        if (sent <= 0) return 1;
        for (int received = 0; received < sent;) {
            const int got = ::recvmmsg(to, receipts.data() + received, sent - received, 0, nullptr);
            if (got <= 0) return 1;
            received += got;
        }
        done += sent;
    }
    std::printf("%.2f\n", (CpuSeconds() - start) / count * 1e6);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "serve") == 0)
        return Serve(argv[2], std::strtoul(argv[3], nullptr, 10));
    if (argc == 5 && std::strcmp(argv[1], "run") == 0)
        return Run(static_cast<uint16_t>(std::atoi(argv[2])), std::strtoul(argv[3], nullptr, 10),
                   std::atof(argv[4]));
    if (argc == 4 && std::strcmp(argv[1], "cost") == 0)
        return Cost(std::strtoul(argv[2], nullptr, 10), std::atol(argv[3]));
    std::fprintf(stderr,
                 "usage: udp-pingpong serve PORTFILE REPLY_BYTES | run PORT REQUEST_BYTES SECONDS | "
                 "cost BYTES COUNT\n");
    return 2;
}
