#pragma once
// Builds the information block a simulated device reports: an identity
// record (tag 0, 14 bytes), a firmware record (tag 32) with revision,
// product and letters entries, and a naming record (tag 48, 78 bytes).

#include <cstdint>
#include <vector>

#include "tools/devsim/device_profile.h"

namespace quorvane::devsim {

inline constexpr std::size_t FIRMWARE_RECORD_LENGTH = 2 + 3 * 10;
inline constexpr std::size_t INFO_BLOCK_LENGTH = 14 + FIRMWARE_RECORD_LENGTH + 78;

std::vector<uint8_t> BuildInfoBlock(const DeviceProfile& profile);

}  // namespace quorvane::devsim
