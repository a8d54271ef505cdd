#include "gui_test_support.h"

#include <QAbstractButton>
#include <QDialog>
#include <QTest>

namespace quorvane::testing {

std::unique_ptr<DeviceRecord> MakeListedRecord(const ListedDevice& device) {
    auto record = std::make_unique<DeviceRecord>();
    record->mac = device.mac;
    record->infoBlock =
        Join({IdentityRecord(PRIMARY_VENDOR, device.deviceId),
              FirmwareRecord(device.revisionId, 1, device.versionSecond, device.versionThird,
                             device.dateFirst, device.dateSecond, device.dateThird, device.letters),
              NamingRecord(device.name, "")});
    return record;
}

std::vector<ListedDevice> SampleDevices() {
    ListedDevice lab{{0x00, 0x50, 0xC2, 0x1A, 0x2B, 0x3C}, "lab-bench", 0x70F8, "QVB", 4, 0, 2, 6, 3, 15};
    ListedDevice store{{0x00, 0x50, 0xC2, 0x00, 0x00, 0x07}, "Storeroom", 0x58FC, "QVA", 3, 1, 9, 5, 11, 2};
    ListedDevice unnamed{{0x00, 0x50, 0xC2, 0x09, 0x00, 0x01}, "", 0x68F4, "QVC", 4, 0, 0, 7, 0, 0};
    return {lab, store, unnamed};
}

ModalAnswerer::ModalAnswerer(QString name, std::function<void(QWidget*)> act, int limitMs, bool repeat)
    : name_(std::move(name)), act_(std::move(act)), limitMs_(limitMs), repeat_(repeat) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
}

ModalAnswerer::~ModalAnswerer() {
    timer_.stop();
}

void ModalAnswerer::Poll() {
    // An answer may open further windows with their own event loops.
    if (acting_) return;
    elapsedMs_ += timer_.interval();
    QWidget* modal = QApplication::activeModalWidget();
    const bool wanted =
        modal != nullptr && modal->isVisible() && (name_.isEmpty() || modal->objectName() == name_);
    if (wanted && modal != answeredWindow_) {
        answeredWindow_ = modal;
        ++answered_;
        acting_ = true;
        act_(modal);
        acting_ = false;
        if (!repeat_) timer_.stop();
        return;
    }
    if (!wanted) answeredWindow_ = nullptr;  // the next showing is a new one
    if (elapsedMs_ < limitMs_) return;
    timer_.stop();
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->done(-1);
}

void ClickButton(QWidget* window, const QString& text) {
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->text().remove(u'&') == text) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString() << " in " << window->objectName().toStdString();
}

}  // namespace quorvane::testing
