#pragma once
// SIGTERM and SIGINT in the desktop program: the open package's private
// folder is removed and the program ends with 128 + the signal's number.
// The work is done on the GUI thread, which owns the package, between two
// of its events; a modal box or a running upgrade does not hold it up, as
// both keep the event loop turning. A second signal ends the program at once.

#include <atomic>

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

private:
    [[noreturn]] void EndOnGuiThread();

    std::atomic<const UpgradePackage*> package_{nullptr};
    InterruptWatch watch_;
};

}  // namespace quorvane
