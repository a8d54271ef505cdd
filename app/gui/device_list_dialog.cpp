#include "app/gui/device_list_dialog.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <algorithm>
#include <cctype>
#include <optional>

#include "app/column_text.h"
#include "app/gui/about_dialog.h"
#include "app/gui/app_icon.h"
#include "app/gui/dialog_units.h"
#include "app/gui/gui_text.h"
#include "app/gui/gui_thread_prompter.h"
#include "app/gui/progress_window.h"
#include "app/gui/termination_cleanup.h"
#include "app/interrupted_text.h"
#include "app/link_stack.h"
#include "app/upgrade_run.h"
#include "package/package_check.h"
#include "res/dialog_layout.h"
#include "res/string_format.h"
#include "res/string_table.h"

namespace quorvane {
namespace {

constexpr int PARAMETER_ROLE = Qt::UserRole;  // a row's index into the devices array
constexpr int KEY_ROLE = Qt::UserRole;        // a column's sub-item key, on the header item

// Draws the grid lines between cells over the platform's own item painting.
class GridDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        const QRect& r = option.rect;
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->restore();
    }
};

// A row orders itself by the text its device gives for the key of the
// column being sorted, so the order never depends on where that column
// stands on screen.
class DeviceListItem final : public QTreeWidgetItem {
public:
    DeviceListItem(const DeviceListDialog& dialog, int parameter) : dialog_(dialog) {
        setData(0, PARAMETER_ROLE, parameter);
    }
    int Parameter() const { return data(0, PARAMETER_ROLE).toInt(); }
    bool operator<(const QTreeWidgetItem& other) const override {
        const int key = dialog_.ColumnKey(treeWidget()->sortColumn());
        return dialog_.CompareRows(Parameter(), static_cast<const DeviceListItem&>(other).Parameter(), key) < 0;
    }

private:
    const DeviceListDialog& dialog_;
};

QString CellText(const AdmittedDevice* device, int key, const SessionResults* session) {
    std::string text;
    DeviceCellText(device, text, key, session);  // false leaves the empty text
    return ExternalText(text);
}

}  // namespace

DeviceListDialog::DeviceListDialog(DeviceProtocol& protocol, const Restrictions& restrictions,
                                   Prompter& prompter, QWidget* parent)
    : QDialog(parent), protocol_(protocol), restrictions_(restrictions), prompter_(prompter) {
    using namespace layout;
    setObjectName(QStringLiteral("device_list_dialog"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromLatin1(DEVICE_LIST_TITLE));
    setWindowIcon(AppIcon());
    setSizeGripEnabled(false);

    // Template order is the tab order.
    done_ = AddButton(ID_DONE, DONE_TEXT, "done");
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("device_list"));
    list_->setAccessibleName(QString::fromLatin1(LIST_TEXT));
    list_->setProperty("controlId", ID_DEVICE_LIST);
    upgrade_ = AddButton(ID_UPGRADE, UPGRADE_TEXT, "upgrade");
    selectOld_ = AddButton(ID_SELECT_OLD, SELECT_OLD_TEXT, "select_old");
    refresh_ = AddButton(ID_REFRESH, REFRESH_TEXT, "refresh");
    jobsLabel_ = new QLabel(QString::fromLatin1(JOBS_TEXT), this);
    jobs_ = new QSpinBox(this);
    jobs_->setObjectName(QStringLiteral("jobs"));
    jobs_->setProperty("controlId", ID_JOBS);
    jobs_->setRange(JOBS_ALL, static_cast<int>(MAX_SIDE_BY_SIDE));
    jobs_->setValue(1);
    // 0 runs every selected device at once, as upgradectl's --jobs 0.
    jobs_->setSpecialValueText(tr("All"));
    jobs_->setToolTip(tr("How many devices are upgraded at once"));
    jobsLabel_->setBuddy(jobs_);
    setTabOrder(done_, list_);
    setTabOrder(list_, upgrade_);
    setTabOrder(upgrade_, jobs_);
    setTabOrder(jobs_, selectOld_);
    setTabOrder(selectOld_, refresh_);
    selectOld_->setEnabled(false);  // nothing ever enables it

    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setItemsExpandable(false);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSortingEnabled(false);  // sorting happens on header clicks only
    list_->setItemDelegate(new GridDelegate(list_));
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QHeaderView* header = list_->header();
    header->setSectionsMovable(true);
    header->setFirstSectionMovable(true);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header, &QHeaderView::sectionClicked, this, &DeviceListDialog::OnColumnClick);

    connect(done_, &QPushButton::clicked, this, &DeviceListDialog::reject);
    connect(upgrade_, &QPushButton::clicked, this, &DeviceListDialog::OnUpgrade);
    connect(refresh_, &QPushButton::clicked, this, [this] { done(REFRESH_RESULT); });

    systemMenu_ = new QMenu(this);
    systemMenu_->setObjectName(QStringLiteral("system_menu"));
}

