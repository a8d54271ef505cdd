#include "app/interrupt_watch.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace quorvane {
namespace {

// How soon the watching thread notices that the watch is being destroyed.
constexpr long POLL_NANOSECONDS = 50'000'000;

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void InterruptWatch::BlockSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

InterruptWatch::InterruptWatch() {
    BlockSignals();
    watcher_ = std::jthread([this](std::stop_token stop) { Watch(stop); });
}

// The signals stay blocked: one arriving while the process winds down is
// then simply not delivered, instead of killing it half-way through.
InterruptWatch::~InterruptWatch() {
    watcher_.request_stop();
    // Wakes the watching thread at once, rather than when its wait runs out:
    // every command would otherwise end up to one poll interval late. The
    // signal goes to that thread alone, which drops it once stop is asked.
    if (watcher_.joinable()) {
        pthread_kill(watcher_.native_handle(), SIGTERM);
        watcher_.join();
    }
}

void InterruptWatch::OnFirstSignal(std::function<void(int)> callback) {
    std::lock_guard lock(mutex_);
    onFirst_ = std::move(callback);
}

void InterruptWatch::SetLastWords(std::function<void()> lastWords) {
    std::lock_guard lock(mutex_);
    lastWords_ = std::move(lastWords);
}

void InterruptWatch::Watch(const std::stop_token& stop) {
    const sigset_t set = WatchedSignals();
    const timespec poll{0, POLL_NANOSECONDS};
    while (!stop.stop_requested()) {
        const int signal = sigtimedwait(&set, nullptr, &poll);
        if (stop.stop_requested()) break;
        if (signal > 0) Take(signal);
    }
}

void InterruptWatch::Take(int signal) {
    int none = 0;
    const bool first = signal_.compare_exchange_strong(none, signal);
    if (!first || !graceful_.load()) EndNow(signal);
    std::function<void(int)> callback;
    {
        std::lock_guard lock(mutex_);
        callback = onFirst_;
    }
    if (callback) callback(signal);
}

void InterruptWatch::EndNow(int signal) {
    std::function<void()> lastWords;
    {
        std::lock_guard lock(mutex_);
        lastWords = lastWords_;
    }
    if (lastWords) lastWords();
    _exit(128 + signal);
}

}  // namespace quorvane
