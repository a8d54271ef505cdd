#pragma once
// Texts of the string table that name a device by its MAC: the six bytes
// fill the text's six "%02x" places, so that every front end writes a MAC
// the way the table does.

#include <string>

#include "protocol/packet.h"

namespace quorvane {

// The table's text `stringId` with the MAC's six bytes in its places.
std::string MacStringText(int stringId, const MacAddress& mac);

// "02:00:00:00:00:01" as the table writes a MAC.
std::string MacText(const MacAddress& mac);

}  // namespace quorvane