QPushButton* DeviceListDialog::AddButton(int id, const char* text, const char* name) {
    auto* button = new QPushButton(QString::fromLatin1(text), this);
    button->setObjectName(QString::fromLatin1(name));
    button->setProperty("controlId", id);
    // No button is the default: Enter on the list ends the dialog with 1,
    // and Enter on a focused button presses that button (keyPressEvent).
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QPushButton* DeviceListDialog::Button(int id) const {
    for (QPushButton* button : {done_, upgrade_, selectOld_, refresh_})
        if (button->property("controlId").toInt() == id) return button;
    return nullptr;
}

int DeviceListDialog::Show(const std::string& packageName, UpgradePackage& package,
                           std::vector<AdmittedDevice>& devices) {
    InitDialog(packageName, package, devices);
    const int result = exec();
    // The caller releases the records next; no row may outlive them.
    list_->clear();
    devices_ = nullptr;
    package_ = nullptr;
    return result;
}

void DeviceListDialog::InitDialog(const std::string& packageName, UpgradePackage& package,
                                  std::vector<AdmittedDevice>& devices) {
    package_ = &package;
    devices_ = &devices;
    BuildSystemMenu();
    PlaceFromTemplate();
    SetUpColumns();
    FillList();
    FitColumns();
    RestoreSort();
    setWindowTitle(ExternalText(TitleFor(packageName)));
    // Arrows, Space and Enter work on the rows at once.
    list_->setFocus();
}

void DeviceListDialog::PlaceFromTemplate() {
    using namespace layout;
    const DialogUnits units(font());
    measuredValid_ = false;
    list_->setGeometry(units.Map(LIST_RECT));
    done_->setGeometry(units.Map(DONE_RECT));
    upgrade_->setGeometry(units.Map(UPGRADE_RECT));
    selectOld_->setGeometry(units.Map(SELECT_OLD_RECT));
    refresh_->setGeometry(units.Map(REFRESH_RECT));
    jobsLabel_->setGeometry(units.Map(JOBS_LABEL_RECT));
    jobs_->setGeometry(units.Map(JOBS_RECT));
    const QSize client = units.Size(DEVICE_LIST_WIDTH, DEVICE_LIST_HEIGHT);
    measured_ = MeasuredLayout::Measure(client.width(), list_->geometry(), done_->geometry(),
                                        refresh_->geometry(), selectOld_->geometry(), upgrade_->geometry());
    measuredValid_ = true;
    // Only the state: showNormal() would show the window before exec() and so
    // leave this showing without its modality.
    setWindowState(Qt::WindowNoState);
    resize(client);
}

void DeviceListDialog::SetUpColumns() {
    const std::vector<DeviceColumn> columns = DesktopListColumns();
    list_->clear();
    list_->setColumnCount(static_cast<int>(columns.size()));
    QTreeWidgetItem* header = list_->headerItem();
    for (int column = 0; column < static_cast<int>(columns.size()); ++column) {
        const DeviceColumn& shown = columns[static_cast<std::size_t>(column)];
        header->setText(column, QString::fromStdString(ColumnTitle(shown)));
        header->setData(column, KEY_ROLE, shown.key);
        header->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
        // A drag of an earlier showing must not carry over.
        list_->header()->moveSection(list_->header()->visualIndex(column), column);
        list_->header()->resizeSection(column, shown.width);
    }
}

int DeviceListDialog::ColumnKey(int column) const {
    const QVariant key = list_->headerItem()->data(column, KEY_ROLE);
    return key.isValid() ? key.toInt() : -1;
}

void DeviceListDialog::FillList() {
    if (list_->columnCount() == 0 || devices_ == nullptr) return;
    QList<QTreeWidgetItem*> rows;
    for (std::size_t i = 0; i < devices_->size(); ++i) rows << new DeviceListItem(*this, static_cast<int>(i));
    list_->addTopLevelItems(rows);
    ShowRowTexts();
}

void DeviceListDialog::ShowRowTexts() {
    const int columns = list_->columnCount();
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        auto* row = static_cast<DeviceListItem*>(list_->topLevelItem(i));
        const AdmittedDevice* device = DeviceAt(row->Parameter());
        for (int column = 0; column < columns; ++column)
            row->setText(column, CellText(device, ColumnKey(column), session_));
    }
}

