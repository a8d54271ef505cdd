#pragma once
// Many device runs on a few threads. Each run is a fiber with a stack of its
// own; while it waits for a reply its thread runs the others, and one epoll
// per thread tells which reply has come. A thread per device would instead
// cost two switches of the kernel's scheduler for every exchange, which at a
// thousand devices takes more time than the exchanges themselves. The runs'
// code is the same as on a thread of its own: only the sockets' readiness
// waits (FiberReadiness) give way to the other fibers.

#include <cstddef>
#include <functional>

#include "protocol/readiness_wait.h"

namespace quorvane {

// Runs `fibers` fibers, each calling `task` once, spread over up to
// `threads` threads (the calling thread is one of them); returns when every
// fiber has returned. A fiber must not wait for another by any means but a
// socket's readiness wait: they may share a thread. False, with nothing
// run, when not one fiber could be made (no memory for its stack).
bool RunFibers(std::size_t fibers, std::size_t threads, const std::function<void()>& task);

// From inside a fiber of RunFibers: adds one more fiber, on the calling
// fiber's thread, calling the same task; it starts once the caller next
// waits. This is how a run hands its place to the next device while it
// itself goes on waiting. False outside a fiber, or when no stack could be
// had for it.
bool StartFiberBeside();

// The readiness wait to give a socket used from fibers: inside a fiber it
// lets the fiber's thread run the others until the socket is readable or the
// time runs out; outside one it is poll().
ReadinessWait& FiberReadiness();

}  // namespace quorvane
