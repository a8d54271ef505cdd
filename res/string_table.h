#pragma once
// The program's string table: every message, label and format by id.
// Ids: res/string_ids.h (IDS_...). Filling the formats: res/string_format.h
// (FormatStringId for the printf-style ones, FormatPlaceholders for %1/%2).

#include <string>

#include "res/string_ids.h"

namespace quorvane {

// The text of string `id` (see res/string_ids.h); empty for an unknown id.
std::string LoadString(int id);

}  // namespace quorvane
