#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "app/gui/device_list_dialog.h"
#include "app/gui/progress_window.h"
#include "app/session_results.h"
#include "app/upgrade_command.h"
#include "gui_test_support.h"

namespace quorvane::testing {
namespace {

// What the screen looked like when a box came up.
struct Scene {
    int id = 0;
    QString modal;       // object name of the window in front of the list
    QString deviceLine;  // the progress window's device line
    bool waitCursor = false;
    bool guiThread = false;
};

// Scripted answers, and a note of the scene at every box.
class WatchingPrompter final : public Prompter {
public:
    void Tell(int id, const std::string& text, unsigned style) override {
        Note(id);
        script.Tell(id, text, style);
    }
    bool Ask(int id, const std::string& text, unsigned style) override {
        Note(id);
        if (onPrompt) onPrompt();
        return script.Ask(id, text, style);
    }

    ScriptedPrompter script;
    std::function<void()> onPrompt;  // called on the user-interface thread at every question
    std::vector<Scene> scenes;

private:
    void Note(int id) {
        Scene scene;
        scene.id = id;
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr) {
            scene.modal = modal->objectName();
            if (auto* line = modal->findChild<QLabel*>("device")) scene.deviceLine = line->text();
        }
        scene.waitCursor = QApplication::overrideCursor() != nullptr &&
                           QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        scene.guiThread = QThread::currentThread() == QApplication::instance()->thread();
        scenes.push_back(scene);
    }
};

MacAddress MacOf(uint8_t last) {
    return {0x00, 0x50, 0xC2, 0x10, 0x20, last};
}

class UpgradeFlowTest : public ::testing::Test {
protected:
    UpgradeFlowTest() : fleet({TestDevice(MacOf(0x0C)), TestDevice(MacOf(0x0A)), TestDevice(MacOf(0x0B))}) {
        EXPECT_TRUE(package.Open(WriteTestPackage(folder.Path())));
        restrictions.wantedProductId = 1;
        const char* names[] = {"north", "south", "east"};
        for (std::size_t i = 0; i < fleet.devices.size(); ++i) {
            ListedDevice listed;
            listed.mac = fleet.devices[i].mac;
            listed.name = names[i];
            records.push_back(MakeListedRecord(listed));
            devices.push_back(WithSummary(*records.back()));
        }
        dialog.SetSessionResults(&session);
        dialog.InitDialog("field.upk", package, devices);
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }

    void Select(std::initializer_list<int> rows) {
        dialog.List()->clearSelection();
        for (int row : rows) dialog.List()->topLevelItem(row)->setSelected(true);
    }

    std::vector<int> SelectedRows() {
        std::vector<int> rows;
        for (int row = 0; row < dialog.List()->topLevelItemCount(); ++row)
            if (dialog.List()->topLevelItem(row)->isSelected()) rows.push_back(row);
        return rows;
    }

    std::vector<QString> RowTexts() {
        std::vector<QString> texts;
        for (int row = 0; row < dialog.List()->topLevelItemCount(); ++row)
            for (int column = 0; column < 4; ++column)
                texts.push_back(dialog.List()->topLevelItem(row)->text(column));
        return texts;
    }

