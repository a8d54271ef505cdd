// udp-pingpong: the yardstick for devsim's speed. A bare UDP request and
// reply of given sizes between two sockets on 127.0.0.1, with nothing else
// done per datagram, so that the LOAD rate through devsim can be compared
// with what the loopback itself allows.
//
//   udp-pingpong serve PORTFILE REPLY_BYTES     answers every datagram until killed
//   udp-pingpong run PORT REQUEST_BYTES SECONDS prints exchanges per second

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "serve") == 0)
        return Serve(argv[2], std::strtoul(argv[3], nullptr, 10));
    if (argc == 5 && std::strcmp(argv[1], "run") == 0)
        return Run(static_cast<uint16_t>(std::atoi(argv[2])), std::strtoul(argv[3], nullptr, 10),
                   std::atof(argv[4]));
    std::fprintf(stderr, "usage: udp-pingpong serve PORTFILE REPLY_BYTES | run PORT REQUEST_BYTES SECONDS\n");
    return 2;
}
