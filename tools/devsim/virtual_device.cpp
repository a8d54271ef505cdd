#include "tools/devsim/virtual_device.h"

#include <array>
#include <numeric>

#include "tools/devsim/info_block_builder.h"

namespace quorvane::devsim {

VirtualDevice::VirtualDevice(DeviceProfile profile)
    : profile_(std::move(profile)), infoBlock_(BuildInfoBlock(profile_)) {}

bool VirtualDevice::Accepts(std::span<const uint8_t> request) const {
    PacketHeader header;
    if (!PacketHeader::Decode(request, header) || header.magic != REQUEST_MAGIC) return false;
    const MacAddress& wanted = (header.opcode == OP_DISCOVER) ? BROADCAST_MAC : profile_.mac;
    return header.mac == wanted;
}

std::optional<std::vector<uint8_t>> VirtualDevice::Answer(std::span<const uint8_t> request) {
    std::vector<uint8_t> reply(MaxReplySize());
    const std::size_t length = Answer(request, reply);
    if (length == 0) return std::nullopt;
    reply.resize(length);
    return reply;
}

std::size_t VirtualDevice::Answer(std::span<const uint8_t> request, std::span<uint8_t> out) {
    PacketHeader header;
    if (!PacketHeader::Decode(request, header)) return 0;
    // A payload length that names more bytes than arrived marks a damaged request.
    if (header.payloadLength > request.size() - HEADER_SIZE) return 0;
    const auto payload = request.subspan(HEADER_SIZE, header.payloadLength);
    switch (header.opcode) {
        case OP_DISCOVER: {
            uint8_t words[4];
            WriteU16(words, 0, profile_.discoveryWord1);
            WriteU16(words, 2, profile_.discoveryWord2);
            return Reply(out, OP_DISCOVER_REPLY, words);
        }
        case OP_GET_INFO:
            return Information(out);
        case OP_LOCK:
            locked_ = true;
            return Reply(out, OP_LOCK);
        case OP_UNLOCK:
            locked_ = false;
            return Reply(out, OP_UNLOCK);
        case OP_PROGRAM_MODE:
            programMode_ = true;
            return Reply(out, OP_PROGRAM_MODE);
        case OP_RESET:
            programMode_ = false;
            load_.reset();
            Restart();
            return Reply(out, OP_RESET);
        case OP_ERASE:
            return Erase(payload, out);
        case OP_LOAD_BEGIN:
            return LoadBegin(payload, out);
        case OP_LOAD_BLOCK:
            return LoadBlock(payload, out);
        case OP_LOAD_VERIFY: {
            const uint8_t checksum = LoadChecksum();
            return Reply(out, OP_LOAD_VERIFY, std::span<const uint8_t>(&checksum, 1));
        }
        case OP_READ:
            return Read(payload, out);
        default:
            return 0;
    }
}

void VirtualDevice::Restart() {
    if (loadedSinceReset_ && profile_.firmwareAfter) {
        profile_.Report(*profile_.firmwareAfter);
        infoBlock_ = BuildInfoBlock(profile_);
    }
    loadedSinceReset_ = false;
}

uint8_t VirtualDevice::LoadChecksum() const {
    if (!load_) return 0;
    unsigned sum = 0;
    for (int16_t blockSum : load_->blockSums)
        if (blockSum >= 0) sum += static_cast<unsigned>(blockSum);
    return static_cast<uint8_t>(sum);
}

std::size_t VirtualDevice::Reply(std::span<uint8_t> out, uint8_t opcode, std::span<const uint8_t> payload,
                                 std::span<const uint8_t> more) const {
    return BuildPacket(out, opcode, REPLY_MAGIC, profile_.mac, payload, more);
}

std::size_t VirtualDevice::ReplyWord(std::span<uint8_t> out, uint8_t opcode, uint16_t word) const {
    uint8_t bytes[2];
    WriteU16(bytes, 0, word);
    return Reply(out, opcode, bytes);
}

std::size_t VirtualDevice::Information(std::span<uint8_t> out) const {
    const uint8_t flag = profile_.infoFlag;
    if (profile_.infoMode == InfoMode::Empty) return Reply(out, OP_INFO_REPLY);
    if (profile_.infoMode != InfoMode::Full)
        return Reply(out, OP_INFO_REPLY, std::span<const uint8_t>(&flag, 1));
    return Reply(out, OP_INFO_REPLY, std::span<const uint8_t>(&flag, 1), infoBlock_);
}

std::size_t VirtualDevice::Erase(std::span<const uint8_t> payload, std::span<uint8_t> out) {
    if (payload.size() < 2) return 0;
    const uint16_t value = ReadU16(payload, 0);
    if (value == ERASE_ALL) {
        memory_.Clear();
    } else {
        memory_.Erase(LinearAddress(value, 0), LinearAddress(value, 0) + SEGMENT_SIZE);
    }
    return ReplyWord(out, OP_ERASE, value);
}

std::size_t VirtualDevice::LoadBegin(std::span<const uint8_t> payload, std::span<uint8_t> out) {
    if (payload.size() < 8) return 0;
    // A repeated begin (its reply was lost) simply starts the load afresh.
    load_ = LoadSession{LinearAddress(ReadU16(payload, 0), ReadU16(payload, 2)), ReadU32(payload, 4), {}};
    loadedSinceReset_ = true;
    memory_.ExpectWrites(load_->begin, load_->totalLength);
    return ReplyWord(out, OP_LOAD_BEGIN, profile_.blockSize);
}

std::size_t VirtualDevice::LoadBlock(std::span<const uint8_t> payload, std::span<uint8_t> out) {
    if (payload.size() < 2 || !load_) return 0;
    const uint16_t index = ReadU16(payload, 0);
    const auto data = payload.subspan(2);
    memory_.Write(load_->begin + uint64_t{index} * profile_.blockSize, data);
    auto& sums = load_->blockSums;
    if (sums.size() <= index) sums.resize(std::max<std::size_t>(index + 1u, 2 * sums.size()), -1);
    sums[index] = static_cast<int16_t>(static_cast<uint8_t>(std::accumulate(data.begin(), data.end(), 0u)));
    return ReplyWord(out, OP_LOAD_BLOCK, index);
}

std::size_t VirtualDevice::Read(std::span<const uint8_t> payload, std::span<uint8_t> out) const {
    if (payload.size() < 6) return 0;
    const std::size_t length = std::min<std::size_t>(ReadU16(payload, 0), MAX_READ_LENGTH);
    std::array<uint8_t, MAX_READ_LENGTH> data;
    const auto wanted = std::span<uint8_t>(data).first(length);
    memory_.ReadInto(LinearAddress(ReadU16(payload, 2), ReadU16(payload, 4)), wanted);
    return Reply(out, OP_READ, wanted);
}

}  // namespace quorvane::devsim
