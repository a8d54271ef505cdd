#pragma once
// A staged rollout within one run: the canaries (the first devices of the
// selection) run first and the others start only once every canary was
// upgraded and came back; a failure budget stops further starts once that
// many devices have failed; devices that already run the wanted firmware
// are left alone. The gate is told of every device's end and says whether
// the next device may start; both ways of running a batch ask it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_model.h"

namespace quorvane {

// --max-failures: a count of devices, or a percentage of the selected ones.
// A count of zero: no limit.
struct FailureBudget {
    int count = 0;
    bool percent = false;
};

// "3" or "10%": a count of at least 1, or a percentage from 1% to 100%;
// none for anything else.
std::optional<FailureBudget> ParseFailureBudget(std::string_view text);

// How many failed devices of `selected` stop the run: a percentage rounds
// up and is at least one device. Zero: no limit.
std::size_t FailureLimit(const FailureBudget& budget, std::size_t selected);

// Whether a device's firmware is the wanted one: its firmware column's
// text ("v QVN 4.1.0 12/01/26") or its version number alone ("4.1.0")
// equals `wanted` exactly. An empty `wanted` matches nothing.
bool FirmwareMatches(const std::string& columnText, const std::string& versionText, const std::string& wanted);

// What the user asked of the rollout.
struct RolloutOptions {
    std::size_t canaries = 0;  // none: every device is of one stage
    FailureBudget maxFailures;
    std::string skipFirmware;  // empty: every selected device runs
};

// The stages of a run over `model`: the devices already current (Current
// state), the canaries (the first devices that are to run, in list order)
// and the devices after them, and how many failures stop the run.
struct RolloutStages {
    std::vector<std::size_t> current;
    std::vector<std::size_t> canaries;
    std::vector<std::size_t> rest;
    std::size_t failureLimit = 0;  // zero: no limit
    bool asked = false;            // any of the rollout's options was given
};
RolloutStages StagesOf(const RunModel& model, const RolloutOptions& options);

// Why a run started fewer devices than it had.
enum class RolloutHalt {
    None,
    CanaryFailed,   // a canary failed or did not come back
    BudgetReached,  // as many devices failed as the budget allows
};

// Says whether the next device may start, told of each device's end. Not
// locked: callers ask and tell it under the lock that guards their model.
class RolloutGate {
public:
    RolloutGate(std::size_t devices, std::vector<std::size_t> canaries, std::size_t failureLimit);

    // False once a canary failed or the failures reached the limit.
    bool MayStart() const { return Halted() == RolloutHalt::None; }
    // Device `index` ended, upgraded and back (`good`) or not. A device
    // that ends again (a retry) counts by its last end.
    void Ended(std::size_t index, bool good);
    RolloutHalt Halted() const;
    // Every canary ended and all of them were good.
    bool CanariesPassed() const;
    std::size_t Failures() const { return failures_; }
    const std::vector<std::size_t>& Canaries() const { return canaries_; }

private:
    enum class End : char { None, Good, Bad };
    std::vector<End> ends_;  // by device index
    std::vector<std::size_t> canaries_;
    std::size_t failureLimit_;
    std::size_t failures_ = 0;
};

}  // namespace quorvane
