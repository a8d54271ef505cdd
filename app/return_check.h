#pragma once
// After a device's RESET: did it come back, and with which firmware? It is
// asked with single information queries, one per receive wait, until it
// answers or the time allowed is over; devices side by side each wait on a
// link of their own, so a wait never holds up another device.

#include <chrono>
#include <functional>
#include <string>

#include "protocol/device_protocol.h"

namespace quorvane {

enum class ReturnOutcome {
    Off,        // the check was turned off
    NotReset,   // the script did not end with a RESET: nothing to wait for
    Verified,   // it answered, with other firmware than before
    Unchanged,  // it answered with the firmware it had (a re-flash of one version)
    Missing,    // no answer within the time allowed: the device failed
};

// "off", "not-reset", "verified", "unchanged", "missing": what --json and
// the events say.
const char* ReturnWord(ReturnOutcome outcome);

struct ReturnCheck {
    ReturnOutcome outcome = ReturnOutcome::Off;
    std::string firmwareBefore;  // the firmware column's text before the script
    std::string firmwareAfter;   // and once it answered; empty when it did not
    std::chrono::milliseconds waited{0};
};

// Waits up to `limit` for the device of `record` to answer, on the link's
// clock; `stopRequested` (may be empty) ends the wait early, as Off: the
// script ran, and whether the device came back is not known.
// `firmwareBefore` is the firmware text the device had before its script.
// The record then holds the device's new information block.
ReturnCheck AwaitReturn(DeviceProtocol& protocol, DeviceRecord& record, const std::string& firmwareBefore,
                        std::chrono::milliseconds limit, const std::function<bool()>& stopRequested);

// The firmware column's text of the block `record` holds now.
std::string FirmwareTextOf(DeviceRecord& record);

}  // namespace quorvane
