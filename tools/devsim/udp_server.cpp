#include "tools/devsim/udp_server.h"

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

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Pending {
    sockaddr_in to{};
    std::vector<uint8_t> bytes;
};

class ReplyQueue {
public:
    explicit ReplyQueue(CaptureTap& tap) : tap_(tap) {}
    void Add(int64_t due, const sockaddr_in& to, std::vector<uint8_t> bytes) {
        queue_.emplace(due, Pending{to, std::move(bytes)});
    }
    // Sends everything due by `now`, in due order (ties in arrival order).
    void SendDue(int fd, int64_t now) {
        while (!queue_.empty() && queue_.begin()->first <= now) {
            const Pending& p = queue_.begin()->second;
            // A failed send is a lost reply, which the program survives by resending.
            if (::sendto(fd, p.bytes.data(), p.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&p.to),
                         sizeof p.to) >= 0)
                tap_.Sent(p.to, p.bytes);
            queue_.erase(queue_.begin());
        }
    }
    int Timeout(int64_t now) const {
        if (queue_.empty()) return IDLE_POLL_MS;
        const int64_t wait = queue_.begin()->first - now;
        return static_cast<int>(std::clamp<int64_t>(wait, 0, IDLE_POLL_MS));
    }

private:
    CaptureTap& tap_;
    std::multimap<int64_t, Pending> queue_;
};

// Reads every datagram waiting on the socket and queues the answers.
bool Drain(int fd, Simulator& simulator, ReplyQueue& queue, std::vector<uint8_t>& buffer, CaptureTap& tap) {
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0 && errno == ECONNREFUSED) continue;  // a stale error from an earlier reply
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        const int64_t now = NowMs();
        const std::span<const uint8_t> request(buffer.data(), static_cast<std::size_t>(n));
        tap.Received(from, request);
        for (auto& reply : simulator.Handle(request, now)) {
            queue.Add(now + reply.delayMs, from, std::move(reply.bytes));
        }
        queue.SendDue(fd, now);
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
    local_ = local;
    return true;
}

void UdpServer::CaptureInto(PcapWriter& writer) {
    tap_.Attach(writer, local_);
}

bool UdpServer::Run(Simulator& simulator, RunFlags flags, const std::function<void()>& onDump,
                    std::string& error) {
    ReplyQueue queue(tap_);
    std::vector<uint8_t> buffer(RECEIVE_CAPACITY);
    while (!*flags.stop) {
        if (flags.dump && *flags.dump) {
            *flags.dump = 0;
            onDump();
        }
        queue.SendDue(fd_, NowMs());
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, queue.Timeout(NowMs()));
        if (ready < 0 && errno != EINTR) {
            error = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        if (ready == 0) tap_.Idle();
        if (ready > 0 && !Drain(fd_, simulator, queue, buffer, tap_)) {
            error = std::string("recvfrom: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace quorvane::devsim
