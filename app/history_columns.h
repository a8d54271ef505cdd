#pragma once
// The columns of a device run read from the history, one table that both
// front ends iterate: upgradectl's `history` lines and the desktop
// program's History window, each column's title and the text of its cell.

#include <string>
#include <vector>

#include "app/history_store.h"

namespace quorvane {

struct HistoryColumn {
    const char* title;  // as the window's header shows it; upgradectl's in capitals
    // The text came from outside (a device, a package's name): a front end
    // makes it safe for its terminal or widget before showing it.
    bool external;
    std::string (*text)(const HistoryEntry& entry);
};

// Time (the device's end, UTC), MAC, name, result, firmware before -> after,
// package file name and signing key id, in the order both front ends show them.
const std::vector<HistoryColumn>& HistoryColumns();

}  // namespace quorvane
