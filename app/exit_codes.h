#pragma once
// The process exit codes that scripts and other tools rely on.

namespace quorvane {

enum ExitCode : int {
    EXIT_DONE = 0,
    EXIT_SCRIPT_FAILED = 1,  // at least one device's script failed
    EXIT_USAGE = 2,          // bad arguments, unreadable or invalid package, unknown --mac, --expect not met
    EXIT_REFUSED = 3,        // a compatibility check refused, or the warning was not confirmed
    EXIT_ENDPOINT = 4,       // the UDP endpoint could not start (socket, bind)
};

}  // namespace quorvane