    test::TempFolder folder;
    UpgradePackage package;
    ScriptedNetwork fleet;
    Restrictions restrictions;
    WatchingPrompter prompter;
    std::vector<std::unique_ptr<DeviceRecord>> records;
    std::vector<AdmittedDevice> devices;
    SessionResults session;  // the program's, which every run of the dialogs records into
    DeviceListDialog dialog{fleet.protocol, restrictions, prompter};
};

TEST_F(UpgradeFlowTest, NoSelectionDoesNothing) {
    dialog.OnUpgrade();
    EXPECT_TRUE(prompter.scenes.empty());
    EXPECT_TRUE(fleet.link.sent.empty());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
}

struct Refusal {
    const char* name;
    std::function<void(Restrictions&)> set;
    std::vector<Prompt> prompts;
};

TEST_F(UpgradeFlowTest, RefusalsAndDeclinedWarningTouchNoDevice) {
    const std::string mac =
        "The MAC address of the device is not compatible with this upgrade file. Please use the correct "
        "upgrade file !";
    const std::string firmware =
        "The firmware currently inside this device is not compatible with this upgrade file. Please use the "
        "correct upgrade file !";
    const std::string warning =
        "Devices selected for upgrade will lose their configuration settings. Do you wish to continue?";
    const std::vector<Refusal> cases{
        {"other MAC",
         [](Restrictions& r) {
             r.macRestricted = true;
             r.wantedMac = MacOf(0x0A);
         },
         {{false, 153,
           mac + "\n00:50:c2:10:20:0c: MAC address 00:50:c2:10:20:0c, the package needs 00:50:c2:10:20:0a"
                 "\n00:50:c2:10:20:0b: MAC address 00:50:c2:10:20:0b, the package needs 00:50:c2:10:20:0a",
           0}}},
        // Each refused device follows with its value and the package's.
        {"other product",
         [](Restrictions& r) { r.wantedProductId = 7; },
         {{false, 152,
           firmware + "\n00:50:c2:10:20:0c: product 1, the package needs 7\n00:50:c2:10:20:0b: product 1, "
                      "the package "
                      "needs 7",
           0}}},
        {"other revision",
         [](Restrictions& r) { r.wantedRevisionId = 9; },
         {{false, 152,
           firmware +
               "\n00:50:c2:10:20:0c: revision 4, the package needs 9\n00:50:c2:10:20:0b: revision 4, the "
               "package needs 9",
           0}}},
        {"warning declined", [](Restrictions& r) { r.defaultsWarning = 1; }, {{true, 149, warning, 0x24}}},
    };
    Select({0, 2});
    const std::vector<QString> before = RowTexts();
    for (const Refusal& c : cases) {
        restrictions = Restrictions{};
        restrictions.wantedProductId = 1;
        c.set(restrictions);
        prompter.script.prompts.clear();
        prompter.scenes.clear();
        prompter.script.answers = {false};
        dialog.OnUpgrade();
        EXPECT_EQ(prompter.script.prompts, c.prompts) << c.name;
        // Nothing is about to run, so no progress window stands behind the box.
        for (const Scene& scene : prompter.scenes) EXPECT_NE(scene.modal, "progress_window") << c.name;
        EXPECT_TRUE(fleet.link.sent.empty()) << c.name;
        EXPECT_TRUE(dialog.isVisible()) << c.name;
        EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 2})) << c.name;
        EXPECT_EQ(RowTexts(), before) << c.name;
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(UpgradeFlowTest, FailingDeviceIsRetriedThenGivenUpAndTheNextOneRuns) {
    fleet.devices[1].failingRuns = ALWAYS_FAILS;
    prompter.script.answers = {true, false};
    Select({0, 1, 2});
    dialog.OnUpgrade();

    EXPECT_EQ(fleet.ScriptRuns(),
              (std::vector<MacAddress>{MacOf(0x0C), MacOf(0x0A), MacOf(0x0A), MacOf(0x0B)}));
    EXPECT_EQ(prompter.script.Ids(), (std::vector<int>{146, 146, 147, 148}));
    const Prompt& retry = prompter.script.prompts[0];
    EXPECT_EQ(retry.text,
              "Upgrade failed on device with MAC address 00:50:c2:10:20:0a.\nWould you like to retry the "
              "upgrade now?\n\nline 2 ERASE 3: no answer to ERASE after 16 sends");
    EXPECT_EQ(retry.style, 0x14u);
    EXPECT_EQ(prompter.script.prompts[3].style, 0x40u);
    // The completion names the device given up, and why.
    EXPECT_TRUE(prompter.script.prompts[3].text.ends_with(
        "\n\n00:50:c2:10:20:0a: line 2 ERASE 3: no answer to ERASE after 16 sends"))
        << prompter.script.prompts[3].text;
    EXPECT_EQ(dialog.result(), REFRESH_RESULT);
    EXPECT_FALSE(dialog.isVisible());

    // Boxes come up on the user-interface thread, the retry prompts over the
    // progress window under the wait cursor while the device is being dealt
    // with, the completion message once the window has gone.
    ASSERT_EQ(prompter.scenes.size(), 4u);
    for (const Scene& scene : prompter.scenes) EXPECT_TRUE(scene.guiThread) << scene.id;
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(prompter.scenes[i].modal, "progress_window") << i;
    EXPECT_NE(prompter.scenes[3].modal, "progress_window");
    EXPECT_EQ(prompter.scenes[0].deviceLine, "Upgrading device 2 of 3 (00:50:c2:10:20:0a)");
    EXPECT_TRUE(prompter.scenes[0].waitCursor);
    EXPECT_TRUE(prompter.scenes[2].waitCursor);   // message 147: the device is not done with yet
    EXPECT_FALSE(prompter.scenes[3].waitCursor);  // the completion message
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(UpgradeFlowTest, AllFailingLeavesTheDialogOpenWithRowsAndSelection) {
    for (SimulatedDevice& device : fleet.devices) device.failingRuns = ALWAYS_FAILS;
    prompter.script.answers = {false, false};
    Select({0, 2});
    const std::vector<QString> before = RowTexts();
    dialog.OnUpgrade();
    EXPECT_EQ(prompter.script.Ids(), (std::vector<int>{146, 147, 146, 147}));
    EXPECT_EQ(fleet.ScriptRuns(), (std::vector<MacAddress>{MacOf(0x0C), MacOf(0x0B)}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), REFRESH_RESULT);
    EXPECT_EQ(RowTexts(), before);
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 2}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(UpgradeFlowTest, SelectedDevicesRunInListOrderAfterASort) {
    dialog.OnColumnClick(1);  // MAC order: ...0a, ...0b, ...0c
    Select({0, 1, 2});
    dialog.OnUpgrade();
    EXPECT_EQ(fleet.ScriptRuns(), (std::vector<MacAddress>{MacOf(0x0A), MacOf(0x0B), MacOf(0x0C)}));
    EXPECT_EQ(prompter.script.Ids(), (std::vector<int>{148}));
    EXPECT_EQ(dialog.result(), REFRESH_RESULT);
}

// Holds every receive of the worker until the test opens the gate, as a
// device that is slow to answer would.
class GatedTransport final : public Transport {
public:
    explicit GatedTransport(Transport& inner) : inner_(inner) {}
    bool Send(uint32_t address, std::span<const uint8_t> datagram) override {
        return inner_.Send(address, datagram);
    }
    using Transport::Receive;
    int Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) override {
        {
            std::unique_lock lock(mutex_);
            if (!opened_.wait_for(lock, std::chrono::seconds(5), [this] { return open_; })) timedOut = true;
        }
        return inner_.Receive(sender, buffer, wait);
    }
    std::chrono::milliseconds ReceiveWait() const override { return inner_.ReceiveWait(); }
    std::chrono::milliseconds Now() const override { return inner_.Now(); }
    void Open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    std::atomic<bool> timedOut{false};

private:
    Transport& inner_;
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

TEST_F(UpgradeFlowTest, WindowKeepsUpdatingWhileADeviceIsSilent) {
    GatedTransport gate(fleet.link);
    DeviceChain chain;
    DeviceProtocol slowProtocol(gate, chain);
    DeviceListDialog slowDialog(slowProtocol, restrictions, prompter);
    slowDialog.InitDialog("field.upk", package, devices);
    slowDialog.show();
    slowDialog.List()->topLevelItem(2)->setSelected(true);

    // Runs on the user-interface thread while the worker waits in a receive:
    // it could not run at all if that thread were blocked.
    int ticks = 0;
    QString shown;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->objectName() != "progress_window") return;
        if (++ticks < 3) return;
        modal->repaint();  // a paint now, while the device keeps silent
        shown =
            modal->findChild<QLabel*>("device")->text() + " | " + modal->findChild<QLabel*>("line")->text();
        watcher.stop();
        gate.Open();
    });
    watcher.start(5);
    slowDialog.OnUpgrade();
    EXPECT_FALSE(gate.timedOut);
    EXPECT_EQ(shown, "Upgrading device 1 of 1 (00:50:c2:10:20:0b) | Line 1: SETPROGRAMMODE");
    EXPECT_EQ(prompter.script.Ids(), (std::vector<int>{148}));
    EXPECT_EQ(slowDialog.result(), REFRESH_RESULT);
}

