#pragma once
// MAC addresses as the user types them on the command line.

#include <string>

#include "protocol/packet.h"

namespace quorvane::cli {

// Six two-digit hexadecimal groups separated by ':' or '-' (either case),
// e.g. 00:50:c2:1a:2b:3c. Unlike the restriction file's lenient reader this
// one rejects anything else, so a typo never selects a device by accident.
bool ParseMacText(const std::string& text, MacAddress& out);
// Lower-case, colon-separated.
std::string FormatMac(const MacAddress& mac);

}  // namespace quorvane::cli
