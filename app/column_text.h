#pragma once
// The text of one cell of the device list, made from the device's record and
// the summary the admission pass attached to it.

#include <cstddef>
#include <string>

#include "protocol/device_record.h"

namespace quorvane {

enum ColumnKey : int {
    KEY_NAME = 0,
    KEY_MAC = 1,
    KEY_FIRMWARE = 4,
    KEY_DEVICE_TYPE = 5,
};

inline constexpr std::size_t NAME_TEXT_LIMIT = 16;

// Sets `out` for keys 0, 1, 4 and 5 and returns true; any other key gives
// false and an empty text. A record without a summary (its copy could not be
// stored) still shows its MAC; its other columns are empty. A null record
// gives empty texts.
bool DeviceColumnText(const DeviceRecord* record, std::string& out, int key);

}  // namespace quorvane
