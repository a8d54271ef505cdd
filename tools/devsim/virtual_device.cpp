#include "tools/devsim/virtual_device.h"

#include <numeric>

#include "tools/devsim/info_block_builder.h"

namespace quorvane::devsim {

std::vector<uint8_t> BuildReply(uint8_t opcode, const MacAddress& mac, std::span<const uint8_t> payload) {
    std::vector<uint8_t> out(HEADER_SIZE + payload.size(), 0);
    PacketHeader header;
    header.opcode = opcode;
    header.magic = REPLY_MAGIC;
    header.mac = mac;
    header.payloadLength = static_cast<uint16_t>(payload.size());
    header.Encode(out);
    std::copy(payload.begin(), payload.end(), out.begin() + HEADER_SIZE);
    return out;
}

VirtualDevice::VirtualDevice(DeviceProfile profile)
    : profile_(std::move(profile)), infoBlock_(BuildInfoBlock(profile_)) {}

bool VirtualDevice::Accepts(std::span<const uint8_t> request) const {
    PacketHeader header;
    if (!PacketHeader::Decode(request, header) || header.magic != REQUEST_MAGIC) return false;
    const MacAddress& wanted = (header.opcode == OP_DISCOVER) ? BROADCAST_MAC : profile_.mac;
    return header.mac == wanted;
}

std::optional<std::vector<uint8_t>> VirtualDevice::Answer(std::span<const uint8_t> request) {
    PacketHeader header;
    if (!PacketHeader::Decode(request, header)) return std::nullopt;
    // A payload length that names more bytes than arrived marks a damaged request.
    if (header.payloadLength > request.size() - HEADER_SIZE) return std::nullopt;
    const auto payload = request.subspan(HEADER_SIZE, header.payloadLength);
    switch (header.opcode) {
        case OP_DISCOVER: {
            uint8_t words[4];
            WriteU16(words, 0, profile_.discoveryWord1);
            WriteU16(words, 2, profile_.discoveryWord2);
            return Reply(OP_DISCOVER_REPLY, words);
        }
        case OP_GET_INFO:
            return Information();
        case OP_LOCK:
            locked_ = true;
            return Reply(OP_LOCK);
        case OP_UNLOCK:
            locked_ = false;
            return Reply(OP_UNLOCK);
        case OP_PROGRAM_MODE:
            programMode_ = true;
            return Reply(OP_PROGRAM_MODE);
        case OP_RESET:
            programMode_ = false;
            load_.reset();
            return Reply(OP_RESET);
        case OP_ERASE:
            return Erase(payload);
        case OP_LOAD_BEGIN:
            return LoadBegin(payload);
        case OP_LOAD_BLOCK:
            return LoadBlock(payload);
        case OP_LOAD_VERIFY: {
            const uint8_t checksum = LoadChecksum();
            return Reply(OP_LOAD_VERIFY, std::span<const uint8_t>(&checksum, 1));
        }
        case OP_READ:
            return Read(payload);
        default:
            return std::nullopt;
    }
}

uint8_t VirtualDevice::LoadChecksum() const {
    if (!load_) return 0;
    unsigned sum = 0;
    for (const auto& [index, blockSum] : load_->blockSums) sum += blockSum;
    return static_cast<uint8_t>(sum);
}

std::vector<uint8_t> VirtualDevice::Reply(uint8_t opcode, std::span<const uint8_t> payload) const {
    return BuildReply(opcode, profile_.mac, payload);
}

std::vector<uint8_t> VirtualDevice::ReplyWord(uint8_t opcode, uint16_t word) const {
    uint8_t bytes[2];
    WriteU16(bytes, 0, word);
    return Reply(opcode, bytes);
}

std::vector<uint8_t> VirtualDevice::Information() const {
    std::vector<uint8_t> payload;
    if (profile_.infoMode != InfoMode::Empty) payload.push_back(profile_.infoFlag);
    if (profile_.infoMode == InfoMode::Full)
        payload.insert(payload.end(), infoBlock_.begin(), infoBlock_.end());
    return Reply(OP_INFO_REPLY, payload);
}

std::optional<std::vector<uint8_t>> VirtualDevice::Erase(std::span<const uint8_t> payload) {
    if (payload.size() < 2) return std::nullopt;
    const uint16_t value = ReadU16(payload, 0);
    if (value == ERASE_ALL) {
        memory_.Clear();
    } else {
        memory_.Erase(LinearAddress(value, 0), LinearAddress(value, 0) + SEGMENT_SIZE);
    }
    return ReplyWord(OP_ERASE, value);
}

std::optional<std::vector<uint8_t>> VirtualDevice::LoadBegin(std::span<const uint8_t> payload) {
    if (payload.size() < 8) return std::nullopt;
    // A repeated begin (its reply was lost) simply starts the load afresh.
    load_ = LoadSession{LinearAddress(ReadU16(payload, 0), ReadU16(payload, 2)), ReadU32(payload, 4), {}};
    return ReplyWord(OP_LOAD_BEGIN, profile_.blockSize);
}

std::optional<std::vector<uint8_t>> VirtualDevice::LoadBlock(std::span<const uint8_t> payload) {
    if (payload.size() < 2 || !load_) return std::nullopt;
    const uint16_t index = ReadU16(payload, 0);
    const auto data = payload.subspan(2);
    memory_.Write(load_->begin + uint64_t{index} * profile_.blockSize, data);
    load_->blockSums[index] = static_cast<uint8_t>(std::accumulate(data.begin(), data.end(), 0u));
    return ReplyWord(OP_LOAD_BLOCK, index);
}

std::optional<std::vector<uint8_t>> VirtualDevice::Read(std::span<const uint8_t> payload) const {
    if (payload.size() < 6) return std::nullopt;
    const std::size_t length = std::min<std::size_t>(ReadU16(payload, 0), MAX_READ_LENGTH);
    const auto data = memory_.Read(LinearAddress(ReadU16(payload, 2), ReadU16(payload, 4)), length);
    return Reply(OP_READ, data);
}

}  // namespace quorvane::devsim
