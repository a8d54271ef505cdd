#include "app/device_runs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "res/string_format.h"
#include "res/string_table.h"

namespace quorvane::detail {
namespace {

std::string RetryPrompt(const DeviceRecord& record) {
    const MacAddress& m = record.mac;
    return FormatStringId(IDS_RETRY_PROMPT, {m[0], m[1], m[2], m[3], m[4], m[5]});
}

}  // namespace

std::string DeviceLine(const DeviceRecord& record, const std::string& text) {
    const MacAddress& m = record.mac;
    return FormatStringId(IDS_MAC_TEXT, {m[0], m[1], m[2], m[3], m[4], m[5]}) + ": " + text;
}

namespace {

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

// The box that ends a device given up: why, when this computer failed it,
// else the network advice.
void TellGivenUp(const DeviceRecord& record, const std::string& localError, Prompter& prompter) {
    if (localError.empty()) {
        prompter.Tell(IDS_UPGRADE_GIVEN_UP, LoadString(IDS_UPGRADE_GIVEN_UP), BOX_OK);
        return;
    }
    prompter.Tell(IDS_LOCAL_FAILURE, FormatPlaceholders(IDS_LOCAL_FAILURE, {DeviceLine(record, localError)}),
                  BOX_OK);
}

// Runs the script on one device until it succeeds or the user stops asking
// for another try. True when the device was upgraded. A stopped run is
// neither retried nor given up with a message: the caller reports it.
bool UpgradeDevice(std::size_t index, DeviceRuns& runs, UpgradePackage& package, DeviceProtocol& protocol,
                   Prompter& prompter, UpgradeProgress* progress) {
    const DeviceRecord& record = *runs.devices[index];
    DeviceCounters& counters = runs.counters[index];
    std::string& localError = runs.localErrors[index];
    DeviceObserver observer(progress, index, nullptr, protocol, counters, localError);
    {
        CounterWatch watch(protocol, counters);
        for (;;) {
            if (progress) progress->OnDeviceStart(index, runs.devices.size(), record);
            ++counters.attempts;
            localError.clear();
            if (RunUpgradeScript(package, protocol, record, &observer)) return true;
            if (StopRequested(progress)) return false;
            if (!prompter.Ask(IDS_RETRY_PROMPT, RetryPrompt(record), BOX_YES_NO | ICON_STOP)) break;
        }
    }
    // A stop asked for while the question was open is the stop's to report.
    if (!StopRequested(progress)) TellGivenUp(record, localError, prompter);
    return false;
}

// What the threads of one side-by-side batch share.
struct Fleet {
    DeviceRuns& runs;
    UpgradePackage& package;
    const FleetOptions& options;
    UpgradeProgress* progress;
    // The links opened before the batch started, by device index; a device
    // without one opens its own when it starts.
    std::vector<std::unique_ptr<Transport>> links;
    // Why no link could be opened before the batch; a device without one
    // then fails without opening its own, which would leave it no room
    // for its files.
    std::string refusal;
    std::mutex lock;  // held for every call into `progress`
};

std::unique_ptr<Transport> OpenLink(const FleetOptions& options, const DeviceRecord& record, std::string& reason) {
    if (!options.openLink) {
        reason = "no link can be opened for devices side by side";
        return nullptr;
    }
    return options.openLink(record, reason);
}

// One device's session: its own link, exchanges and script reader; only
// the package (read-only by now) and the progress are shared.
void RunSession(std::size_t index, Fleet& fleet) {
    const DeviceRecord& record = *fleet.runs.devices[index];
    DeviceCounters& counters = fleet.runs.counters[index];
    std::string& localError = fleet.runs.localErrors[index];
    auto report = [&fleet](auto&& call) {
        if (fleet.progress == nullptr) return;
        const std::lock_guard<std::mutex> guard(fleet.lock);
        call(*fleet.progress);
    };
    std::unique_ptr<Transport> link = std::move(fleet.links[index]);
    std::string reason = fleet.refusal;
    if (link == nullptr && reason.empty()) link = OpenLink(fleet.options, record, reason);
    bool done = false;
    if (link == nullptr) {
        // No socket for this device: it fails without a request sent.
        report([&](UpgradeProgress& p) { p.OnDeviceStart(index, fleet.runs.devices.size(), record); });
        ++counters.attempts;
        localError = "cannot open a socket for the device: " + reason;
        report([&](UpgradeProgress& p) { p.OnDeviceError(index, localError); });
    } else {
        DeviceChain chain;  // sessions find no devices: they are given theirs
        DeviceProtocol protocol(*link, chain);
        DeviceObserver observer(fleet.progress, index, &fleet.lock, protocol, counters, localError);
        CounterWatch watch(protocol, counters);
        for (int attempt = 0; !done; ++attempt) {
            report([&](UpgradeProgress& p) { p.OnDeviceStart(index, fleet.runs.devices.size(), record); });
            ++counters.attempts;
            localError.clear();
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

// A descriptor held only to learn that one more file can be opened.
class SpareDescriptor {
public:
    SpareDescriptor() : fd_(::open("/dev/null", O_RDONLY | O_CLOEXEC)), error_(fd_ < 0 ? errno : 0) {}
    ~SpareDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    SpareDescriptor(SpareDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}
    SpareDescriptor(const SpareDescriptor&) = delete;
    SpareDescriptor& operator=(const SpareDescriptor&) = delete;
    SpareDescriptor& operator=(SpareDescriptor&&) = delete;
    bool Held() const { return fd_ >= 0; }
    // The system's error number when none could be had.
    int Error() const { return error_; }

private:
    int fd_;
    int error_;
};

// Opens the links of the first `wanted` devices of the batch, each with
// FILES_PER_DEVICE descriptors to spare beside it, all held at once; the
// spares are let go at the end, for the files. Returns how many devices
// have their link, with `reason` set when that is fewer than `wanted`.
std::size_t OpenLinksUpFront(const std::vector<std::size_t>& batch, std::size_t wanted, Fleet& fleet,
                             std::string& reason) {
    std::vector<SpareDescriptor> spares;
    std::size_t had = 0;
    for (; had < wanted; ++had) {
        const std::size_t index = batch[had];
        auto link = OpenLink(fleet.options, *fleet.runs.devices[index], reason);
        if (link == nullptr) break;
        std::size_t held = 0;
        for (; held < FILES_PER_DEVICE; ++held) {
            SpareDescriptor spare;
            if (!spare.Held()) {
                reason = std::strerror(spare.Error());
                break;
            }
            spares.push_back(std::move(spare));
        }
        if (held < FILES_PER_DEVICE) break;
        fleet.links[index] = std::move(link);
    }
    return had;
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

void DeviceObserver::OnLocalError(std::string_view text) {
    localError_ = text;
    if (progress_ == nullptr) return;
    const auto guard = Guard();
    progress_->OnDeviceError(index_, text);
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
    Fleet fleet{runs, package, options, progress, {}, {}, {}};
    fleet.links.resize(runs.devices.size());
    const std::size_t wanted = options.jobs == 0 ? batch.size() : options.jobs;
    std::size_t jobs = prepared ? std::min({wanted, batch.size(), MAX_SIDE_BY_SIDE}) : 1;
    std::string reason;
    const std::size_t had = OpenLinksUpFront(batch, jobs, fleet, reason);
    if (had == 0) {
        // Not one device could run: each fails alike, without a request sent.
        fleet.refusal = reason;
        jobs = 1;
    } else if (had < jobs) {
        if (progress) progress->OnJobsLowered(jobs, had, reason);
        jobs = had;
    }
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
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < jobs; ++i) {
        // A thread the system refuses leaves its devices to the others.
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    if (threads.empty()) work();
    for (auto& thread : threads) thread.join();
    return !stopped && !StopRequested(progress);
}

}  // namespace quorvane::detail
