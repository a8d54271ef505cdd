#pragma once
// The small busy window shown while an admission pass searches for devices.

#include <QDialog>

#include "app/app_loops.h"

namespace quorvane {

class SearchWindow : public QDialog, public SearchIndicator {
    Q_OBJECT
public:
    explicit SearchWindow(QWidget* parent = nullptr);
    ~SearchWindow() override;

    void SearchStarted() override;
    void SearchEnded() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    bool searching_ = false;
};

}  // namespace quorvane
