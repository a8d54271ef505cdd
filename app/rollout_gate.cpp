#include "app/rollout_gate.h"

#include <algorithm>
#include <charconv>

namespace quorvane {
namespace {

// Limits a budget's count far beyond any network's devices, so that the
// percentage's product cannot overflow.
constexpr int MOST_FAILURES = 1 << 20;

}  // namespace

std::optional<FailureBudget> ParseFailureBudget(std::string_view text) {
    FailureBudget budget;
    budget.percent = !text.empty() && text.back() == '%';
    if (budget.percent) text.remove_suffix(1);
    // Digits only: no sign, no space, no fraction.
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), budget.count);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (budget.count < 1 || budget.count > (budget.percent ? 100 : MOST_FAILURES)) return std::nullopt;
    return budget;
}

std::size_t FailureLimit(const FailureBudget& budget, std::size_t selected) {
    if (budget.count <= 0) return 0;
    if (!budget.percent) return static_cast<std::size_t>(budget.count);
    const std::size_t share = (selected * static_cast<std::size_t>(budget.count) + 99) / 100;
    return std::max<std::size_t>(share, 1);
}

bool FirmwareMatches(const std::string& columnText, const std::string& versionText, const std::string& wanted) {
    if (wanted.empty()) return false;
    return wanted == columnText || (!versionText.empty() && wanted == versionText);
}

RolloutStages StagesOf(const RunModel& model, const RolloutOptions& options) {
    RolloutStages stages;
    for (std::size_t i = 0; i < model.devices.size(); ++i) {
        if (model.devices[i].state == DeviceState::Current)
            stages.current.push_back(i);
        else if (stages.canaries.size() < options.canaries)
            stages.canaries.push_back(i);
        else
            stages.rest.push_back(i);
    }
    stages.failureLimit = FailureLimit(options.maxFailures, model.devices.size());
    stages.asked = options.canaries > 0 || stages.failureLimit > 0 || !options.skipFirmware.empty();
    return stages;
}

RolloutGate::RolloutGate(std::size_t devices, std::vector<std::size_t> canaries, std::size_t failureLimit)
    : ends_(devices, End::None), canaries_(std::move(canaries)), failureLimit_(failureLimit) {}

void RolloutGate::Ended(std::size_t index, bool good) {
    if (index >= ends_.size()) return;
    if (ends_[index] == End::Bad) --failures_;
    ends_[index] = good ? End::Good : End::Bad;
    if (!good) ++failures_;
}

RolloutHalt RolloutGate::Halted() const {
    for (std::size_t index : canaries_)
        if (index < ends_.size() && ends_[index] == End::Bad) return RolloutHalt::CanaryFailed;
    if (failureLimit_ > 0 && failures_ >= failureLimit_) return RolloutHalt::BudgetReached;
    return RolloutHalt::None;
}

bool RolloutGate::CanariesPassed() const {
    return std::all_of(canaries_.begin(), canaries_.end(),
                       [this](std::size_t index) { return index < ends_.size() && ends_[index] == End::Good; });
}

}  // namespace quorvane
