#pragma once
// The modal window shown while upgrade scripts run: which device, the script
// line, the bytes of the current transfer with its rate and time left, and
// the requests sent again so far; with devices side by side, a row per
// device with those facts and a total line. Cancel (or Escape) stops the
// run after the exchange under way, never in the middle of one, as the
// first Ctrl-C does in upgradectl.

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/run_model.h"
#include "app/upgrade_command.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace quorvane {

// One device's row side by side, as texts made on the worker's side from
// the run's model.
struct ProgressRow {
    QString mac, name, line, bytes, rate, left, resends;
    int permille = 0;  // of the current transfer
    DeviceState state = DeviceState::Waiting;
};

// The row of one device of the model.
ProgressRow RowOf(const DeviceResult& device);
// Everything of `row` but its MAC and name anew from `device`: these two
// stay for the whole run and cost the most to make.
void UpdateRow(ProgressRow& row, const DeviceResult& device);

class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    // `sideBySide`: the number of devices run at once when more than one,
    // which gives the window a row per device; 0 for one device at a time.
    explicit ProgressWindow(QWidget* parent = nullptr, std::size_t sideBySide = 0);
    ~ProgressWindow() override;

    // Side by side: the devices, in selection order, and the total line. A
    // device has a row of its own once it is under way or done; those still
    // waiting only count in the total.
    void SetDevices(const std::vector<ProgressRow>& rows);
    QTreeWidget* Rows() const { return rows_; }
    // From any thread: the device's row as it stands now, shown together
    // with the others queued at most ROW_REPAINT_MS later, so that a
    // thousand devices' steps cost a repaint or so every tenth of a second.
    // `now` shows it, and every row queued before it, at once: a device's
    // start and end, which the total line and the cursor follow.
    void QueueRow(std::size_t index, ProgressRow row, bool now);
    // The queued rows, shown; on the user-interface thread.
    void ShowQueuedRows();

    // Slots of the user-interface thread; ProgressRelay calls them from the
    // worker.
    void DeviceStarted(std::size_t index, std::size_t count, const QString& macText);
    void LineStarted(int lineNumber, const QString& line);
    void Transferred(const QString& fileName, uint64_t done, uint64_t total);
    // The transfer's rate and time left, as the command worked them out.
    void PaceChanged(const TransferPace& pace);
    // The device's requests sent again so far, over all its runs.
    void ResendsCounted(uint64_t resends);
    // The exchange under way is sent again (`waiting` says which and how
    // often) in place of the transfer's rate; empty: it was answered.
    void WaitingShown(const QString& waiting);
    void DeviceEnded(std::size_t index);
    // Devices side by side: fewer run at once than asked, as `text` says.
    void ShowNotice(const QString& text);
    // True once Cancel or Escape asked the run to stop; safe from any thread.
    bool CancelRequested() const { return cancelRequested_.load(); }
    QPushButton* CancelButton() const { return cancel_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void SetWaitCursor(bool on);
    void Cancel();

    QLabel* device_;
    QLabel* notice_;  // hidden until there is something to say
    QLabel* line_;
    QLabel* transfer_;
    QLabel* pace_;
    QLabel* resends_;
    QProgressBar* bar_;
    QPushButton* cancel_;
    std::atomic<bool> cancelRequested_{false};
    QTreeWidget* rows_ = nullptr;  // side by side only
    std::vector<DeviceState> states_;
    std::vector<QTreeWidgetItem*> items_;  // by device; none while it waits
    bool waitCursor_ = false;
    QTimer* repaint_ = nullptr;
    std::mutex queueLock_;  // for the three below, which the workers write
    std::map<std::size_t, ProgressRow> queued_;
    bool showPosted_ = false;
    bool repaintPosted_ = false;

    void SetUpRows();
    void ShowTotal();
    // The device's row without the total line; made when it first leaves Waiting.
    void ShowRow(std::size_t index, const ProgressRow& row);
    QTreeWidgetItem* ItemOf(std::size_t index);
};

// How long a row's steps are gathered before they are shown.
inline constexpr int ROW_REPAINT_MS = 100;

// Forwards the command's progress from the worker thread to the window, in
// the order it happened.
class ProgressRelay final : public UpgradeProgress {
public:
    // `stop`, when given, is asked (from the worker) whether the run must
    // stop. With `model` (devices side by side) every step of a device
    // becomes its row.
    explicit ProgressRelay(ProgressWindow& window, std::function<bool()> stop = {},
                           const RunModel* model = nullptr)
        : window_(window), stop_(std::move(stop)), model_(model) {}
    bool StopRequested() const override { return stop_ && stop_(); }
    void OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) override;
    void OnDeviceEnd(std::size_t index, bool succeeded) override;
    void OnDeviceCounters(std::size_t index, const DeviceCounters& counters) override;
    void OnDeviceTransfer(std::size_t index, const TransferStep& step) override;
    void OnDeviceLine(std::size_t index, int lineNumber, std::string_view line) override;
    void OnLine(int lineNumber, std::string_view line) override;
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override;
    void OnJobsLowered(std::size_t asked, std::size_t had, std::string_view reason) override;
    void OnDeviceWaiting(std::size_t index, std::string_view waiting,
                         const ExchangeStats& exchanges) override;

private:
    // Side by side: the device's row afresh from the model, queued
    // (ProgressWindow::QueueRow); false without a model.
    bool PostRow(std::size_t index, bool now);

    ProgressWindow& window_;
    std::function<bool()> stop_;
    const RunModel* model_;
    // Side by side: the rows as last posted, written under the batch's lock.
    std::vector<ProgressRow> rows_;
    // One device at a time: the device the window shows. Run in turn, a
    // device waited for after its reset ends while the next one is shown,
    // and its end and counters are not the shown device's.
    std::size_t shown_ = 0;
};

// Shows `window` application-modal, runs `work` on a worker thread and keeps
// the user-interface thread serving paint events and message boxes until
// `work` has returned. Network waits of any length thus never freeze the
// screen, and the list behind the window takes no input meanwhile.
void RunWithProgress(ProgressWindow& window, const std::function<void()>& work);

}  // namespace quorvane
