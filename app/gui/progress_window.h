#pragma once
// The modal window shown while upgrade scripts run: which device, the script
// line, the bytes of the current transfer with its rate and time left, and
// the requests sent again so far. It has no cancel: stopping in
// the middle of a transfer would leave the device without firmware.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

#include "app/upgrade_command.h"

class QLabel;
class QProgressBar;

namespace quorvane {

class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit ProgressWindow(QWidget* parent = nullptr);
    ~ProgressWindow() override;

    // Slots of the user-interface thread; ProgressRelay calls them from the
    // worker.
    void DeviceStarted(std::size_t index, std::size_t count, const QString& macText);
    void LineStarted(int lineNumber, const QString& line);
    void Transferred(const QString& fileName, uint64_t done, uint64_t total);
    // The transfer's rate and time left, as the command worked them out.
    void PaceChanged(const TransferPace& pace);
    // The device's requests sent again so far, over all its runs.
    void ResendsCounted(uint64_t resends);
    void DeviceEnded(std::size_t index);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void SetWaitCursor(bool on);

    QLabel* device_;
    QLabel* line_;
    QLabel* transfer_;
    QLabel* pace_;
    QLabel* resends_;
    QProgressBar* bar_;
    bool waitCursor_ = false;
};

// Forwards the command's progress from the worker thread to the window, in
// the order it happened.
class ProgressRelay final : public UpgradeProgress {
public:
    // `stop`, when given, is asked (from the worker) whether the run must stop.
    explicit ProgressRelay(ProgressWindow& window, std::function<bool()> stop = {})
        : window_(window), stop_(std::move(stop)) {}
    bool StopRequested() const override { return stop_ && stop_(); }
    void OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) override;
    void OnDeviceEnd(std::size_t index, bool succeeded) override;
    void OnDeviceCounters(std::size_t index, const DeviceCounters& counters) override;
    void OnDeviceTransfer(std::size_t index, const TransferStep& step) override;
    void OnLine(int lineNumber, std::string_view line) override;
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override;

private:
    ProgressWindow& window_;
    std::function<bool()> stop_;
};

// Shows `window` application-modal, runs `work` on a worker thread and keeps
// the user-interface thread serving paint events and message boxes until
// `work` has returned. Network waits of any length thus never freeze the
// screen, and the list behind the window takes no input meanwhile.
void RunWithProgress(ProgressWindow& window, const std::function<void()>& work);

}  // namespace quorvane
