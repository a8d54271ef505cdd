#pragma once
// Message boxes on screen: caption the application's name, modal to the
// window in front, buttons and icon from the box style.

#include <QMessageBox>

#include "app/prompter.h"

namespace quorvane {

class MessageBoxPrompter final : public Prompter {
public:
    void Tell(int messageId, const std::string& text, unsigned style) override;
    bool Ask(int messageId, const std::string& text, unsigned style) override;

    // The icon a box of `style` shows; a box without one shows the warning.
    static QMessageBox::Icon IconFor(unsigned style);

private:
    static int Show(const std::string& text, unsigned style, QMessageBox::StandardButtons buttons,
                    QMessageBox::StandardButton defaultButton);
};

}  // namespace quorvane
