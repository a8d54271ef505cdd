#pragma once
// The History window: every device run the upgrade history holds, one row
// each, newest first, every column sorted by a click on its header. It only
// reads: the database is opened read-only and never created, so looking at
// the history changes nothing on disk. Modeless, so the device list stays
// usable while it is open.

#include <QDialog>
#include <filesystem>

class QLabel;
class QTableWidget;

namespace quorvane {

class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    // `path`: the database to read; empty when the program has none.
    HistoryWindow(std::filesystem::path path, QWidget* parent = nullptr);

    // The rows afresh from the database, newest first; above them a line
    // when there are none yet or the database cannot be read.
    void Reload();

    QTableWidget* Table() const { return table_; }
    // Empty and hidden while the table has rows to show.
    QLabel* Status() const { return status_; }

private:
    void ShowStatus(const QString& text);

    std::filesystem::path path_;
    QLabel* status_;
    QTableWidget* table_;
};

}  // namespace quorvane
