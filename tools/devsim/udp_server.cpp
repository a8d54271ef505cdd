#include "tools/devsim/udp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "protocol/network_options.h"
#include "tools/devsim/noise_source.h"

namespace quorvane::devsim {
namespace {

constexpr int IDLE_POLL_MS = 200;  // how soon a stop signal is noticed at the latest
constexpr std::size_t RECEIVE_CAPACITY = 65536;
constexpr int SOCKET_BUFFER_BYTES = 8 * 1024 * 1024;
// How late the system may end a wait to merge it with others; its own
// default (50 us) is a tenth of what a reply may be late by.
constexpr unsigned long TIMER_SLACK_NS = 1000;

Micros Now() {
    using namespace std::chrono;
    return duration_cast<Micros>(steady_clock::now().time_since_epoch());
}

int64_t ToMs(Micros time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time).count();
}

void SendNow(int fd, const sockaddr_in& to, std::span<const uint8_t> bytes, CaptureTap& tap);

struct Pending {
    sockaddr_in to{};
    std::vector<uint8_t> bytes;
};

// The replies that are due later, of every device at once: a device that
// delays never holds up another's replies.
class ReplyQueue {
public:
    explicit ReplyQueue(CaptureTap& tap) : tap_(tap) {}
    void Add(Micros due, const sockaddr_in& to, std::vector<uint8_t> bytes) {
        queue_.emplace(due, Pending{to, std::move(bytes)});
    }
    // Sends everything due by `now`, in due order (ties in arrival order).
    void SendDue(int fd, Micros now) {
        while (!queue_.empty() && queue_.begin()->first <= now) {
            const Pending& p = queue_.begin()->second;
            SendNow(fd, p.to, p.bytes, tap_);
            queue_.erase(queue_.begin());
        }
    }
    std::optional<Micros> NextDue() const {
        if (queue_.empty()) return std::nullopt;
        return queue_.begin()->first;
    }

private:
    std::multimap<Micros, Pending> queue_;
    CaptureTap& tap_;
};

void SendNow(int fd, const sockaddr_in& to, std::span<const uint8_t> bytes, CaptureTap& tap) {
    // A failed send is a lost reply, which the program survives by resending.
    if (::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0)
        tap.Sent(to, bytes);
}

// Answers one request: at once when the reply is due now, through the
// queue when a fault delays it. The delay counts from `arrived`, taken
// right after the receive, so it is kept to the microsecond.
void Answer(int fd, Simulator& simulator, ReplyQueue& queue, std::span<const uint8_t> request,
            const sockaddr_in& from, Micros arrived, ReplyBatch& batch, CaptureTap& tap) {
    tap.Received(from, request);
    simulator.Handle(request, arrived, batch);
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        const auto bytes = batch.Bytes(i);
        if (batch.Delay(i) <= Micros{0}) {
            SendNow(fd, from, bytes, tap);
        } else {
            queue.Add(arrived + batch.Delay(i), from, {bytes.begin(), bytes.end()});
        }
    }
}

// How long the loop may wait for a request before something else is due:
// nothing when only a request can wake it.
std::optional<Micros> TimeToNextDue(const ReplyQueue& queue, const NoiseSource& noise, Micros now) {
    std::optional<Micros> wait;
    if (const auto due = queue.NextDue()) wait = std::max(*due - now, Micros{0});
    if (noise.Active()) {
        const Micros next = std::chrono::milliseconds(noise.WaitMs(ToMs(now), IDLE_POLL_MS));
        wait = wait ? std::min(*wait, next) : next;
    }
    return wait;
}

// Waits until a datagram can be read or `wait` has passed; false when it
// passed. A socket's receive time-out would count in the system's ticks
// (4 ms at 250 Hz, and a wait of 1 ms then ends 4 to 12 ms later); a poll
// runs on a high-resolution timer.
bool WaitReadable(int fd, Micros wait) {
    pollfd readable{fd, POLLIN, 0};
    const auto count = wait.count();
    const timespec limit{static_cast<time_t>(count / 1000000), static_cast<long>(count % 1000000 * 1000)};
    return ::ppoll(&readable, 1, &limit, nullptr) > 0;
}

void SetIdleTimeout(int fd) {
    const timeval limit{0, IDLE_POLL_MS * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

bool Transient(int error) {
    // A stale error from an earlier reply, a time-out or a signal: go on.
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNREFUSED;
}

}  // namespace

bool ParseListenAddress(const std::string& text, ListenAddress& out) {
    return ParseAddressAndPort(text, out.address, out.port);
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
    local_ = local;
    return true;
}

void UdpServer::CaptureInto(PcapWriter& writer) {
    tap_.Attach(writer, local_);
}

bool UdpServer::Run(Simulator& simulator, RunFlags flags, const std::function<void()>& onDump,
                    std::string& error) {
    ReplyQueue queue(tap_);
    NoiseSource noise(simulator.Faults());
    ReplyBatch batch;
    SetIdleTimeout(fd_);
    ::prctl(PR_SET_TIMERSLACK, TIMER_SLACK_NS, 0, 0, 0);
    std::vector<uint8_t> buffer(RECEIVE_CAPACITY);
    while (!*flags.stop) {
        if (flags.dump && *flags.dump) {
            *flags.dump = 0;
            onDump();
        }
        const Micros now = Now();
        queue.SendDue(fd_, now);
        if (noise.Active()) noise.SendDue(fd_, ToMs(now), tap_);
        // With nothing due, the receive blocks: a request then costs one
        // receive and one send, as little as a bare ping-pong does. With
        // something due, it does not, and the wait is the poll's.
        const std::optional<Micros> wait = TimeToNextDue(queue, noise, now);
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), wait ? MSG_DONTWAIT : 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait || !WaitReadable(fd_, *wait)) tap_.Idle();
            continue;
        }
        if (n < 0 && Transient(errno)) continue;
        if (n < 0) {
            error = std::string("recvfrom: ") + std::strerror(errno);
            return false;
        }
        const Micros arrived = Now();
        if (noise.Active()) noise.SetClient(from, ToMs(arrived));
        Answer(fd_, simulator, queue, std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(n)),
               from, arrived, batch, tap_);
    }
    return true;
}

}  // namespace quorvane::devsim
