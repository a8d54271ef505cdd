#include "app/gui/app_icon.h"

#include "res/icon/icon128.xpm"

namespace quorvane {

QPixmap AppIconPixmap() {
    return QPixmap(icon128_xpm);
}

QIcon AppIcon() {
    // The same pictures the package installs for the desktop entry, so the
    // title bar and the application menu agree at every size.
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/quorvane-upgrade.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace quorvane
