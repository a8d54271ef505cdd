#include "protocol/udp_endpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

}  // namespace

UdpEndpoint::UdpEndpoint(EndpointOptions options, DiagnosticSink* sink) : options_(options), sink_(sink) {}

UdpEndpoint::~UdpEndpoint() {
    Close();
}

bool UdpEndpoint::Start() {
    // A second start must not leak the first socket.
    Close();
    // A failed socket() is caught by the next step, which then fails on it.
    const int candidate = ::socket(AF_INET, SOCK_DGRAM, 0);
    // The reason of a failed socket() is kept: the next step fails on the
    // missing socket with a reason of its own.
    const int socketError = candidate < 0 ? errno : 0;
    const auto fail = [&](const char* text) {
        startError_ = socketError != 0 ? socketError : errno;
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
    return true;
}

bool UdpEndpoint::Send(uint32_t address, std::span<const uint8_t> datagram) {
    // Against a simulator the limited broadcast is redirected to where the
    // simulator listens; every other address is used as given.
    const uint32_t destination = address == LIMITED_BROADCAST ? options_.broadcastAddress : address;
    const sockaddr_in target = MakeAddress(destination, options_.port);
    // Non-blocking: a datagram the system cannot take at once is a failure.
    const ssize_t sent = ::sendto(socket_, datagram.data(), datagram.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent >= 0;
}

int UdpEndpoint::Receive(uint32_t& sender, std::span<uint8_t> buffer) {
    pollfd ready{socket_, POLLIN, 0};
    // poll takes an int of milliseconds, where a negative value would mean
    // waiting for ever.
    const auto wait = std::clamp<int64_t>(options_.receiveWait.count(), 0, std::numeric_limits<int>::max());
    const int waited = ::poll(&ready, 1, static_cast<int>(wait));
    if (waited < 0) return 0;
    if (waited == 0 || (ready.revents & POLLIN) == 0) return -1;

    sockaddr_in source{};
    socklen_t sourceLength = sizeof source;
    // MSG_TRUNC makes the call report the datagram's full size, so one that
    // did not fit is recognised instead of being taken as a short one.
    const ssize_t received = ::recvfrom(socket_, buffer.data(), buffer.size(), MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&source), &sourceLength);
    if (received < 0 || static_cast<std::size_t>(received) > buffer.size()) return -1;
    if (received == 0) return 0;
    sender = ntohl(source.sin_addr.s_addr);
    return static_cast<int>(received);
}

void UdpEndpoint::Close() {
    if (socket_ < 0) return;
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