// Cancel and Escape in the progress window stop the run after the
// exchange under way: the first device is left mid-script, the others are
// never started, one box names them, and the list stays with each row's
// last result.
TEST_F(UpgradeFlowTest, CancelAndEscapeStopAfterTheExchangeUnderWay) {
    const struct {
        const char* name;
        std::function<void(ProgressWindow*)> stop;
    } cases[] = {
        {"Cancel", [](ProgressWindow* w) { QTest::mouseClick(w->CancelButton(), Qt::LeftButton); }},
        {"Escape", [](ProgressWindow* w) { QTest::keyClick(w, Qt::Key_Escape); }},
    };
    for (const auto& c : cases) {
        session.Clear();
        fleet.link.sent.clear();
        prompter.script.prompts.clear();
        GatedTransport gate(fleet.link);
        DeviceChain chain;
        DeviceProtocol slowProtocol(gate, chain);
        DeviceListDialog slowDialog(slowProtocol, restrictions, prompter);
        slowDialog.SetSessionResults(&session);
        slowDialog.InitDialog("field.upk", package, devices);
        slowDialog.show();
        for (int row = 0; row < 3; ++row) slowDialog.List()->topLevelItem(row)->setSelected(true);
        QString notice;
        bool cancelEnabled = true;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            auto* window = qobject_cast<ProgressWindow*>(QApplication::activeModalWidget());
            if (window == nullptr || window->findChild<QLabel*>("line")->text().isEmpty()) return;
            watcher.stop();
            c.stop(window);  // while the first request waits for its answer
            notice = window->findChild<QLabel*>("notice")->text();
            cancelEnabled = window->CancelButton()->isEnabled();
            gate.Open();
        });
        watcher.start(5);
        slowDialog.OnUpgrade();

        EXPECT_FALSE(gate.timedOut) << c.name;
        EXPECT_EQ(notice, "Stopping after the exchange under way...") << c.name;
        EXPECT_FALSE(cancelEnabled) << c.name;
        EXPECT_EQ(fleet.Trace(), std::vector<std::string>{"PROGRAMMODE"}) << c.name;
        EXPECT_EQ(prompter.script.prompts,
                  (std::vector<Prompt>{{false, 188,
                                        "Interrupted; 00:50:c2:10:20:0c was left mid-script and is probably still "
                                        "in programming mode.\nNot started: 00:50:c2:10:20:0a, 00:50:c2:10:20:0b.",
                                        BOX_OK | ICON_WARNING}}))
            << c.name;
        EXPECT_TRUE(slowDialog.isVisible()) << c.name;
        EXPECT_NE(slowDialog.result(), REFRESH_RESULT) << c.name;
        std::vector<QString> last;
        for (int row = 0; row < 3; ++row) last.push_back(slowDialog.List()->topLevelItem(row)->text(5));
        EXPECT_EQ(last, (std::vector<QString>{"interrupted", "", ""})) << c.name;
    }
}

