#include "app/gui/progress_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QHeaderView>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <memory>

#include "app/gui/app_icon.h"
#include "app/column_text.h"
#include "app/gui/gui_text.h"
#include "app/interrupted_text.h"
#include "app/mac_strings.h"
#include "res/string_format.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace quorvane {
namespace {

QLabel* AddLine(QVBoxLayout* layout, QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    return label;
}

constexpr int BAR_STEPS = 1000;

// The columns of the rows side by side.
enum RowColumn { COLUMN_MAC, COLUMN_NAME, COLUMN_LINE, COLUMN_BAR, COLUMN_BYTES, COLUMN_RATE, COLUMN_LEFT, COLUMN_RESENDS };

QString MacOf(const DeviceRecord& record) {
    return QString::fromStdString(MacText(record.mac));
}

QString LineText(const DeviceResult& device) {
    if (device.Finished() || device.state == DeviceState::Waiting) {
        QString word = QString::fromLatin1(StateWord(device.state));
        if (!device.error.empty()) word += QStringLiteral(": ") + ExternalText(device.error);
        return word;
    }
    if (!device.waiting.empty()) return ExternalText(device.waiting);
    if (device.lineNumber == 0) return {};
    return QStringLiteral("%1: %2").arg(device.lineNumber).arg(ExternalText(device.line));
}

}  // namespace

ProgressRow RowOf(const DeviceResult& device) {
    ProgressRow row;
    row.mac = MacOf(*device.record);
    std::string name;
    AdmittedDevice admitted = WithSummary(*device.record);
    DeviceCellText(&admitted, name, KEY_NAME);
    row.name = ExternalText(name);
    UpdateRow(row, device);
    return row;
}

void UpdateRow(ProgressRow& row, const DeviceResult& device) {
    row.state = device.state;
    row.line = LineText(device);
    row.bytes.clear();
    row.rate.clear();
    row.left.clear();
    row.permille = 0;
    if (device.total > 0 || !device.fileName.empty()) {
        row.bytes = QStringLiteral("%1 of %2").arg(device.done).arg(device.total);
        row.permille = device.total == 0 ? BAR_STEPS : static_cast<int>(device.done * BAR_STEPS / device.total);
    }
    if (device.state == DeviceState::Upgraded) row.permille = BAR_STEPS;
    if (device.pace.known && device.state == DeviceState::Running) {
        row.rate = QString::fromStdString(RateText(device.pace.bytesPerSecond));
        row.left = QString::fromStdString(MinutesAndSeconds(device.pace.left));
    }
    row.resends = QString::number(device.Finished() ? device.counters.exchanges.resends : device.live.resends);
}

ProgressWindow::ProgressWindow(QWidget* parent, std::size_t sideBySide) : QDialog(parent) {
    setObjectName(QStringLiteral("progress_window"));
    setWindowTitle(QApplication::applicationName());
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    device_ = AddLine(layout, this, "device");
    notice_ = AddLine(layout, this, "notice");
    notice_->setWordWrap(true);
    notice_->hide();
    line_ = AddLine(layout, this, "line");
    transfer_ = AddLine(layout, this, "transfer");
    pace_ = AddLine(layout, this, "pace");
    resends_ = AddLine(layout, this, "resends");
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("bar"));
    bar_->setRange(0, BAR_STEPS);
    bar_->setValue(0);
    layout->addWidget(bar_);
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    // Only a click, Space or Escape cancels: an Enter meant for a box that
    // has just closed must not.
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &ProgressWindow::Cancel);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    device_->setText(tr("Preparing the upgrade..."));
    setMinimumWidth(fontMetrics().averageCharWidth() * 56);
    repaint_ = new QTimer(this);
    repaint_->setSingleShot(true);
    repaint_->setInterval(ROW_REPAINT_MS);
    connect(repaint_, &QTimer::timeout, this, &ProgressWindow::ShowQueuedRows);
    if (sideBySide > 1) SetUpRows();
}

