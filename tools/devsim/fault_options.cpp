#include "tools/devsim/fault_options.h"

#include <algorithm>

namespace quorvane::devsim {

bool FaultOptions::AppliesTo(const MacAddress& mac) const {
    return devices.empty() || std::find(devices.begin(), devices.end(), mac) != devices.end();
}

bool HasEcho(uint8_t opcode) {
    return opcode == OP_ERASE || opcode == OP_LOAD_BLOCK || opcode == OP_READ || opcode == OP_LOAD_VERIFY;
}

}  // namespace quorvane::devsim
