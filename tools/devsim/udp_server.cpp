#include "tools/devsim/udp_server.h"

#include "tools/devsim/noise_source.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

namespace quorvane::devsim {
namespace {

constexpr int IDLE_POLL_MS = 200;  // how soon a stop signal is noticed at the latest
constexpr std::size_t RECEIVE_CAPACITY = 65536;
constexpr int SOCKET_BUFFER_BYTES = 8 * 1024 * 1024;

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SendNow(int fd, const sockaddr_in& to, std::span<const uint8_t> bytes);

struct Pending {
    sockaddr_in to{};
    std::vector<uint8_t> bytes;
};

class ReplyQueue {
public:
    void Add(int64_t due, const sockaddr_in& to, std::vector<uint8_t> bytes) {
        queue_.emplace(due, Pending{to, std::move(bytes)});
    }
    // Sends everything due by `now`, in due order (ties in arrival order).
    void SendDue(int fd, int64_t now) {
        while (!queue_.empty() && queue_.begin()->first <= now) {
            const Pending& p = queue_.begin()->second;
            SendNow(fd, p.to, p.bytes);
            queue_.erase(queue_.begin());
        }
    }
    int Timeout(int64_t now) const {
        if (queue_.empty()) return IDLE_POLL_MS;
        const int64_t wait = queue_.begin()->first - now;
        return static_cast<int>(std::clamp<int64_t>(wait, 0, IDLE_POLL_MS));
    }

private:
    std::multimap<int64_t, Pending> queue_;
};

void SendNow(int fd, const sockaddr_in& to, std::span<const uint8_t> bytes) {
    // A failed send is a lost reply, which the program survives by resending.
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// Reads every datagram waiting on the socket and answers it: at once when
// the reply is due now, through the queue when a fault delays it.
bool Drain(int fd, Simulator& simulator, ReplyQueue& queue, NoiseSource& noise, std::vector<uint8_t>& buffer,
           ReplyBatch& batch) {
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0 && errno == ECONNREFUSED) continue;  // a stale error from an earlier reply
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        const int64_t now = NowMs();
        queue.SendDue(fd, now);
        noise.SetClient(from, now);
        simulator.Handle(std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(n)), now, batch);
        for (std::size_t i = 0; i < batch.Size(); ++i) {
            const auto bytes = batch.Bytes(i);
            if (batch.DelayMs(i) <= 0) {
                SendNow(fd, from, bytes);
            } else {
                queue.Add(now + batch.DelayMs(i), from, {bytes.begin(), bytes.end()});
            }
        }
    }
}

}  // namespace

bool ParseListenAddress(const std::string& text, ListenAddress& out) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    in_addr address{};
    if (::inet_pton(AF_INET, text.substr(0, colon).c_str(), &address) != 1) return false;
    unsigned port = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data() + colon + 1, end, port);
    if (colon + 1 == text.size() || ec != std::errc() || ptr != end || port > 65535) return false;
    out.address = ntohl(address.s_addr);
    out.port = static_cast<uint16_t>(port);
    return true;
}

UdpServer::~UdpServer() {
    if (fd_ >= 0) ::close(fd_);
}

bool UdpServer::Open(const ListenAddress& where, std::string& error) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Thousands of devices answer one discovery at once, and a client may
    // keep many requests outstanding: room for bursts in both directions.
    const int room = SOCKET_BUFFER_BYTES;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(where.address);
    local.sin_port = htons(where.port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = std::string("bind: ") + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        error = std::string("getsockname: ") + std::strerror(errno);
        return false;
    }
    port_ = ntohs(local.sin_port);
    return true;
}

bool UdpServer::Run(Simulator& simulator, RunFlags flags, const std::function<void()>& onDump,
                    std::string& error) {
    ReplyQueue queue;
    NoiseSource noise(simulator.Faults());
    ReplyBatch batch;
    std::vector<uint8_t> buffer(RECEIVE_CAPACITY);
    while (!*flags.stop) {
        if (flags.dump && *flags.dump) {
            *flags.dump = 0;
            onDump();
        }
        queue.SendDue(fd_, NowMs());
        noise.SendDue(fd_, NowMs());
        pollfd p{fd_, POLLIN, 0};
        const int64_t now = NowMs();
        const int ready = ::poll(&p, 1, static_cast<int>(noise.WaitMs(now, queue.Timeout(now))));
        if (ready < 0 && errno != EINTR) {
            error = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        if (ready > 0 && !Drain(fd_, simulator, queue, noise, buffer, batch)) {
            error = std::string("recvfrom: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace quorvane::devsim