// The keyboard alone: the list has the focus, Enter upgrades the selection,
// and so does Alt+U.
TEST_F(UpgradeFlowTest, EnterOnTheListAndAltUUpgradeTheSelection) {
    const struct {
        const char* name;
        std::function<void(DeviceListDialog&)> press;
    } cases[] = {
        {"Alt+U", [](DeviceListDialog& d) { QTest::keyClick(d.List(), Qt::Key_U, Qt::AltModifier); }},
        {"Enter", [](DeviceListDialog& d) { QTest::keyClick(d.List(), Qt::Key_Return); }},
    };
    for (const auto& c : cases) {
        // A showing anew, as after the last case's completed upgrade.
        dialog.InitDialog("field.upk", package, devices);
        dialog.setResult(0);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog)) << c.name;
        EXPECT_EQ(QApplication::focusWidget(), dialog.List()) << c.name;
        QTest::keyClick(dialog.List(), Qt::Key_Down);  // a row, selected
        ASSERT_EQ(SelectedRows().size(), 1u) << c.name;
        const std::size_t runs = fleet.ScriptRuns().size();
        prompter.script.prompts.clear();
        c.press(dialog);
        // A mnemonic presses its button the way a click looks: a moment later.
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.result() == REFRESH_RESULT; }, 2000)) << c.name;
        EXPECT_EQ(fleet.ScriptRuns().size(), runs + 1) << c.name;
        EXPECT_EQ(prompter.script.Ids(), (std::vector<int>{148})) << c.name;
        EXPECT_EQ(dialog.result(), REFRESH_RESULT) << c.name;
    }
}

