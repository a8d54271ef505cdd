// reply-lateness: how late devsim's delayed replies come when many devices
// store blocks at once, on 127.0.0.1 only.
//
//   reply-lateness PORT DEVICES BLOCKS DELAY_MS
//
// One socket and one thread drive devsim's first DEVICES default devices
// (02:00:00:00:00:01 on): each is sent BLOCKS LOAD blocks one at a time,
// the next as soon as the last is answered, as upgradectl sends them. A
// reply's lateness is the time from its request's send to its arrival,
// less DELAY_MS (devsim's --block-delay-ms); the loopback round trip is in
// it, which the smallest lateness shows. Prints one line: the exchanges,
// the smallest, median, 99th percentile and largest lateness in ms, and
// the wall time. Exits 1 when a reply is a second overdue.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "protocol/packet.h"

namespace {

using namespace quorvane;
using Clock = std::chrono::steady_clock;

constexpr std::size_t BLOCK = 512;
constexpr int OVERDUE_MS = 1000;
constexpr int SOCKET_BUFFER_BYTES = 8 * 1024 * 1024;

MacAddress DeviceMac(std::size_t index) {
    const unsigned number = static_cast<unsigned>(index + 1);
    return {0x02,
            0x00,
            0x00,
            static_cast<uint8_t>(number >> 16),
            static_cast<uint8_t>(number >> 8),
            static_cast<uint8_t>(number)};
}

// The device a reply names, by the default numbering; `count` when none.
std::size_t DeviceOf(std::span<const uint8_t> reply, std::size_t count) {
    PacketHeader header;
    if (!PacketHeader::Decode(reply, header) || header.magic != REPLY_MAGIC) return count;
    const std::size_t number =
        (std::size_t{header.mac[3]} << 16) | (std::size_t{header.mac[4]} << 8) | header.mac[5];
    return number >= 1 && number <= count && header.mac == DeviceMac(number - 1) ? number - 1 : count;
}

class Probe {
public:
    Probe(int fd, const sockaddr_in& to, std::size_t devices) : fd_(fd), to_(to), sentAt_(devices) {}

    void LoadBegin(std::size_t device) {
        uint8_t payload[8] = {};
        WriteU16(payload, 0, 1);
        WriteU32(payload, 4, static_cast<uint32_t>(1u << 24));
        Send(device, OP_LOAD_BEGIN, payload);
    }
    void LoadBlock(std::size_t device, uint16_t index) {
        std::vector<uint8_t> payload(2 + BLOCK, 0xC3);
        WriteU16(payload, 0, index);
        Send(device, OP_LOAD_BLOCK, payload);
    }
    Clock::time_point SentAt(std::size_t device) const { return sentAt_[device]; }

private:
    void Send(std::size_t device, uint8_t opcode, std::span<const uint8_t> payload) {
        uint8_t request[REQUEST_CAPACITY];
        const std::size_t length = BuildPacket(request, opcode, REQUEST_MAGIC, DeviceMac(device), payload);
        // Taken before the send: on loopback devsim may read the request
        // before the send returns.
        sentAt_[device] = Clock::now();
        ::sendto(fd_, request, length, 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
    }

    int fd_;
    sockaddr_in to_;
    std::vector<Clock::time_point> sentAt_;
};

double Percentile(const std::vector<double>& sorted, double share) {
    return sorted[std::min(sorted.size() - 1,
                           static_cast<std::size_t>(share * static_cast<double>(sorted.size())))];
}

int Run(uint16_t port, std::size_t devices, int blocks, double delayMs) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return 1;
    const int room = SOCKET_BUFFER_BYTES;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    Probe probe(fd, to, devices);
    std::vector<int> answered(devices, -1);  // blocks answered; -1 before the begin's reply
    std::vector<double> lateness;
    lateness.reserve(devices * static_cast<std::size_t>(blocks));
    const auto start = Clock::now();
    for (std::size_t d = 0; d < devices; ++d) probe.LoadBegin(d);
    std::size_t done = 0;
    uint8_t reply[REPLY_CAPACITY];
    while (done < devices) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, OVERDUE_MS) <= 0) return 1;
        const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
        const auto arrived = Clock::now();
        if (n <= 0) continue;
        const std::size_t d = DeviceOf({reply, static_cast<std::size_t>(n)}, devices);
        if (d == devices) continue;
        if (answered[d] >= 0)
            lateness.push_back(std::chrono::duration<double, std::milli>(arrived - probe.SentAt(d)).count() -
                               delayMs);
        if (++answered[d] < blocks) {
            probe.LoadBlock(d, static_cast<uint16_t>(answered[d]));
        } else {
            ++done;
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    std::sort(lateness.begin(), lateness.end());
    if (lateness.empty()) return 1;
    std::printf("%zu exchanges, lateness min %.3f median %.3f p99 %.3f max %.3f ms, %.2f s\n",
                lateness.size(), lateness.front(), Percentile(lateness, 0.5), Percentile(lateness, 0.99),
                lateness.back(), wall);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: reply-lateness PORT DEVICES BLOCKS DELAY_MS\n");
        return 2;
    }
    const long devices = std::atol(argv[2]);
    const int blocks = std::atoi(argv[3]);
    if (devices < 1 || devices > 65535 || blocks < 1 || blocks > 32768) return 2;
    return Run(static_cast<uint16_t>(std::atoi(argv[1])), static_cast<std::size_t>(devices), blocks,
               std::atof(argv[4]));
}
