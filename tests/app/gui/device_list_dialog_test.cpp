#include "app/gui/device_list_dialog.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <numeric>

#include "app/column_text.h"
#include "app/gui/about_dialog.h"
#include "app/gui/app_icon.h"
#include "app/gui/dialog_units.h"
#include "app/gui/history_window.h"
#include "app/history_store.h"
#include "app/upgrade_command.h"
#include "gui_test_support.h"
#include "package/package_fixture.h"
#include "res/dialog_layout.h"

namespace quorvane::testing {
namespace {

class DeviceListDialogTest : public ::testing::Test {
protected:
    void Fill(const std::vector<ListedDevice>& listed) {
        for (const ListedDevice& device : listed) {
            records.push_back(MakeListedRecord(device));
            devices.push_back(WithSummary(*records.back()));
        }
        dialog.InitDialog("field.upk", package, devices);
    }

    std::string Expected(int row, int column) {
        const int parameter = RowParameter(row);
        std::string text;
        DeviceColumnText(&devices[static_cast<std::size_t>(parameter)], text, dialog.ColumnKey(column));
        return text;
    }

    int RowParameter(int row) { return dialog.List()->topLevelItem(row)->data(0, Qt::UserRole).toInt(); }

    std::vector<int> Order() {
        std::vector<int> order;
        for (int row = 0; row < dialog.List()->topLevelItemCount(); ++row) order.push_back(RowParameter(row));
        return order;
    }

    // The order a stable, case-insensitive sort by `key` must give.
    std::vector<int> SortedBy(int key) {
        std::vector<int> order(devices.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            std::string ta, tb;
            DeviceColumnText(&devices[a], ta, key);
            DeviceColumnText(&devices[b], tb, key);
            return QString::fromStdString(ta).compare(QString::fromStdString(tb), Qt::CaseInsensitive) < 0;
        });
        return order;
    }

    void ClickHeader(int logical) {
        QHeaderView* header = dialog.List()->header();
        const QPoint at(header->sectionViewportPosition(logical) + header->sectionSize(logical) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol{link, chain};
    Restrictions restrictions;
    ScriptedPrompter prompter;
    UpgradePackage package;
    std::vector<std::unique_ptr<DeviceRecord>> records;
    std::vector<AdmittedDevice> devices;
    DeviceListDialog dialog{protocol, restrictions, prompter};
};

TEST_F(DeviceListDialogTest, RowsShowEachColumnKeysTextInArrayOrder) {
    Fill(SampleDevices());
    QTreeWidget* list = dialog.List();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2}));
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 4; ++column)
            EXPECT_EQ(list->topLevelItem(row)->text(column).toStdString(), Expected(row, column))
                << "row " << row << " column " << column;
    // The texts themselves, so a mix-up of keys and positions shows.
    EXPECT_EQ(list->topLevelItem(0)->text(0), "lab-bench");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "00:50:c2:1a:2b:3c");
    EXPECT_EQ(list->topLevelItem(0)->text(2), "v QVB 4.0.2 06/03/15");
    EXPECT_EQ(list->topLevelItem(0)->text(3), "Dual Serial (DB9)");
    EXPECT_EQ(list->topLevelItem(2)->text(0), "09 00 01");
    EXPECT_EQ(list->topLevelItem(2)->text(2), "Upgrade");
}

TEST_F(DeviceListDialogTest, NamesCutAtSixteenBytesStayUtf8AndOthersShowAsLatin1) {
    std::vector<ListedDevice> listed = SampleDevices();
    listed[0].name = "Werkstatt-Kaffe\xc3\xa9";  // the cut would fall inside the last character
    listed[1].name = "Lager-S\xfcr";             // not UTF-8
    Fill(listed);
    EXPECT_EQ(dialog.List()->topLevelItem(0)->text(0), QString::fromUtf8("Werkstatt-Kaffe"));
    EXPECT_EQ(dialog.List()->topLevelItem(1)->text(0), QString::fromUtf8("Lager-S\xc3\xbcr"));
}

