#pragma once
// How many files the process may have open. A program is started with a
// soft limit (often 1024) far below the hard one that it may raise itself
// to, and every device run side by side holds a socket and a file of its
// own: a fleet of a thousand needs more than the soft limit allows.

#include <cstddef>

namespace quorvane {

struct DescriptorLimit {
    std::size_t soft = 0;  // in force after the call; SIZE_MAX for no limit
    std::size_t hard = 0;
    int error = 0;  // errno of the call that failed, 0 when none did
};

// Raises the soft limit on open files to the hard one; a limit already
// there is left as it is. On failure the limits stay as they were and
// `error` says why: the count of devices that fit side by side then goes
// by the old limit.
DescriptorLimit RaiseDescriptorLimit();

}  // namespace quorvane
