#include "app/gui/history_window.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <string>

#include "app/history_store.h"
#include "package/package_fixture.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

// Two runs: an older finished one and a newer one that never ended, whose
// device has the larger MAC, so that time and MAC order rows differently.
void WriteTwoRuns(const fs::path& path) {
    HistoryOpen opened = OpenHistory(path, true);
    ASSERT_NE(opened.store, nullptr) << opened.error;
    HistoryStore& store = *opened.store;
    std::string error;
    HistoryRun first;
    first.startedUtc = "2026-12-01T08:00:00Z";
    first.program = "upgradectl";
    first.packagePath = "/srv/packages/field-4.1.0.upk";
    first.keyId = "E87719C20608A7B0";
    const auto firstId = store.BeginRun(first, error);
    ASSERT_TRUE(firstId) << error;
    HistoryDevice older;
    older.mac = "00:50:c2:1a:2b:3c";
    older.name = "lab-bench";
    older.firmwareBefore = "4.0.2";
    older.firmwareAfter = "4.1.0";
    older.result = "upgraded";
    older.endedUtc = "2026-12-01T08:01:30Z";
    ASSERT_TRUE(store.RecordDevice(*firstId, older, error)) << error;
    ASSERT_TRUE(store.EndRun(*firstId, 0, "2026-12-01T08:01:31Z", error)) << error;

    HistoryRun second = first;
    second.startedUtc = "2026-12-02T09:00:00Z";
    second.keyId.clear();
    const auto secondId = store.BeginRun(second, error);
    ASSERT_TRUE(secondId) << error;
    HistoryDevice newer;
    newer.mac = "00:50:c2:ff:00:01";
    newer.name = "hall";
    newer.firmwareBefore = "4.0.2";
    newer.result = "failed";
    newer.endedUtc = "2026-12-02T09:00:40Z";
    ASSERT_TRUE(store.RecordDevice(*secondId, newer, error)) << error;
}

QStringList Row(const QTableWidget& table, int row) {
    QStringList cells;
    for (int column = 0; column < table.columnCount(); ++column) cells << table.item(row, column)->text();
    return cells;
}

TEST(HistoryWindow, ShowsEachDeviceRunNewestFirstAndSortsByAClickedHeader) {
    test::TempFolder folder;
    const fs::path path = folder.File("history.db");
    WriteTwoRuns(path);
    HistoryWindow window(path);
    QTableWidget& table = *window.Table();
    QStringList headers;
    for (int column = 0; column < table.columnCount(); ++column) headers << table.horizontalHeaderItem(column)->text();
    EXPECT_EQ(headers, (QStringList{"Time", "MAC", "Name", "Result", "Firmware", "Package", "Key"}));
    ASSERT_EQ(table.rowCount(), 2);
    EXPECT_EQ(Row(table, 0), (QStringList{"2026-12-02T09:00:40Z", "00:50:c2:ff:00:01", "hall",
                                          "failed (run did not finish)", "4.0.2 -> not checked", "field-4.1.0.upk", ""}));
    EXPECT_EQ(Row(table, 1), (QStringList{"2026-12-01T08:01:30Z", "00:50:c2:1a:2b:3c", "lab-bench", "upgraded",
                                          "4.0.2 -> 4.1.0", "field-4.1.0.upk", "E87719C20608A7B0"}));
    EXPECT_FALSE(window.Status()->isVisibleTo(&window));

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QHeaderView* header = table.horizontalHeader();
    const auto clickHeader = [&](int column) {
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    clickHeader(1);  // MAC, from the lowest
    EXPECT_EQ(table.item(0, 1)->text(), "00:50:c2:1a:2b:3c");
    EXPECT_EQ(table.item(0, 2)->text(), "lab-bench");  // rows move whole
    clickHeader(1);
    EXPECT_EQ(table.item(0, 1)->text(), "00:50:c2:ff:00:01");
    clickHeader(0);  // time, newest first again
    EXPECT_EQ(table.item(0, 0)->text(), "2026-12-02T09:00:40Z");
    clickHeader(0);
    EXPECT_EQ(table.item(0, 0)->text(), "2026-12-01T08:01:30Z");
}

TEST(HistoryWindow, AMissingDatabaseIsAnEmptyTableAndIsNotCreated) {
    test::TempFolder folder;
    const fs::path path = folder.File("state/history.db");
    HistoryWindow window(path);
    EXPECT_EQ(window.Table()->rowCount(), 0);
    EXPECT_TRUE(window.Status()->isVisibleTo(&window));
    EXPECT_EQ(window.Status()->text(), "No upgrade has been recorded yet.");
    EXPECT_FALSE(fs::exists(folder.File("state")));
    HistoryWindow none{fs::path()};  // neither XDG_STATE_HOME nor HOME
    EXPECT_EQ(none.Status()->text(), "No upgrade has been recorded yet.");
}

TEST(HistoryWindow, ADatabaseThatCannotBeReadShowsWhy) {
    test::TempFolder folder;
    const fs::path path = folder.File("history.db");
    ASSERT_TRUE(test::WriteText(path, std::string(4096, 'x')));
    HistoryWindow window(path);
    EXPECT_EQ(window.Table()->rowCount(), 0);
    const std::string status = window.Status()->text().toStdString();
    EXPECT_EQ(status.rfind("The history cannot be read: " + path.string() + ": ", 0), 0u) << status;
    EXPECT_NE(status.find("not a database"), std::string::npos) << status;
    EXPECT_EQ(fs::file_size(path), 4096u);  // left as it was
}

TEST(HistoryWindow, CloseAndEscapeHideIt) {
    test::TempFolder folder;
    HistoryWindow window(folder.File("history.db"));
    EXPECT_FALSE(window.isModal());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    window.show();
    QPushButton* close = window.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close);
    ASSERT_NE(close, nullptr);
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace quorvane::testing
