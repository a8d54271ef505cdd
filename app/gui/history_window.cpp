#include "app/gui/history_window.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <string>
#include <system_error>
#include <vector>

#include "app/gui/app_icon.h"
#include "app/gui/gui_text.h"
#include "app/history_columns.h"
#include "app/history_store.h"
#include "res/string_format.h"
#include "res/string_table.h"

namespace quorvane {
namespace {

constexpr int TIME_COLUMN = 0;  // the first column of HistoryColumns()

QTableWidgetItem* CellItem(const HistoryColumn& column, const HistoryEntry& entry) {
    const std::string text = column.text(entry);
    auto* item = new QTableWidgetItem(column.external ? ExternalText(text) : QString::fromStdString(text));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

HistoryWindow::HistoryWindow(std::filesystem::path path, QWidget* parent)
    : QDialog(parent), path_(std::move(path)) {
    setObjectName(QStringLiteral("history_window"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setWindowTitle(TableText(IDS_HISTORY_TITLE));
    setWindowIcon(AppIcon());
    setModal(false);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("history_status"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);

    const std::vector<HistoryColumn>& columns = HistoryColumns();
    table_ = new QTableWidget(0, static_cast<int>(columns.size()), this);
    table_->setObjectName(QStringLiteral("history_table"));
    QStringList titles;
    for (const HistoryColumn& column : columns) titles << QString::fromLatin1(column.title);
    table_->setHorizontalHeaderLabels(titles);
    // A first click sorts the time newest first, every other column from A.
    for (int column = 0; column < table_->columnCount(); ++column)
        table_->horizontalHeaderItem(column)->setData(
            Qt::InitialSortOrderRole, column == TIME_COLUMN ? Qt::DescendingOrder : Qt::AscendingOrder);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table_->horizontalHeader()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(table_, 1);
    layout->addWidget(buttons);
    resize(760, 360);
    Reload();
}

void HistoryWindow::Reload() {
    // Rows go in unsorted: a table sorting as it fills moves each new row.
    table_->setSortingEnabled(false);
    table_->setRowCount(0);
    std::vector<HistoryEntry> entries;
    std::string error;
    std::error_code ignored;
    // A missing file is no history yet, and opening it would create it.
    if (!path_.empty() && std::filesystem::exists(path_, ignored)) {
        HistoryOpen opened = OpenHistory(path_, false);
        error = opened.error;
        if (opened.store) opened.store->Read(HistoryQuery{}, entries, error);
    }
    const std::vector<HistoryColumn>& columns = HistoryColumns();
    table_->setRowCount(static_cast<int>(entries.size()));
    for (std::size_t row = 0; row < entries.size(); ++row)
        for (std::size_t column = 0; column < columns.size(); ++column)
            table_->setItem(static_cast<int>(row), static_cast<int>(column), CellItem(columns[column], entries[row]));
    // UTC times in the history's form sort as text in time order.
    table_->setSortingEnabled(true);
    table_->sortByColumn(TIME_COLUMN, Qt::DescendingOrder);
    table_->resizeColumnsToContents();
    if (!error.empty())
        ShowStatus(ExternalText(FormatPlaceholders(IDS_HISTORY_UNREADABLE, {error})));
    else
        ShowStatus(entries.empty() ? TableText(IDS_HISTORY_EMPTY) : QString());
}

void HistoryWindow::ShowStatus(const QString& text) {
    status_->setText(text);
    status_->setVisible(!text.isEmpty());
}

}  // namespace quorvane
