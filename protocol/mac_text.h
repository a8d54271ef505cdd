#pragma once
// MAC addresses as people type and read them.

#include <string>
#include <string_view>

#include "protocol/packet.h"

namespace quorvane {

// Six two-digit hexadecimal groups (either case) joined by one separator,
// ':' or '-' throughout, e.g. 00:50:c2:1a:2b:3c. Anything else is refused,
// so a typo never names a device by accident. `out` is written only on success.
bool ParseMacText(std::string_view text, MacAddress& out);
// Lower-case, colon-separated: 00:50:c2:1a:2b:3c.
std::string FormatMac(const MacAddress& mac);

}  // namespace quorvane
