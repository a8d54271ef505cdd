#include "protocol/device_protocol.h"

#include <algorithm>
#include <new>

#include "protocol/exchange.h"

namespace quorvane {

namespace {

using detail::Exchange;
using detail::Reply;
using detail::RequestBuffer;

constexpr std::size_t DISCOVERY_REPLY_SIZE = OFFSET_PAYLOAD + 4;
constexpr std::size_t ECHO_REPLY_SIZE = OFFSET_PAYLOAD + 2;
constexpr std::size_t CHECKSUM_REPLY_SIZE = OFFSET_PAYLOAD + 1;
constexpr std::size_t MAX_BLOCK_DATA = REQUEST_CAPACITY - OFFSET_PAYLOAD - 2;

// The commands whose matching reply is the whole answer.
bool PlainCommand(Transport& link, const DeviceRecord& record, uint8_t opcode) {
    const RequestBuffer request(opcode, record.mac, 0);
    return Exchange(link, request.Datagram(), record.mac, opcode, [](const Reply&) { return true; });
}

// The commands whose reply echoes one 16-bit value of the request. A reply
// too short to hold the echo is treated like a wrong echo.
bool EchoCommand(Transport& link, const DeviceRecord& record, const RequestBuffer& request, uint8_t opcode,
                 uint16_t expected) {
    return Exchange(link, request.Datagram(), record.mac, opcode, [expected](const Reply& reply) {
        return reply.bytes.size() >= ECHO_REPLY_SIZE && ReadU16(reply.bytes, OFFSET_PAYLOAD) == expected;
    });
}

void AddDiscoveredDevice(DeviceChain& chain, const Reply& reply) {
    DeviceRecord& record = chain.Push();
    record.discoveryWord1 = ReadU16(reply.bytes, OFFSET_PAYLOAD);
    record.discoveryWord2 = ReadU16(reply.bytes, OFFSET_PAYLOAD + 2);
    std::copy_n(reply.bytes.begin() + OFFSET_MAC, record.mac.size(), record.mac.begin());
    record.ipAddress = reply.sender;
}

// A reply whose payload length names more bytes than arrived is cut to the
// bytes that did arrive: the device did answer, and what it sent is still
// worth keeping, while nothing beyond the datagram may be read.
void StoreInformation(DeviceRecord& record, const Reply& reply) {
    record.ipAddress = reply.sender;
    const std::size_t arrived = reply.bytes.size() - OFFSET_PAYLOAD;
    const std::size_t payload = std::min<std::size_t>(ReadU16(reply.bytes, OFFSET_PAYLOAD_LENGTH), arrived);
    if (payload == 0) return;
    record.infoFlag = reply.bytes[OFFSET_PAYLOAD];
    record.infoBlock.clear();
    record.infoBlock.shrink_to_fit();
    try {
        const auto block = reply.bytes.subspan(OFFSET_PAYLOAD + 1, payload - 1);
        record.infoBlock.assign(block.begin(), block.end());
    } catch (const std::bad_alloc&) {
        record.infoBlock.clear();  // no memory for the copy: the device is kept without a block
    }
}

}  // namespace

bool DeviceProtocol::Discover(uint16_t first, uint16_t second) {
    chain_.Clear();
    RequestBuffer request(OP_DISCOVER, BROADCAST_MAC, 4);
    WriteU16(request.Bytes(), OFFSET_PAYLOAD, first);
    WriteU16(request.Bytes(), OFFSET_PAYLOAD + 2, second);
    if (!transport_.Send(LIMITED_BROADCAST, request.Datagram())) return false;

    detail::ReplyBuffer buffer;
    bool added = false;
    while (const auto reply = detail::AwaitReply(transport_, nullptr, OP_DISCOVER_REPLY, buffer)) {
        if (reply->bytes.size() < DISCOVERY_REPLY_SIZE) continue;  // too short to describe a device
        AddDiscoveredDevice(chain_, *reply);
        added = true;
    }
    return added;
}

bool DeviceProtocol::QueryInfo(DeviceRecord& record) {
    const RequestBuffer request(OP_GET_INFO, record.mac, 0);
    return Exchange(transport_, request.Datagram(), record.mac, OP_INFO_REPLY, [&record](const Reply& reply) {
        if (reply.bytes.size() < OFFSET_PAYLOAD) return false;  // no payload length to go by
        StoreInformation(record, reply);
        return true;
    });
}

bool DeviceProtocol::SetProgramMode(const DeviceRecord& record) {
    return PlainCommand(transport_, record, OP_PROGRAM_MODE);
}

bool DeviceProtocol::Lock(const DeviceRecord& record) {
    return PlainCommand(transport_, record, OP_LOCK);
}

bool DeviceProtocol::Unlock(const DeviceRecord& record) {
    return PlainCommand(transport_, record, OP_UNLOCK);
}

bool DeviceProtocol::Reset(const DeviceRecord& record) {
    return PlainCommand(transport_, record, OP_RESET);
}

bool DeviceProtocol::Erase(const DeviceRecord& record, uint16_t value) {
    RequestBuffer request(OP_ERASE, record.mac, 2);
    WriteU16(request.Bytes(), OFFSET_PAYLOAD, value);
    return EchoCommand(transport_, record, request, OP_ERASE, value);
}

bool DeviceProtocol::LoadBegin(const DeviceRecord& record, uint16_t a, uint16_t b, uint32_t totalLength,
                               uint16_t& blockSize) {
    RequestBuffer request(OP_LOAD_BEGIN, record.mac, 8);
    WriteU16(request.Bytes(), OFFSET_PAYLOAD, a);
    WriteU16(request.Bytes(), OFFSET_PAYLOAD + 2, b);
    WriteU32(request.Bytes(), OFFSET_PAYLOAD + 4, totalLength);
    return Exchange(transport_, request.Datagram(), record.mac, OP_LOAD_BEGIN,
                    [&blockSize](const Reply& reply) {
                        if (reply.bytes.size() < ECHO_REPLY_SIZE) return false;
                        blockSize = ReadU16(reply.bytes, OFFSET_PAYLOAD);
                        return true;
                    });
}

bool DeviceProtocol::LoadBlock(const DeviceRecord& record, uint16_t index, std::span<const uint8_t> data) {
    if (data.size() > MAX_BLOCK_DATA) return false;  // would not fit the request buffer
    RequestBuffer request(OP_LOAD_BLOCK, record.mac, static_cast<uint16_t>(data.size() + 2));
    WriteU16(request.Bytes(), OFFSET_PAYLOAD, index);
    std::copy(data.begin(), data.end(), request.Bytes().begin() + OFFSET_PAYLOAD + 2);
    // A late reply for the previous block carries the previous index and
    // must not count as an answer to this one.
    return EchoCommand(transport_, record, request, OP_LOAD_BLOCK, index);
}

bool DeviceProtocol::LoadVerify(const DeviceRecord& record, uint8_t& checksum) {
    const RequestBuffer request(OP_LOAD_VERIFY, record.mac, 0);
    return Exchange(transport_, request.Datagram(), record.mac, OP_LOAD_VERIFY,
                    [&checksum](const Reply& reply) {
                        if (reply.bytes.size() < CHECKSUM_REPLY_SIZE) return false;
                        checksum = reply.bytes[OFFSET_PAYLOAD];
                        return true;
                    });
}

bool DeviceProtocol::Read(const DeviceRecord& record, uint16_t length, uint16_t a, uint16_t b,
                          std::span<uint8_t> out) {
    if (out.size() < length) return false;  // the caller's buffer could not take the answer
    RequestBuffer request(OP_READ, record.mac, 6);
    WriteU16(request.Bytes(), OFFSET_PAYLOAD, length);
    WriteU16(request.Bytes(), OFFSET_PAYLOAD + 2, a);
    WriteU16(request.Bytes(), OFFSET_PAYLOAD + 4, b);
    return Exchange(transport_, request.Datagram(), record.mac, OP_READ, [&](const Reply& reply) {
        // The length field must name exactly what was asked, and the bytes
        // it names must really have arrived.
        if (reply.bytes.size() < OFFSET_PAYLOAD || ReadU16(reply.bytes, OFFSET_PAYLOAD_LENGTH) != length)
            return false;
        if (reply.bytes.size() < OFFSET_PAYLOAD + length) return false;
        std::copy_n(reply.bytes.begin() + OFFSET_PAYLOAD, length, out.begin());
        return true;
    });
}

}  // namespace quorvane
