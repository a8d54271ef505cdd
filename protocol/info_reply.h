#pragma once
// What an information reply leaves in the device's record. Shared by the
// single query and the concurrent queries of an admission pass.

#include "protocol/device_record.h"
#include "protocol/exchange.h"

namespace quorvane::detail {

// Stores the reply's source address, flag and block copy in `record`. False,
// leaving the record as it was, when the reply is too short to carry a
// payload length: that attempt then failed.
bool StoreInformationReply(DeviceRecord& record, const Reply& reply);

// What the reply tells of the device: the flag byte and the block, as far
// as they arrived. Empty for a reply too short to carry a payload length.
std::span<const uint8_t> InformationPayload(const Reply& reply);

}  // namespace quorvane::detail
