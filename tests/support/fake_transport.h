#pragma once
// A scripted transport with a virtual clock: no real waits in unit tests.
// Each send may trigger a responder that queues replies. A queued datagram
// arrives at a virtual time (by default at once); a receive takes the first
// one that arrives within its wait, moving the clock to its arrival, or else
// spends the whole wait and returns -1.

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
    int64_t atMillis = 0;  // virtual time of the send
};

class FakeTransport final : public Transport {
public:
    using Responder = std::function<void(std::span<const uint8_t> request, FakeTransport& link)>;

    bool Send(uint32_t address, std::span<const uint8_t> datagram) override;
    using Transport::Receive;
    int Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) override;
    std::chrono::milliseconds ReceiveWait() const override { return std::chrono::milliseconds(waitMillis); }
    std::chrono::milliseconds Now() const override { return std::chrono::milliseconds(virtualMillis); }
    uint64_t DroppedDatagrams() const override { return dropped; }

    // Queues one datagram arriving `afterMillis` from now (virtual time).
    void QueueReply(std::vector<uint8_t> bytes, uint32_t sender = LOCALHOST, int64_t afterMillis = 0);
    // Queues a bare receive result (-1 or 0) with no datagram.
    void QueueResult(int result);
    // Datagrams queued and not yet received.
    std::size_t Queued() const { return pending_.size(); }

    Responder responder;        // called after every accepted send
    int failSendsFrom = -1;     // the send with this index (from 0) and later ones fail
    int sends = 0;              // sends accepted so far
    int64_t waitMillis = 1000;  // the configured receive wait
    int64_t virtualMillis = 0;  // virtual time spent waiting
    int receives = 0;           // receives that could wait (a zero wait only takes what is there)
    uint64_t dropped = 0;       // what DroppedDatagrams reports
    bool keepSent = true;       // record sends in `sent`; a fuzz run, which never looks, saves the copies
    std::vector<SentDatagram> sent;

private:
    struct Pending {
        int result = 0;  // used when isDatagram is false
        bool isDatagram = false;
        std::vector<uint8_t> bytes;
        uint32_t sender = 0;
        int64_t arrival = 0;
    };
    int Deliver(Pending& next, uint32_t& sender, std::span<uint8_t> buffer);
    std::deque<Pending> pending_;  // in arrival order
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
