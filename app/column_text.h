#pragma once
// The columns of the device list, one table that every front end iterates:
// the desktop dialog (title and width) and upgradectl (title for its text
// table, name for its JSON), and the text of each cell, made from the
// device's record and the summary the admission pass built for it, or,
// for "Last result", from the session's runs (app/session_results.h) that
// the program showing the list keeps.

#include <cstddef>
#include <string>
#include <vector>

#include "package/device_summary.h"

namespace quorvane {
class SessionResults;
}

namespace quorvane {

// Keys of the columns that other code names; a column no one names keeps
// its key in the table alone.
enum ColumnKey : int {
    KEY_NAME = 0,
    KEY_MAC = 1,
    KEY_FIRMWARE = 4,
    KEY_DEVICE_TYPE = 5,
    KEY_IP = 8,
    KEY_LAST_RESULT = 9,
};

struct DeviceColumn {
    int key;            // the sub-item key its cells show
    const char* name;   // upgradectl's JSON key
    int titleId;        // string table id of its title; 0: `title` is it
    const char* title;  // the title of a column without a string of the table
    int width;          // pixels in the desktop list at least; 0: not in it
    bool upgradectl;    // upgradectl's table and JSON show it
    // `session` (none: no run of this program) holds the last results.
    std::string (*text)(const AdmittedDevice& device, const SessionResults* session);
};

// The columns in the order the front ends show them: upgradectl's table
// and JSON those it shows, the desktop list those with a width.
std::vector<DeviceColumn> DeviceColumns();
// The version number alone of the firmware column's text ("4.1.0" of
// "v QVN 4.1.0 12/01/26"); empty for a device that shows none.
std::string FirmwareVersionText(const AdmittedDevice& device);
// Those of the desktop list, in its order.
std::vector<DeviceColumn> DesktopListColumns();

// The column's title: its string of the table, else the row's own.
std::string ColumnTitle(const DeviceColumn& column);

inline constexpr std::size_t NAME_TEXT_LIMIT = 16;

// Sets `out` to the cell text of the column with `key` and returns true;
// a key of no column gives false and an empty text. A null device gives
// empty texts. `session`: where the last results are; none, none are.
bool DeviceColumnText(const AdmittedDevice* device, std::string& out, int key,
                      const SessionResults* session = nullptr);

// What a front end shows in a cell: the column text, and in the MAC column
// a mark for a device whose MAC answered as more than one device. The
// column text alone stays what scripts read (JSON), a MAC they can pass on.
std::string DeviceCellText(const DeviceColumn& column, const AdmittedDevice& device,
                           const SessionResults* session = nullptr);
// The same by column key, as DeviceColumnText.
bool DeviceCellText(const AdmittedDevice* device, std::string& out, int key,
                    const SessionResults* session = nullptr);

}  // namespace quorvane
