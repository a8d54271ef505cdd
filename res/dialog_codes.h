#pragma once
// What the device list dialog returns. Done and Refresh end it with their
// own control ids (res/dialog_layout.h), so those ids are these codes.

namespace quorvane {

inline constexpr int DIALOG_OK = 1;          // the dialog's accept; Enter on the list upgrades instead
inline constexpr int DIALOG_CANCEL = 2;      // Done, Escape, the close box
inline constexpr int DIALOG_REFRESH = 1004;  // Refresh, or an upgrade that programmed a device

}  // namespace quorvane
