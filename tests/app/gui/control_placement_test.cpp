#include "app/gui/control_placement.h"

#include <gtest/gtest.h>

#include "app/gui/dialog_units.h"

namespace quorvane {
namespace {

// Template 102 at 6 x 16 pixel base units: client 563 x 300; Select Old at
// (480, 10) 75 x 30, Upgrade (480, 50) 75 x 30, Refresh (480, 220) 75 x 30,
// Done (480, 260) 75 x 28; the list 473 wide.
MeasuredLayout Template() {
    const DialogUnits units(6, 16);
    const int width = units.X(375);
    return MeasuredLayout::Measure(width, units.Map(layout::LIST_RECT), units.Map(layout::DONE_RECT),
                                   units.Map(layout::REFRESH_RECT), units.Map(layout::SELECT_OLD_RECT),
                                   units.Map(layout::UPGRADE_RECT));
}

TEST(DialogUnits, ConvertWithTheFontsBaseUnits) {
    const DialogUnits units(6, 16);
    EXPECT_EQ(units.Size(375, 150), QSize(563, 300));
    EXPECT_EQ(units.Map(layout::DONE_RECT), QRect(480, 260, 75, 28));
    EXPECT_EQ(units.Map(layout::LIST_RECT), QRect(0, 0, 473, 300));
}

TEST(ControlPlacement, MeasuresDistancesToTheRightEdge) {
    const MeasuredLayout m = Template();
    EXPECT_EQ(m.listRightGap, 563 - 473);
    EXPECT_EQ(m.done.rightOffset, 480 - 563);
    EXPECT_EQ(m.done.top, 260);
    EXPECT_EQ(m.selectOld.top, 10);
    EXPECT_EQ(m.upgrade.top, 50);
    EXPECT_EQ(m.refresh.top, 220);
}

struct SizeCase {
    int cx, cy;
    QSize list;
    int buttonsX, doneY, refreshY;
};

TEST(ControlPlacement, FollowsTheWindowAndLiftsDoneOnlyWhenTooLow) {
    // need = 260 + 28 + 10 = 298; floor = 50 + 30 + 10 = 90.
    const std::vector<SizeCase> cases{
        {563, 300, {473, 300}, 480, 260, 220},  // template size
        {513, 300, {423, 300}, 430, 260, 220},  // narrower: everything 50 to the left
        {700, 500, {610, 500}, 617, 260, 220},  // larger: the buttons stay at the top
        {563, 298, {473, 298}, 480, 260, 220},  // exactly enough room
        {563, 288, {473, 288}, 480, 250, 210},  // ten too low: both rise by ten
        {563, 90, {473, 90}, 480, 90, 50},      // Done stops one margin below Upgrade
        {563, 10, {473, 10}, 480, 90, 50},      // and stays there
        {60, 10, {-30, 10}, -23, 90, 50},       // no minimum size
    };
    const MeasuredLayout m = Template();
    for (const SizeCase& c : cases) {
        const Placement p = PlaceControls(m, c.cx, c.cy, 28, 30);
        EXPECT_EQ(p.list, c.list) << c.cx << "x" << c.cy;
        EXPECT_EQ(p.selectOld, QPoint(c.buttonsX, 10));
        EXPECT_EQ(p.upgrade, QPoint(c.buttonsX, 50));
        EXPECT_EQ(p.done, QPoint(c.buttonsX, c.doneY)) << c.cx << "x" << c.cy;
        EXPECT_EQ(p.refresh, QPoint(c.buttonsX, c.refreshY)) << c.cx << "x" << c.cy;
    }
}

}  // namespace
}  // namespace quorvane
