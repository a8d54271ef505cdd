#include "tools/devsim/udp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

#include "protocol/network_options.h"
#include "tools/devsim/noise_source.h"

namespace quorvane::devsim {
namespace {

constexpr int IDLE_POLL_MS = 200;  // how soon a stop signal is noticed at the latest
constexpr std::size_t RECEIVE_CAPACITY = 65536;
constexpr int SOCKET_BUFFER_BYTES = 8 * 1024 * 1024;

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SendNow(int fd, const sockaddr_in& to, std::span<const uint8_t> bytes, CaptureTap& tap);

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
            SendNow(fd, p.to, p.bytes, tap_);
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
    CaptureTap& tap_;
};

void SendNow(int fd, const sockaddr_in& to, std::span<const uint8_t> bytes, CaptureTap& tap) {
    // A failed send is a lost reply, which the program survives by resending.
    if (::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0)
        tap.Sent(to, bytes);
}

// Answers one request: at once when the reply is due now, through the
// queue when a fault delays it.
void Answer(int fd, Simulator& simulator, ReplyQueue& queue, std::span<const uint8_t> request,
            const sockaddr_in& from, ReplyBatch& batch, CaptureTap& tap) {
    tap.Received(from, request);
    const int64_t now = NowMs();
    simulator.Handle(request, now, batch);
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        const auto bytes = batch.Bytes(i);
        if (batch.DelayMs(i) <= 0) {
            SendNow(fd, from, bytes, tap);
        } else {
            queue.Add(now + batch.DelayMs(i), from, {bytes.begin(), bytes.end()});
        }
    }
}

// The longest a receive may block; set on the socket only when it changes,
// so that serving a request costs one receive and one send, as little as a
// bare ping-pong does.
class ReceiveTimeout {
public:
    explicit ReceiveTimeout(int fd) : fd_(fd) {}
    void Set(int64_t ms) {
        ms = std::max<int64_t>(ms, 1);  // zero would mean waiting for ever
        if (ms == current_) return;
        timeval limit{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        current_ = ms;
    }

private:
    int fd_;
    int64_t current_ = -1;
};

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
    ReceiveTimeout timeout(fd_);
    std::vector<uint8_t> buffer(RECEIVE_CAPACITY);
    while (!*flags.stop) {
        if (flags.dump && *flags.dump) {
            *flags.dump = 0;
            onDump();
        }
        const int64_t now = NowMs();
        queue.SendDue(fd_, now);
        if (noise.Active()) noise.SendDue(fd_, now, tap_);
        timeout.Set(noise.WaitMs(now, queue.Timeout(now)));
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) tap_.Idle();
        if (n < 0 && Transient(errno)) continue;
        if (n < 0) {
            error = std::string("recvfrom: ") + std::strerror(errno);
            return false;
        }
        if (noise.Active()) noise.SetClient(from, NowMs());
        Answer(fd_, simulator, queue, std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(n)),
               from, batch, tap_);
    }
    return true;
}

}  // namespace quorvane::devsim
