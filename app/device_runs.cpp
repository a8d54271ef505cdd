#include "app/device_runs.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "app/failure_text.h"
#include "app/fiber_pool.h"
#include "app/mac_strings.h"
#include "app/return_waits.h"
#include "res/string_format.h"
#include "res/string_table.h"

namespace quorvane::detail {
namespace {

// The question names the device, then says why its run failed.
std::string RetryPrompt(const DeviceResult& device) {
    std::string text = MacStringText(IDS_RETRY_PROMPT, device.record->mac);
    if (!device.error.empty()) text += "\n\n" + device.error;
    return text;
}

}  // namespace

std::string DeviceLine(const DeviceRecord& record, const std::string& text) {
    return MacText(record.mac) + ": " + text;
}

namespace {

bool StopRequested(const UpgradeProgress* progress) {
    return progress != nullptr && progress->StopRequested();
}

// How often the run's thread looks for a stop while only waits are left.
constexpr std::chrono::milliseconds RETURN_POLL{100};

// Counts what one device's runs over `protocol` cost, from construction to
// destruction, into `counters`, under `lock` when one is given: beside
// others the counters are part of the model that the other devices'
// threads read and write under it.
class CounterWatch {
public:
    CounterWatch(DeviceProtocol& protocol, DeviceCounters& counters, std::mutex* lock = nullptr)
        : protocol_(protocol), counters_(counters), lock_(lock), started_(protocol.Link().FineNow()) {
        protocol_.ResetStats();
    }
    ~CounterWatch() {
        const std::chrono::microseconds ended = protocol_.Link().FineNow();
        const auto guard =
            lock_ != nullptr ? std::unique_lock<std::mutex>(*lock_) : std::unique_lock<std::mutex>();
        counters_.exchanges.Merge(protocol_.Stats());
        counters_.elapsed += ended - started_;
    }
    CounterWatch(const CounterWatch&) = delete;
    CounterWatch& operator=(const CounterWatch&) = delete;

private:
    DeviceProtocol& protocol_;
    DeviceCounters& counters_;
    std::mutex* lock_;
    std::chrono::microseconds started_;
};

// A new run of the device's script begins: the model has it before the progress.
void BeginAttempt(DeviceResult& device) {
    device.state = DeviceState::Running;
    ++device.counters.attempts;
    device.error.clear();
    device.localError = false;
    device.lineNumber = 0;
    device.line.clear();
    device.fileName.clear();
    device.waiting.clear();
    device.done = device.total = 0;
    device.pace = {};
    // What an earlier attempt's check found is not this attempt's.
    const std::string firmwareBefore = std::move(device.returned.firmwareBefore);
    device.returned = {};
    device.returned.firmwareBefore = firmwareBefore;
}

// What the device came to. A run that failed because it was asked to stop
// ended between two exchanges of its script, not because the device refused.
void EndDevice(DeviceResult& device, bool done, bool stopped) {
    device.waiting.clear();
    device.state = done ? DeviceState::Upgraded : stopped ? DeviceState::Interrupted : DeviceState::Failed;
    device.live = device.counters.exchanges;
}

// The gate hears of the end before anyone else, under the same lock, so
// that no device starts on a gate that has not heard yet.
void TellEnd(UpgradeProgress* progress, std::size_t index, const DeviceResult& device, RolloutGate* gate) {
    if (gate != nullptr) gate->Ended(index, device.state == DeviceState::Upgraded);
    if (progress == nullptr) return;
    progress->OnDeviceCounters(index, device.counters);
    progress->OnDeviceEnd(index, device.state == DeviceState::Upgraded);
}

// The box that ends a device given up: why, when this computer failed it,
// else the network advice (the retry question before it said why).
void TellGivenUp(const DeviceResult& device, Prompter& prompter) {
    if (!device.localError) {
        prompter.Tell(IDS_UPGRADE_GIVEN_UP, LoadString(IDS_UPGRADE_GIVEN_UP), BOX_OK);
        return;
    }
    prompter.Tell(IDS_LOCAL_FAILURE,
                  FormatPlaceholders(IDS_LOCAL_FAILURE, {DeviceLine(*device.record, device.error)}), BOX_OK);
}

// True when the plan's last device command is RESET: only then does the
// device restart, and only then is there a return to wait for.
bool EndsWithReset(std::span<const PlannedCommand> plan) {
    for (auto planned = plan.rbegin(); planned != plan.rend(); ++planned)
        if (IsDevicePlanned(*planned)) return planned->command.keyword == ScriptKeyword::Reset;
    return false;
}

// True when a device whose script succeeded is waited for.
bool WaitsForReturn(const Script& script) {
    return script.returnLimit.count() > 0 && EndsWithReset(script.plan);
}

std::unique_lock<std::mutex> GuardOf(std::mutex* lock) {
    return lock != nullptr ? std::unique_lock<std::mutex>(*lock) : std::unique_lock<std::mutex>();
}

// The wait after the device's RESET begins: the model, then the progress.
void TellReturnWait(UpgradeProgress* progress, std::size_t index, std::mutex* lock, DeviceResult& device) {
    const auto guard = GuardOf(lock);
    device.waiting = LoadString(IDS_WAITING_FOR_RETURN);
    if (progress != nullptr) progress->OnDeviceWaiting(index, device.waiting, device.live);
}

// How the wait ended; a device that did not come back has failed, and why
// is its error.
void TellReturn(UpgradeProgress* progress, std::size_t index, std::mutex* lock, DeviceResult& device,
                const ReturnCheck& check, std::chrono::milliseconds limit) {
    const auto guard = GuardOf(lock);
    device.returned = check;
    device.waiting.clear();
    if (check.outcome == ReturnOutcome::Missing) {
        device.error = NotBackText(device.record->mac, limit);
        if (progress != nullptr) progress->OnDeviceError(index, device.error);
    }
    if (progress != nullptr) progress->OnDeviceReturn(index, check);
}

// After a script that succeeded: waits for the device to answer again when
// the script ended with its RESET. False when it did not come back in
// time: it has failed. The device is asked about in a record of its own,
// so that the list's record keeps what admission saw.
bool CheckReturn(const Script& script, DeviceProtocol& protocol, const DeviceResult& device,
                 DeviceObserver& observer) {
    ReturnCheck check;
    check.firmwareBefore = device.returned.firmwareBefore;
    if (script.returnLimit.count() > 0 && !EndsWithReset(script.plan)) check.outcome = ReturnOutcome::NotReset;
    if (WaitsForReturn(script)) {
        observer.OnReturnWait();
        DeviceRecord asked;
        asked.mac = device.record->mac;
        asked.ipAddress = device.record->ipAddress;
        check = AwaitReturn(protocol, asked, check.firmwareBefore, script.returnLimit,
                            [&observer] { return observer.StopRequested(); });
    }
    observer.OnReturn(check, script.returnLimit);
    return check.outcome != ReturnOutcome::Missing;
}

// How a device run in turn left off.
enum class TurnEnd {
    Upgraded,
    Failed,
    Returning,  // its script ran, and its return is waited for beside the next devices
};

// Asks and tells under `lock`: on a terminal a box clears and redraws the
// status line that a wait ending on its own thread writes to, and a result
// line must not land inside an open question.
class GuardedPrompter final : public Prompter {
public:
    GuardedPrompter(Prompter& inner, std::mutex& lock) : inner_(inner), lock_(lock) {}
    void Tell(int messageId, const std::string& text, unsigned style) override {
        const std::lock_guard<std::mutex> guard(lock_);
        inner_.Tell(messageId, text, style);
    }
    bool Ask(int messageId, const std::string& text, unsigned style) override {
        const std::lock_guard<std::mutex> guard(lock_);
        return inner_.Ask(messageId, text, style);
    }

private:
    Prompter& inner_;
    std::mutex& lock_;
};

// What the devices of a batch run in turn share with the waits for their
// return, which end on threads of their own.
struct Turn {
    Turn(RunModel& model, const Script& script, Prompter& inner, UpgradeProgress* progress)
        : model(model), script(script), progress(progress), prompter(inner, lock) {}

