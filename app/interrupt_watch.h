#pragma once
// SIGINT, SIGTERM and SIGHUP taken by a thread of their own instead of a
// signal handler: the signals are blocked in every thread and one small
// thread waits for them, so whatever they trigger is ordinary code (removing
// the package's private folder, printing) and never runs inside a handler.
// SIGHUP is what a technician's dropped SSH session sends: it must stop a
// run as gracefully as Ctrl-C does, never in the middle of an exchange.
// SIGPIPE is ignored altogether: output piped into a pager or `head` that
// went away makes writes fail, which the writers report, instead of
// killing the process between two exchanges.
//
// The first signal either asks the work to stop (while stopping gracefully
// is on: the work asks Interrupted() between exchanges) or ends the process
// at once; a second signal ends it at once, unless it is another SIGHUP.
// Ending at once runs the last words (e.g. removing the private folder) and
// _exit(128 + signal). A signal the process was started with ignored
// (nohup) stays ignored.

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace quorvane {

class InterruptWatch {
public:
    // Blocks the watched signals in the calling thread, which every thread
    // started later inherits, and ignores SIGPIPE: make the watch (or call
    // BlockSignals) before any other thread exists.
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // For a program whose libraries start threads before the watch can be
    // made: blocks the watched signals in the calling thread.
    static void BlockSignals();
    // Ignores SIGPIPE alone, for a program that needs no watch.
    static void IgnoreBrokenPipes();

    // The first signal's number; 0 while none came.
    int Signal() const { return signal_.load(); }
    bool Interrupted() const { return Signal() != 0; }
    // What a process ended by the first signal exits with: 130 for SIGINT,
    // 143 for SIGTERM, 129 for SIGHUP.
    int ExitCode() const { return 128 + Signal(); }

    // On: the first signal only sets the flag (and calls the first-signal
    // callback). Off (the default): it ends the process at once.
    void SetStopGracefully(bool graceful) { graceful_.store(graceful); }
    bool StopsGracefully() const { return graceful_.load(); }
    // Called on the watching thread when the first signal arrives while
    // stopping gracefully, e.g. to wake another thread.
    void OnFirstSignal(std::function<void(int signal)> callback);
    // Run on the watching thread right before the process ends at once.
    void SetLastWords(std::function<void()> lastWords);

private:
    void Watch(const std::stop_token& stop);
    void Take(int signal);
    [[noreturn]] void EndNow(int signal);

    std::atomic<int> signal_{0};
    std::atomic<bool> graceful_{false};
    std::mutex mutex_;  // guards the two callbacks
    std::function<void(int)> onFirst_;
    std::function<void()> lastWords_;
    std::jthread watcher_;
};

}  // namespace quorvane