void ProgressWindow::SetUpRows() {
    // One bar per row: the single-device lines would say nothing of the others.
    for (QWidget* single : std::initializer_list<QWidget*>{line_, transfer_, pace_, resends_, bar_}) single->hide();
    rows_ = new QTreeWidget(this);
    rows_->setObjectName(QStringLiteral("device_rows"));
    rows_->setRootIsDecorated(false);
    rows_->setUniformRowHeights(true);
    rows_->setSelectionMode(QAbstractItemView::NoSelection);
    rows_->setFocusPolicy(Qt::NoFocus);
    rows_->setHeaderLabels({tr("MAC"), tr("Name"), tr("Line"), tr("Progress"), tr("Bytes"), tr("Rate"),
                            tr("Left"), tr("Resends")});
    // Above the Cancel button, which stays last.
    static_cast<QVBoxLayout*>(layout())->insertWidget(layout()->count() - 1, rows_);
    // The window grows to what the rows need.
    layout()->setSizeConstraint(QLayout::SetMinimumSize);
}

void ProgressWindow::SetDevices(const std::vector<ProgressRow>& rows) {
    if (rows_ == nullptr) return;
    rows_->clear();
    states_.assign(rows.size(), DeviceState::Waiting);
    items_.assign(rows.size(), nullptr);
    for (std::size_t i = 0; i < rows.size(); ++i) ShowRow(i, rows[i]);
    // Wide enough for what the columns will hold, not for their first texts.
    const QFontMetrics metrics = rows_->fontMetrics();
    const struct {
        RowColumn column;
        const char* widest;
    } widths[] = {{COLUMN_MAC, "00:00:00:00:00:00 "}, {COLUMN_NAME, "Dock Printer 00 "},
                  {COLUMN_LINE, "13: LOAD firmware.bin 0x0001:0x0000 "}, {COLUMN_BAR, "0000000000"},
                  {COLUMN_BYTES, "262144 of 262144 "}, {COLUMN_RATE, "9999.9 KiB/s "},
                  {COLUMN_LEFT, "00:00 "}, {COLUMN_RESENDS, "Resends "}};
    const int padding = 3 * metrics.averageCharWidth();
    int total = 2 * rows_->frameWidth() + rows_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (const auto& width : widths) {
        const int pixels = metrics.horizontalAdvance(QString::fromLatin1(width.widest)) + padding;
        rows_->setColumnWidth(width.column, pixels);
        total += pixels;
    }
    rows_->setMinimumWidth(total);
    // Up to a dozen rows in view; more scroll.
    const int shown = static_cast<int>(std::min<std::size_t>(rows.size(), 12));
    const int rowHeight = std::max(rows_->sizeHintForRow(0), metrics.height() * 3 / 2) + 1;
    rows_->setMinimumHeight(rows_->header()->sizeHint().height() + shown * rowHeight + 2 * rows_->frameWidth());
    adjustSize();
    ShowTotal();
}

QTreeWidgetItem* ProgressWindow::ItemOf(std::size_t index) {
    if (items_[index] != nullptr) return items_[index];
    // In selection order among the rows shown so far.
    const auto before = std::count_if(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(index),
                                      [](const QTreeWidgetItem* item) { return item != nullptr; });
    auto* item = new QTreeWidgetItem;
    rows_->insertTopLevelItem(static_cast<int>(before), item);
    auto* bar = new QProgressBar(rows_);
    bar->setRange(0, BAR_STEPS);
    bar->setObjectName(QStringLiteral("row_bar"));
    rows_->setItemWidget(item, COLUMN_BAR, bar);
    items_[index] = item;
    return item;
}

void ProgressWindow::ShowRow(std::size_t index, const ProgressRow& row) {
    if (rows_ == nullptr || index >= states_.size()) return;
    states_[index] = row.state;
    if (row.state == DeviceState::Running) SetWaitCursor(true);
    if (row.state == DeviceState::Waiting && items_[index] == nullptr) return;
    QTreeWidgetItem* item = ItemOf(index);
    item->setText(COLUMN_MAC, row.mac);
    item->setText(COLUMN_NAME, row.name);
    item->setText(COLUMN_LINE, row.line);
    item->setText(COLUMN_BYTES, row.bytes);
    item->setText(COLUMN_RATE, row.rate);
    item->setText(COLUMN_LEFT, row.left);
    item->setText(COLUMN_RESENDS, row.resends);
    if (auto* bar = qobject_cast<QProgressBar*>(rows_->itemWidget(item, COLUMN_BAR))) bar->setValue(row.permille);
}