    RunModel& model;
    const Script& script;
    UpgradeProgress* progress;
    std::mutex lock;  // held for every call into `progress` and every write to the model
    GuardedPrompter prompter;
    // Sockets the waits may hold at once, under `lock`: each wait keeps one
    // open while the next devices run and open their files.
    std::size_t spareLinks = 0;

    bool Stopping() {
        const std::lock_guard<std::mutex> guard(lock);
        return StopRequested(progress);
    }
    // True when a wait may open its socket; it is given back as it ends.
    bool TakeSpareLink() {
        const std::lock_guard<std::mutex> guard(lock);
        if (spareLinks == 0) return false;
        --spareLinks;
        return true;
    }
    void GiveBackLink() {
        const std::lock_guard<std::mutex> guard(lock);
        ++spareLinks;
    }
    // The gate may have closed on the thread of a wait that ended.
    bool Closed() {
        const std::lock_guard<std::mutex> guard(lock);
        return script.gate != nullptr && !script.gate->MayStart();
    }
};

// Runs the script on one device until it succeeds or the user stops asking
// for another try. A stopped run is neither retried nor given up with a
// message: the caller reports it. After a script that succeeded, the wait
// for the device's return goes to `waits` when they can take it, else it
// is waited for here.
TurnEnd UpgradeDevice(std::size_t index, Turn& turn, DeviceProtocol& protocol, ReturnWaits& waits) {
    DeviceResult& device = turn.model.devices[index];
    const DeviceRecord& record = *device.record;
    const Script& script = turn.script;
    DeviceObserver observer(turn.progress, index, &turn.lock, protocol, device);
    bool ran = false;
    {
        // The counters and seconds are the script's; the wait after its
        // RESET has a time of its own.
        CounterWatch watch(protocol, device.counters, &turn.lock);
        for (;;) {
            {
                const std::lock_guard<std::mutex> guard(turn.lock);
                BeginAttempt(device);
                if (turn.progress) turn.progress->OnDeviceStart(index, turn.model.devices.size(), record);
            }
            ran = RunPlan(script.plan, script.package, protocol, record, &observer, script.reads);
            if (ran) break;
            if (turn.Stopping()) return TurnEnd::Failed;
            if (!turn.prompter.Ask(IDS_RETRY_PROMPT, RetryPrompt(device), BOX_YES_NO | ICON_STOP)) break;
        }
    }
    if (ran) {
        // Without a socket to spare the device is waited for here: a wait
        // must never take the descriptor the next device's files need.
        if (WaitsForReturn(script) && turn.TakeSpareLink()) {
            if (waits.Start(index, record, device.returned.firmwareBefore)) {
                observer.OnReturnWait();
                return TurnEnd::Returning;
            }
            turn.GiveBackLink();
        }
        if (CheckReturn(script, protocol, device, observer)) return TurnEnd::Upgraded;
        // Its script ran: another run would not bring it back.
        turn.prompter.Tell(IDS_NOT_BACK, device.error, BOX_OK | ICON_STOP);
        return TurnEnd::Failed;
    }
    // A stop asked for while the question was open is the stop's to report.
    if (!turn.Stopping()) TellGivenUp(device, turn.prompter);
    return TurnEnd::Failed;
}

// On the wait's own thread: the device is done with as soon as its wait
// ends, so that the progress and the history have it while the next
// devices run.
void EndReturned(Turn& turn, const ReturnWaits::Ended& end) {
    const std::lock_guard<std::mutex> guard(turn.lock);
    ++turn.spareLinks;  // the wait's socket is closed by now
    DeviceResult& device = turn.model.devices[end.index];
    TellReturn(turn.progress, end.index, nullptr, device, end.check, turn.script.returnLimit);
    EndDevice(device, end.check.outcome != ReturnOutcome::Missing, false);
    TellEnd(turn.progress, end.index, device, turn.script.gate);
}

// On the run's thread, between two devices: the box for each device that
// did not come back.
void TellNotBack(Turn& turn, const std::vector<ReturnWaits::Ended>& ended) {
    for (const ReturnWaits::Ended& end : ended) {
        if (end.check.outcome != ReturnOutcome::Missing) continue;
        std::string error;
        {
            const std::lock_guard<std::mutex> guard(turn.lock);
            error = turn.model.devices[end.index].error;
        }
        turn.prompter.Tell(IDS_NOT_BACK, error, BOX_OK | ICON_STOP);
    }
}

// What the threads of one side-by-side batch share.
struct Fleet {
    RunModel& model;
    const Script& script;
    const FleetOptions& options;
    UpgradeProgress* progress;
    // The links opened before the batch started, by device index; a device
    // without one opens its own when it starts.
    std::vector<std::unique_ptr<Transport>> links;
    // Why no link could be opened before the batch; a device without one
    // then fails without opening its own, which would leave it no room
    // for its files.
    std::string refusal;
    std::mutex lock;  // held for every call into `progress` and every write to the model
    const std::vector<std::size_t>& batch;
    std::atomic<std::size_t> next{0};  // the place in `batch` of the next device to start
    // Sockets that devices waiting for their return may keep open beyond
    // those of the devices that run at once.
    std::atomic<std::ptrdiff_t> spareLinks{0};
};

// A device waiting for its return needs nothing but its socket: when a
// device is left to start and a socket to spare, a new fiber takes this
// one's place in the batch while it waits. True when one did.
bool HandPlaceOn(Fleet& fleet) {
    if (fleet.next.load() >= fleet.batch.size()) return false;
    if (fleet.spareLinks.fetch_sub(1) <= 0) {
        ++fleet.spareLinks;
        return false;
    }
    if (StartFiberBeside()) return true;
    ++fleet.spareLinks;
    return false;
}

std::unique_ptr<Transport> OpenLink(const FleetOptions& options, const DeviceRecord& record, std::string& reason) {
    if (!options.openLink) {
        reason = "no link can be opened for devices side by side";
        return nullptr;
    }
    return options.openLink(record, reason);
}

// One device's run beside others: its own link and exchanges; only the
// package (read-only by now), the plan, the model and the progress are shared.
// True when the device handed its place in the batch on while it waited
// for its return: its fiber then takes no other device.
bool RunBeside(std::size_t index, Fleet& fleet) {
    DeviceResult& device = fleet.model.devices[index];
    const DeviceRecord& record = *device.record;
    const std::size_t count = fleet.model.devices.size();
    auto report = [&fleet](auto&& call) {
        const std::lock_guard<std::mutex> guard(fleet.lock);
        call();
    };
    const auto begin = [&] {
        report([&] {
            BeginAttempt(device);
            if (fleet.progress) fleet.progress->OnDeviceStart(index, count, record);
        });
    };
    std::unique_ptr<Transport> link = std::move(fleet.links[index]);
    std::string reason = fleet.refusal;
    if (link == nullptr && reason.empty()) link = OpenLink(fleet.options, record, reason);
    bool done = false;
    bool stopped = false;
    bool handedOn = false;
    if (link == nullptr) {
        // No socket for this device: it fails without a request sent.
        begin();
        report([&] {
            device.error = "cannot open a socket for the device: " + reason;
            device.localError = true;
            if (fleet.progress) fleet.progress->OnDeviceError(index, device.error);
        });
    } else {
        DeviceChain chain;  // devices beside others find no devices: they are given theirs
        DeviceProtocol protocol(*link, chain);
        DeviceObserver observer(fleet.progress, index, &fleet.lock, protocol, device);
        {
            CounterWatch watch(protocol, device.counters, &fleet.lock);
            for (int attempt = 0; !done; ++attempt) {
                begin();
                done = RunPlan(fleet.script.plan, fleet.script.package, protocol, record, &observer,
                               fleet.script.reads);
                stopped = !done && observer.StopRequested();
                if (attempt >= fleet.options.retries || stopped) break;
            }
        }
        if (done && WaitsForReturn(fleet.script)) handedOn = HandPlaceOn(fleet);
        if (done) done = CheckReturn(fleet.script, protocol, device, observer);
    }
    link.reset();
    if (handedOn) ++fleet.spareLinks;
    report([&] {
        EndDevice(device, done, stopped);
        TellEnd(fleet.progress, index, device, fleet.script.gate);
    });
    return handedOn;
}

// Threads the fibers of a batch run on: one per processor, a few at the
// most, since each only sends, waits and writes down.
std::size_t FiberThreads() {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
}

// Kept free for the process itself whatever runs side by side: a trace
// entry, a name lookup, the system's own libraries.
constexpr std::size_t DESCRIPTORS_KEPT_FREE = 8;

// How many more descriptors the process may open, by its limit and what
// /proc/self/fd lists; nothing to go by when either cannot be read.
std::optional<std::size_t> FreeDescriptors(std::size_t& limit) {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return std::nullopt;
    std::error_code error;
    std::size_t open = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++open;
    if (error || open == 0) return std::nullopt;
    limit = static_cast<std::size_t>(files.rlim_cur);
    return limit > open ? limit - open : 0;  // the iterator's own descriptor is counted: one to spare
}

// How many devices can run at once by the descriptors left: each needs its
// socket and FILES_PER_DEVICE more. Counted, never found out by running
// out: at the limit even the system's own libraries fail. `reason` says
// why when that is fewer than `wanted`.
std::size_t DevicesWithRoom(std::size_t wanted, std::string& reason) {
    std::size_t limit = 0;
    const std::optional<std::size_t> free = FreeDescriptors(limit);
    if (!free) return wanted;
    const std::size_t room =
        *free > DESCRIPTORS_KEPT_FREE ? (*free - DESCRIPTORS_KEPT_FREE) / (1 + FILES_PER_DEVICE) : 0;
    if (room >= wanted) return wanted;
    reason = "at most " + std::to_string(limit) + " files may be open";
    return room;
}

// How many sockets devices waiting for their return may keep beyond those
// of the `jobs` devices that run at once, each of which will also open its
// file; counted once the links of the first devices are open.
std::size_t SpareLinks(std::size_t jobs) {
    std::size_t limit = 0;
    const std::optional<std::size_t> free = FreeDescriptors(limit);
    if (!free) return MAX_SIDE_BY_SIDE;
    const std::size_t needed = DESCRIPTORS_KEPT_FREE + jobs * FILES_PER_DEVICE;
    return *free > needed ? *free - needed : 0;
}

// Opens the links of the first devices of the batch, as many as may run
// at once (`wanted`, or fewer when descriptors are short). Returns how many
// devices have their link, with `reason` set when that is fewer than `wanted`.
std::size_t OpenLinksUpFront(const std::vector<std::size_t>& batch, std::size_t wanted, Fleet& fleet,
                             std::string& reason) {
    const std::size_t room = DevicesWithRoom(wanted, reason);
    std::size_t had = 0;
    for (; had < room; ++had) {
        const std::size_t index = batch[had];
        auto link = OpenLink(fleet.options, *fleet.model.devices[index].record, reason);
        if (link == nullptr) break;
        fleet.links[index] = std::move(link);
    }
    return had;
}

}  // namespace

DeviceObserver::DeviceObserver(UpgradeProgress* progress, std::size_t index, std::mutex* lock,
                               DeviceProtocol& protocol, DeviceResult& device)
    : progress_(progress), index_(index), lock_(lock), protocol_(protocol), device_(device) {
    protocol_.SetSendListener(this);
}

DeviceObserver::~DeviceObserver() {
    protocol_.SetSendListener(nullptr);
}

std::unique_lock<std::mutex> DeviceObserver::Guard() const {
    return GuardOf(lock_);
}

void DeviceObserver::OnLine(int lineNumber, std::string_view line) {
    const auto guard = Guard();
    device_.lineNumber = lineNumber;
    device_.line = line;
    EndWait();
    if (progress_ != nullptr) progress_->OnDeviceLine(index_, lineNumber, line);
}

void DeviceObserver::OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) {
    TransferStep step{fileName, done, total, pace_.Step(fileName, done, total, protocol_.Link().FineNow()), {}};
    const auto guard = Guard();
    step.exchanges = device_.counters.exchanges;
    step.exchanges.Merge(protocol_.Stats());
    device_.fileName = fileName;
    EndWait();
    device_.done = done;
    device_.total = total;
    device_.pace = step.pace;
    device_.live = step.exchanges;
    if (progress_ != nullptr) progress_->OnDeviceTransfer(index_, step);
}

