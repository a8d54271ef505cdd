#include "app/fiber_pool.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define QV_FIBERS_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_FIBERS_UNDER_ASAN 1
#endif
#endif
#ifdef QV_FIBERS_UNDER_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;

// A run's stack: lazily backed, so a thousand of them cost only the pages
// they touch; the sanitizers' instrumented frames need more.
#ifdef QV_FIBERS_UNDER_ASAN
constexpr std::size_t STACK_BYTES = std::size_t{1} << 20;
#else
constexpr std::size_t STACK_BYTES = std::size_t{256} << 10;
#endif
constexpr int EVENTS_PER_WAIT = 256;

class Scheduler;

struct Fiber {
    Scheduler* owner = nullptr;
    ucontext_t context{};
    void* mapping = nullptr;  // the stack with its guard page below it
    std::size_t mappingBytes = 0;
    bool started = false;
    bool done = false;
    bool waiting = false;  // for its socket or its deadline
    int result = 0;        // of the wait: 1 readable, 0 time ran out
    Clock::time_point deadline{};
    int registeredSocket = -1;  // the socket in the epoll set for this fiber
    void* fakeStack = nullptr;  // the address sanitizer's, while switched away
};

// One thread's fibers, run in turn whenever the one running waits.
class Scheduler {
public:
    Scheduler(const std::function<void()>& task) : task_(task) {}
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // False when the fiber's stack could not be had. A fiber added while
    // the scheduler runs starts once the running fiber gives way.
    bool AddFiber();
    bool Empty() const { return fibers_.empty(); }
    // Runs every fiber to its end on the calling thread.
    void Run();
    // From the running fiber: waits for `socket` as ReadinessWait does.
    int Wait(int socket, int timeoutMs);
    // From the running fiber: `socket` goes.
    void Forget(int socket);
    bool InFiber() const { return current_ != nullptr && epoll_ >= 0; }

    static void Entry(unsigned high, unsigned low);

private:
    // Points the epoll set's entry for `socket` at `fiber`; false when the
    // set refuses it.
    bool Register(Fiber& fiber, int socket);
    void Resume(Fiber& fiber);
    void SwitchHome(Fiber& fiber);
    int NextTimeout() const;
    void WakeExpired();
    // Runs every fiber not yet started until its first wait.
    void StartNew();

    const std::function<void()>& task_;
    std::vector<std::unique_ptr<Fiber>> fibers_;
    ucontext_t home_{};
    int epoll_ = -1;
    Fiber* current_ = nullptr;
    std::size_t live_ = 0;
    const void* homeStack_ = nullptr;  // the address sanitizer's view of the thread's own stack
    std::size_t homeStackBytes_ = 0;
};

thread_local Scheduler* runningScheduler = nullptr;

Scheduler::~Scheduler() {
    for (const auto& fiber : fibers_)
        if (fiber->mapping != nullptr) ::munmap(fiber->mapping, fiber->mappingBytes);
    if (epoll_ >= 0) ::close(epoll_);
}