void ProgressWindow::QueueRow(std::size_t index, ProgressRow row, bool now) {
    const std::lock_guard<std::mutex> guard(queueLock_);
    queued_[index] = std::move(row);
    // One event at a time asks for the rows: the ones queued meanwhile go with it.
    if (now && !showPosted_) {
        showPosted_ = true;
        QMetaObject::invokeMethod(
            this, [this] { ShowQueuedRows(); }, Qt::QueuedConnection);
    } else if (!now && !repaintPosted_) {
        repaintPosted_ = true;
        // The timer is the user-interface thread's: it is started there.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!repaint_->isActive()) repaint_->start();
            },
            Qt::QueuedConnection);
    }
}

void ProgressWindow::ShowQueuedRows() {
    std::map<std::size_t, ProgressRow> rows;
    {
        const std::lock_guard<std::mutex> guard(queueLock_);
        rows.swap(queued_);
        showPosted_ = repaintPosted_ = false;
    }
    repaint_->stop();
    if (rows.empty()) return;
    for (const auto& [index, row] : rows) ShowRow(index, row);
    ShowTotal();
}

void ProgressWindow::ShowTotal() {
    std::size_t running = 0;
    std::size_t upgraded = 0;
    std::size_t failed = 0;
    for (DeviceState state : states_) {
        running += state == DeviceState::Running;
        upgraded += state == DeviceState::Upgraded;
        failed += state == DeviceState::Failed || state == DeviceState::Interrupted;
    }
    device_->setText(tr("%1 of %2 devices done: %3 upgraded, %4 failed; %5 under way")
                         .arg(upgraded + failed)
                         .arg(states_.size())
                         .arg(upgraded)
                         .arg(failed)
                         .arg(running));
}

ProgressWindow::~ProgressWindow() {
    SetWaitCursor(false);
}

void ProgressWindow::SetWaitCursor(bool on) {
    if (on == waitCursor_) return;
    waitCursor_ = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void ProgressWindow::DeviceStarted(std::size_t index, std::size_t count, const QString& macText) {
    // A retry starts the same device again; the cursor stays as it is.
    SetWaitCursor(true);
    device_->setText(tr("Upgrading device %1 of %2 (%3)").arg(index + 1).arg(count).arg(macText));
    line_->clear();
    transfer_->clear();
    pace_->clear();
    resends_->clear();
    bar_->setValue(0);
}

void ProgressWindow::LineStarted(int lineNumber, const QString& line) {
    line_->setText(tr("Line %1: %2").arg(lineNumber).arg(line));
}

void ProgressWindow::Transferred(const QString& fileName, uint64_t done, uint64_t total) {
    transfer_->setText(tr("%1: %2 of %3 bytes").arg(fileName).arg(done).arg(total));
    bar_->setValue(total == 0 ? BAR_STEPS : static_cast<int>(done * BAR_STEPS / total));
}

void ProgressWindow::PaceChanged(const TransferPace& pace) {
    if (!pace.known) {
        pace_->clear();
        return;
    }
    const std::string rate = KibPerSecond(pace.bytesPerSecond);
    pace_->setText(ExternalText(FormatPlaceholders(IDS_PROGRESS_PACE, {rate, MinutesAndSeconds(pace.left)})));
}

void ProgressWindow::ResendsCounted(uint64_t resends) {
    resends_->setText(ExternalText(FormatPlaceholders(IDS_PROGRESS_RESENDS, {std::to_string(resends)})));
}

void ProgressWindow::WaitingShown(const QString& waiting) {
    if (waiting.isEmpty()) {
        pace_->clear();
        return;
    }
    pace_->setText(waiting);
}

void ProgressWindow::DeviceEnded(std::size_t) {
    // Side by side, the cursor waits while any device is under way.
    for (DeviceState state : states_)
        if (state == DeviceState::Running) return;
    SetWaitCursor(false);
}

void ProgressWindow::ShowNotice(const QString& text) {
    notice_->setText(text);
    notice_->show();
}

// A transfer cannot be stopped halfway without harm to the device, so the
// window ignores the close box; Escape is Cancel, which waits for the
// exchange under way.
void ProgressWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void ProgressWindow::reject() {
    Cancel();
}

void ProgressWindow::Cancel() {
    if (cancelRequested_.exchange(true)) return;
    // An exchange may wait many seconds for its answer: the user sees at
    // once that the press was taken.
    cancel_->setEnabled(false);
    ShowNotice(ExternalText(StoppingText(StopNotice::Window)));
}

bool ProgressRelay::PostRow(std::size_t index, bool now) {
    if (model_ == nullptr || index >= model_->devices.size()) return false;
    // The MAC and the name stay as they were: only the rest is made anew.
    if (rows_.empty())
        for (const DeviceResult& device : model_->devices) rows_.push_back(RowOf(device));
    UpdateRow(rows_[index], model_->devices[index]);
    window_.QueueRow(index, rows_[index], now);
    return true;
}

void ProgressRelay::OnDeviceLine(std::size_t index, int lineNumber, std::string_view line) {
    if (!PostRow(index, false)) OnLine(lineNumber, line);
}

void ProgressRelay::OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) {
    if (PostRow(index, true)) return;
    shown_ = index;
    const QString mac = MacOf(record);
    QMetaObject::invokeMethod(
        &window_, [w = &window_, index, count, mac] { w->DeviceStarted(index, count, mac); },
        Qt::QueuedConnection);
}

