#pragma once
// The About box (template 100): icon, version line, a second line and OK.

#include <QDialog>

namespace quorvane {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace quorvane
