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
#include <optional>
#include <vector>

#include "protocol/network_options.h"
#include "tools/devsim/noise_source.h"

namespace quorvane::devsim {
namespace {

constexpr int IDLE_POLL_MS = 200;  // how soon a stop signal is noticed at the latest
// The largest datagram there is: a request is handed on whole, whatever
// its length, as one read at a time used to.
constexpr std::size_t RECEIVE_CAPACITY = 65536;
// Requests read in one call; their buffers take 4 MiB of address space, of
// which only the pages datagrams land in are ever touched.
constexpr std::size_t RECEIVE_BATCH = 64;
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

// Answers one request: at once when the reply is due now, through the
// queue when a fault delays it. The delay counts from `arrived`, taken
// right after the receive, so it is kept to the microsecond.
void Answer(Simulator& simulator, ReplyQueue& queue, std::span<const uint8_t> request,
            const sockaddr_in& from, Micros arrived, ReplyBatch& batch, SendBatch& now) {
    simulator.Handle(request, arrived, batch);
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        if (batch.Delay(i) <= Micros{0}) {
            now.Add(from, batch.Bytes(i));
        } else {
            queue.Add(arrived + batch.Delay(i), from, batch.Bytes(i));
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

// Answers every request of one receive. Replies that fell due before
// the requests were read go out first, as they would have with one
// request read at a time.
void UdpServer::AnswerAll(Simulator& simulator, ReplyQueue& queue, NoiseSource& noise,
                          const ReceiveBatch& incoming, int count, Micros arrived) {
    queue.TakeDue(arrived, outgoing_);
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        tap_.Received(incoming.From(index), incoming.Bytes(index));
        if (noise.Active()) noise.SetClient(incoming.From(index), ToMs(arrived));
        Answer(simulator, queue, incoming.Bytes(index), incoming.From(index), arrived, batch_, outgoing_);
    }
}

bool UdpServer::Run(Simulator& simulator, RunFlags flags, const std::function<void()>& onDump,
                    std::string& error) {
    ReplyQueue queue;
    NoiseSource noise(simulator.Faults());
    ReceiveBatch incoming(RECEIVE_BATCH, RECEIVE_CAPACITY);
    SetIdleTimeout(fd_);
    ::prctl(PR_SET_TIMERSLACK, TIMER_SLACK_NS, 0, 0, 0);
    // False only right after a wait that ended without a request: then a
    // receive would find nothing.
    bool mayBeWaiting = true;
    while (!*flags.stop) {
        if (flags.dump && *flags.dump) {
            *flags.dump = 0;
            onDump();
        }
        int count = 0;
        if (mayBeWaiting) {
            // With nothing due, the receive blocks: a request then costs one
            // receive and one send, as little as a bare ping-pong does. With
            // something due, it does not, and the wait is the poll's.
            const bool block = !queue.NextDue() && !noise.Active();
            count = incoming.Receive(fd_, block);
            if (count < 0 && !Transient(errno)) {
                error = std::string("recvmmsg: ") + std::strerror(errno);
                return false;
            }
            if (count < 0 && block && (errno == EAGAIN || errno == EWOULDBLOCK)) tap_.Idle();
            count = std::max(count, 0);
        }
        const Micros now = Now();
        AnswerAll(simulator, queue, noise, incoming, count, now);
        outgoing_.Flush(fd_, tap_);
        if (noise.Active()) noise.SendDue(fd_, ToMs(now), tap_);
        // More may have come while these were answered: read again before
        // any wait, which a waiting request would end at once anyway.
        mayBeWaiting = count > 0;
        if (mayBeWaiting) continue;
        const std::optional<Micros> wait = TimeToNextDue(queue, noise, Now());
        if (!wait) {
            mayBeWaiting = true;
        } else if (*wait > Micros{0}) {
            mayBeWaiting = WaitReadable(fd_, *wait);
            if (!mayBeWaiting) tap_.Idle();
        }
    }
    return true;
}

}  // namespace quorvane::devsim