void ProgressRelay::OnDeviceEnd(std::size_t index, bool) {
    // Shown before DeviceEnded, which looks at the rows' states for the cursor.
    if (!PostRow(index, true) && index != shown_) return;
    QMetaObject::invokeMethod(
        &window_, [w = &window_, index] { w->DeviceEnded(index); }, Qt::QueuedConnection);
}

void ProgressRelay::OnDeviceCounters(std::size_t index, const DeviceCounters& counters) {
    if (model_ != nullptr || index != shown_) return;  // the row has them, or another device is shown
    QMetaObject::invokeMethod(
        &window_, [w = &window_, resends = counters.exchanges.resends] { w->ResendsCounted(resends); },
        Qt::QueuedConnection);
}

void ProgressRelay::OnDeviceTransfer(std::size_t index, const TransferStep& step) {
    // A transfer's last step is shown at once: the next may be a while coming.
    if (PostRow(index, step.done == step.total)) return;
    const QString name = ExternalText(std::string(step.fileName));
    QMetaObject::invokeMethod(
        &window_,
        [w = &window_, name, done = step.done, total = step.total, pace = step.pace,
         resends = step.exchanges.resends] {
            w->Transferred(name, done, total);
            w->PaceChanged(pace);
            w->ResendsCounted(resends);
        },
        Qt::QueuedConnection);
}

void ProgressRelay::OnLine(int lineNumber, std::string_view line) {
    const QString text = ExternalText(std::string(line));
    QMetaObject::invokeMethod(
        &window_, [w = &window_, lineNumber, text] { w->LineStarted(lineNumber, text); },
        Qt::QueuedConnection);
}

void ProgressRelay::OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) {
    const QString name = ExternalText(std::string(fileName));
    QMetaObject::invokeMethod(
        &window_, [w = &window_, name, done, total] { w->Transferred(name, done, total); },
        Qt::QueuedConnection);
}

void ProgressRelay::OnJobsLowered(std::size_t asked, std::size_t had, std::string_view reason) {
    QString text = ExternalText(
        FormatPlaceholders(IDS_JOBS_LOWERED, {std::to_string(had), std::to_string(asked), reason}));
    // upgradectl says it after its name; here it is a sentence of its own.
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    text += QLatin1Char('.');
    QMetaObject::invokeMethod(
        &window_, [w = &window_, text] { w->ShowNotice(text); }, Qt::QueuedConnection);
}

void ProgressRelay::OnDeviceWaiting(std::size_t index, std::string_view waiting,
                                    const ExchangeStats& exchanges) {
    if (PostRow(index, false)) return;
    QMetaObject::invokeMethod(
        &window_,
        [w = &window_, text = ExternalText(std::string(waiting)), resends = exchanges.resends] {
            w->WaitingShown(text);
            w->ResendsCounted(resends);
        },
        Qt::QueuedConnection);
}

void RunWithProgress(ProgressWindow& window, const std::function<void()>& work) {
    QEventLoop loop;
    std::unique_ptr<QThread> worker(QThread::create(work));
    // Queued behind every progress event the worker posted, so the window
    // has shown all of them when the loop ends.
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    window.show();
    worker->start();
    loop.exec();
    worker->wait();
    window.ShowQueuedRows();
    window.hide();
}

}  // namespace quorvane
