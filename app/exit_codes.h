#pragma once
// The process exit codes that scripts and other tools rely on.

namespace quorvane {

enum ExitCode : int {
    EXIT_DONE = 0,
    EXIT_SCRIPT_FAILED = 1,  // at least one device's script failed
    EXIT_USAGE = 2,          // bad arguments, unreadable or invalid package, unknown --mac, --expect not met
    EXIT_REFUSED = 3,        // a compatibility check refused, or the warning or the devices were not confirmed
    EXIT_ENDPOINT = 4,       // the UDP endpoint could not start (socket, bind)
};

// What a run whose own work is done exits with when some of its output
// (stdout, stderr, the events, the trace log, the capture) could not be
// written: a run that would exit 0 exits 2, since what it was asked to
// write is lost; any other code says more and stays.
constexpr int WithLostOutput(int code) {
    return code == EXIT_DONE ? EXIT_USAGE : code;
}

}  // namespace quorvane