void DeviceListDialog::FitColumns() {
    const std::vector<DeviceColumn> columns = DesktopListColumns();
    const int widest = std::max(list_->width() - 2 * list_->frameWidth(), 1);
    // The tree hides the rows' measure; the view it is offers it.
    const QAbstractItemView* view = list_;
    for (int column = 0; column < list_->columnCount(); ++column) {
        const int least = columns[static_cast<std::size_t>(column)].width;
        const int texts = std::max(view->sizeHintForColumn(column), list_->header()->sectionSizeHint(column));
        list_->header()->resizeSection(column, std::max(least, std::min(texts, widest)));
    }
}

void DeviceListDialog::RestoreSort() {
    for (int column = 0; column < list_->columnCount(); ++column) {
        if (sortKey_ < 0 || ColumnKey(column) != sortKey_) continue;
        list_->sortItems(column, sortOrder_);
        list_->header()->setSortIndicatorShown(false);
        return;
    }
}

const AdmittedDevice* DeviceListDialog::DeviceAt(int parameter) const {
    if (devices_ == nullptr || parameter < 0 || static_cast<std::size_t>(parameter) >= devices_->size())
        return nullptr;
    return &(*devices_)[static_cast<std::size_t>(parameter)];
}

int DeviceListDialog::CompareRows(int first, int second, int key) const {
    // Texts are made afresh for every comparison, as the cells show them.
    const QString a = CellText(DeviceAt(first), key, session_);
    const QString b = CellText(DeviceAt(second), key, session_);
    return QString::compare(a, b, Qt::CaseInsensitive);
}

void DeviceListDialog::OnColumnClick(int column) {
    if (devices_ == nullptr || column < 0 || column >= list_->columnCount()) return;
    // A stable sort: rows whose texts compare equal keep their order.
    sortKey_ = ColumnKey(column);
    sortOrder_ = Qt::AscendingOrder;  // every click sorts ascending
    list_->sortItems(column, sortOrder_);
    list_->header()->setSortIndicatorShown(false);
}

std::vector<DeviceRecord*> DeviceListDialog::SelectedDevices() const {
    std::vector<DeviceRecord*> selected;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        auto* row = static_cast<DeviceListItem*>(list_->topLevelItem(i));
        const AdmittedDevice* device = DeviceAt(row->Parameter());
        if (row->isSelected() && device != nullptr) selected.push_back(device->record);
    }
    return selected;
}

void DeviceListDialog::SetRunLinks(LinkStack& links) {
    events_ = links.Events().IsOpen() ? &links.Events() : nullptr;
    openLink_ = [&links](const DeviceRecord&, std::string& reason) { return links.OpenDeviceLink(reason); };
}

void DeviceListDialog::SetJobs(std::size_t jobs) {
    jobs_->setValue(static_cast<int>(std::min(jobs, MAX_SIDE_BY_SIDE)));
}

std::size_t DeviceListDialog::Jobs() const {
    return static_cast<std::size_t>(jobs_->value());
}

BatchOptions DeviceListDialog::BatchFor(std::size_t devices) {
    BatchOptions batch;
    batch.jobs = Jobs();
    // Side by side no question interrupts the others: the failed devices
    // are offered a retry together once the batch is done.
    batch.askAfterBatch = RunsSideBySide(batch.jobs, devices);
    batch.returnLimit = returnLimit_;
    return batch;
}

void DeviceListDialog::OnUpgrade() {
    if (package_ == nullptr || devices_ == nullptr) return;
    const std::vector<DeviceRecord*> selected = SelectedDevices();
    if (selected.empty()) return;  // nothing shown, nothing done
    UpgradeRun run(protocol_, events_, openLink_, *package_, check_, restrictions_, outputs_);
    run.SetSessionResults(session_);
    if (history_ != nullptr) history_->SetJobs(static_cast<int>(Jobs()));
    run.RecordTo(history_);
    // The checks and the warning need no network: they run here, and the
    // progress window comes up only once a script is about to run.
    if (run.Confirm(selected, prompter_) != UpgradeOutcome::Stop::None) {
        run.Finish(run.ExitCode());
        return;
    }
    const BatchOptions batch = BatchFor(selected.size());
    const bool sideBySide = RunsSideBySide(batch.jobs, selected.size());
    GuiThreadPrompter prompter(prompter_);
    ProgressWindow window(this, sideBySide ? selected.size() : 0);
    if (sideBySide) {
        std::vector<ProgressRow> rows;
        for (const DeviceResult& device : run.Model().devices) rows.push_back(RowOf(device));
        window.SetDevices(rows);
    }
    {
        const TerminationCleanup::Upgrading upgrading(termination_);
        RunWithProgress(window, [&] {
            // Cancel stops the run as a termination signal does, after the
            // exchange under way; only the signal then ends the program.
            ProgressRelay relay(
                window,
                [this, &window] {
                    return window.CancelRequested() || (termination_ != nullptr && termination_->Requested());
                },
                sideBySide ? &run.Model() : nullptr);
            run.Execute(batch, prompter, &relay);
        });
    }
    // A termination signal stopped the run: the program ends the usual way
    // out, with the events ended first.
    if (termination_ != nullptr && termination_->Requested()) {
        run.Finish(termination_->ExitCode());
        done(DIALOG_CANCEL);
        return;
    }
    if (run.Outcome().stop == UpgradeOutcome::Stop::Interrupted) TellInterrupted(run.Model());
    run.Complete(prompter_);
    run.Finish(run.ExitCode());
    if (run.Outcome().dialogResult == REFRESH_RESULT) {
        done(REFRESH_RESULT);
        return;
    }
    // The list stays: its rows show what the run came to.
    ShowRowTexts();
    FitColumns();
}

