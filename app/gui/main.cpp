// quorvane-upgrade: upgrades the firmware of device servers on the local
// network from an upgrade package.

#include <QApplication>
#include <cstdio>

#include "app/gui/command_line.h"
#include "app/gui/upgrade_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    quorvane::SetApplicationIdentity();
    quorvane::AppOptions options;
    QString error;
    if (!quorvane::ParseCommandLine(QApplication::arguments(), options, error)) {
        std::fprintf(stderr, "quorvane-upgrade: %s\n", qPrintable(error));
        return 2;
    }
    if (!options.help.isEmpty()) {
        std::fputs(qPrintable(options.help), stdout);
        return 0;
    }
    quorvane::UpgradeApp app(options);
    app.InitInstance();
    return 0;
}
