#include "fuzz/fuzz_device.h"

#include "package/script_interpreter.h"
#include "protocol/packet.h"

namespace quorvane::fuzz {

namespace {

uint8_t ReplyOpcode(uint8_t requestOpcode) {
    if (requestOpcode == OP_DISCOVER) return OP_DISCOVER_REPLY;
    if (requestOpcode == OP_GET_INFO) return OP_INFO_REPLY;
    return requestOpcode;
}

std::span<const uint8_t> Payload(std::span<const uint8_t> request) {
    return request.size() > HEADER_SIZE ? request.subspan(HEADER_SIZE) : std::span<const uint8_t>();
}

uint16_t PayloadWord(std::span<const uint8_t> request, std::size_t offset) {
    const auto payload = Payload(request);
    return payload.size() >= offset + 2 ? ReadU16(payload, offset) : 0;
}

}  // namespace

void FuzzDevice::Attach(testing::FakeTransport& link) {
    link.responder = [this](std::span<const uint8_t> request, testing::FakeTransport& l) {
        Answer(request, l);
    };
}

void FuzzDevice::Answer(std::span<const uint8_t> request, testing::FakeTransport& link) {
    if (input_.Empty() || request.size() < HEADER_SIZE) return;
    switch (input_.Byte() % ACTION_COUNT) {
        case SILENT:
            return;
        case SOUND:
            link.QueueReply(SoundReply(request));
            return;
        case TWICE: {
            const auto reply = SoundReply(request);
            link.QueueReply(reply);
            link.QueueReply(reply);
            return;
        }
        case EMPTY_FIRST:
            link.QueueResult(0);
            link.QueueReply(SoundReply(request));
            return;
        case RAW: {
            const auto bytes = input_.Take(input_.U16() % (REPLY_CAPACITY + 1));
            link.QueueReply({bytes.begin(), bytes.end()});
            return;
        }
        case BAD_PAYLOAD:
            link.QueueReply(BadPayloadReply(request));
            return;
        case FOREIGN_FIRST: {
            auto foreign = SoundReply(request);
            foreign[OFFSET_MAC + 5] ^= 0x01;
            link.QueueReply(foreign);
            link.QueueReply(SoundReply(request));
            return;
        }
        default:
            link.QueueReply(std::vector<uint8_t>(REPLY_CAPACITY + 1, 0xA5));
            link.QueueReply(SoundReply(request));
            return;
    }
}

std::vector<uint8_t> FuzzDevice::SoundReply(std::span<const uint8_t> request) {
    PacketHeader header;
    PacketHeader::Decode(request, header);
    const uint8_t opcode = ReplyOpcode(header.opcode);
    switch (header.opcode) {
        case OP_DISCOVER: {
            // A broadcast names no device: the input gives the MAC and the two words.
            const auto mac = input_.TakePadded(6);
            MacAddress address{};
            std::copy(mac.begin(), mac.end(), address.begin());
            return testing::MakeReply(opcode, address, input_.TakePadded(4));
        }
        case OP_GET_INFO:
            // Information flag and block, both from the input.
            return testing::MakeReply(opcode, header.mac, input_.Take(input_.Byte()));
        case OP_ERASE:
            return testing::MakeReplyWords(opcode, header.mac, {PayloadWord(request, 0)});
        case OP_LOAD_BEGIN:
            blockSums_.clear();
            return testing::MakeReplyWords(opcode, header.mac, {input_.U16()});
        case OP_LOAD_BLOCK: {
            const auto payload = Payload(request);
            if (payload.size() >= 2)
                blockSums_[ReadU16(payload, 0)] = static_cast<uint8_t>(ByteSum(payload.subspan(2)));
            return testing::MakeReplyWords(opcode, header.mac, {PayloadWord(request, 0)});
        }
        case OP_LOAD_VERIFY: {
            uint8_t sum = 0;
            for (const auto& [index, blockSum] : blockSums_) sum = static_cast<uint8_t>(sum + blockSum);
            const uint8_t payload[1] = {sum};
            return testing::MakeReply(opcode, header.mac, payload);
        }
        case OP_READ:
            return testing::MakeReply(opcode, header.mac, input_.TakePadded(PayloadWord(request, 0)));
        default:
            return testing::MakeReply(opcode, header.mac);
    }
}

std::vector<uint8_t> FuzzDevice::BadPayloadReply(std::span<const uint8_t> request) {
    PacketHeader header;
    PacketHeader::Decode(request, header);
    header.opcode = ReplyOpcode(header.opcode);
    header.magic = REPLY_MAGIC;
    header.payloadLength = input_.U16();
    const auto payload = input_.Take(input_.Byte());
    std::vector<uint8_t> reply(HEADER_SIZE);
    header.Encode(reply);
    reply.insert(reply.end(), payload.begin(), payload.end());
    return reply;
}

}  // namespace quorvane::fuzz
