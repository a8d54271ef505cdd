#pragma once
// Ids of the string table (res/string_table.h). Both front ends and the
// application logic load every user-visible text by these ids, at the moment
// of use.

namespace quorvane {

inline constexpr int IDS_ABOUT_MENU = 101;      // "&About Upgrade..."
inline constexpr int IDS_SOCKETS_FAILED = 103;  // endpoint start failure

// Port configuration labels, by bits 2-7 of the device id's low byte.
inline constexpr int IDS_TYPE_SINGLE_SERIAL = 104;
inline constexpr int IDS_TYPE_DUAL_SERIAL = 105;
inline constexpr int IDS_TYPE_QUAD_SERIAL = 106;
inline constexpr int IDS_TYPE_PARALLEL = 107;
inline constexpr int IDS_TYPE_2SP = 108;
inline constexpr int IDS_TYPE_DUAL_PARALLEL = 109;
inline constexpr int IDS_TYPE_1SP = 110;
inline constexpr int IDS_TYPE_8_PORT_SERIAL = 111;
inline constexpr int IDS_TYPE_16_PORT_SERIAL = 112;
inline constexpr int IDS_TYPE_8_PORT_USIA = 113;
inline constexpr int IDS_TYPE_UNKNOWN = 114;

// Connector labels, by the device id's high byte.
inline constexpr int IDS_CONNECTOR_DB9 = 115;
inline constexpr int IDS_CONNECTOR_RJ45 = 116;
inline constexpr int IDS_CONNECTOR_TTL = 117;
inline constexpr int IDS_CONNECTOR_RS485 = 118;
inline constexpr int IDS_CONNECTOR_RS422 = 119;
inline constexpr int IDS_CONNECTOR_UNKNOWN = 120;
inline constexpr int IDS_CONNECTOR_CABLED = 150;

// Start-up and the file-open prompt.
inline constexpr int IDS_COMPANY_KEY = 121;        // per-user settings key
inline constexpr int IDS_PACKAGE_EXTENSION = 122;  // default extension
inline constexpr int IDS_PACKAGE_FILTER = 123;     // "name|pattern|...||"
inline constexpr int IDS_OPEN_TITLE = 124;
inline constexpr int IDS_INVALID_PACKAGE = 126;
inline constexpr int IDS_PACKAGE_WARNINGS = 160;  // above the package check's warnings

// The device list dialog.
inline constexpr int IDS_COLUMN_NAME = 129;
inline constexpr int IDS_COLUMN_MAC = 130;
inline constexpr int IDS_COLUMN_FIRMWARE = 133;
inline constexpr int IDS_COLUMN_DEVICE_TYPE = 134;
inline constexpr int IDS_WINDOW_TITLE = 135;     // %1: package file name
inline constexpr int IDS_ROW_PLACEHOLDER = 136;  // text of a freshly inserted row

// Column text formats (printf-style, see res/string_format.h).
inline constexpr int IDS_NAME_FROM_MAC = 137;  // 3 x %02x
inline constexpr int IDS_MAC_TEXT = 138;       // 6 x %02x
inline constexpr int IDS_FIRMWARE_TEXT = 140;  // 3 x %c, 3 x %d, 3 x %02d
inline constexpr int IDS_FIRMWARE_UPGRADE = 141;
inline constexpr int IDS_DEVICE_TYPE_TEXT = 151;  // %1 %2 placeholders
inline constexpr int IDS_DUPLICATE_MARK = 171;    // after the MAC of a device whose MAC answered twice

// The upgrade command's messages.
inline constexpr int IDS_RETRY_PROMPT = 146;  // 6 x %02x: the failed device's MAC
inline constexpr int IDS_UPGRADE_GIVEN_UP = 147;
inline constexpr int IDS_UPGRADE_COMPLETE = 148;
inline constexpr int IDS_CONFIGURATION_WARNING = 149;
inline constexpr int IDS_FIRMWARE_REFUSED = 152;
inline constexpr int IDS_MAC_REFUSED = 153;
inline constexpr int IDS_RETRY_TOGETHER = 161;  // %1: the failed devices' MACs, comma-separated
inline constexpr int IDS_RETRY_ONE = 162;       // the same question for one device; %1: its MAC
// Devices this computer failed (a full disk, no socket): %1, a line
// "MAC: reason" for each.
inline constexpr int IDS_LOCAL_FAILURE = 165;
inline constexpr int IDS_MAC_SHARED = 170;      // %1: a MAC that answered as more than one device
// Devices side by side, fewer at once than asked: %1 how many can be, %2
// how many were asked, %3 the system's reason. A line after the program's
// name in upgradectl, a sentence of its own in the progress window.
inline constexpr int IDS_JOBS_LOWERED = 173;
// Before anything is flashed, after the devices were listed: %1 how many.
inline constexpr int IDS_UPGRADE_THESE = 182;
inline constexpr int IDS_UPGRADE_THIS = 183;  // the same question for one device

// Why a device failed a script command, after "line N KEYWORD NAME: ".
inline constexpr int IDS_FAULT_NO_ANSWER = 174;    // %1: the request, %2: how many sends
inline constexpr int IDS_FAULT_WRONG_ECHO = 175;   // %1: what was echoed wrongly ("block 17"), %2: sends
inline constexpr int IDS_FAULT_WRONG_REPLY = 176;  // %1: the request, %2: sends
inline constexpr int IDS_FAULT_CHECKSUM = 177;     // %1: the device's checksum, %2: the expected one
inline constexpr int IDS_FAULT_BLOCK_SIZE = 178;   // %1: the request, %2: the block size it answered
inline constexpr int IDS_FAULT_NOT_SENT = 179;     // %1: the request, %2: the system's reason
// While an exchange is sent again: %1 the request, %2 this send, %3 of how many.
inline constexpr int IDS_WAITING_FOR_ANSWER = 180;
// After IDS_FIRMWARE_REFUSED or IDS_MAC_REFUSED, per device: %1 what is
// compared, %2 the device's value, %3 the package's.
inline constexpr int IDS_REFUSED_VALUE = 181;

// A run stopped on request (Ctrl-C, a signal, Cancel): lines after the
// program's name in upgradectl, sentences of one box in the desktop program.
inline constexpr int IDS_LEFT_MID_SCRIPT = 188;       // %1: the MAC of a device whose script was cut short
inline constexpr int IDS_NONE_LEFT_MID_SCRIPT = 189;
inline constexpr int IDS_NOT_STARTED = 190;           // %1: the MACs never started, comma-separated
// A run asked to stop (Cancel, the first Ctrl-C), while the exchange under
// way finishes; upgradectl's line is made from it (StoppingText).
inline constexpr int IDS_STOPPING = 191;

// Device list columns beyond the four of the template.
inline constexpr int IDS_COLUMN_IP = 192;
inline constexpr int IDS_COLUMN_LAST_RESULT = 193;  // what this session's runs came to per device
// The device list's title (%1) when a trusted key (%2, its id) signed the package.
inline constexpr int IDS_SIGNED_TITLE = 216;
// After a device's RESET: the wait for it, the device that did not come back
// (%1 its MAC, %2 the seconds allowed), what it came back with, and the
// completion's list of those that did not.
inline constexpr int IDS_WAITING_FOR_RETURN = 217;
inline constexpr int IDS_NOT_BACK = 218;
inline constexpr int IDS_FIRMWARE_CHANGED = 219;    // %1 before, %2 after
inline constexpr int IDS_FIRMWARE_UNCHANGED = 220;  // %1 before and after
inline constexpr int IDS_NOT_BACK_LIST = 221;

// A search that no device answered at all: lines after the program's name
// in upgradectl, one box in the desktop program.
inline constexpr int IDS_NO_DEVICE_ANSWERED = 194;       // %1: the interface, %2: the address, %3: the port
inline constexpr int IDS_OTHER_INTERFACE_COMMAND = 195;  // upgradectl's way to another interface
inline constexpr int IDS_OTHER_INTERFACE_OPTION = 196;   // the desktop program's
inline constexpr int IDS_FIREWALL_RULE = 197;            // %1: the port the replies come from
// The upgrade history. %1: why, naming the database and SQLite's reason.
inline constexpr int IDS_HISTORY_NOT_RECORDED = 230;  // the default history: the run goes on
inline constexpr int IDS_HISTORY_REFUSED = 231;       // a history named by --history: nothing is sent
// A device run's result when its run did not finish (%1: the result word).
inline constexpr int IDS_HISTORY_UNFINISHED = 232;
// A device run's firmware when the script was sent and no firmware after
// was read (%1: the firmware before).
inline constexpr int IDS_HISTORY_NOT_CHECKED = 260;
// The desktop program's History window: its menu entry, its title, the
// line of a history with no device run in it, and one that cannot be read
// (%1: why, naming the database and SQLite's reason).
inline constexpr int IDS_HISTORY_MENU = 233;  // "&History..."
inline constexpr int IDS_HISTORY_TITLE = 234;
inline constexpr int IDS_HISTORY_EMPTY = 235;
inline constexpr int IDS_HISTORY_UNREADABLE = 236;
// Why a staged run left devices not started: %1 the devices not started, %2
// the devices selected; the budget's line has %1 the failures, %2 the
// budget, %3 not started, %4 selected.
inline constexpr int IDS_CANARY_FAILED = 237;
inline constexpr int IDS_BUDGET_REACHED = 238;

// The progress window's figures.
inline constexpr int IDS_PROGRESS_PACE = 163;     // %1: KiB per second, %2: time left as m:ss
inline constexpr int IDS_PROGRESS_RESENDS = 164;  // %1: requests sent again so far

}  // namespace quorvane
