#pragma once
// The window icon of every window (the desktop entry's picture in every
// size) and the About box's own 32 x 32 sixteen-colour picture, icon 128.

#include <QIcon>
#include <QPixmap>

namespace quorvane {

QPixmap AppIconPixmap();  // the About box's 32 x 32 image
QIcon AppIcon();          // the window icon

}  // namespace quorvane
