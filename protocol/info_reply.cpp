#include "protocol/info_reply.h"

#include <algorithm>
#include <new>

namespace quorvane::detail {

// A reply whose payload length names more bytes than arrived is cut to the
// bytes that did arrive: the device did answer, and what it sent is still
// worth keeping, while nothing beyond the datagram may be read.
bool StoreInformationReply(DeviceRecord& record, const Reply& reply) {
    if (reply.bytes.size() < OFFSET_PAYLOAD) return false;  // no payload length to go by
    record.ipAddress = reply.sender;
    const std::size_t arrived = reply.bytes.size() - OFFSET_PAYLOAD;
    const std::size_t payload = std::min<std::size_t>(ReadU16(reply.bytes, OFFSET_PAYLOAD_LENGTH), arrived);
    if (payload == 0) return true;
    record.infoFlag = reply.bytes[OFFSET_PAYLOAD];
    record.infoBlock.clear();
    record.infoBlock.shrink_to_fit();
    try {
        const auto block = reply.bytes.subspan(OFFSET_PAYLOAD + 1, payload - 1);
        record.infoBlock.assign(block.begin(), block.end());
    } catch (const std::bad_alloc&) {
        record.infoBlock.clear();  // no memory for the copy: the device is kept without a block
    }
    return true;
}

}  // namespace quorvane::detail
