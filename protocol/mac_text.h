#pragma once
// MAC addresses as people type and read them.

#include <string>
#include <string_view>

#include "protocol/packet.h"

namespace quorvane {

// Twelve hexadecimal digits (either case) in one of the shapes people copy
// from labels and switches: 00:50:c2:1a:2b:3c or 00-50-c2-1a-2b-3c (one
// separator throughout), 0050.c21a.2b3c, or 0050c21a2b3c. Anything else is
// refused, so a typo never names a device by accident. `out` is written only
// on success.
bool ParseMacText(std::string_view text, MacAddress& out);
// Lower-case, colon-separated: 00:50:c2:1a:2b:3c.
std::string FormatMac(const MacAddress& mac);

}  // namespace quorvane