void DeviceObserver::EndWait() {
    // A wait shown stays until it is taken back: the next line or step
    // would otherwise be drawn under the text of a wait that is over.
    if (device_.waiting.empty()) return;
    device_.waiting.clear();
    if (progress_ != nullptr) progress_->OnDeviceWaiting(index_, device_.waiting, device_.live);
}

void DeviceObserver::Fail(std::string_view cause, bool local) {
    const auto guard = Guard();
    device_.error = ScriptFailureText(device_.lineNumber, device_.line, cause);
    device_.localError = local;
    device_.waiting.clear();
    if (progress_ != nullptr) progress_->OnDeviceError(index_, device_.error);
}

void DeviceObserver::OnLocalError(std::string_view text) {
    Fail(text, true);
}

void DeviceObserver::OnDeviceFault(const DeviceFault& fault) {
    Fail(DeviceFaultText(fault), false);
}

void DeviceObserver::OnSend(uint8_t opcode, int send, int of) {
    // An exchange's first send is what every request does: only a wait
    // that began, or one that ended, is news. Only this device's run
    // writes its entry, so the look before the lock is safe.
    if (send == 1 && device_.waiting.empty()) return;
    const auto guard = Guard();
    device_.waiting = send == 1 ? std::string() : WaitingText(opcode, send, of);
    device_.live = device_.counters.exchanges;
    device_.live.Merge(protocol_.Stats());
    if (progress_ != nullptr) progress_->OnDeviceWaiting(index_, device_.waiting, device_.live);
}

