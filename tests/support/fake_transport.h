#pragma once
// A scripted transport with a virtual clock: no real waits in unit tests.
// Each send may trigger a responder that queues replies; a receive with
// nothing queued costs one virtual wait and returns -1.

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

#include "protocol/packet.h"
#include "protocol/transport.h"

namespace quorvane::testing {

inline constexpr uint32_t LOCALHOST = 0x7F000001;

struct SentDatagram {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

class FakeTransport final : public Transport {
public:
    using Responder = std::function<void(std::span<const uint8_t> request, FakeTransport& link)>;

    bool Send(uint32_t address, std::span<const uint8_t> datagram) override;
    int Receive(uint32_t& sender, std::span<uint8_t> buffer) override;

    // Queues one datagram for a later receive.
    void QueueReply(std::vector<uint8_t> bytes, uint32_t sender = LOCALHOST);
    // Queues a bare receive result (-1 or 0) with no datagram.
    void QueueResult(int result);

    Responder responder;        // called after every accepted send
    int failSendsFrom = -1;     // the send with this index (from 0) and later ones fail
    int64_t waitMillis = 1000;  // virtual length of one empty receive wait
    int64_t virtualMillis = 0;  // virtual time spent waiting
    int receives = 0;
    std::vector<SentDatagram> sent;

private:
    struct Pending {
        int result = 0;  // used when bytes is empty and isDatagram is false
        bool isDatagram = false;
        std::vector<uint8_t> bytes;
        uint32_t sender = 0;
    };
    std::deque<Pending> pending_;
};

// A packet of any magic: header with the payload length, then the payload.
std::vector<uint8_t> MakePacket(uint8_t opcode, uint32_t magic, const MacAddress& mac,
                                std::span<const uint8_t> payload = {});
// A reply packet: reply magic, opcode, MAC, payload length and payload.
std::vector<uint8_t> MakeReply(uint8_t opcode, const MacAddress& mac, std::span<const uint8_t> payload = {});
// The same with a payload of little-endian 16-bit words.
std::vector<uint8_t> MakeReplyWords(uint8_t opcode, const MacAddress& mac,
                                    std::initializer_list<uint16_t> words);

}  // namespace quorvane::testing
