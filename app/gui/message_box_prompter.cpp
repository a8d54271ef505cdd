#include "app/gui/message_box_prompter.h"

#include <QApplication>

#include "app/gui/gui_text.h"

namespace quorvane {

QMessageBox::Icon MessageBoxPrompter::IconFor(unsigned style) {
    switch (style & 0xF0u) {
        case ICON_STOP:
            return QMessageBox::Critical;
        case ICON_QUESTION:
            return QMessageBox::Question;
        case ICON_INFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::Warning;
    }
}

int MessageBoxPrompter::Show(const std::string& text, unsigned style, QMessageBox::StandardButtons buttons,
                             QMessageBox::StandardButton defaultButton) {
    QWidget* owner = QApplication::activeModalWidget();
    if (owner == nullptr) owner = QApplication::activeWindow();
    // Box texts carry findings, device names and system reasons: the whole
    // text is made safe, which leaves the table's own texts as they are.
    QMessageBox box(IconFor(style), QApplication::applicationName(), ExternalLines(text), buttons, owner);
    box.setObjectName(QStringLiteral("message_box"));
    // Table texts are plain; a '<' in them must not switch to rich text.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

void MessageBoxPrompter::Tell(int, const std::string& text, unsigned style) {
    Show(text, style, QMessageBox::Ok, QMessageBox::Ok);
}

bool MessageBoxPrompter::Ask(int, const std::string& text, unsigned style) {
    // Escape and the close box of a Yes/No box mean No.
    return Show(text, style, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

}  // namespace quorvane
