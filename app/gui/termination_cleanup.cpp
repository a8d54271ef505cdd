#include "app/gui/termination_cleanup.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <filesystem>

#include "package/upgrade_package.h"

namespace quorvane {

TerminationCleanup::TerminationCleanup() {
    watch_.SetStopGracefully(true);
    // The watching thread only posts: the package belongs to the GUI thread.
    watch_.OnFirstSignal([this](int) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this] { OnSignalOnGuiThread(); }, Qt::QueuedConnection);
    });
    // A second signal ends the program from the watching thread.
    watch_.SetLastWords([this] { RemovePrivateFolder(); });
}

void TerminationCleanup::OnSignalOnGuiThread() {
    if (!upgrading_.load()) EndOnGuiThread();
    // The upgrade asks Requested() before its next exchange. A question it
    // waits for is answered No, so that nothing waits for a user who is gone.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
            box->done(QMessageBox::No);
}

void TerminationCleanup::RemovePrivateFolder() const {
    // Closing the package would be the tidy way, but an upgrade's worker
    // thread may be using it; its folder can go from under an open file.
    if (const UpgradePackage* package = package_.load()) {
        std::error_code ignored;
        if (!package->PrivateFolder().empty()) std::filesystem::remove_all(package->PrivateFolder(), ignored);
    }
}

void TerminationCleanup::EndOnGuiThread() {
    RemovePrivateFolder();
    if (finalWrites_) finalWrites_();
    _exit(watch_.ExitCode());
}

TerminationCleanup::Watched::Watched(TerminationCleanup* cleanup, const UpgradePackage& package)
    : cleanup_(cleanup) {
    if (cleanup_ != nullptr) cleanup_->package_.store(&package);
}

TerminationCleanup::Watched::~Watched() {
    if (cleanup_ != nullptr) cleanup_->package_.store(nullptr);
}

TerminationCleanup::Upgrading::Upgrading(TerminationCleanup* cleanup) : cleanup_(cleanup) {
    if (cleanup_ != nullptr) cleanup_->upgrading_.store(true);
}

TerminationCleanup::Upgrading::~Upgrading() {
    if (cleanup_ != nullptr) cleanup_->upgrading_.store(false);
}

}  // namespace quorvane
