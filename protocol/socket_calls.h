#pragma once
// The socket calls whose failures the endpoint must handle but a test cannot
// provoke on a healthy machine. The endpoint always goes through the active
// set; tests swap in their own to walk the failure paths (ports in use, a
// refused option) without occupying real ports.

#include <sys/socket.h>

namespace quorvane::detail {

struct SocketCalls {
    // Each returns 0 on success, else -1 with errno set, as the system calls do.
    int (*bind)(int socket, const sockaddr* address, socklen_t length);
    int (*setNonBlocking)(int socket);
    int (*allowBroadcast)(int socket);
};

// The system's own calls.
SocketCalls SystemSocketCalls();

// The set the endpoint uses; starts as the system's.
SocketCalls& ActiveSocketCalls();

// Replaces the active set for one scope.
class ScopedSocketCalls {
public:
    explicit ScopedSocketCalls(SocketCalls calls) : saved_(ActiveSocketCalls()) {
        ActiveSocketCalls() = calls;
    }
    ~ScopedSocketCalls() { ActiveSocketCalls() = saved_; }
    ScopedSocketCalls(const ScopedSocketCalls&) = delete;
    ScopedSocketCalls& operator=(const ScopedSocketCalls&) = delete;

private:
    SocketCalls saved_;
};

}  // namespace quorvane::detail
