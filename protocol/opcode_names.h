#pragma once
// Readable names for request opcodes, used by the command line and the logs.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// "ERASE", "LOAD_BLOCK", ...; "OP_<n>" for a number without a name.
std::string OpcodeName(uint8_t opcode);

// Accepts the names above in either case, the script keywords
// (SETPROGRAMMODE, LOCKDEVICE, UNLOCKDEVICE) and plain decimal numbers.
std::optional<uint8_t> ParseOpcodeName(std::string_view text);

}  // namespace quorvane
