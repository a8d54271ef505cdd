#include "scripted_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quorvane::testing {

namespace {

std::string Format(const char* format, unsigned x = 0, unsigned y = 0, unsigned z = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, x, y, z);
    return text;
}

std::string RequestText(std::span<const uint8_t> bytes) {
    if (bytes.size() < HEADER_SIZE) return "SHORT";
    const auto word = [&](std::size_t offset) -> unsigned {
        return offset + 2 <= bytes.size() ? ReadU16(bytes, offset) : 0xFFFFFFFFu;
    };
    switch (bytes[OFFSET_OPCODE]) {
        case OP_DISCOVER:
            return "DISCOVER";
        case OP_GET_INFO:
            return Format("INFO %02x", bytes[OFFSET_MAC + 5]);
        case OP_PROGRAM_MODE:
            return "PROGRAMMODE";
        case OP_LOCK:
            return "LOCK";
        case OP_UNLOCK:
            return "UNLOCK";
        case OP_RESET:
            return "RESET";
        case OP_ERASE:
            return Format("ERASE %u", word(14));
        case OP_LOAD_BEGIN:
            return Format("BEGIN 0x%x:0x%x %u", word(14), word(16),
                          bytes.size() >= 22 ? ReadU32(bytes, 18) : 0xFFFFFFFFu);
        case OP_LOAD_BLOCK:
            return Format("BLOCK %u %u", word(14), static_cast<unsigned>(bytes.size() - 16));
        case OP_LOAD_VERIFY:
            return "VERIFY";
        case OP_READ:
            return Format("READ %u 0x%x:0x%x", word(14), word(16), word(18));
        default:
            return Format("OPCODE %u", bytes[OFFSET_OPCODE]);
    }
}

}  // namespace

std::vector<uint8_t> SimulatedDevice::Loaded() const {
    std::vector<uint8_t> all;
    for (const auto& [index, data] : blocks) all.insert(all.end(), data.begin(), data.end());
    return all;
}

uint8_t MemoryByte(uint16_t a, uint16_t address) {
    return static_cast<uint8_t>(address ^ (address >> 8) ^ (a * 37));
}

std::vector<uint8_t> IdentityRecord(uint16_t vendor, uint16_t deviceId) {
    std::vector<uint8_t> record(14, 0);
    record[0] = 14;
    WriteU16(record, 2, vendor);
    WriteU16(record, 4, deviceId);
    return record;
}

std::vector<uint8_t> NamingRecord(const std::string& name, const std::string& workgroup) {
    std::vector<uint8_t> record(78, 0);
    record[0] = 78;
    record[1] = 48;
    std::memcpy(record.data() + 20, name.data(), std::min<std::size_t>(name.size(), 17));
    std::memcpy(record.data() + 38, workgroup.data(), std::min<std::size_t>(workgroup.size(), 39));
    return record;
}

std::vector<uint8_t> FirmwareRecord(uint8_t revision, uint16_t product, uint8_t second, uint8_t third,
                                    uint16_t dateFirst, uint8_t dateSecond, uint8_t dateThird,
                                    const std::string& letters) {
    std::vector<uint8_t> record(32, 0);
    record[0] = 32;
    record[1] = 32;
    uint8_t* entry = record.data() + 2;
    entry[0] = 8;
    entry[1] = revision;
    entry = record.data() + 12;
    entry[0] = 11;
    entry[1] = second;
    entry[2] = static_cast<uint8_t>(product);
    entry[3] = static_cast<uint8_t>(product >> 8);
    entry[4] = third;
    entry[6] = static_cast<uint8_t>(dateFirst);
    entry[7] = static_cast<uint8_t>(dateFirst >> 8);
    entry[8] = dateSecond;
    entry[9] = dateThird;
    entry = record.data() + 22;
    entry[0] = 12;
    std::memcpy(entry + 6, letters.data(), std::min<std::size_t>(letters.size(), 3));
    return record;
}

