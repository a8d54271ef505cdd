#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <deque>
#include <fstream>
#include <thread>

#include "app/gui/command_line.h"
#include "app/gui/device_list_dialog.h"
#include "app/gui/event_pumping_transport.h"
#include "app/gui/file_chooser.h"
#include "app/gui/gui_text.h"
#include "app/gui/message_box_prompter.h"
#include "app/gui/search_window.h"
#include "app/gui/upgrade_app.h"
#include "app/upgrade_command.h"
#include "gui_test_support.h"

namespace quorvane::testing {
namespace {

// The real dialog, driven by a list of actions, one per showing; notes what
// each showing found.
class DrivenScreen final : public DeviceListScreen {
public:
    DrivenScreen(DeviceListDialog& dialog, std::deque<std::function<void(DeviceListDialog&)>> actions)
        : dialog_(dialog), actions_(std::move(actions)) {}

    int Show(const std::string& name, UpgradePackage& package,
             std::vector<AdmittedDevice>& devices) override {
        rows.push_back(static_cast<int>(devices.size()));
        scriptExtracted.push_back(std::filesystem::exists(package.WorkFile("PROGRAM.CMD")));
        searchVisible.push_back(search != nullptr && search->isVisible());
        std::function<void(DeviceListDialog&)> act = [](DeviceListDialog& d) { d.reject(); };
        if (!actions_.empty()) {
            act = actions_.front();
            actions_.pop_front();
        }
        ModalAnswerer answerer("device_list_dialog", [&](QWidget*) { act(dialog_); });
        const int result = dialog_.Show(name, package, devices);
        listedRows.push_back(static_cast<int>(devices.size()));
        return result;
    }

    std::vector<int> rows;
    std::vector<int> listedRows;
    std::vector<bool> scriptExtracted;
    std::vector<bool> searchVisible;
    SearchWindow* search = nullptr;

private:
    DeviceListDialog& dialog_;
    std::deque<std::function<void(DeviceListDialog&)>> actions_;
};

bool AnyWindowVisible() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible()) return true;
    return false;
}

class SessionTest : public ::testing::Test {
protected:
    SessionTest() : fleet({Device(1), Device(2)}) {}
    static SimulatedDevice Device(uint8_t last) { return TestDevice({0x00, 0x50, 0xC2, 0x33, 0x44, last}); }
    bool Run(DeviceListScreen& screen, SearchIndicator* search = nullptr) {
        return RunProgram({prompter, chooser, screen, search}, package, fleet.protocol, restrictions);
    }

    test::TempFolder folder;
    ScriptedNetwork fleet;
    Restrictions restrictions;
    ScriptedPrompter prompter;
    ScriptedChooser chooser;
    UpgradePackage package;
    DeviceListDialog dialog{fleet.protocol, restrictions, prompter};
};

TEST_F(SessionTest, CancelInTheFirstPromptEndsWithNoOtherWindow) {
    DrivenScreen screen(dialog, {});
    EXPECT_FALSE(Run(screen));
    EXPECT_EQ(chooser.prompts, 1);
    EXPECT_TRUE(prompter.prompts.empty());
    EXPECT_TRUE(screen.rows.empty());
    EXPECT_TRUE(fleet.link.sent.empty());
    EXPECT_FALSE(AnyWindowVisible());
}

TEST_F(SessionTest, InvalidFileGivesMessage126AndANewPrompt) {
    const auto junk = folder.Path() / "notes.upk";
    std::ofstream(junk) << "not a package";
    chooser.choices = {junk, junk};
    DrivenScreen screen(dialog, {});
    EXPECT_FALSE(Run(screen));
    EXPECT_EQ(chooser.prompts, 3);
    EXPECT_EQ(prompter.prompts, (std::vector<Prompt>{{false, 126, "Invalid Upgrade File", 0},
                                                     {false, 126, "Invalid Upgrade File", 0}}));
    EXPECT_TRUE(screen.rows.empty());
}

