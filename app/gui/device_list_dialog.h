#pragma once
// The device list dialog (template 102): the admitted devices, one row each,
// with Upgrade, Refresh and Done. Its controls are placed by hand from the
// template and follow the window by the resize rule of control_placement.h.

#include <chrono>
#include <QDialog>
#include <QPointer>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_loops.h"
#include "app/event_stream.h"
#include "app/history_recorder.h"
#include "app/gui/control_placement.h"
#include "app/gui/history_window.h"
#include "app/prompter.h"
#include "app/upgrade_run.h"
#include "package/restrictions.h"

class QLabel;
class QMenu;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace quorvane {

class LinkStack;
struct PackageCheck;
class TerminationCleanup;

class DeviceListDialog : public QDialog, public DeviceListScreen {
    Q_OBJECT
public:
    DeviceListDialog(DeviceProtocol& protocol, const Restrictions& restrictions, Prompter& prompter,
                     QWidget* parent = nullptr);

    // Sets the dialog up for these devices and shows it modally:
    // DIALOG_CANCEL for Done, Escape or the close box, DIALOG_REFRESH for
    // Refresh or a completed upgrade. Enter on the list upgrades the
    // selected devices, as the Upgrade button does.
    int Show(const std::string& packageName, UpgradePackage& package,
             std::vector<AdmittedDevice>& devices) override;

    // What every showing starts with: template size and places, measured
    // distances, columns, rows (in array order, or in the order of the
    // last column click), title, system menu; the list has the focus.
    void InitDialog(const std::string& packageName, UpgradePackage& package,
                    std::vector<AdmittedDevice>& devices);

    // Sorts the rows ascending by the text of the clicked column's key; the
    // next showings (Refresh, a completed upgrade) sort their rows the same way.
    void OnColumnClick(int column);
    void OnUpgrade();
    // Where the upgrades' events go; none by default.
    void SetEvents(EventStream* events) { events_ = events; }
    // The link stack whose events and per-device links the upgrades use.
    void SetRunLinks(LinkStack& links);
    // Where devices side by side get their links; none by default, when
    // every device run beside others fails for want of one.
    void SetLinkFactory(LinkFactory openLink) { openLink_ = std::move(openLink); }
    // The open package's check, whose plan the upgrades run; none: each
    // upgrade checks the package itself.
    void SetPackageCheck(const PackageCheck* check) { check_ = check; }
    // The files the program writes besides READ, which no device's own
    // READ file may be; none by default.
    void SetRunOutputs(RunOutputs outputs) { outputs_ = std::move(outputs); }
    // What the program's runs came to, which every upgrade records into and
    // the "Last result" column reads; none by default: the column stays empty.
    void SetSessionResults(SessionResults* session) { session_ = session; }
    // How many devices are upgraded at once (0: all selected); 1 by default.
    void SetJobs(std::size_t jobs);
    // How long each device may take to come back after its reset (zero: not waited for).
    void SetReturnLimit(std::chrono::milliseconds limit) { returnLimit_ = limit; }
    std::size_t Jobs() const;
    // What a termination signal asks of an upgrade under way; none by default.
    void SetTermination(TerminationCleanup* termination) { termination_ = termination; }
    // Where each run is recorded; none: nowhere.
    void SetHistory(HistoryRecorder* history) { history_ = history; }
    // The database the History window reads; none: it shows that nothing
    // has been recorded.
    void SetHistoryPath(std::filesystem::path path) { historyPath_ = std::move(path); }
    // Opens the History window, or brings it to the front read afresh.
    void ShowHistory();
    HistoryWindow* History() const { return historyWindow_; }
    // Ids 16 to 31 open the About box.
    void OnSysCommand(int id);
    // Done, Escape and the close box: DIALOG_CANCEL.
    void reject() override;

    // The sub-item key a column (by its logical index) shows.
    int ColumnKey(int column) const;
    // Case-insensitive order of two rows (by their parameters) for `key`.
    int CompareRows(int first, int second, int key) const;

    QTreeWidget* List() const { return list_; }
    QPushButton* Button(int id) const;
    QSpinBox* JobsControl() const { return jobs_; }
    QMenu* SystemMenu() const { return systemMenu_; }
    const MeasuredLayout& Measured() const { return measured_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    std::string TitleFor(const std::string& packageName) const;
    QPushButton* AddButton(int id, const char* text, const char* name);
    void SetUpColumns();
    void FillList();
    // Every row's cells afresh from its device (the last results change with a run).
    void ShowRowTexts();
    // Each column as wide as its widest text, at least its table width, at
    // most the list's own width.
    void FitColumns();
    // The sort of the last column click, on the rows of this showing.
    void RestoreSort();
    void BuildSystemMenu();
    void PlaceFromTemplate();
    std::vector<DeviceRecord*> SelectedDevices() const;
    // After Cancel: the devices left mid-script, and those not started, in one box.
    void TellInterrupted(const RunModel& model);
    // The batch the "At once:" control asks for `devices` selected devices.
    BatchOptions BatchFor(std::size_t devices);
    // The device of a row's parameter; null when there is none.
    const AdmittedDevice* DeviceAt(int parameter) const;

    DeviceProtocol& protocol_;
    const Restrictions& restrictions_;
    Prompter& prompter_;
    UpgradePackage* package_ = nullptr;
    std::vector<AdmittedDevice>* devices_ = nullptr;
    EventStream* events_ = nullptr;
    LinkFactory openLink_;
    const PackageCheck* check_ = nullptr;
    RunOutputs outputs_;
    SessionResults* session_ = nullptr;
    TerminationCleanup* termination_ = nullptr;
    HistoryRecorder* history_ = nullptr;
    std::filesystem::path historyPath_;
    QPointer<HistoryWindow> historyWindow_;

    QPushButton* done_;
    QTreeWidget* list_;
    QPushButton* upgrade_;
    QPushButton* selectOld_;
    QPushButton* refresh_;
    QLabel* jobsLabel_;
    QSpinBox* jobs_;
    std::chrono::milliseconds returnLimit_{0};
    QMenu* systemMenu_;
    MeasuredLayout measured_;
    bool measuredValid_ = false;
    // The key (not the position: columns may be dragged) and direction of
    // the last sort; no key before the first column click.
    int sortKey_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

}  // namespace quorvane
