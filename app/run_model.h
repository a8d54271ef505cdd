#pragma once
// What one upgrade run knows of each of its devices: the one model that the
// events, the JSON report, the summary lines and the progress window are
// all made from. The run writes it; front ends only read it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/return_check.h"
#include "app/transfer_pace.h"
#include "protocol/device_record.h"
#include "protocol/exchange_stats.h"

namespace quorvane {

// What one device's runs cost, over all its runs, retries included.
struct DeviceCounters {
    ExchangeStats exchanges;
    std::chrono::microseconds elapsed{0};  // from its first run's start to its last run's end
    int attempts = 0;
};

enum class DeviceState {
    Waiting,      // not started (yet)
    Running,      // a run of its script is under way
    Upgraded,     // its script ran to the end
    Failed,       // given up: the device, the network or this computer failed it
    Interrupted,  // asked to stop: its run ended between two exchanges, mid-script
    Current,      // it already runs the wanted firmware (--skip-firmware): never touched
};

// One device of the run.
struct DeviceResult {
    DeviceRecord* record = nullptr;
    DeviceState state = DeviceState::Waiting;
    DeviceCounters counters;  // final once the device is done; see `live` while it runs
    // Why the device's last run failed, with its script line ("line 3 LOAD
    // fw.bin: no answer to LOAD_VERIFY after 16 sends"); empty when it did not.
    std::string error;
    // The failure was this computer's (a full disk, no socket), not the
    // device's or the network's.
    bool localError = false;
    // Where the run under way stands.
    int lineNumber = 0;
    std::string line;
    std::string fileName;
    // While the exchange under way is sent again: "waiting for LOAD_VERIFY,
    // send 5 of 16"; empty once it is answered.
    std::string waiting;
    uint64_t done = 0;
    uint64_t total = 0;
    TransferPace pace;
    ExchangeStats live;  // every run of the device, the one under way included
    // The firmware it reported before its script (from admission), and
    // whether and with which it came back after its RESET.
    ReturnCheck returned;

    bool Started() const { return counters.attempts > 0; }
    bool Finished() const {
        return state == DeviceState::Upgraded || state == DeviceState::Failed || state == DeviceState::Interrupted;
    }
    // Whether its script got as far as the check after the reset: an
    // upgraded device (checked, or with the check off) or one that did not
    // come back. A device whose script failed or was stopped never did.
    bool ReachedReturnCheck() const {
        return state == DeviceState::Upgraded || returned.outcome != ReturnOutcome::Off;
    }
    // Its script ran, and it did not answer again within the time allowed.
    bool NotBack() const { return returned.outcome == ReturnOutcome::Missing; }
};

struct RunModel {
    std::vector<DeviceResult> devices;  // in selection order

    explicit RunModel(const std::vector<DeviceRecord*>& selected = {});
    std::vector<std::size_t> InState(DeviceState state) const;
    std::size_t CountIn(DeviceState state) const { return InState(state).size(); }
};

// "upgraded", "failed", "interrupted", "running", "waiting", "current".
const char* StateWord(DeviceState state);

// What a run came to for the device, as --json's "result" says it:
// "upgraded", "failed" (given up, stopped mid-script or not back),
// "current" (left alone) or "not-started".
const char* ResultWord(const DeviceResult& device);

}  // namespace quorvane
