#pragma once
// Icon 128: the window icon of the device list and the About box's picture.

#include <QIcon>
#include <QPixmap>

namespace quorvane {

QPixmap AppIconPixmap();  // the 32 x 32 image
QIcon AppIcon();

}  // namespace quorvane
