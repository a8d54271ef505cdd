#pragma once
// SIGTERM, SIGINT and SIGHUP in the desktop program. While an upgrade runs,
// the first signal asks it to stop after the exchange under way, as the
// first Ctrl-C does in upgradectl: an open question is answered No, the run
// names its devices' ends in the events, and the program then ends by its
// usual way out (the package closed, the files written to the end) with
// 128 + the signal's number. At any other time the program ends at once,
// once the open package's private folder is removed and the final writes
// are done. The work is done on the GUI thread, which owns the package,
// between two of its events; a modal box or a running upgrade does not hold
// it up, as both keep the event loop turning. A second signal ends the
// program at once.

#include <atomic>
#include <functional>

#include "app/interrupt_watch.h"

namespace quorvane {

class UpgradePackage;

class TerminationCleanup {
public:
    // Make it once the QApplication exists; call InterruptWatch::BlockSignals
    // before that, so that no thread Qt starts can take the signals.
    TerminationCleanup();

    // Marks `package` as the one whose folder a signal removes, for the
    // lifetime of this object.
    class Watched {
    public:
        Watched(TerminationCleanup* cleanup, const UpgradePackage& package);
        ~Watched();
        Watched(const Watched&) = delete;
        Watched& operator=(const Watched&) = delete;

    private:
        TerminationCleanup* cleanup_;
    };

    // Marks an upgrade as under way for the lifetime of this object: a
    // signal then only asks it to stop (see Requested).
    class Upgrading {
    public:
        explicit Upgrading(TerminationCleanup* cleanup);
        ~Upgrading();
        Upgrading(const Upgrading&) = delete;
        Upgrading& operator=(const Upgrading&) = delete;

    private:
        TerminationCleanup* cleanup_;
    };

    // True once a signal asked the program to end; safe from any thread.
    bool Requested() const { return watch_.Interrupted(); }
    // What the program exits with then: 130, 143 or 129.
    int ExitCode() const { return watch_.ExitCode(); }
    // Run on the GUI thread right before the program ends at once, e.g. to
    // write the capture's last datagrams.
    void SetFinalWrites(std::function<void()> writes) { finalWrites_ = std::move(writes); }

private:
    void OnSignalOnGuiThread();
    [[noreturn]] void EndOnGuiThread();
    void RemovePrivateFolder() const;

    std::atomic<const UpgradePackage*> package_{nullptr};
    std::atomic<bool> upgrading_{false};
    std::function<void()> finalWrites_;
    InterruptWatch watch_;
};

}  // namespace quorvane
