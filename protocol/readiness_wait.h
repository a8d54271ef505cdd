#pragma once
// How a socket waits for a datagram. By default the endpoint blocks its
// thread in poll(); a run that drives many devices from a few threads gives
// it a wait of its own, which lets other work go on meanwhile.

namespace quorvane {

class ReadinessWait {
public:
    virtual ~ReadinessWait() = default;
    // Waits up to `timeoutMs` for `socket` to have a datagram: above 0 when
    // it has one, 0 when the time ran out, below 0 when the wait failed.
    virtual int WaitReadable(int socket, int timeoutMs) = 0;
    // `socket` is about to be closed: forget whatever was kept for it, since
    // a new socket may soon have its number.
    virtual void Forget(int socket) = 0;
};

}  // namespace quorvane
