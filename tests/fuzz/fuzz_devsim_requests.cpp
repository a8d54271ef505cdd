// The simulator's request handling: three devices, faults chosen by the
// first input bytes, then a run of datagrams. Each datagram is either taken
// as it is or first shaped into a request for one of the devices, so that
// deep states (a load under way, reads) are reached. Only a request with the
// request magic addressed to a device is answered; every reply is a reply
// packet of that device whose payload length matches its size, due no
// earlier than the request came.
//
// Input: fault bytes (6), then per datagram: a shaping byte, a length byte,
// that many bytes.

#include <algorithm>
#include <chrono>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/packet.h"
#include "tools/devsim/device_profile.h"
#include "tools/devsim/simulator.h"

using namespace quorvane;
using namespace quorvane::fuzz;
using namespace quorvane::devsim;

namespace {

constexpr std::size_t DEVICES = 3;
constexpr uint8_t OPCODES[] = {OP_DISCOVER,   OP_LOCK,         OP_UNLOCK,     OP_ERASE,
                               OP_LOAD_BEGIN, OP_LOAD_VERIFY,  OP_LOAD_BLOCK, OP_RESET,
                               OP_READ,       OP_PROGRAM_MODE, OP_GET_INFO};

FaultOptions Faults(ByteStream& input) {
    FaultOptions faults;
    const uint8_t flags = input.Byte();
    faults.dropFraction = (flags & 1) ? input.Byte() / 255.0 : 0.0;
    faults.dropMode = static_cast<DropMode>(input.Byte() % 3);
    faults.duplicate = flags & 2;
    faults.badChecksum = flags & 4;
    if (flags & 8) faults.delayMs = input.Byte();
    const uint8_t opcode = OPCODES[input.Byte() % std::size(OPCODES)];
    if (flags & 16) faults.wrongEchoOnce.insert(opcode);
    if (flags & 32) faults.silent.insert(opcode);
    if (flags & 64) faults.dropFirst[opcode] = input.Byte() % 4;
    if (flags & 128) faults.devices.push_back(DefaultProfiles(1)[0].mac);
    return faults;
}

// Shaping byte: bit 0 set makes the bytes a request (opcode and target from
// the other bits, the bytes as its payload); clear sends them raw.
std::vector<uint8_t> NextDatagram(ByteStream& input, const std::vector<DeviceProfile>& profiles) {
    const uint8_t shape = input.Byte();
    const auto bytes = input.Take(input.Byte() * 4u);
    if ((shape & 1) == 0) return {bytes.begin(), bytes.end()};
    const uint8_t opcode = OPCODES[(shape >> 1) % std::size(OPCODES)];
    const MacAddress& mac = opcode == OP_DISCOVER ? BROADCAST_MAC : profiles[(shape >> 5) % DEVICES].mac;
    std::vector<uint8_t> request(REQUEST_CAPACITY);
    request.resize(BuildPacket(request, opcode, REQUEST_MAGIC, mac, bytes));
    return request;
}

bool IsDevice(const MacAddress& mac, const std::vector<DeviceProfile>& profiles) {
    return std::any_of(profiles.begin(), profiles.end(), [&](const auto& p) { return p.mac == mac; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteStream input({data, size});
    const auto profiles = DefaultProfiles(DEVICES);
    Simulator simulator(profiles, Faults(input));
    ReplyBatch batch;
    std::chrono::microseconds now{0};
    while (!input.Empty()) {
        const auto request = NextDatagram(input, profiles);
        now += std::chrono::milliseconds(7);
        simulator.Handle(request, now, batch);
        PacketHeader asked;
        const bool addressed =
            PacketHeader::Decode(request, asked) && asked.magic == REQUEST_MAGIC &&
            (asked.opcode == OP_DISCOVER ? asked.mac == BROADCAST_MAC : IsDevice(asked.mac, profiles));
        FUZZ_CHECK(addressed || batch.Size() == 0);
        for (std::size_t i = 0; i < batch.Size(); ++i) {
            const auto reply = batch.Bytes(i);
            PacketHeader header;
            FUZZ_CHECK(PacketHeader::Decode(reply, header));
            FUZZ_CHECK(header.magic == REPLY_MAGIC);
            FUZZ_CHECK(reply.size() == HEADER_SIZE + header.payloadLength);
            FUZZ_CHECK(reply.size() <= REPLY_CAPACITY);
            FUZZ_CHECK(asked.opcode == OP_DISCOVER ? IsDevice(header.mac, profiles)
                                                   : header.mac == asked.mac);
            FUZZ_CHECK(batch.Delay(i).count() >= 0);
        }
    }
    return 0;
}
