#include "protocol/device_protocol.h"

#include <algorithm>

#include "protocol/exchange.h"
#include "protocol/info_reply.h"

namespace quorvane {

namespace {

using detail::Exchange;
using detail::Reply;
using detail::RequestBuffer;

constexpr std::size_t ECHO_REPLY_SIZE = OFFSET_PAYLOAD + 2;
constexpr std::size_t CHECKSUM_REPLY_SIZE = OFFSET_PAYLOAD + 1;
constexpr std::size_t MAX_BLOCK_DATA = REQUEST_CAPACITY - OFFSET_PAYLOAD - 2;

// The commands whose matching reply is the whole answer.
bool PlainCommand(Transport& link, const DeviceRecord& record, uint8_t opcode,
                  const detail::ExchangeWatch& watch) {
    const RequestBuffer request(opcode, record.mac);
    return Exchange(
        link, request.Datagram(), record.mac, opcode, [](const Reply&) { return true; }, watch);
}

// The commands whose reply echoes one 16-bit value of the request. A reply
// too short to hold the echo is treated like a wrong echo.
bool EchoCommand(Transport& link, const DeviceRecord& record, const RequestBuffer& request, uint8_t opcode,
                 uint16_t expected, const detail::ExchangeWatch& watch) {
    return Exchange(
        link, request.Datagram(), record.mac, opcode,
        [expected](const Reply& reply) {
            return reply.bytes.size() >= ECHO_REPLY_SIZE && ReadU16(reply.bytes, OFFSET_PAYLOAD) == expected;
        },
        watch);
}

}  // namespace

detail::ExchangeWatch DeviceProtocol::Watch(uint8_t opcode, std::optional<uint16_t> echo) {
    lastFailure_ = {};
    lastFailure_.opcode = opcode;
    lastFailure_.echo = echo;
    return {&stats_, &lastFailure_, listener_};
}

bool DeviceProtocol::Discover(uint16_t first, uint16_t second) {
    return DiscoverDevices(transport_, chain_, first, second, discoverySettings_, discoveryReport_);
}

bool DeviceProtocol::QueryInfo(DeviceRecord& record) {
    // Every device would take the request, and a reply carrying such a MAC
    // would be stored as this one device's.
    if (!NamesOneDevice(record.mac)) return false;
    const RequestBuffer request(OP_GET_INFO, record.mac);
    return Exchange(transport_, request.Datagram(), record.mac, OP_INFO_REPLY,
                    [&record](const Reply& reply) { return detail::StoreInformationReply(record, reply); });
}

bool DeviceProtocol::QueryInfoOnce(DeviceRecord& record) {
    if (!NamesOneDevice(record.mac)) return false;
    const RequestBuffer request(OP_GET_INFO, record.mac);
    return Exchange(
        transport_, request.Datagram(), record.mac, OP_INFO_REPLY,
        [&record](const Reply& reply) { return detail::StoreInformationReply(record, reply); }, {}, 1);
}

bool DeviceProtocol::SetProgramMode(const DeviceRecord& record) {
    return PlainCommand(transport_, record, OP_PROGRAM_MODE, Watch(OP_PROGRAM_MODE));
}

bool DeviceProtocol::Lock(const DeviceRecord& record) {
    return PlainCommand(transport_, record, OP_LOCK, Watch(OP_LOCK));
}

bool DeviceProtocol::Unlock(const DeviceRecord& record) {
    return PlainCommand(transport_, record, OP_UNLOCK, Watch(OP_UNLOCK));
}

bool DeviceProtocol::Reset(const DeviceRecord& record) {
    return PlainCommand(transport_, record, OP_RESET, Watch(OP_RESET));
}

bool DeviceProtocol::Erase(const DeviceRecord& record, uint16_t value) {
    uint8_t payload[2];
    WriteU16(payload, 0, value);
    const RequestBuffer request(OP_ERASE, record.mac, payload);
    return EchoCommand(transport_, record, request, OP_ERASE, value, Watch(OP_ERASE, value));
}

bool DeviceProtocol::LoadBegin(const DeviceRecord& record, uint16_t a, uint16_t b, uint32_t totalLength,
                               uint16_t& blockSize) {
    uint8_t payload[8];
    WriteU16(payload, 0, a);
    WriteU16(payload, 2, b);
    WriteU32(payload, 4, totalLength);
    const RequestBuffer request(OP_LOAD_BEGIN, record.mac, payload);
    const detail::ExchangeWatch watch = Watch(OP_LOAD_BEGIN);
    return Exchange(
        transport_, request.Datagram(), record.mac, OP_LOAD_BEGIN,
        [&blockSize](const Reply& reply) {
            if (reply.bytes.size() < ECHO_REPLY_SIZE) return false;
            blockSize = ReadU16(reply.bytes, OFFSET_PAYLOAD);
            return true;
        },
        watch);
}

bool DeviceProtocol::LoadBlock(const DeviceRecord& record, uint16_t index, std::span<const uint8_t> data) {
    const detail::ExchangeWatch watch = Watch(OP_LOAD_BLOCK, index);
    if (data.size() > MAX_BLOCK_DATA)  // would not fit the request buffer
        return detail::ExchangeFailed(watch, {ExchangeFault::TooLarge, OP_LOAD_BLOCK, 0, 0, index, 0});
    uint8_t indexBytes[2];
    WriteU16(indexBytes, 0, index);
    const RequestBuffer request(OP_LOAD_BLOCK, record.mac, indexBytes, data);
    // A late reply for the previous block carries the previous index and
    // must not count as an answer to this one.
    if (!EchoCommand(transport_, record, request, OP_LOAD_BLOCK, index, watch)) return false;
    stats_.bytes += data.size();
    return true;
}

bool DeviceProtocol::LoadVerify(const DeviceRecord& record, uint8_t& checksum) {
    const RequestBuffer request(OP_LOAD_VERIFY, record.mac);
    const detail::ExchangeWatch watch = Watch(OP_LOAD_VERIFY);
    return Exchange(
        transport_, request.Datagram(), record.mac, OP_LOAD_VERIFY,
        [&checksum](const Reply& reply) {
            if (reply.bytes.size() < CHECKSUM_REPLY_SIZE) return false;
            checksum = reply.bytes[OFFSET_PAYLOAD];
            return true;
        },
        watch);
}

bool DeviceProtocol::Read(const DeviceRecord& record, uint16_t length, uint16_t a, uint16_t b,
                          std::span<uint8_t> out) {
    const detail::ExchangeWatch watch = Watch(OP_READ);
    if (out.size() < length)  // the caller's buffer could not take the answer
        return detail::ExchangeFailed(watch, {ExchangeFault::TooLarge, OP_READ, 0, 0, std::nullopt, 0});
    uint8_t payload[6];
    WriteU16(payload, 0, length);
    WriteU16(payload, 2, a);
    WriteU16(payload, 4, b);
    const RequestBuffer request(OP_READ, record.mac, payload);
    const bool read = Exchange(
        transport_, request.Datagram(), record.mac, OP_READ,
        [&](const Reply& reply) {
            // The length field must name exactly what was asked, and the bytes
            // it names must really have arrived.
            if (reply.bytes.size() < OFFSET_PAYLOAD || ReadU16(reply.bytes, OFFSET_PAYLOAD_LENGTH) != length)
                return false;
            if (reply.bytes.size() < OFFSET_PAYLOAD + length) return false;
            std::copy_n(reply.bytes.begin() + OFFSET_PAYLOAD, length, out.begin());
            return true;
        },
        watch);
    if (read) stats_.bytes += length;
    return read;
}

}  // namespace quorvane