void DeviceListDialog::TellInterrupted(const RunModel& model) {
    // upgradectl's lines, each a sentence of its own here.
    std::string text;
    for (std::string line : InterruptedLines(model)) {
        if (!line.empty()) line[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(line[0])));
        text += (text.empty() ? "" : "\n") + line + ".";
    }
    prompter_.Tell(IDS_LEFT_MID_SCRIPT, text, BOX_OK | ICON_WARNING);
}

void DeviceListDialog::BuildSystemMenu() {
    systemMenu_->clear();
    systemMenu_->addAction(tr("Mi&nimize"), this, &QWidget::showMinimized);
    systemMenu_->addAction(tr("Ma&ximize"), this, &QWidget::showMaximized);
    systemMenu_->addAction(tr("&Restore"), this, &QWidget::showNormal);
    systemMenu_->addAction(tr("&Close"), this, &QWidget::close);
    const QString about = TableText(IDS_ABOUT_MENU);
    if (about.isEmpty()) return;
    systemMenu_->addSeparator();
    QAction* entry = systemMenu_->addAction(about);
    entry->setObjectName(QStringLiteral("about_entry"));
    entry->setData(layout::ABOUT_COMMAND);
    connect(entry, &QAction::triggered, this, [this, entry] { OnSysCommand(entry->data().toInt()); });
    QAction* history = systemMenu_->addAction(TableText(IDS_HISTORY_MENU), this, &DeviceListDialog::ShowHistory);
    history->setObjectName(QStringLiteral("history_entry"));
}

void DeviceListDialog::ShowHistory() {
    if (historyWindow_ == nullptr) {
        historyWindow_ = new HistoryWindow(historyPath_, this);
    } else {
        historyWindow_->Reload();  // runs since it was opened show too
    }
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
}

// The package's name, and the key that signed it when a trusted one did.
std::string DeviceListDialog::TitleFor(const std::string& packageName) const {
    const std::string title = FormatPlaceholders(IDS_WINDOW_TITLE, {packageName});
    if (check_ == nullptr || !check_->signature || check_->signature->status != SignatureStatus::Good) return title;
    return FormatPlaceholders(IDS_SIGNED_TITLE, {title, check_->signature->keyId});
}

void DeviceListDialog::OnSysCommand(int id) {
    if ((id & 0xFFF0) != layout::ABOUT_COMMAND) return;
    const bool signedWell =
        check_ != nullptr && check_->signature && check_->signature->status == SignatureStatus::Good;
    AboutDialog about(this, signedWell ? SignatureLine(*check_->signature) : std::string());
    about.exec();
}

void DeviceListDialog::contextMenuEvent(QContextMenuEvent* event) {
    systemMenu_->exec(event->globalPos());
}

void DeviceListDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // A minimised window keeps the places it had.
    if (isMinimized() || !measuredValid_) return;
    const Placement p = PlaceControls(measured_, width(), height(), done_->height(), upgrade_->height());
    list_->setGeometry(QRect(QPoint(0, 0), p.list));
    selectOld_->move(p.selectOld);
    upgrade_->move(p.upgrade);
    done_->move(p.done);
    refresh_->move(p.refresh);
    jobsLabel_->move(p.upgrade.x(), jobsLabel_->y());
    jobs_->move(p.upgrade.x(), jobs_->y());
}

void DeviceListDialog::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        QWidget* focus = focusWidget();
        if (auto* button = qobject_cast<QPushButton*>(focus)) {
            if (button->isEnabled()) button->click();
            return;
        }
        // Enter on the rows upgrades the selected devices, as Upgrade does.
        if (focus == list_) {
            OnUpgrade();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

// Done, Escape and the close box all end the dialog with the cancel code.
void DeviceListDialog::reject() {
    done(DIALOG_CANCEL);
}

}  // namespace quorvane