void DeviceObserver::OnReturnWait() {
    TellReturnWait(progress_, index_, lock_, device_);
}

void DeviceObserver::OnReturn(const ReturnCheck& check, std::chrono::milliseconds limit) {
    TellReturn(progress_, index_, lock_, device_, check, limit);
}

bool DeviceObserver::StopRequested() const {
    if (progress_ == nullptr) return false;
    const auto guard = Guard();
    return progress_->StopRequested();
}

bool RunInTurn(const std::vector<std::size_t>& batch, RunModel& model, const Script& script,
               DeviceProtocol& protocol, Prompter& prompter, UpgradeProgress* progress,
               const LinkFactory& openLink) {
    Turn turn(model, script, prompter, progress);
    turn.spareLinks = SpareLinks(1);
    ReturnWaits waits(WaitsForReturn(script) ? openLink : LinkFactory(), script.returnLimit,
                      [&turn](const ReturnWaits::Ended& end) { EndReturned(turn, end); });
    for (std::size_t index : batch) {
        if (turn.Stopping()) break;
        TellNotBack(turn, waits.TakeEnded());
        if (turn.Closed()) break;
        const TurnEnd end = UpgradeDevice(index, turn, protocol, waits);
        if (end == TurnEnd::Returning) continue;
        const bool done = end == TurnEnd::Upgraded;
        const bool stopped = !done && turn.Stopping();
        const std::lock_guard<std::mutex> guard(turn.lock);
        EndDevice(model.devices[index], done, stopped);
        TellEnd(progress, index, model.devices[index], script.gate);
    }
    // The batch ends with its last device: a stop ends the waits early.
    while (waits.Pending()) {
        if (turn.Stopping()) waits.Stop();
        TellNotBack(turn, waits.TakeEnded(RETURN_POLL));
    }
    return !turn.Stopping();
}