// A run that leaves the list open shows each device's result in its row.
TEST_F(UpgradeFlowTest, LastResultColumnShowsThisSessionsRuns) {
    fleet.devices[2].failingRuns = ALWAYS_FAILS;
    prompter.script.answers = {false};
    Select({2});
    dialog.OnUpgrade();
    std::vector<QString> last;
    for (int row = 0; row < 3; ++row) last.push_back(dialog.List()->topLevelItem(row)->text(5));
    EXPECT_EQ(last, (std::vector<QString>{"", "", "failed"}));
    EXPECT_EQ(dialog.List()->headerItem()->text(5), "Last result");
}

// The window shows the pace and resends the command reports with each
// transfer step, and the final resend count once the device is done.
TEST(ProgressWindow, ShowsRateTimeLeftAndResends) {
    ProgressWindow window;
    ProgressRelay relay(window);
    auto text = [&](const char* name) {
        QCoreApplication::processEvents();
        return window.findChild<QLabel*>(name)->text();
    };
    DeviceRecord record;
    record.mac = {0x00, 0x50, 0xC2, 0x00, 0x00, 0x07};
    relay.OnDeviceStart(1, 3, record);
    TransferStep step{"FIRMWARE.BIN", 24576, 65536, {}, {}};
    step.exchanges.resends = 2;
    relay.OnDeviceTransfer(1, step);
    EXPECT_EQ(text("transfer"), "FIRMWARE.BIN: 24576 of 65536 bytes");
    EXPECT_EQ(text("pace"), "") << "too early to tell a rate";
    EXPECT_EQ(text("resends"), "Resends: 2");
    step.done = 32768;
    step.pace = {true, 20480.0, std::chrono::seconds(95)};
    relay.OnDeviceTransfer(1, step);
    EXPECT_EQ(text("pace"), "20.0 KiB/s, 1:35 left");
    DeviceCounters counters;
    counters.exchanges.resends = 3;
    relay.OnDeviceCounters(1, counters);
    EXPECT_EQ(text("resends"), "Resends: 3");
    relay.OnDeviceStart(2, 3, record);
    EXPECT_EQ(text("pace"), "");
    EXPECT_EQ(text("resends"), "");
}