bool Scheduler::AddFiber() {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    auto fiber = std::make_unique<Fiber>();
    fiber->owner = this;
    fiber->mappingBytes = STACK_BYTES + page;
    fiber->mapping = ::mmap(nullptr, fiber->mappingBytes, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (fiber->mapping == MAP_FAILED) return false;
    // An overflow meets the guard page instead of another fiber's stack.
    ::mprotect(fiber->mapping, page, PROT_NONE);
    if (::getcontext(&fiber->context) != 0) {
        ::munmap(fiber->mapping, fiber->mappingBytes);
        return false;
    }
    fiber->context.uc_stack.ss_sp = static_cast<char*>(fiber->mapping) + page;
    fiber->context.uc_stack.ss_size = STACK_BYTES;
    fiber->context.uc_link = nullptr;
    const auto address = reinterpret_cast<std::uintptr_t>(fiber.get());
    ::makecontext(&fiber->context, reinterpret_cast<void (*)()>(&Scheduler::Entry), 2,
                  static_cast<unsigned>(address >> 32), static_cast<unsigned>(address & 0xFFFFFFFFu));
    fibers_.push_back(std::move(fiber));
    ++live_;
    return true;
}

void Scheduler::Entry(unsigned high, unsigned low) {
    auto* fiber = reinterpret_cast<Fiber*>((static_cast<std::uintptr_t>(high) << 32) | low);
    Scheduler& self = *fiber->owner;
#ifdef QV_FIBERS_UNDER_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &self.homeStack_, &self.homeStackBytes_);
#endif
    // As on a thread of its own: an exception that leaves the run ends the program.
    try {
        self.task_();
    } catch (...) {
        std::terminate();
    }
    fiber->done = true;
#ifdef QV_FIBERS_UNDER_ASAN
    __sanitizer_start_switch_fiber(nullptr, self.homeStack_, self.homeStackBytes_);
#endif
    ::setcontext(&self.home_);
}

void Scheduler::Resume(Fiber& fiber) {
    current_ = &fiber;
#ifdef QV_FIBERS_UNDER_ASAN
    void* fakeStack = nullptr;
    __sanitizer_start_switch_fiber(&fakeStack, fiber.context.uc_stack.ss_sp, fiber.context.uc_stack.ss_size);
#endif
    ::swapcontext(&home_, &fiber.context);
#ifdef QV_FIBERS_UNDER_ASAN
    __sanitizer_finish_switch_fiber(fakeStack, nullptr, nullptr);
#endif
    current_ = nullptr;
    if (!fiber.done) return;
    --live_;
    // Its stack is not needed again: a batch that starts fibers as it goes
    // keeps only those of the fibers alive.
    ::munmap(fiber.mapping, fiber.mappingBytes);
    fiber.mapping = nullptr;
}

void Scheduler::SwitchHome(Fiber& fiber) {
#ifdef QV_FIBERS_UNDER_ASAN
    __sanitizer_start_switch_fiber(&fiber.fakeStack, homeStack_, homeStackBytes_);
#endif
    ::swapcontext(&fiber.context, &home_);
#ifdef QV_FIBERS_UNDER_ASAN
    __sanitizer_finish_switch_fiber(fiber.fakeStack, &homeStack_, &homeStackBytes_);
#endif
}

bool Scheduler::Register(Fiber& fiber, int socket) {
    if (fiber.registeredSocket >= 0) ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fiber.registeredSocket, nullptr);
    fiber.registeredSocket = -1;
    epoll_event interest{};
    interest.events = EPOLLIN;
    interest.data.ptr = &fiber;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, socket, &interest) != 0) {
        // Still in the set for a fiber that waited on it before (and ended,
        // or waits on it too): its entry would wake that fiber, not this one.
        if (errno != EEXIST || ::epoll_ctl(epoll_, EPOLL_CTL_MOD, socket, &interest) != 0) return false;
    }
    // The entry is this fiber's now. Another fiber that still counts the
    // number as its own (a socket closed unforgotten, the number reused)
    // must not delete it.
    for (const auto& other : fibers_)
        if (other.get() != &fiber && other->registeredSocket == socket) other->registeredSocket = -1;
    fiber.registeredSocket = socket;
    return true;
}

int Scheduler::Wait(int socket, int timeoutMs) {
    Fiber& fiber = *current_;
    if (fiber.registeredSocket != socket && !Register(fiber, socket)) return -1;
    fiber.waiting = true;
    fiber.result = 0;
    fiber.deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    SwitchHome(fiber);
    return fiber.result;
}

void Scheduler::Forget(int socket) {
    if (current_ == nullptr || current_->registeredSocket != socket) return;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, socket, nullptr);
    current_->registeredSocket = -1;
}

