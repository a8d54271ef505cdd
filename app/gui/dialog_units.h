#pragma once
// Converts template geometry from dialog units to pixels with the metrics of
// the dialog's font: a horizontal unit is a quarter of the average character
// width, a vertical unit an eighth of the character height.

#include <QFont>
#include <QRect>
#include <QSize>

#include "res/dialog_layout.h"

namespace quorvane {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    int X(int units) const;
    int Y(int units) const;
    QRect Map(const layout::DialogRect& rect) const;
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }

private:
    int baseX_;
    int baseY_;
};

}  // namespace quorvane
