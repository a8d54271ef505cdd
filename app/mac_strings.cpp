#include "app/mac_strings.h"

#include "res/string_format.h"
#include "res/string_ids.h"

namespace quorvane {

std::string MacStringText(int stringId, const MacAddress& m) {
    return FormatStringId(stringId, {m[0], m[1], m[2], m[3], m[4], m[5]});
}

std::string MacText(const MacAddress& mac) { return MacStringText(IDS_MAC_TEXT, mac); }

}  // namespace quorvane
