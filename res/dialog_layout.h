#pragma once
// The two dialog templates: the device list (102) and the About box (100).
// Geometry is in dialog units; the front end converts it with the metrics of
// the dialog's font, so the dialogs keep their proportions at any font size.

#include "res/dialog_codes.h"

namespace quorvane::layout {

struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Control ids of template 102; Done and Refresh end the dialog with their
// own id, so theirs are the dialog's result codes.
inline constexpr int ID_DONE = DIALOG_CANCEL;
inline constexpr int ID_DEVICE_LIST = 1000;
inline constexpr int ID_UPGRADE = 1002;
inline constexpr int ID_SELECT_OLD = 1003;
inline constexpr int ID_REFRESH = DIALOG_REFRESH;

inline constexpr int DEVICE_LIST_TEMPLATE = 102;
inline constexpr int DEVICE_LIST_WIDTH = 375;
inline constexpr int DEVICE_LIST_HEIGHT = 150;
inline constexpr const char* DEVICE_LIST_TITLE = "Quorvane Firmware Upgrade";

// Controls of template 102 in template (= tab) order.
inline constexpr DialogRect DONE_RECT{320, 130, 50, 14};
inline constexpr DialogRect LIST_RECT{0, 0, 315, 150};
inline constexpr DialogRect UPGRADE_RECT{320, 25, 50, 15};
inline constexpr DialogRect SELECT_OLD_RECT{320, 5, 50, 15};
inline constexpr DialogRect REFRESH_RECT{320, 110, 50, 15};
// Added below Upgrade, in the column's free space: how many devices are
// upgraded at once. They keep their height and follow Upgrade sideways.
inline constexpr int ID_JOBS = 1005;
inline constexpr DialogRect JOBS_LABEL_RECT{320, 50, 50, 8};
inline constexpr DialogRect JOBS_RECT{320, 60, 50, 14};

// The buttons' words with a mnemonic each (Alt and the underlined letter).
inline constexpr const char* DONE_TEXT = "&Done";
inline constexpr const char* LIST_TEXT = "Device List";
inline constexpr const char* UPGRADE_TEXT = "&Upgrade";
inline constexpr const char* SELECT_OLD_TEXT = "Select &Old";
inline constexpr const char* REFRESH_TEXT = "&Refresh";
inline constexpr const char* JOBS_TEXT = "&At once:";
// The control's top: every device at once, as upgradectl's --jobs 0; its
// bottom is MAX_SIDE_BY_SIDE (app/upgrade_command.h).
inline constexpr int JOBS_ALL = 0;

// The device list's columns are in app/column_text.h, shared with upgradectl.

// The system-menu command that opens the About box (any id 16..31 does).
inline constexpr int ABOUT_COMMAND = 16;

// Template 100, the About box.
inline constexpr int ABOUT_TEMPLATE = 100;
inline constexpr int ABOUT_WIDTH = 235;
inline constexpr int ABOUT_HEIGHT = 55;
inline constexpr const char* ABOUT_TITLE = "About Upgrade";
inline constexpr DialogRect ABOUT_ICON_RECT{11, 17, 20, 20};
inline constexpr DialogRect ABOUT_VERSION_RECT{40, 10, 119, 8};
inline constexpr DialogRect ABOUT_SECOND_RECT{40, 25, 119, 8};
inline constexpr DialogRect ABOUT_OK_RECT{178, 7, 50, 14};
// Below the two lines, across the box: who signed the package.
inline constexpr DialogRect ABOUT_SIGNATURE_RECT{11, 41, 217, 8};
// Followed by the version (DisplayVersion in res/version_line.h).
inline constexpr const char* ABOUT_VERSION_PREFIX = "Upgrade Version ";
inline constexpr const char* ABOUT_SECOND_TEXT = "For Quorvane device servers";
inline constexpr const char* ABOUT_OK_TEXT = "OK";

inline constexpr int ICON_MAIN = 128;

}  // namespace quorvane::layout