// Run in turn, a device waited for after its reset ends while the next
// device is shown: the window keeps the shown device's resends and its
// wait cursor.
TEST(ProgressWindow, ADeviceEndingBehindTheShownOneLeavesItsResendsAndCursor) {
    ProgressWindow window;
    ProgressRelay relay(window);
    auto text = [&](const char* name) {
        QCoreApplication::processEvents();
        return window.findChild<QLabel*>(name)->text();
    };
    DeviceRecord first;
    first.mac = {0x00, 0x50, 0xC2, 0x00, 0x00, 0x07};
    DeviceRecord second;
    second.mac = {0x00, 0x50, 0xC2, 0x00, 0x00, 0x08};
    relay.OnDeviceStart(0, 2, first);
    relay.OnDeviceWaiting(0, "Waiting for the device to come back", {});
    EXPECT_EQ(text("pace"), "Waiting for the device to come back");
    relay.OnDeviceStart(1, 2, second);
    TransferStep step{"FIRMWARE.BIN", 24576, 65536, {}, {}};
    step.exchanges.resends = 2;
    relay.OnDeviceTransfer(1, step);
    DeviceCounters counters;
    counters.exchanges.resends = 7;
    relay.OnDeviceCounters(0, counters);
    relay.OnDeviceEnd(0, true);
    EXPECT_EQ(text("resends"), "Resends: 2");
    EXPECT_EQ(text("device"), "Upgrading device 2 of 2 (00:50:c2:00:00:08)");
    EXPECT_NE(QApplication::overrideCursor(), nullptr) << "the shown device is still under way";
    relay.OnDeviceEnd(1, true);
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// While an exchange is sent again the window says so, and its resends
// count at once, not only when the device is done.
TEST(ProgressWindow, AnExchangeSentAgainShowsItsWaitAndItsResends) {
    ProgressWindow window;
    ProgressRelay relay(window);
    auto text = [&](const char* name) {
        QCoreApplication::processEvents();
        return window.findChild<QLabel*>(name)->text();
    };
    DeviceRecord record;
    record.mac = {0x00, 0x50, 0xC2, 0x00, 0x00, 0x07};
    relay.OnDeviceStart(0, 1, record);
    relay.OnDeviceTransfer(0, {"FW.BIN", 1100, 1100, {}, {}});
    ExchangeStats exchanges;
    exchanges.resends = 4;
    relay.OnDeviceWaiting(0, "waiting for LOAD_VERIFY, send 5 of 16", exchanges);
    EXPECT_EQ(text("pace"), "waiting for LOAD_VERIFY, send 5 of 16");
    EXPECT_EQ(text("resends"), "Resends: 4");
    relay.OnDeviceWaiting(0, "", exchanges);
    EXPECT_EQ(text("pace"), "");
}

// Counts the calls posted to an object, as a flood of them would show.
class PostedCalls final : public QObject {
public:
    explicit PostedCalls(QObject& target) { target.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::MetaCall;
        return false;
    }
    int count = 0;
};

// Side by side: a row only for a device under way or done, in selection
// order; a burst of transfer steps is one event to the window and shows
// within a tenth of a second, a transfer's last step and a device's end at once.
TEST(ProgressWindow, RowsOfDevicesUnderWayOrDoneGatherTheirSteps) {
    std::vector<DeviceRecord> records(3);
    std::vector<DeviceRecord*> selected;
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].mac = {0x00, 0x50, 0xC2, 0x00, 0x00, static_cast<uint8_t>(i + 1)};
        selected.push_back(&records[i]);
    }
    RunModel model(selected);
    ProgressWindow window(nullptr, 3);
    std::vector<ProgressRow> rows;
    for (const DeviceResult& device : model.devices) rows.push_back(RowOf(device));
    window.SetDevices(rows);
    ProgressRelay relay(window, {}, &model);
    const auto shown = [&] {
        std::vector<QString> texts;
        for (int row = 0; row < window.Rows()->topLevelItemCount(); ++row)
            texts.push_back(window.Rows()->topLevelItem(row)->text(0) + " " +
                            window.Rows()->topLevelItem(row)->text(4));
        return texts;
    };
    EXPECT_TRUE(shown().empty()) << "no device is under way yet";
    DeviceResult& second = model.devices[1];
    second.state = DeviceState::Running;
    relay.OnDeviceStart(1, 3, records[1]);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), std::vector<QString>{"00:50:c2:00:00:02 "});

    PostedCalls posted(window);
    second.fileName = "FW.BIN";
    second.total = 1000;
    for (second.done = 0; second.done < 1000; second.done += 2)
        relay.OnDeviceTransfer(1, TransferStep{"FW.BIN", second.done, 1000, {}, {}});
    QCoreApplication::processEvents();
    EXPECT_EQ(posted.count, 1) << "500 steps of one device";
    EXPECT_EQ(shown(), std::vector<QString>{"00:50:c2:00:00:02 "}) << "shown only with the next repaint";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return shown() == std::vector<QString>{"00:50:c2:00:00:02 998 of 1000"}; }, 1000));
    second.done = 1000;
    relay.OnDeviceTransfer(1, TransferStep{"FW.BIN", 1000, 1000, {}, {}});
    model.devices[0].state = DeviceState::Failed;
    relay.OnDeviceEnd(0, false);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), (std::vector<QString>{"00:50:c2:00:00:01 ", "00:50:c2:00:00:02 1000 of 1000"}));
}

