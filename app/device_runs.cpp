#include "app/device_runs.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "res/string_format.h"
#include "res/string_table.h"

namespace quorvane::detail {
namespace {

std::string RetryPrompt(const DeviceRecord& record) {
    const MacAddress& m = record.mac;
    return FormatStringId(IDS_RETRY_PROMPT, {m[0], m[1], m[2], m[3], m[4], m[5]});
}

bool StopRequested(const UpgradeProgress* progress) {
    return progress != nullptr && progress->StopRequested();
}

// Counts what one device's runs over `protocol` cost, from construction to
// destruction, into `counters`.
class CounterWatch {
public:
    CounterWatch(DeviceProtocol& protocol, DeviceCounters& counters)
        : protocol_(protocol), counters_(counters), started_(protocol.Link().FineNow()) {
        protocol_.ResetStats();
    }
    ~CounterWatch() {
        counters_.exchanges.Merge(protocol_.Stats());
        counters_.elapsed += protocol_.Link().FineNow() - started_;
    }
    CounterWatch(const CounterWatch&) = delete;
    CounterWatch& operator=(const CounterWatch&) = delete;

private:
    DeviceProtocol& protocol_;
    DeviceCounters& counters_;
    std::chrono::microseconds started_;
};

// Runs the script on one device until it succeeds or the user stops asking
// for another try. True when the device was upgraded. A stopped run is
// neither retried nor given up with a message: the caller reports it.
bool UpgradeDevice(std::size_t index, DeviceRuns& runs, UpgradePackage& package, DeviceProtocol& protocol,
                   Prompter& prompter, UpgradeProgress* progress) {
    const DeviceRecord& record = *runs.devices[index];
    DeviceCounters& counters = runs.counters[index];
    DeviceObserver observer(progress, index, nullptr, protocol, counters);
    {
        CounterWatch watch(protocol, counters);
        for (;;) {
            if (progress) progress->OnDeviceStart(index, runs.devices.size(), record);
            ++counters.attempts;
            if (RunUpgradeScript(package, protocol, record, &observer)) return true;
            if (StopRequested(progress)) return false;
            if (!prompter.Ask(IDS_RETRY_PROMPT, RetryPrompt(record), BOX_YES_NO | ICON_STOP)) break;
        }
    }
    prompter.Tell(IDS_UPGRADE_GIVEN_UP, LoadString(IDS_UPGRADE_GIVEN_UP), BOX_OK);
    return false;
}

// What the threads of one side-by-side batch share.
struct Fleet {
    DeviceRuns& runs;
    UpgradePackage& package;
    const FleetOptions& options;
    UpgradeProgress* progress;
    std::mutex lock;  // held for every call into `progress`
};

// One device's session: its own link, exchanges and script reader; only
// the package (read-only by now) and the progress are shared.
void RunSession(std::size_t index, Fleet& fleet) {
    const DeviceRecord& record = *fleet.runs.devices[index];
    DeviceCounters& counters = fleet.runs.counters[index];
    auto report = [&fleet](auto&& call) {
        if (fleet.progress == nullptr) return;
        const std::lock_guard<std::mutex> guard(fleet.lock);
        call(*fleet.progress);
    };
    const std::unique_ptr<Transport> link = fleet.options.openLink ? fleet.options.openLink(record) : nullptr;
    bool done = false;
    if (link == nullptr) {
        // No socket for this device: it fails without a request sent.
        report([&](UpgradeProgress& p) { p.OnDeviceStart(index, fleet.runs.devices.size(), record); });
        ++counters.attempts;
    } else {
        DeviceChain chain;  // sessions find no devices: they are given theirs
        DeviceProtocol protocol(*link, chain);
        DeviceObserver observer(fleet.progress, index, &fleet.lock, protocol, counters);
        CounterWatch watch(protocol, counters);
        for (int attempt = 0; !done; ++attempt) {
            report([&](UpgradeProgress& p) { p.OnDeviceStart(index, fleet.runs.devices.size(), record); });
            ++counters.attempts;
            done = RunUpgradeScript(fleet.package, protocol, record, &observer);
            if (attempt >= fleet.options.retries || observer.StopRequested()) break;
        }
    }
    fleet.runs.results[index] = done ? DeviceResult::Upgraded : DeviceResult::Failed;
    report([&](UpgradeProgress& p) {
        p.OnDeviceCounters(index, counters);
        p.OnDeviceEnd(index, done);
    });
}

}  // namespace

std::vector<std::size_t> DeviceRuns::WithResult(DeviceResult result) const {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < results.size(); ++i)
        if (results[i] == result) found.push_back(i);
    return found;
}

std::unique_lock<std::mutex> DeviceObserver::Guard() const {
    return lock_ != nullptr ? std::unique_lock<std::mutex>(*lock_) : std::unique_lock<std::mutex>();
}

void DeviceObserver::OnLine(int lineNumber, std::string_view line) {
    if (progress_ == nullptr) return;
    const auto guard = Guard();
    progress_->OnDeviceLine(index_, lineNumber, line);
}

void DeviceObserver::OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) {
    if (progress_ == nullptr) return;
    TransferStep step{fileName, done, total, pace_.Step(fileName, done, total, protocol_.Link().FineNow()),
                      counters_.exchanges};
    step.exchanges.Merge(protocol_.Stats());
    const auto guard = Guard();
    progress_->OnDeviceTransfer(index_, step);
}

bool DeviceObserver::StopRequested() const {
    if (progress_ == nullptr) return false;
    const auto guard = Guard();
    return progress_->StopRequested();
}

bool RunInTurn(const std::vector<std::size_t>& batch, DeviceRuns& runs, UpgradePackage& package,
               DeviceProtocol& protocol, Prompter& prompter, UpgradeProgress* progress) {
    for (std::size_t index : batch) {
        if (StopRequested(progress)) return false;
        const bool done = UpgradeDevice(index, runs, package, protocol, prompter, progress);
        runs.results[index] = done ? DeviceResult::Upgraded : DeviceResult::Failed;
        if (progress) {
            progress->OnDeviceCounters(index, runs.counters[index]);
            progress->OnDeviceEnd(index, done);
        }
    }
    return !StopRequested(progress);
}

bool RunSideBySide(const std::vector<std::size_t>& batch, DeviceRuns& runs, UpgradePackage& package,
                   const FleetOptions& options, UpgradeProgress* progress) {
    // From here on the package's container is never read: every session
    // loads the members extracted now. Where one could not be, the runs go
    // one at a time, each failing its LOAD as it would alone.
    const bool prepared = PrepareLoadMembers(package);
    Fleet fleet{runs, package, options, progress, {}};
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stopped{false};
    auto work = [&] {
        for (std::size_t taken = next++; taken < batch.size(); taken = next++) {
            {
                const std::lock_guard<std::mutex> guard(fleet.lock);
                if (StopRequested(progress)) stopped = true;
            }
            if (stopped) return;
            RunSession(batch[taken], fleet);
        }
    };
    const std::size_t wanted = options.jobs == 0 ? batch.size() : options.jobs;
    const std::size_t jobs = prepared ? std::min({wanted, batch.size(), MAX_SIDE_BY_SIDE}) : 1;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < jobs; ++i) threads.emplace_back(work);
    for (auto& thread : threads) thread.join();
    return !stopped && !StopRequested(progress);
}

}  // namespace quorvane::detail
