// Renders the device list with three simulated devices, the About box and
// the progress window to PNG files, without a display:
//   QT_QPA_PLATFORM=offscreen qv_gui_screenshots FOLDER

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>

#include "app/gui/about_dialog.h"
#include "app/gui/app_icon.h"
#include "app/gui/device_list_dialog.h"
#include "app/gui/progress_window.h"
#include "app/gui/search_window.h"
#include "app/gui/upgrade_app.h"
#include "gui_test_support.h"

namespace quorvane::testing {
namespace {

bool Save(QWidget& window, const QDir& folder, const char* name) {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) std::printf("%s was not exposed\n", name);
    QApplication::processEvents();
    const QString path = folder.filePath(QString::fromLatin1(name));
    const bool saved = window.grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    window.hide();
    return saved;
}

int Render(const QDir& folder) {
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    Restrictions restrictions;
    ScriptedPrompter prompter;
    UpgradePackage package;
    std::vector<std::unique_ptr<DeviceRecord>> records;
    std::vector<AdmittedDevice> devices;
    for (const ListedDevice& device : SampleDevices()) {
        records.push_back(MakeListedRecord(device));
        devices.push_back(WithSummary(*records.back()));
    }
    bool ok = true;
    DeviceListDialog dialog(protocol, restrictions, prompter);
    dialog.InitDialog("field-4.00.02.upk", package, devices);
    dialog.List()->topLevelItem(1)->setSelected(true);
    ok &= Save(dialog, folder, "device_list.png");

    AboutDialog about;
    ok &= Save(about, folder, "about.png");

    ProgressWindow progress;
    progress.DeviceStarted(1, 3, QStringLiteral("00:50:c2:00:00:07"));
    progress.LineStarted(4, QStringLiteral("LOAD FIRMWARE.BIN 0x0:0x0"));
    progress.Transferred(QStringLiteral("FIRMWARE.BIN"), 24576, 65536);
    progress.PaceChanged({true, 20480.0, std::chrono::seconds(2)});
    progress.ResendsCounted(1);
    ok &= Save(progress, folder, "progress.png");
    progress.DeviceEnded(1);

    const QString iconPath = folder.filePath(QStringLiteral("icon128_x8.png"));
    ok &= AppIconPixmap().scaled(256, 256, Qt::KeepAspectRatio, Qt::FastTransformation).save(iconPath, "PNG");

    SearchWindow search;
    ok &= Save(search, folder, "search.png");
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace quorvane::testing

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qv_gui_screenshots FOLDER\n");
        return 2;
    }
    QApplication application(argc, argv);
    quorvane::SetApplicationIdentity();
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) return 1;
    return quorvane::testing::Render(folder);
}
