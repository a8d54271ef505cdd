#include "protocol/info_reply.h"

#include <algorithm>
#include <new>

namespace quorvane::detail {

// A reply whose payload length names more bytes than arrived is cut to the
// bytes that did arrive: the device did answer, and what it sent is still
// worth keeping, while nothing beyond the datagram may be read.
std::span<const uint8_t> InformationPayload(const Reply& reply) {
    if (reply.bytes.size() < OFFSET_PAYLOAD) return {};
    const std::size_t arrived = reply.bytes.size() - OFFSET_PAYLOAD;
    return reply.bytes.subspan(OFFSET_PAYLOAD,
                               std::min<std::size_t>(ReadU16(reply.bytes, OFFSET_PAYLOAD_LENGTH), arrived));
}

namespace {

// The information reply's source replaces the record's address; of a MAC
// heard from two addresses, the other one stays the one not in ipAddress.
void MoveTo(DeviceRecord& record, uint32_t address) {
    if (record.sharedMac == SharedMac::TwoAddresses && record.otherAddress == address)
        record.otherAddress = record.ipAddress;
    record.ipAddress = address;
}

}  // namespace

bool StoreInformationReply(DeviceRecord& record, const Reply& reply) {
    if (reply.bytes.size() < OFFSET_PAYLOAD) return false;  // no payload length to go by
    MoveTo(record, reply.sender);
    const auto payload = InformationPayload(reply);
    if (payload.empty()) return true;
    record.infoFlag = payload[0];
    record.infoBlock.clear();
    record.infoBlock.shrink_to_fit();
    try {
        const auto block = payload.subspan(1);
        record.infoBlock.assign(block.begin(), block.end());
    } catch (const std::bad_alloc&) {
        record.infoBlock.clear();  // no memory for the copy: the device is kept without a block
    }
    return true;
}

}  // namespace quorvane::detail
