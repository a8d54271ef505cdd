#include "app/gui/app_icon.h"

#include "res/icon/icon128.xpm"

namespace quorvane {

QPixmap AppIconPixmap() {
    return QPixmap(icon128_xpm);
}

QIcon AppIcon() {
    QIcon icon;
    const QPixmap image = AppIconPixmap();
    icon.addPixmap(image);
    // The small icon of title bars and task lists, scaled once here so every
    // window shows the same picture.
    icon.addPixmap(image.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return icon;
}

}  // namespace quorvane
