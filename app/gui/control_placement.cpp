#include "app/gui/control_placement.h"

namespace quorvane {

MeasuredLayout MeasuredLayout::Measure(int clientWidth, const QRect& list, const QRect& done,
                                       const QRect& refresh, const QRect& selectOld, const QRect& upgrade) {
    const auto anchor = [clientWidth](const QRect& r) {
        return ButtonAnchor{r.left() - clientWidth, r.top()};
    };
    MeasuredLayout m;
    // QRect::right() is the last pixel inside; the edge is one further.
    m.listRightGap = clientWidth - (list.left() + list.width());
    m.done = anchor(done);
    m.refresh = anchor(refresh);
    m.selectOld = anchor(selectOld);
    m.upgrade = anchor(upgrade);
    return m;
}

Placement PlaceControls(const MeasuredLayout& m, int cx, int cy, int doneHeight, int upgradeHeight) {
    // The top margin of the topmost button also serves as the bottom margin.
    const int margin = m.selectOld.top;
    const int need = m.done.top + doneHeight + margin;
    int shift = 0;
    if (cy < need) {
        shift = need - cy;
        const int floor = m.upgrade.top + upgradeHeight + margin;
        if (m.done.top - shift < floor) shift = m.done.top - floor;
    }
    Placement p;
    p.list = QSize(cx - m.listRightGap, cy);
    p.selectOld = QPoint(cx + m.selectOld.rightOffset, m.selectOld.top);
    p.upgrade = QPoint(cx + m.upgrade.rightOffset, m.upgrade.top);
    p.done = QPoint(cx + m.done.rightOffset, m.done.top - shift);
    p.refresh = QPoint(cx + m.refresh.rightOffset, m.refresh.top - shift);
    return p;
}

}  // namespace quorvane
