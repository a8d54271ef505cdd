#include "app/gui/search_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "app/gui/app_icon.h"

namespace quorvane {

SearchWindow::SearchWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("search_window"));
    setWindowTitle(QApplication::applicationName());
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(tr("Searching for devices on the network..."), this);
    text->setObjectName(QStringLiteral("search_text"));
    layout->addWidget(text);
    auto* bar = new QProgressBar(this);
    bar->setRange(0, 0);  // busy: the number of devices is not known beforehand
    bar->setTextVisible(false);
    layout->addWidget(bar);
}

SearchWindow::~SearchWindow() {
    SearchEnded();
}

void SearchWindow::SearchStarted() {
    if (searching_) return;
    searching_ = true;
    show();
    raise();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The pass blocks this thread; paint the window before it starts.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void SearchWindow::SearchEnded() {
    if (!searching_) return;
    searching_ = false;
    QApplication::restoreOverrideCursor();
    hide();
}

// The pass cannot be interrupted; the window goes away when it ends.
void SearchWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void SearchWindow::reject() {}

}  // namespace quorvane
