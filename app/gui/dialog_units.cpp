#include "app/gui/dialog_units.h"

#include <QFontMetrics>

namespace quorvane {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    baseX_ = metrics.averageCharWidth();
    baseY_ = metrics.height();
}

// Rounded like the platform's own conversion, so a control of n units and
// its neighbour at n units further on meet without a gap.
int DialogUnits::X(int units) const {
    return (units * baseX_ + 2) / 4;
}

int DialogUnits::Y(int units) const {
    return (units * baseY_ + 4) / 8;
}

QRect DialogUnits::Map(const layout::DialogRect& rect) const {
    const int left = X(rect.x);
    const int top = Y(rect.y);
    return {left, top, X(rect.x + rect.width) - left, Y(rect.y + rect.height) - top};
}

}  // namespace quorvane
