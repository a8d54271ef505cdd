#pragma once
// Devices for the list, and a helper that answers modal windows opened by
// exec() in the code under test.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "package/device_summary.h"

namespace quorvane::testing {

struct ListedDevice {
    MacAddress mac{};
    std::string name;
    uint16_t deviceId = 0x70FC;
    std::string letters = "QVX";
    uint8_t revisionId = 4;
    uint8_t versionSecond = 0;
    uint8_t versionThird = 2;
    uint16_t dateFirst = 6;
    uint8_t dateSecond = 3;
    uint8_t dateThird = 15;
};

// A record as discovery and the information query leave it: MAC and
// information block (vendor, device id, product 1, the revision).
std::unique_ptr<DeviceRecord> MakeListedRecord(const ListedDevice& device);

// Three devices whose every column sorts them differently, used by the
// tests and the screenshots.
std::vector<ListedDevice> SampleDevices();

// Answers the next modal window whose object name is `name` (or, for an
// empty name, any modal window) by calling `act` on it; with `repeat`, every
// showing of such a window. A window that never appears leaves Seen() false;
// after `limitMs` any modal window still open is closed, so a test fails
// instead of hanging.
class ModalAnswerer {
public:
    ModalAnswerer(QString name, std::function<void(QWidget*)> act, int limitMs = 5000, bool repeat = false);
    ~ModalAnswerer();
    bool Seen() const { return answered_ > 0; }
    int Answered() const { return answered_; }

private:
    void Poll();

    QString name_;
    std::function<void(QWidget*)> act_;
    int limitMs_;
    bool repeat_;
    int elapsedMs_ = 0;
    int answered_ = 0;
    bool acting_ = false;
    QWidget* answeredWindow_ = nullptr;  // the showing already answered
    QTimer timer_;
};

// Clicks the button of a message box or dialog whose text is `text`.
void ClickButton(QWidget* window, const QString& text);

}  // namespace quorvane::testing
