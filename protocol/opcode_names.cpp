#include "protocol/opcode_names.h"

#include <array>
#include <charconv>
#include <utility>

#include "protocol/packet.h"

namespace quorvane {
namespace {

constexpr std::array<std::pair<std::string_view, uint8_t>, 16> NAMES{{
    {"DISCOVER", OP_DISCOVER},
    {"DISCOVER_REPLY", OP_DISCOVER_REPLY},
    {"LOCK", OP_LOCK},
    {"UNLOCK", OP_UNLOCK},
    {"ERASE", OP_ERASE},
    {"LOAD_BEGIN", OP_LOAD_BEGIN},
    {"LOAD_VERIFY", OP_LOAD_VERIFY},
    {"LOAD_BLOCK", OP_LOAD_BLOCK},
    {"RESET", OP_RESET},
    {"PROGRAM_MODE", OP_PROGRAM_MODE},
    {"READ", OP_READ},
    {"GET_INFO", OP_GET_INFO},
    {"INFO_REPLY", OP_INFO_REPLY},
    // Script keywords, so that a fault can be named the way the script names the command.
    {"SETPROGRAMMODE", OP_PROGRAM_MODE},
    {"LOCKDEVICE", OP_LOCK},
    {"UNLOCKDEVICE", OP_UNLOCK},
}};

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c == '-') c = '_';
    }
    return out;
}

}  // namespace

std::string OpcodeName(uint8_t opcode) {
    for (const auto& [name, value] : NAMES) {
        if (value == opcode) return std::string(name);
    }
    return "OP_" + std::to_string(opcode);
}

std::optional<uint8_t> ParseOpcodeName(std::string_view text) {
    const std::string upper = Upper(text);
    for (const auto& [name, value] : NAMES) {
        if (upper == name) return value;
    }
    unsigned value = 0;
    const char* end = upper.data() + upper.size();
    auto [ptr, ec] = std::from_chars(upper.data(), end, value);
    if (upper.empty() || ec != std::errc() || ptr != end || value > 255) return std::nullopt;
    return static_cast<uint8_t>(value);
}

}  // namespace quorvane
