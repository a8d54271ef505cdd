#include "protocol/udp_endpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "protocol/socket_calls.h"

namespace quorvane {

namespace detail {

namespace {

int SystemBind(int socket, const sockaddr* address, socklen_t length) {
    return ::bind(socket, address, length);
}

int SystemSetNonBlocking(int socket) {
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0) return -1;
    return ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0 ? -1 : 0;
}

int SystemAllowBroadcast(int socket) {
    const int on = 1;
    return ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
}

}  // namespace

SocketCalls SystemSocketCalls() {
    return {SystemBind, SystemSetNonBlocking, SystemAllowBroadcast};
}

SocketCalls& ActiveSocketCalls() {
    static SocketCalls calls = SystemSocketCalls();
    return calls;
}

}  // namespace detail

namespace {

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address);
    return result;
}

bool BindTo(int socket, uint32_t address, uint16_t port) {
    const sockaddr_in local = MakeAddress(address, port);
    return detail::ActiveSocketCalls().bind(socket, reinterpret_cast<const sockaddr*>(&local),
                                            sizeof local) == 0;
}

// Port 0 lets the system choose; the fixed ports are only a fallback for a
// system that reports even that as in use. Any other error will not go away
// by trying another port.
bool BindSearch(int socket, uint32_t address) {
    if (BindTo(socket, address, 0)) return true;
    for (uint32_t port = BIND_PORT_FIRST; port <= BIND_PORT_LAST; ++port) {
        if (errno != EADDRINUSE) return false;
        if (BindTo(socket, address, static_cast<uint16_t>(port))) return true;
    }
    return false;
}

// A larger buffer and the drop counter only make discovery more robust; a
// system that refuses them still has a working endpoint.
int EnlargeReceiveBuffer(int socket) {
    const int wanted = RECEIVE_BUFFER_REQUEST;
    // The forced form passes the system's ceiling when the program may do
    // so; otherwise the ordinary request gets what the ceiling allows.
    if (::setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) != 0)
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    int granted = 0;
    socklen_t length = sizeof granted;
    if (::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0) return 0;
    return granted;
}

// What the system attaches to a received datagram: its drop counter and
// its arrival time, each when asked for.
struct ArrivalNotes {
    bool hasDropCount = false;
    uint32_t dropCount = 0;
    bool hasArrival = false;
    timespec arrival{};
};

ArrivalNotes ReadNotes(msghdr& message) {
    ArrivalNotes notes;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET) continue;
        if (c->cmsg_type == SO_RXQ_OVFL) {
            std::memcpy(&notes.dropCount, CMSG_DATA(c), sizeof notes.dropCount);
            notes.hasDropCount = true;
        } else if (c->cmsg_type == SCM_TIMESTAMPING) {
            // The first of the three times is the system's own; it is left
            // zero for a datagram that came in before stamping was on.
            scm_timestamping stamps{};
            std::memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
            notes.arrival = stamps.ts[0];
            notes.hasArrival = notes.arrival.tv_sec != 0 || notes.arrival.tv_nsec != 0;
        }
    }
    return notes;
}

bool Earlier(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// A change of the wall clock's lead beyond this is taken for a clock that
// was set. Slewing moves it far less between two requests; a false alarm
// only costs one drain by reading.
constexpr int64_t CLOCK_STEP_NS = 1'000'000;

int64_t Nanoseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

int64_t WallLeadNs() {
    timespec wall{};
    timespec steady{};
    ::clock_gettime(CLOCK_REALTIME, &wall);
    ::clock_gettime(CLOCK_MONOTONIC, &steady);
    return Nanoseconds(wall) - Nanoseconds(steady);
}

}  // namespace

UdpEndpoint::UdpEndpoint(EndpointOptions options, DiagnosticSink* sink) : options_(options), sink_(sink) {}

UdpEndpoint::~UdpEndpoint() {
    Close();
}

bool UdpEndpoint::Start() {
    // A second start must not leak the first socket.
    Close();
    errno = 0;
    // A failed socket() is caught by the next step, which then fails on it.
    const int candidate = ::socket(AF_INET, SOCK_DGRAM, 0);
    // The reason of a failed socket() is kept: the next step fails on the
    // missing socket with a reason of its own.
    const int socketError = candidate < 0 ? errno : 0;
    const auto fail = [&](const char* text) {
        startError_ = socketError != 0 ? socketError : (errno != 0 ? errno : EINVAL);
        if (sink_ != nullptr) sink_->Write(text);
        if (candidate >= 0) ::close(candidate);
        return false;
    };
    if (detail::ActiveSocketCalls().setNonBlocking(candidate) != 0) return fail("ioctlsockets failed\n");
    if (detail::ActiveSocketCalls().allowBroadcast(candidate) != 0)
        return fail("Error:  setsockopt() failed.\n");
    if (!BindSearch(candidate, options_.localAddress)) return fail("BINDING ERROR");
    socket_ = candidate;
    startError_ = 0;
    receiveBuffer_ = EnlargeReceiveBuffer(socket_);
    dropped_ = 0;
    // With arrival times, dropping what came before a request costs no read.
    // This form of stamping leaves out the times the system did not take on
    // arrival, where the simpler one would fill in the time of reading.
    const int stamping = SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE;
    stampsArrivals_ = ::setsockopt(socket_, SOL_SOCKET, SO_TIMESTAMPING, &stamping, sizeof stamping) == 0;
    arrivalsStamped_ = false;
    staleBefore_ = {};
    wallLeadNs_ = WallLeadNs();
    return true;
}