// Fewer devices at once than asked, for want of descriptors: the window
// says so above the rows, in upgradectl's words.
TEST(ProgressWindow, FewerDevicesAtOnceAreSaid) {
    ProgressWindow window(nullptr, 64);
    ProgressRelay relay(window);
    auto* notice = window.findChild<QLabel*>("notice");
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isHidden());
    relay.OnJobsLowered(64, 20, "at most 64 files may be open");
    QCoreApplication::processEvents();
    EXPECT_FALSE(notice->isHidden());
    EXPECT_EQ(notice->text(),
              "Only 20 of 64 devices can be upgraded at once here (at most 64 files may be open); the others "
              "wait for a free place.");
}

// Side by side: a row per device while they run, no question until the
// batch is done, then one box offering the failed device a retry, which
// succeeds; the completion box last.
TEST_F(UpgradeFlowTest, DevicesSideBySideShowARowEachAndAreRetriedTogether) {
    std::map<MacAddress, std::unique_ptr<ScriptedNetwork>> networks;
    for (const SimulatedDevice& device : fleet.devices)
        networks[device.mac] = std::make_unique<ScriptedNetwork>(std::initializer_list<SimulatedDevice>{
            TestDevice(device.mac, {}, device.mac == MacOf(0x0A) ? 1 : 0)});
    std::mutex lock;
    DeviceListDialog sideBySide(fleet.protocol, restrictions, prompter);
    sideBySide.SetLinkFactory([&](const DeviceRecord& record, std::string&) -> std::unique_ptr<Transport> {
        const std::lock_guard<std::mutex> guard(lock);
        return std::make_unique<ForwardingTransport>(networks.at(record.mac)->link);
    });
    sideBySide.InitDialog("field.upk", package, devices);
    sideBySide.SetJobs(3);
    sideBySide.show();
    for (int row = 0; row < 3; ++row) sideBySide.List()->topLevelItem(row)->setSelected(true);
    // What the rows said when the retry question came.
    std::vector<QString> rows;
    prompter.script.answers = {true};
    prompter.onPrompt = [&] {
        auto* window = QApplication::activeModalWidget();
        auto* table = window != nullptr ? window->findChild<QTreeWidget*>("device_rows") : nullptr;
        if (table == nullptr || !rows.empty()) return;
        for (int row = 0; row < table->topLevelItemCount(); ++row)
            rows.push_back(table->topLevelItem(row)->text(0) + " " + table->topLevelItem(row)->text(2));
    };
    sideBySide.OnUpgrade();

    EXPECT_EQ(prompter.script.prompts,
              (std::vector<Prompt>{{true, 162,
                                    "Upgrade failed on the device with MAC address 00:50:c2:10:20:0a.\n"
                                    "00:50:c2:10:20:0a: line 2 ERASE 3: no answer to ERASE after 16 sends\n"
                                    "Would you like to retry the upgrade on it now?",
                                    BOX_YES_NO | ICON_STOP},
                                   {false, 148,
                                    "Upgrade complete. Please use the Manager to reconfigure any upgraded devices.",
                                    BOX_OK | ICON_INFORMATION}}));
    // A failed row says why.
    EXPECT_EQ(rows, (std::vector<QString>{
                        "00:50:c2:10:20:0c upgraded",
                        "00:50:c2:10:20:0a failed: line 2 ERASE 3: no answer to ERASE after 16 sends",
                        "00:50:c2:10:20:0b upgraded"}));
    EXPECT_EQ(networks[MacOf(0x0A)]->ScriptRuns().size(), 2u);
    EXPECT_EQ(networks[MacOf(0x0B)]->ScriptRuns().size(), 1u);
    EXPECT_TRUE(fleet.link.sent.empty()) << "no device went over the list's own link";
    EXPECT_EQ(sideBySide.result(), REFRESH_RESULT);
}

}  // namespace
}  // namespace quorvane::testing
