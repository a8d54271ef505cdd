#pragma once
// The device list dialog's resize rule. The distances are measured once,
// when the dialog is set up; every size change then places the list and the
// four buttons from them alone, so repeated resizing never drifts.

#include <QPoint>
#include <QRect>
#include <QSize>

namespace quorvane {

struct ButtonAnchor {
    int rightOffset = 0;  // left edge minus the client width (negative)
    int top = 0;
};

struct MeasuredLayout {
    int listRightGap = 0;  // client width minus the list's right edge
    ButtonAnchor done;
    ButtonAnchor refresh;
    ButtonAnchor selectOld;
    ButtonAnchor upgrade;

    static MeasuredLayout Measure(int clientWidth, const QRect& list, const QRect& done, const QRect& refresh,
                                  const QRect& selectOld, const QRect& upgrade);
};

struct Placement {
    QSize list;  // the list stays at (0, 0)
    QPoint done;
    QPoint refresh;
    QPoint selectOld;
    QPoint upgrade;
};

// Where everything goes for a client area of cx x cy. Done and Refresh rise
// together only when the window is too low for Done plus one margin, and
// Done never rises above one margin below Upgrade.
Placement PlaceControls(const MeasuredLayout& measured, int cx, int cy, int doneHeight, int upgradeHeight);

}  // namespace quorvane
