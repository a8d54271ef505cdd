#include "app/gui/progress_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>
#include <memory>

#include "app/gui/app_icon.h"
#include "app/gui/gui_text.h"
#include "res/string_format.h"
#include "res/string_ids.h"

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

}  // namespace

ProgressWindow::ProgressWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("progress_window"));
    setWindowTitle(QApplication::applicationName());
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    device_ = AddLine(layout, this, "device");
    line_ = AddLine(layout, this, "line");
    transfer_ = AddLine(layout, this, "transfer");
    pace_ = AddLine(layout, this, "pace");
    resends_ = AddLine(layout, this, "resends");
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("bar"));
    bar_->setRange(0, BAR_STEPS);
    bar_->setValue(0);
    layout->addWidget(bar_);
    device_->setText(tr("Preparing the upgrade..."));
    setMinimumWidth(fontMetrics().averageCharWidth() * 56);
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
    const std::string rate = QString::number(pace.bytesPerSecond / 1024.0, 'f', 1).toStdString();
    pace_->setText(ExternalText(FormatPlaceholders(IDS_PROGRESS_PACE, {rate, MinutesAndSeconds(pace.left)})));
}

void ProgressWindow::ResendsCounted(uint64_t resends) {
    resends_->setText(ExternalText(FormatPlaceholders(IDS_PROGRESS_RESENDS, {std::to_string(resends)})));
}

void ProgressWindow::DeviceEnded(std::size_t) {
    SetWaitCursor(false);
}

// A transfer cannot be stopped halfway without harm to the device, so the
// window ignores the close box and Escape.
void ProgressWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void ProgressWindow::reject() {}

void ProgressRelay::OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) {
    const MacAddress& m = record.mac;
    const QString mac =
        QString::fromStdString(FormatStringId(IDS_MAC_TEXT, {m[0], m[1], m[2], m[3], m[4], m[5]}));
    QMetaObject::invokeMethod(
        &window_, [w = &window_, index, count, mac] { w->DeviceStarted(index, count, mac); },
        Qt::QueuedConnection);
}

void ProgressRelay::OnDeviceEnd(std::size_t index, bool) {
    QMetaObject::invokeMethod(
        &window_, [w = &window_, index] { w->DeviceEnded(index); }, Qt::QueuedConnection);
}

void ProgressRelay::OnDeviceCounters(std::size_t, const DeviceCounters& counters) {
    QMetaObject::invokeMethod(
        &window_, [w = &window_, resends = counters.exchanges.resends] { w->ResendsCounted(resends); },
        Qt::QueuedConnection);
}

void ProgressRelay::OnDeviceTransfer(std::size_t, const TransferStep& step) {
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
    window.hide();
}

}  // namespace quorvane
