#include "app/interrupt_watch.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace quorvane {
namespace {

// How soon the watching thread notices that the watch is being destroyed.
constexpr long POLL_NANOSECONDS = 50'000'000;

// The signals taken, but for those the process was started with ignored:
// `nohup` ignores SIGHUP, a shell's background job SIGINT, so that the
// process outlives its terminal. Waiting for a blocked signal would take it
// all the same, so an ignored one is left out.
sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&set, signal);
    }
    return set;
}

}  // namespace

void InterruptWatch::IgnoreBrokenPipes() {
    ::signal(SIGPIPE, SIG_IGN);
}

void InterruptWatch::BlockSignals() {
    IgnoreBrokenPipes();
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
    // A hangup says the terminal went away, and one going away sends it
    // more than once (the shell passes it on, then the kernel sends it to
    // the foreground): only a signal someone sends on purpose ends a
    // stopping run at once.
    if (!first && signal == SIGHUP && graceful_.load()) return;
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