int Scheduler::NextTimeout() const {
    const auto now = Clock::now();
    Clock::duration next = Clock::duration::max();
    for (const auto& fiber : fibers_)
        if (fiber->waiting) next = std::min(next, fiber->deadline - now);
    if (next == Clock::duration::max()) return -1;
    if (next <= Clock::duration::zero()) return 0;
    // Rounded up: waking before the deadline would only wait again.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next).count());
}

void Scheduler::WakeExpired() {
    const auto now = Clock::now();
    // By index: a fiber resumed here may add another.
    for (std::size_t i = 0; i < fibers_.size(); ++i) {
        Fiber& fiber = *fibers_[i];
        if (!fiber.waiting || fiber.deadline > now) continue;
        fiber.waiting = false;
        fiber.result = 0;
        Resume(fiber);
    }
}

void Scheduler::StartNew() {
    for (std::size_t i = 0; i < fibers_.size(); ++i) {
        Fiber& fiber = *fibers_[i];
        if (fiber.started) continue;
        fiber.started = true;
        Resume(fiber);
    }
}

void Scheduler::Run() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    runningScheduler = this;
    // Each runs until its first wait; between waits a fiber only ever
    // stops by waiting again or by ending.
    StartNew();
    epoll_event ready[EVENTS_PER_WAIT];
    while (live_ > 0) {
        const int count = ::epoll_wait(epoll_, ready, EVENTS_PER_WAIT, NextTimeout());
        for (int i = 0; i < count; ++i) {
            auto* fiber = static_cast<Fiber*>(ready[i].data.ptr);
            if (!fiber->waiting) continue;
            fiber->waiting = false;
            fiber->result = 1;
            Resume(*fiber);
        }
        WakeExpired();
        StartNew();
    }
    runningScheduler = nullptr;
}

int PollReadable(int socket, int timeoutMs) {
    pollfd ready{socket, POLLIN, 0};
    const int waited = ::poll(&ready, 1, timeoutMs);
    return waited > 0 && (ready.revents & POLLIN) == 0 ? 0 : waited;
}

class FiberWait final : public ReadinessWait {
public:
    int WaitReadable(int socket, int timeoutMs) override {
        Scheduler* scheduler = runningScheduler;
        // A wait of nothing only looks: no other fiber need run for it.
        if (scheduler == nullptr || !scheduler->InFiber() || timeoutMs <= 0) return PollReadable(socket, timeoutMs);
        const int waited = scheduler->Wait(socket, timeoutMs);
        return waited < 0 ? PollReadable(socket, timeoutMs) : waited;
    }
    void Forget(int socket) override {
        if (Scheduler* scheduler = runningScheduler) scheduler->Forget(socket);
    }
};

}  // namespace

bool RunFibers(std::size_t fibers, std::size_t threads, const std::function<void()>& task) {
    threads = std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(fibers, 1));
    std::vector<std::unique_ptr<Scheduler>> schedulers;
    for (std::size_t i = 0; i < threads; ++i) schedulers.push_back(std::make_unique<Scheduler>(task));
    std::size_t made = 0;
    for (; made < fibers; ++made)
        if (!schedulers[made % threads]->AddFiber()) break;
    if (made == 0) return false;
    std::vector<std::thread> started;
    std::vector<Scheduler*> left;
    for (std::size_t i = 1; i < threads; ++i) {
        if (schedulers[i]->Empty()) continue;
        // A thread the system refuses leaves its fibers to this one.
        try {
            started.emplace_back([&scheduler = *schedulers[i]] { scheduler.Run(); });
        } catch (const std::system_error&) {
            left.push_back(schedulers[i].get());
        }
    }
    schedulers[0]->Run();
    for (Scheduler* scheduler : left) scheduler->Run();
    for (std::thread& thread : started) thread.join();
    return true;
}

bool StartFiberBeside() {
    Scheduler* scheduler = runningScheduler;
    return scheduler != nullptr && scheduler->InFiber() && scheduler->AddFiber();
}

ReadinessWait& FiberReadiness() {
    static FiberWait wait;
    return wait;
}

}  // namespace quorvane