void UdpEndpoint::DropEarlierDatagrams(std::span<uint8_t> scratch, int limit) {
    // The system turns stamping on a moment after it is asked to, so until a
    // stamped datagram has come the queue may hold unstamped ones; and a
    // wall clock that was set since the last mark leaves queued arrival
    // times out of step with a new one. Either way the queue is read empty.
    const int64_t lead = WallLeadNs();
    const bool clockSteady = std::llabs(lead - wallLeadNs_) <= CLOCK_STEP_NS;
    wallLeadNs_ = lead;
    staleBefore_ = {};
    if (!arrivalsStamped_ || !clockSteady || ::clock_gettime(CLOCK_REALTIME, &staleBefore_) != 0) {
        staleBefore_ = {};
        DrainByReading(scratch, limit);
    }
}

void UdpEndpoint::DrainByReading(std::span<uint8_t> scratch, int limit) {
    for (int read = 0; read < limit; ++read) {
        uint32_t sender = 0;
        const int received = Receive(sender, scratch, std::chrono::milliseconds(0));
        if (received == RECEIVE_NOTHING) return;
        if (received > 0 && watcher_ != nullptr)
            watcher_->SetAside(lastOrigin_, scratch.first(static_cast<std::size_t>(received)));
    }
}

bool UdpEndpoint::Skipped(const timespec& arrival) {
    if (!Earlier(arrival, staleBefore_)) return false;
    // The wall clock was set since the mark: arrival times cannot be
    // compared with it any more, so the mark is given up rather than
    // every answer refused.
    if (std::llabs(WallLeadNs() - wallLeadNs_) > CLOCK_STEP_NS) {
        staleBefore_ = {};
        return false;
    }
    return true;
}

bool UdpEndpoint::Send(uint32_t address, std::span<const uint8_t> datagram) {
    const sockaddr_in target = MakeAddress(options_.Destination(address), options_.port);
    // Non-blocking: a datagram the system cannot take at once is a failure.
    const ssize_t sent = ::sendto(socket_, datagram.data(), datagram.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent >= 0;
}

int UdpEndpoint::Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) {
    const auto deadline = Now() + std::max(wait, std::chrono::milliseconds(0));
    for (;;) {
        // Waits take an int of milliseconds, where a negative value would
        // mean waiting for ever.
        const auto left = std::max<int64_t>((deadline - Now()).count(), 0);
        const int waited = WaitReadable(static_cast<int>(std::min<int64_t>(left, std::numeric_limits<int>::max())));
        if (waited < 0) return 0;
        if (waited == 0) return RECEIVE_NOTHING;

        sockaddr_in source{};
        iovec data{buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint32_t)) + CMSG_SPACE(sizeof(scm_timestamping))];
        msghdr message{};
        message.msg_name = &source;
        message.msg_namelen = sizeof source;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        // MSG_TRUNC makes the call report the datagram's full size, so one that
        // did not fit is recognised instead of being taken as a short one.
        const ssize_t received = ::recvmsg(socket_, &message, MSG_TRUNC | MSG_DONTWAIT);
        if (received < 0) return RECEIVE_NOTHING;
        const ArrivalNotes notes = ReadNotes(message);
        if (notes.hasDropCount) dropped_ = notes.dropCount;
        if (notes.hasArrival) arrivalsStamped_ = stampsArrivals_;
        const bool fits = static_cast<std::size_t>(received) <= buffer.size();
        const DatagramOrigin origin{ntohl(source.sin_addr.s_addr), ntohs(source.sin_port),
                                    notes.hasArrival ? notes.arrival : timespec{}};
        // It came before the request now waiting for its answer: as good as
        // dropped before that request was sent.
        if (notes.hasArrival && Skipped(notes.arrival)) {
            if (fits && received > 0 && watcher_ != nullptr)
                watcher_->SetAside(origin, buffer.first(static_cast<std::size_t>(received)));
            continue;
        }
        if (!fits) return RECEIVE_OVERSIZED;
        if (received == 0) return 0;
        lastOrigin_ = origin;
        sender = origin.address;
        return static_cast<int>(received);
    }
}

uint64_t UdpEndpoint::DroppedDatagrams() const {
    // The counter a received datagram carries only tells of drops before it
    // was queued; the socket's own count also knows of drops at the end of
    // a burst, after which nothing more arrived.
    uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    if (socket_ >= 0 && ::getsockopt(socket_, SOL_SOCKET, SO_MEMINFO, memory, &length) == 0 &&
        length > SK_MEMINFO_DROPS * sizeof(uint32_t))
        return std::max<uint64_t>(dropped_, memory[SK_MEMINFO_DROPS]);
    return dropped_;
}

std::chrono::milliseconds UdpEndpoint::Now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

std::chrono::microseconds UdpEndpoint::FineNow() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

int UdpEndpoint::WaitReadable(int timeoutMs) {
    if (wait_ != nullptr) return wait_->WaitReadable(socket_, timeoutMs);
    pollfd ready{socket_, POLLIN, 0};
    const int waited = ::poll(&ready, 1, timeoutMs);
    return waited > 0 && (ready.revents & POLLIN) == 0 ? 0 : waited;
}

void UdpEndpoint::Close() {
    if (socket_ < 0) return;
    if (wait_ != nullptr) wait_->Forget(socket_);
    ::close(socket_);
    socket_ = -1;
}

uint16_t UdpEndpoint::LocalPort() const {
    if (socket_ < 0) return 0;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    return ntohs(local.sin_port);
}

}  // namespace quorvane