TEST_F(DeviceListDialogTest, ABidirectionalControlInANameShowsAsAQuestionMark) {
    std::vector<ListedDevice> listed = SampleDevices();
    listed[0].name = "A\u202Eevil.exe";  // would read "Aexe.live"
    Fill(listed);
    EXPECT_EQ(dialog.List()->topLevelItem(0)->text(0), "A?evil.exe");
}

TEST_F(DeviceListDialogTest, EmptyListHasItsSixHeaders) {
    Fill({});
    QTreeWidget* list = dialog.List();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    ASSERT_EQ(list->columnCount(), 6);
    const QStringList titles{"Name", "MAC", "Firmware Date", "Device Type", "IP", "Last result"};
    const int widths[] = {80, 120, 140, 125, 100, 90};
    const int keys[] = {0, 1, 4, 5, 8, 9};
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(list->headerItem()->text(column), titles[column]);
        EXPECT_EQ(list->header()->sectionSize(column), widths[column]);
        EXPECT_EQ(dialog.ColumnKey(column), keys[column]);
    }
    // Upgrade with nothing listed does nothing.
    dialog.OnUpgrade();
    EXPECT_TRUE(prompter.prompts.empty());
    EXPECT_TRUE(link.sent.empty());
}

TEST_F(DeviceListDialogTest, ControlsFollowTheTemplate) {
    Fill(SampleDevices());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.windowTitle(), "Quorvane Firmware Upgrade: field.upk");
    EXPECT_FALSE(dialog.windowIcon().isNull());
    const DialogUnits units(dialog.font());
    EXPECT_EQ(dialog.size(), units.Size(375, 150));
    EXPECT_EQ(dialog.List()->geometry(), units.Map(layout::LIST_RECT));
    EXPECT_EQ(dialog.Button(2)->geometry(), units.Map(layout::DONE_RECT));
    EXPECT_EQ(dialog.Button(1004)->geometry(), units.Map(layout::REFRESH_RECT));

    // The devices-at-once control below Upgrade, one device by default.
    EXPECT_EQ(dialog.JobsControl()->geometry(), units.Map({320, 60, 50, 14}));
    EXPECT_EQ(dialog.JobsControl()->value(), 1);
    EXPECT_EQ(dialog.JobsControl()->specialValueText(), "All");

    // Tab order: Done, list, Upgrade, devices at once, Select Old, Refresh;
    // the list has the focus.
    std::vector<QWidget*> chain{dialog.Button(2)};
    for (QWidget* w = chain.back()->nextInFocusChain(); w != chain.front(); w = w->nextInFocusChain())
        if (w->parentWidget() == &dialog && w->focusPolicy() != Qt::NoFocus) chain.push_back(w);
    EXPECT_EQ(chain, (std::vector<QWidget*>{dialog.Button(2), dialog.List(), dialog.Button(1002),
                                            dialog.JobsControl(), dialog.Button(1003), dialog.Button(1004)}));
    EXPECT_EQ(QApplication::focusWidget(), dialog.List());
    // Tab walks the same way and passes over the disabled Select Old.
    std::vector<QWidget*> tabbed;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        tabbed.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(tabbed, (std::vector<QWidget*>{dialog.Button(1002), dialog.JobsControl(), dialog.Button(1004),
                                             dialog.Button(2), dialog.List()}));
    EXPECT_EQ(dialog.Button(2)->text(), "&Done");
    EXPECT_EQ(dialog.Button(1002)->text(), "&Upgrade");
    EXPECT_EQ(dialog.Button(1003)->text(), "Select &Old");
    EXPECT_EQ(dialog.Button(1004)->text(), "&Refresh");
    EXPECT_FALSE(dialog.Button(1003)->isEnabled());
    for (int id : {2, 1002, 1003, 1004}) EXPECT_FALSE(dialog.Button(id)->isDefault()) << id;

    QHeaderView* header = dialog.List()->header();
    EXPECT_TRUE(header->sectionsMovable());
    EXPECT_TRUE(header->isFirstSectionMovable());
    EXPECT_FALSE(header->isSortIndicatorShown());
    EXPECT_EQ(dialog.List()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(dialog.List()->selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(DeviceListDialogTest, HeaderClickSortsAscendingByTheColumnsTextTwice) {
    Fill(SampleDevices());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const std::vector<std::vector<int>> expected{{2, 0, 1}, {1, 2, 0}, {2, 1, 0}, {0, 2, 1}};
    for (int column = 0; column < 4; ++column) {
        ASSERT_EQ(SortedBy(dialog.ColumnKey(column)), expected[column]) << "sample devices changed";
        for (int click = 0; click < 2; ++click) {
            ClickHeader(column);
            EXPECT_EQ(Order(), expected[column]) << "column " << column << " click " << click;
            for (int row = 0; row < 3; ++row)
                EXPECT_EQ(dialog.List()->topLevelItem(row)->text(column).toStdString(),
                          Expected(row, column));
        }
        EXPECT_FALSE(dialog.List()->header()->isSortIndicatorShown());
    }
}

TEST_F(DeviceListDialogTest, SortIgnoresCaseAndKeepsEqualRowsInOrder) {
    std::vector<ListedDevice> listed(4);
    const char* names[] = {"beta", "ALPHA", "Beta", "alpha"};
    for (int i = 0; i < 4; ++i) {
        listed[i].name = names[i];
        listed[i].mac = {0, 0x50, 0xC2, 0, 0, static_cast<uint8_t>(9 - i)};
    }
    Fill(listed);
    dialog.OnColumnClick(1);  // MAC first, so the name sort starts from another order
    EXPECT_EQ(Order(), (std::vector<int>{3, 2, 1, 0}));
    dialog.OnColumnClick(0);
    EXPECT_EQ(Order(), (std::vector<int>{3, 1, 2, 0}));  // the alphas, then the betas, each in list order
}

TEST_F(DeviceListDialogTest, MovedColumnStillSortsByItsKey) {
    Fill(SampleDevices());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QHeaderView* header = dialog.List()->header();
    header->moveSection(header->visualIndex(3), 0);  // "Device Type" in front of "Name"
    ASSERT_EQ(header->logicalIndexAt(header->sectionSize(3) / 2), 3);
    for (int click = 0; click < 2; ++click) {
        ClickHeader(3);
        EXPECT_EQ(Order(), (std::vector<int>{0, 2, 1}));
    }
    EXPECT_EQ(dialog.List()->topLevelItem(0)->text(3), "Dual Serial (DB9)");
    ClickHeader(0);
    EXPECT_EQ(Order(), (std::vector<int>{2, 0, 1}));
}

// The sort of the last column click, by its key, holds for the next
// showings too (Refresh, a completed upgrade), wherever the column stands.
TEST_F(DeviceListDialogTest, SortOrderIsKeptAcrossARefresh) {
    Fill(SampleDevices());
    dialog.OnColumnClick(1);  // MAC
    EXPECT_EQ(Order(), (std::vector<int>{1, 2, 0}));
    dialog.InitDialog("field.upk", package, devices);
    EXPECT_EQ(Order(), (std::vector<int>{1, 2, 0}));
    dialog.List()->header()->moveSection(dialog.List()->header()->visualIndex(3), 0);
    dialog.OnColumnClick(3);  // Device Type, now in front
    dialog.InitDialog("field.upk", package, devices);
    EXPECT_EQ(Order(), (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(dialog.List()->header()->visualIndex(3), 3) << "a drag does not carry over";
}

// Each column as wide as its texts: a name of sixteen characters is shown whole.
TEST_F(DeviceListDialogTest, ColumnsFitTheirTexts) {
    std::vector<ListedDevice> listed = SampleDevices();
    listed[0].name = "Boiler Gateway 2";
    Fill(listed);
    QTreeWidget* list = dialog.List();
    const QFontMetrics metrics(list->font());
    EXPECT_GT(list->header()->sectionSize(0), metrics.horizontalAdvance("Boiler Gateway 2"));
    EXPECT_GT(list->header()->sectionSize(2), metrics.horizontalAdvance("v QVB 4.0.2 06/03/15"));
    EXPECT_LE(list->header()->sectionSize(0), list->width()) << "within the list";
}

TEST_F(DeviceListDialogTest, ResizeMovesButtonsWithTheRightEdgeAndLiftsDoneOnlyWhenTooLow) {
    Fill(SampleDevices());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QSize start = dialog.size();
    auto at = [&](int id) { return dialog.Button(id)->pos(); };
    const QPoint done0 = at(2), refresh0 = at(1004), upgrade0 = at(1002), old0 = at(1003);
    const int margin = old0.y();
    const QRect list0 = dialog.List()->geometry();

    dialog.resize(start.width() - 50, start.height());
    EXPECT_EQ(dialog.List()->geometry(), QRect(0, 0, list0.width() - 50, start.height()));
    EXPECT_EQ(at(2), done0 - QPoint(50, 0));
    EXPECT_EQ(at(1004), refresh0 - QPoint(50, 0));
    EXPECT_EQ(at(1002), upgrade0 - QPoint(50, 0));
    EXPECT_EQ(at(1003), old0 - QPoint(50, 0));

    // Ten pixels lower than Done's bottom plus the margin: Done and Refresh rise by ten.
    const int need = done0.y() + dialog.Button(2)->height() + margin;
    dialog.resize(start.width(), need - 10);
    EXPECT_EQ(at(2), done0 - QPoint(0, 10));
    EXPECT_EQ(at(1004), refresh0 - QPoint(0, 10));
    EXPECT_EQ(at(1002), upgrade0);
    EXPECT_EQ(dialog.List()->height(), need - 10);

    // Far too low: Done stops one margin below Upgrade; Refresh rises as far.
    dialog.resize(start.width(), 20);
    const int floor = upgrade0.y() + dialog.Button(1002)->height() + margin;
    EXPECT_EQ(at(2).y(), floor);
    EXPECT_EQ(at(1004).y(), refresh0.y() - (done0.y() - floor));

    dialog.resize(start);
    const QRect restored = dialog.List()->geometry();
    dialog.showMinimized();
    QApplication::processEvents();
    dialog.showNormal();
    QApplication::processEvents();
    EXPECT_EQ(dialog.List()->geometry(), restored);
    EXPECT_EQ(at(2), done0);
    EXPECT_EQ(at(1004), refresh0);
}

TEST_F(DeviceListDialogTest, AboutAndHistoryEntriesEndTheSystemMenuAndAboutOpensTheBox) {
    Fill({});
    const QList<QAction*> actions = dialog.SystemMenu()->actions();
    ASSERT_GE(actions.size(), 3);
    EXPECT_TRUE(actions[actions.size() - 3]->isSeparator());
    QAction* about = actions[actions.size() - 2];
    EXPECT_EQ(about->text(), "&About Upgrade...");
    EXPECT_EQ(actions.back()->text(), "&History...");

    QString title, version;
    bool hasIcon = false;
    ModalAnswerer answerer("about_dialog", [&](QWidget* box) {
        title = box->windowTitle();
        version = box->findChild<QLabel*>("version")->text();
        const QLabel* picture = box->findChild<QLabel*>("about_icon");
        hasIcon = picture != nullptr && !picture->pixmap().isNull();
        ClickButton(box, "OK");
    });
    about->trigger();
    EXPECT_TRUE(answerer.Seen());
    EXPECT_EQ(title, "About Upgrade");
    EXPECT_EQ(version, "Upgrade Version 4.0.2");  // as --version says it
    EXPECT_TRUE(hasIcon);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // back to the list
}

TEST_F(DeviceListDialogTest, HistoryEntryOpensTheHistoryBesideTheListAndReadsItAfresh) {
    test::TempFolder folder;
    const std::filesystem::path path = folder.File("history.db");
    dialog.SetHistoryPath(path);
    Fill({});
    QAction* entry = dialog.SystemMenu()->findChild<QAction*>("history_entry");
    ASSERT_NE(entry, nullptr);
    entry->trigger();
    HistoryWindow* window = dialog.History();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // the list stays usable
    EXPECT_EQ(window->Table()->rowCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(path));

    // A run recorded while it was open shows the next time it is asked for.
    {
        HistoryOpen opened = OpenHistory(path, true);
        ASSERT_NE(opened.store, nullptr) << opened.error;
        std::string error;
        HistoryRun run;
        run.startedUtc = "2026-12-03T10:00:00Z";
        const auto id = opened.store->BeginRun(run, error);
        ASSERT_TRUE(id) << error;
        HistoryDevice device;
        device.mac = "00:50:c2:1a:2b:3c";
        device.result = "upgraded";
        device.endedUtc = "2026-12-03T10:01:00Z";
        ASSERT_TRUE(opened.store->RecordDevice(*id, device, error)) << error;
    }
    window->close();
    entry->trigger();
    EXPECT_EQ(dialog.History(), window);
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(window->Table()->rowCount(), 1);
    EXPECT_EQ(window->Table()->item(0, 1)->text(), "00:50:c2:1a:2b:3c");
    window->close();
}

TEST_F(DeviceListDialogTest, APackageATrustedKeySignedNamesItsSignerInTitleAndAbout) {
    PackageCheck check;
    SignatureCheck signature;
    signature.status = SignatureStatus::Good;
    signature.keyId = "E87719C20608A7B0";
    signature.trustedComment = "firmware 4.1.0 for QVN, 2026-12-01";
    check.signature = signature;
    dialog.SetPackageCheck(&check);
    Fill({});
    EXPECT_EQ(dialog.windowTitle(), "Quorvane Firmware Upgrade: field.upk - signed by E87719C20608A7B0");
    QString signer;
    ModalAnswerer answerer("about_dialog", [&](QWidget* box) {
        if (const QLabel* line = box->findChild<QLabel*>("signature")) signer = line->text();
        ClickButton(box, "OK");
    });
    dialog.OnSysCommand(16);
    EXPECT_TRUE(answerer.Seen());
    EXPECT_EQ(signer, "signed by key E87719C20608A7B0: firmware 4.1.0 for QVN, 2026-12-01");
    // Not verified: the title stays as for any package.
    check.signature->status = SignatureStatus::Unverified;
    Fill({});
    EXPECT_EQ(dialog.windowTitle(), "Quorvane Firmware Upgrade: field.upk");
    dialog.SetPackageCheck(nullptr);
}

TEST_F(DeviceListDialogTest, AboutCommandIdsAndContextMenu) {
    Fill({});
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    for (int id : {16, 31}) {
        ModalAnswerer answerer("about_dialog", [](QWidget* box) { ClickButton(box, "OK"); });
        dialog.OnSysCommand(id);
        EXPECT_TRUE(answerer.Seen()) << id;
    }
    {
        ModalAnswerer answerer(
            "about_dialog", [](QWidget* box) { ClickButton(box, "OK"); }, 200);
        dialog.OnSysCommand(32);  // returns at once: not the About command
        EXPECT_FALSE(answerer.Seen());
    }
    // A right click opens the menu that holds the entry.
    bool opened = false;
    QTimer::singleShot(50, [&] {
        opened = QApplication::activePopupWidget() == dialog.SystemMenu();
        dialog.SystemMenu()->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &event);
    EXPECT_TRUE(opened);
}

struct ResultCase {
    const char* name;
    std::function<void(DeviceListDialog&)> act;
    int expected;
};

TEST_F(DeviceListDialogTest, ResultCodesOfRefreshDoneEscapeCloseAndEnter) {
    const std::vector<ResultCase> cases{
        {"Refresh", [](DeviceListDialog& d) { QTest::mouseClick(d.Button(1004), Qt::LeftButton); }, 1004},
        {"Done", [](DeviceListDialog& d) { QTest::mouseClick(d.Button(2), Qt::LeftButton); }, 2},
        {"Escape", [](DeviceListDialog& d) { QTest::keyClick(d.List(), Qt::Key_Escape); }, 2},
        {"close box", [](DeviceListDialog& d) { d.close(); }, 2},
        {"Enter on the list with nothing selected upgrades nothing, then Done",
         [](DeviceListDialog& d) {
             QTest::keyClick(d.List(), Qt::Key_Return);
             QTest::keyClick(d.List(), Qt::Key_Enter, Qt::KeypadModifier);
             QTest::mouseClick(d.Button(2), Qt::LeftButton);
         },
         2},
        {"Alt+R", [](DeviceListDialog& d) { QTest::keyClick(&d, Qt::Key_R, Qt::AltModifier); }, 1004},
        {"Alt+D", [](DeviceListDialog& d) { QTest::keyClick(d.List(), Qt::Key_D, Qt::AltModifier); }, 2},
        {"Enter on Refresh",
         [](DeviceListDialog& d) {
             d.Button(1004)->setFocus();
             QTest::keyClick(d.Button(1004), Qt::Key_Return);
         },
         1004},
        {"Enter on the disabled Select Old does nothing, then Done",
         [](DeviceListDialog& d) {
             QTest::keyClick(d.Button(1003), Qt::Key_Return);
             QTest::mouseClick(d.Button(1003), Qt::LeftButton);
             QTest::mouseClick(d.Button(2), Qt::LeftButton);
         },
         2},
    };
    records.push_back(MakeListedRecord(SampleDevices()[0]));
    devices.push_back(WithSummary(*records.back()));
    for (const ResultCase& c : cases) {
        ModalAnswerer answerer("device_list_dialog", [&](QWidget*) { c.act(dialog); });
        EXPECT_EQ(dialog.Show("field.upk", package, devices), c.expected) << c.name;
        EXPECT_TRUE(answerer.Seen()) << c.name;
        EXPECT_FALSE(dialog.isVisible());
        // The records are released after each showing: no row may stay behind.
        EXPECT_EQ(dialog.List()->topLevelItemCount(), 0) << c.name;
    }
}

TEST_F(DeviceListDialogTest, EveryShowingIsModalAtTheTemplateSizeWhateverTheLastOneEndedAs) {
    records.push_back(MakeListedRecord(SampleDevices()[0]));
    devices.push_back(WithSummary(*records.back()));
    const DialogUnits units(dialog.font());
    for (auto endState : {Qt::WindowMaximized, Qt::WindowMinimized}) {
        ModalAnswerer first("device_list_dialog", [&](QWidget*) {
            dialog.setWindowState(endState);
            dialog.done(REFRESH_RESULT);
        });
        ASSERT_EQ(dialog.Show("field.upk", package, devices), REFRESH_RESULT);
        bool modal = false;
        QSize size;
        ModalAnswerer second("device_list_dialog", [&](QWidget* widget) {
            modal = widget == &dialog;
            size = dialog.size();
            dialog.done(DIALOG_CANCEL);
        });
        EXPECT_EQ(dialog.Show("field.upk", package, devices), DIALOG_CANCEL);
        EXPECT_TRUE(second.Seen()) << "the next showing never became the modal window";
        EXPECT_TRUE(modal);
        EXPECT_EQ(size, units.Size(375, 150));
    }
}

TEST(GuiPlatform, AFontIsInstalledAndUsed) {
    const QStringList families = QFontDatabase::families();
    ASSERT_FALSE(families.isEmpty()) << "no font: every glyph would render as a box";
    const QFont font = QApplication::font();
    EXPECT_TRUE(families.contains(QFontInfo(font).family())) << QFontInfo(font).family().toStdString();
    const QFontMetrics metrics(font);
    EXPECT_TRUE(metrics.inFont(u'D'));
    EXPECT_GT(metrics.horizontalAdvance("Done"), metrics.horizontalAdvance("D"));
}

TEST(AboutDialog, FollowsTemplate100AndItsLinesFit) {
    AboutDialog about;
    const DialogUnits units(about.font());
    EXPECT_EQ(about.size(), units.Size(235, 55));
    EXPECT_EQ(about.windowTitle(), "About Upgrade");
    for (const char* name : {"version", "second_line"}) {
        const QLabel* line = about.findChild<QLabel*>(name);
        ASSERT_NE(line, nullptr) << name;
        EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->width())
            << name << " is cut off";
    }
    const auto* ok = about.findChild<QPushButton*>("ok");
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->geometry(), units.Map(layout::ABOUT_OK_RECT));
}

TEST(GuiPlatform, IconIsA32PixelImageOfAtMostSixteenColours) {
    const QImage image = AppIconPixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(32, 32));
    QSet<QRgb> colours;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (qAlpha(image.pixel(x, y)) == 255) colours.insert(image.pixel(x, y));
    EXPECT_GE(colours.size(), 4);  // a picture, not a blank square
    EXPECT_LE(colours.size(), 16);
}

}  // namespace
}  // namespace quorvane::testing
