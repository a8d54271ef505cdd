#include "app/gui/file_chooser.h"

#include "app/gui/gui_text.h"
#include "res/string_table.h"

namespace quorvane {

void FileChooser::SetUp(QFileDialog& dialog) {
    dialog.setObjectName(QStringLiteral("package_chooser"));
    dialog.setWindowTitle(TableText(IDS_OPEN_TITLE));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(TableText(IDS_PACKAGE_EXTENSION));
    const QString filters = ChooserFilter(LoadString(IDS_PACKAGE_FILTER));
    dialog.setNameFilter(filters);
    const QStringList list = dialog.nameFilters();
    if (!list.isEmpty()) dialog.selectNameFilter(list.first());
    // The prompt only reads: no folder creation, renaming or deleting.
    dialog.setOption(QFileDialog::ReadOnly, true);
}

std::optional<std::filesystem::path> FileChooser::Choose() {
    QFileDialog dialog;
    SetUp(dialog);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return std::filesystem::path(files.first().toStdString());
}

std::optional<std::filesystem::path> FirstChoiceChooser::Choose() {
    if (first_) return std::exchange(first_, std::nullopt);
    return next_.Choose();
}

}  // namespace quorvane