TEST_F(SessionTest, RefreshRunsANewPassAndDoneDeletesTheMembersAndEnds) {
    chooser.choices = {WriteTestPackage(folder.Path(), "field.upk")};
    SearchWindow search;
    std::vector<bool> searchShownAtDiscovery;
    fleet.link.responder = [&, answer = fleet.link.responder](std::span<const uint8_t> request,
                                                              FakeTransport& to) {
        if (request.size() > 1 && request[1] == OP_DISCOVER)
            searchShownAtDiscovery.push_back(search.isVisible() && QApplication::overrideCursor() != nullptr);
        answer(request, to);
    };
    DrivenScreen screen(dialog,
                        {[](DeviceListDialog& d) { QTest::mouseClick(d.Button(1004), Qt::LeftButton); },
                         [](DeviceListDialog& d) { QTest::mouseClick(d.Button(2), Qt::LeftButton); }});
    screen.search = &search;
    EXPECT_TRUE(Run(screen, &search));
    EXPECT_EQ(chooser.prompts, 1);
    EXPECT_EQ(screen.rows, (std::vector<int>{2, 2}));
    EXPECT_EQ(screen.scriptExtracted, (std::vector<bool>{true, true}));
    EXPECT_EQ(searchShownAtDiscovery, (std::vector<bool>{true, true}));
    EXPECT_EQ(screen.searchVisible, (std::vector<bool>{false, false}));  // gone before the list shows
    EXPECT_EQ(fleet.Sends(OP_DISCOVER), 2);
    EXPECT_FALSE(package.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(package.WorkFile("PROGRAM.CMD")));
    EXPECT_TRUE(fleet.chain.Empty());
    EXPECT_EQ(dialog.windowTitle(), "Quorvane Firmware Upgrade: field.upk");
    EXPECT_FALSE(AnyWindowVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Enter on the list upgrades the selection: with none, the list stays.
TEST_F(SessionTest, EnterOnTheListWithoutASelectionKeepsTheList) {
    chooser.choices = {WriteTestPackage(folder.Path())};
    DrivenScreen screen(dialog, {[](DeviceListDialog& d) {
        QTest::keyClick(d.List(), Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(d.List(), Qt::Key_Escape);
    }});
    EXPECT_TRUE(Run(screen));
    EXPECT_EQ(screen.rows.size(), 1u);
    EXPECT_TRUE(prompter.prompts.empty());
}

// The whole program over a real socket on loopback: nothing answers there,
// so every pass admits no device.
AppOptions LoopbackOptions(std::filesystem::path package) {
    AppOptions options;
    options.endpoint.broadcastAddress = LOCALHOST;
    options.endpoint.port = 9;  // discard: no device listens
    options.endpoint.receiveWait = std::chrono::milliseconds(20);
    options.package = std::move(package);
    return options;
}

TEST(UpgradeApp, NamedInvalidPackageIsToldThenThePromptCancelEnds) {
    test::TempFolder folder;
    const auto junk = folder.Path() / "junk.upk";
    std::ofstream(junk) << "junk";
    QString told;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    ModalAnswerer box("message_box", [&](QWidget* widget) {
        told = static_cast<QMessageBox*>(widget)->text();
        icon = static_cast<QMessageBox*>(widget)->icon();
        ClickButton(widget, "OK");
    });
    ModalAnswerer prompt("package_chooser", [](QWidget* widget) { QTest::keyClick(widget, Qt::Key_Escape); });
    UpgradeApp app(LoopbackOptions(junk));
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(box.Seen());
    EXPECT_EQ(told, "Invalid Upgrade File");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_TRUE(prompt.Seen());
    EXPECT_FALSE(AnyWindowVisible());
}

// No device answers: the hint of what to look at comes once, before the
// empty list.
TEST(UpgradeApp, NamedPackageShowsTheListAndDoneEnds) {
    test::TempFolder folder;
    const auto path = WriteTestPackage(folder.Path(), "field.upk");
    QString title;
    int rows = -1;
    QString hint;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    ModalAnswerer box("message_box", [&](QWidget* widget) {
        hint = static_cast<QMessageBox*>(widget)->text();
        icon = static_cast<QMessageBox*>(widget)->icon();
        ClickButton(widget, "OK");
    });
    ModalAnswerer list("device_list_dialog", [&](QWidget* widget) {
        auto* dialog = static_cast<DeviceListDialog*>(widget);
        title = dialog->windowTitle();
        rows = dialog->List()->topLevelItemCount();
        QTest::mouseClick(dialog->Button(2), Qt::LeftButton);
    });
    UpgradeApp app(LoopbackOptions(path));
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(list.Seen());
    EXPECT_EQ(title, "Quorvane Firmware Upgrade: field.upk");
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(box.Answered(), 1);
    EXPECT_EQ(hint,
              "No device answered the discovery sent by lo (127.0.0.1) to 127.0.0.1 port 9\n"
              "The program started with --interface NAME sends by another interface\n"
              "A host firewall must let the replies in, for example: sudo nft add rule inet filter input udp "
              "sport 9 accept");
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(folder.Path()));
    EXPECT_FALSE(AnyWindowVisible());
}

TEST(EventPumpingTransport, RepaintsOnlyOnTheUserInterfaceThread) {
    FakeTransport link;
    EventPumpingTransport pumping(link);
    uint32_t sender = 0;
    std::array<uint8_t, 16> buffer{};
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    std::thread([&] { EXPECT_EQ(pumping.Receive(sender, buffer), -1); }).join();
    EXPECT_FALSE(ran);  // a worker's receive leaves this thread's events alone
    EXPECT_EQ(pumping.Receive(sender, buffer), -1);
    EXPECT_TRUE(ran);
    EXPECT_EQ(link.receives, 2);
}

TEST(FileChooser, PromptIsSetUpForPackages) {
    QFileDialog dialog;
    FileChooser::SetUp(dialog);
    EXPECT_EQ(dialog.windowTitle(), "Select Upgrade File");
    EXPECT_EQ(dialog.defaultSuffix(), "upk");
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog.nameFilters(), (QStringList{"Quorvane Upgrade Files (*.upk)", "All Files (*)"}));
    EXPECT_EQ(dialog.selectedNameFilter(), "Quorvane Upgrade Files (*.upk)");
}

TEST(FileChooser, TypedNameIsChosenAndCancelChoosesNothing) {
    test::TempFolder folder;
    const auto path = WriteTestPackage(folder.Path(), "typed.upk");
    FileChooser chooser;
    {
        ModalAnswerer answerer("package_chooser", [&](QWidget* box) {
            auto* edit = box->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(edit, nullptr);
            // Without an extension: the default one completes the name.
            edit->setText(QString::fromStdString((folder.Path() / "typed").string()));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        const auto chosen = chooser.Choose();
        EXPECT_TRUE(answerer.Seen());
        ASSERT_TRUE(chosen.has_value());
        EXPECT_EQ(std::filesystem::canonical(*chosen), std::filesystem::canonical(path));
    }
    {
        ModalAnswerer answerer("package_chooser", [](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
        EXPECT_FALSE(chooser.Choose().has_value());
        EXPECT_TRUE(answerer.Seen());
    }
}

TEST(FileChooser, NamedPackageComesFirstThenThePrompt) {
    ScriptedChooser next;
    next.choices = {std::filesystem::path("b.upk")};
    FirstChoiceChooser chooser(std::filesystem::path("a.upk"), next);
    EXPECT_EQ(chooser.Choose(), std::filesystem::path("a.upk"));
    EXPECT_EQ(next.prompts, 0);
    EXPECT_EQ(chooser.Choose(), std::filesystem::path("b.upk"));
    EXPECT_EQ(chooser.Choose(), std::nullopt);
    EXPECT_EQ(next.prompts, 2);
}

TEST(ChooserFilter, TableFiltersBecomeQtFilters) {
    const std::vector<std::pair<std::string, QString>> cases{
        {"Quorvane Upgrade Files (*.upk)|*.upk|All Files (*.*)|*.*||",
         "Quorvane Upgrade Files (*.upk);;All Files (*)"},
        {"Packages|*.upk;*.pkg||", "Packages (*.upk *.pkg)"},
        {"", ""},
        {"Dangling|", ""},
    };
    for (const auto& [table, expected] : cases) EXPECT_EQ(ChooserFilter(table), expected) << table;
}

TEST(ExternalText, ControlsShowAsQuestionMarksAndOnlyBoxTextsKeepLineFeeds) {
    struct Case {
        std::string bytes;
        const char* text;   // a cell, a label, a title (UTF-8)
        const char* lines;  // a message box
    };
    const Case cases[] = {
        {"A\u202Eevil.exe", "A?evil.exe", "A?evil.exe"},                 // else it reads "Aexe.live"
        {"\u2066x\u2069", "?x?", "?x?"},                                 // isolates
        {"\x1b[2Jname\x7f", "?[2Jname?", "?[2Jname?"},                   // ESC, DEL
        {"c1\xc2\x9bJ", "c1?J", "c1?J"},                                 // C1 CSI as a character
        {"Lager-S\xfcr\x9b", "Lager-S\xc3\xbcr?", "Lager-S\xc3\xbcr?"},  // not UTF-8: Latin-1
        {"error: program.cmd:2: bad\r\nwarning: x\u202E\t", "error: program.cmd:2: bad??warning: x??",
         "error: program.cmd:2: bad?\nwarning: x??"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExternalText(c.bytes), QString::fromUtf8(c.text)) << c.bytes;
        EXPECT_EQ(ExternalLines(c.bytes), QString::fromUtf8(c.lines)) << c.bytes;
    }
}

struct CommandCase {
    QStringList arguments;
    bool ok;
    uint32_t address;
    uint16_t port;
    int waitMs;
    std::optional<std::filesystem::path> package;
};

TEST(CommandLine, OptionsAndPackagePath) {
    const std::vector<CommandCase> cases{
        {{"prog"}, true, 0xFFFFFFFF, 4101, 1000, std::nullopt},
        {{"prog", "--broadcast", "127.0.0.1", "--port", "14101", "--wait-ms", "50", "x/field.upk"},
         true,
         0x7F000001,
         14101,
         50,
         std::filesystem::path("x/field.upk")},
        {{"prog", "--broadcast=10.1.2.255"}, true, 0x0A0102FF, 4101, 1000, std::nullopt},
        {{"prog", "--broadcast", "10.1.2"}, false, 0, 0, 0, std::nullopt},
        {{"prog", "--broadcast", "10.1.2.256"}, false, 0, 0, 0, std::nullopt},
        {{"prog", "--port", "0"}, false, 0, 0, 0, std::nullopt},
        {{"prog", "--port", "70000"}, false, 0, 0, 0, std::nullopt},
        {{"prog", "--wait-ms", "soon"}, false, 0, 0, 0, std::nullopt},
        {{"prog", "--colour"}, false, 0, 0, 0, std::nullopt},
        {{"prog", "a.upk", "b.upk"}, false, 0, 0, 0, std::nullopt},
    };
    for (const CommandCase& c : cases) {
        AppOptions options;
        options.endpoint.port = 1;  // must stay untouched on failure
        QString error;
        EXPECT_EQ(ParseCommandLine(c.arguments, options, error), c.ok) << c.arguments.join(' ').toStdString();
        if (!c.ok) {
            EXPECT_FALSE(error.isEmpty());
            EXPECT_EQ(options.endpoint.port, 1);
            continue;
        }
        EXPECT_EQ(options.endpoint.broadcastAddress, c.address);
        EXPECT_EQ(options.endpoint.port, c.port);
        EXPECT_EQ(options.endpoint.receiveWait.count(), c.waitMs);
        EXPECT_EQ(options.package, c.package);
        EXPECT_TRUE(options.help.isEmpty());
    }
    for (const char* help : {"--help", "-h", "--help-all"}) {
        AppOptions options;
        QString error;
        EXPECT_TRUE(ParseCommandLine({"prog", help}, options, error)) << help;
        EXPECT_TRUE(options.help.contains("--wait-ms")) << help;
    }
}

TEST(CommandLine, CaptureFile) {
    AppOptions options;
    QString error;
    ASSERT_TRUE(ParseCommandLine({"prog", "--capture", "logs/wire.pcap", "field.upk"}, options, error));
    EXPECT_EQ(options.capture, std::filesystem::path("logs/wire.pcap"));
    EXPECT_EQ(options.package, std::filesystem::path("field.upk"));
    ASSERT_TRUE(ParseCommandLine({"prog"}, options, error));
    EXPECT_EQ(options.capture, std::nullopt);
    EXPECT_FALSE(ParseCommandLine({"prog", "--capture"}, options, error));
}

TEST(CommandLine, EventsFileOrStdout) {
    struct Case {
        QStringList arguments;
        bool ok;
        std::string events;
    } cases[] = {
        {{"prog", "--events", "run.jsonl", "field.upk"}, true, "run.jsonl"},
        {{"prog", "--events", "-"}, true, "-"},
        {{"prog"}, true, ""},
        {{"prog", "--events=", "field.upk"}, false, ""},
        {{"prog", "--events"}, false, ""},
    };
    for (const Case& c : cases) {
        AppOptions options;
        QString error;
        EXPECT_EQ(ParseCommandLine(c.arguments, options, error), c.ok) << c.arguments.join(' ').toStdString();
        if (c.ok) {
            EXPECT_EQ(options.events, c.events) << c.arguments.join(' ').toStdString();
        }
    }
}

TEST(CommandLine, VerbosityCountsEveryVAndTheLogFileIsKept) {
    const struct {
        QStringList arguments;
        int verbosity;
        std::optional<std::filesystem::path> logFile;
    } cases[] = {
        {{"prog"}, 0, std::nullopt},
        {{"prog", "-v"}, 1, std::nullopt},
        {{"prog", "-vv", "field.upk"}, 2, std::nullopt},
        {{"prog", "--verbose", "-v", "--log-file", "logs/trace.log"},
         2,
         std::filesystem::path("logs/trace.log")},
        {{"prog", "--log-file=trace.log"}, 0, std::filesystem::path("trace.log")},
    };
    for (const auto& c : cases) {
        AppOptions options;
        QString error;
        ASSERT_TRUE(ParseCommandLine(c.arguments, options, error)) << error.toStdString();
        EXPECT_EQ(options.verbosity, c.verbosity) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(options.logFile, c.logFile) << c.arguments.join(' ').toStdString();
    }
}

TEST(Settings, RecentFileListIsReadAsFourEntriesAndNeverWritten) {
    test::TempFolder folder;
    const auto file = folder.Path() / "Upgrade.ini";
    const std::string content =
        "[Recent%20File%20List]\nFile1=/a.upk\nFile2=\nFile3=/c.upk\nFile4=/d.upk\nFile5=/e.upk\n";
    std::ofstream(file) << content;
    {
        QSettings settings(QString::fromStdString(file.string()), QSettings::IniFormat);
        EXPECT_EQ(LoadRecentFiles(settings), (QStringList{"/a.upk", "/c.upk", "/d.upk"}));
    }
    std::ifstream in(file);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(after, content);
    EXPECT_EQ(QCoreApplication::organizationName(), "Quorvane");
    EXPECT_EQ(QCoreApplication::applicationName(), "Upgrade");
}

struct BoxCase {
    bool ask;
    unsigned style;
    QMessageBox::Icon icon;
    QString click;
    bool answer;
};

TEST(MessageBoxPrompter, RealBoxesCarryCaptionIconButtonsAndAnswer) {
    const std::vector<BoxCase> cases{
        {false, BOX_OK, QMessageBox::Warning, "OK", false},
        {false, BOX_OK | ICON_INFORMATION, QMessageBox::Information, "OK", false},
        {true, BOX_YES_NO | ICON_STOP, QMessageBox::Critical, "Yes", true},
        {true, BOX_YES_NO | ICON_QUESTION, QMessageBox::Question, "No", false},
    };
    MessageBoxPrompter prompter;
    for (const BoxCase& c : cases) {
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttons = 0;
        ModalAnswerer answerer("message_box", [&](QWidget* widget) {
            auto* box = static_cast<QMessageBox*>(widget);
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = static_cast<int>(box->buttons().size());
            ClickButton(box, c.click);
        });
        bool answer = false;
        if (c.ask)
            answer = prompter.Ask(146, "Retry <now>?", c.style);
        else
            prompter.Tell(126, "Invalid Upgrade File\nA\u202Eevil.upk", c.style);
        EXPECT_TRUE(answerer.Seen());
        EXPECT_EQ(caption, "Upgrade");
        EXPECT_EQ(text, c.ask ? "Retry <now>?" : "Invalid Upgrade File\nA?evil.upk");
        EXPECT_EQ(icon, c.icon) << c.style;
        EXPECT_EQ(buttons, c.ask ? 2 : 1);
        EXPECT_EQ(answer, c.answer);
    }
}

}  // namespace
}  // namespace quorvane::testing
