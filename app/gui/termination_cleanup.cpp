#include "app/gui/termination_cleanup.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <filesystem>

#include "package/upgrade_package.h"

namespace quorvane {

TerminationCleanup::TerminationCleanup() {
    watch_.SetStopGracefully(true);
    // The watching thread only posts: the package belongs to the GUI thread.
    watch_.OnFirstSignal([this](int) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this] { EndOnGuiThread(); }, Qt::QueuedConnection);
    });
}

void TerminationCleanup::EndOnGuiThread() {
    // Closing the package would be the tidy way, but an upgrade's worker
    // thread may be using it; its folder can go from under an open file.
    if (const UpgradePackage* package = package_.load()) {
        std::error_code ignored;
        if (!package->PrivateFolder().empty()) std::filesystem::remove_all(package->PrivateFolder(), ignored);
    }
    _exit(watch_.ExitCode());
}

TerminationCleanup::Watched::Watched(TerminationCleanup* cleanup, const UpgradePackage& package)
    : cleanup_(cleanup) {
    if (cleanup_ != nullptr) cleanup_->package_.store(&package);
}

TerminationCleanup::Watched::~Watched() {
    if (cleanup_ != nullptr) cleanup_->package_.store(nullptr);
}

}  // namespace quorvane
