#pragma once
// The About box (template 100): icon, version line, a second line and OK;
// below them, for a package a trusted key signed, who signed it and the
// signature's trusted comment.

#include <QDialog>
#include <string>

namespace quorvane {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr, const std::string& signature = {});
};

}  // namespace quorvane