std::vector<uint8_t> InfoBlockOf(uint16_t vendor, uint16_t deviceId, uint16_t product, uint8_t revision) {
    return Join({IdentityRecord(vendor, deviceId), FirmwareRecord(revision, product, 0, 0, 0, 3, 0, "")});
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

ScriptedNetwork::ScriptedNetwork(std::initializer_list<SimulatedDevice> fleet) : devices(fleet) {
    link.responder = [this](std::span<const uint8_t> request, FakeTransport&) { Respond(request); };
}

SimulatedDevice& ScriptedNetwork::Add(const MacAddress& mac, uint32_t ip) {
    SimulatedDevice device;
    device.mac = mac;
    device.ip = ip;
    return Add(std::move(device));
}

SimulatedDevice& ScriptedNetwork::Add(SimulatedDevice device) {
    return devices.emplace_back(std::move(device));
}

std::unique_ptr<DeviceRecord> ScriptedNetwork::RecordOf(std::size_t index) const {
    auto record = std::make_unique<DeviceRecord>();
    record->mac = devices[index].mac;
    record->infoFlag = devices[index].infoFlag;
    record->infoBlock = devices[index].infoBlock;
    return record;
}


void ScriptedNetwork::Respond(std::span<const uint8_t> request) {
    if (request.size() < HEADER_SIZE) return;
    const uint8_t opcode = request[OFFSET_OPCODE];
    if (opcode == OP_DISCOVER) {
        for (const auto& device : devices) {
            link.QueueReply(MakeReplyWords(OP_DISCOVER_REPLY, device.mac, {0x1111, 0x2222}), device.ip);
        }
        return;
    }
    // Every device with the request's MAC takes it: two with one MAC both answer.
    for (auto& device : devices) {
        if (!std::equal(device.mac.begin(), device.mac.end(), request.begin() + OFFSET_MAC)) continue;
        if (link.virtualMillis < device.bootedAt) continue;
        if (device.silentOpcode == opcode) {
            if (device.answersBeforeSilence <= 0) continue;
            --device.answersBeforeSilence;
        }
        Answer(device, request);
    }
}

void ScriptedNetwork::Answer(SimulatedDevice& device, std::span<const uint8_t> request) {
    const uint8_t opcode = request[OFFSET_OPCODE];
    const MacAddress& mac = device.mac;
    switch (opcode) {
        case OP_GET_INFO: {
            if (!device.answersInfo) return;
            std::vector<uint8_t> payload{device.infoFlag};
            payload.insert(payload.end(), device.infoBlock.begin(), device.infoBlock.end());
            link.QueueReply(MakeReply(OP_INFO_REPLY, mac, payload), device.ip);
            return;
        }
        case OP_PROGRAM_MODE:
            ++device.programModeRequests;
            link.QueueReply(MakeReply(opcode, mac));
            return;
        case OP_ERASE:
            if (device.failingRuns > 0 && device.programModeRequests <= device.failingRuns) return;
            link.QueueReply(MakeReplyWords(opcode, mac, {ReadU16(request, 14)}));
            return;
        case OP_LOAD_BEGIN:
            device.blocks.clear();
            link.QueueReply(MakeReplyWords(opcode, mac, {device.blockSize}));
            return;
        case OP_LOAD_BLOCK: {
            const uint16_t index = ReadU16(request, 14);
            if (static_cast<int>(index) == device.silentBlock) return;
            device.blocks[index].assign(request.begin() + 16, request.end());
            link.QueueReply(MakeReplyWords(opcode, mac, {index}));
            return;
        }
        case OP_LOAD_VERIFY: {
            uint8_t sum = 0;
            for (uint8_t byte : device.Loaded()) sum = static_cast<uint8_t>(sum + byte);
            if (device.reportedChecksum >= 0) sum = static_cast<uint8_t>(device.reportedChecksum);
            const uint8_t payload[2] = {sum, 0};
            link.QueueReply(MakeReply(opcode, mac, payload));
            return;
        }
        case OP_READ: {
            const uint16_t length = ReadU16(request, 14);
            const uint16_t a = ReadU16(request, 16);
            const uint16_t b = ReadU16(request, 18);
            std::vector<uint8_t> data(length);
            for (uint16_t i = 0; i < length; ++i) data[i] = MemoryByte(a, static_cast<uint16_t>(b + i));
            link.QueueReply(MakeReply(opcode, mac, data));
            return;
        }
        case OP_RESET:
            link.QueueReply(MakeReply(opcode, mac));
            if (device.bootMillis != 0)
                device.bootedAt = device.bootMillis < 0 ? INT64_MAX : link.virtualMillis + device.bootMillis;
            if (!device.infoBlockAfterReset.empty()) device.infoBlock = device.infoBlockAfterReset;
            return;
        default:
            link.QueueReply(MakeReply(opcode, mac));
            return;
    }
}

std::vector<std::string> ScriptedNetwork::Trace() const {
    std::vector<std::string> trace;
    const std::vector<uint8_t>* previous = nullptr;
    for (const auto& datagram : link.sent) {
        if (previous == nullptr || *previous != datagram.bytes) trace.push_back(RequestText(datagram.bytes));
        previous = &datagram.bytes;
    }
    return trace;
}

std::vector<MacAddress> ScriptedNetwork::ScriptRuns() const {
    std::vector<MacAddress> runs;
    for (const auto& datagram : link.sent) {
        PacketHeader header;
        if (PacketHeader::Decode(datagram.bytes, header) && header.opcode == OP_PROGRAM_MODE)
            runs.push_back(header.mac);
    }
    return runs;
}

int ScriptedNetwork::Sends(uint8_t opcode) const {
    int count = 0;
    for (const auto& datagram : link.sent) {
        if (datagram.bytes.size() > OFFSET_OPCODE && datagram.bytes[OFFSET_OPCODE] == opcode) ++count;
    }
    return count;
}

}  // namespace quorvane::testing