bool RunSideBySide(const std::vector<std::size_t>& batch, RunModel& model, const Script& script,
                   const FleetOptions& options, UpgradeProgress* progress) {
    // From here on the package's container is never read: every device's
    // run loads the members extracted now. Where one could not be, the runs
    // go one at a time, each failing its LOAD as it would alone.
    const bool prepared = PrepareLoadMembers(script.package, script.plan).empty();
    Fleet fleet{model, script, options, progress, {}, {}, {}, batch};
    fleet.links.resize(model.devices.size());
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
    fleet.spareLinks = static_cast<std::ptrdiff_t>(SpareLinks(jobs));
    std::atomic<bool> stopped{false};
    auto work = [&] {
        for (std::size_t taken = fleet.next++; taken < batch.size(); taken = fleet.next++) {
            {
                const std::lock_guard<std::mutex> guard(fleet.lock);
                if (StopRequested(progress)) stopped = true;
                // A gate that closed lets the devices under way finish.
                if (script.gate != nullptr && !script.gate->MayStart()) return;
            }
            if (stopped) return;
            if (RunBeside(batch[taken], fleet)) return;
        }
    };
    // A run per device at once, as fibers on a thread per processor: only
    // their readiness waits give way to each other (FiberReadiness).
    if (!RunFibers(jobs, FiberThreads(), work)) work();
    return !stopped && !StopRequested(progress);
}

}  // namespace quorvane::detail
