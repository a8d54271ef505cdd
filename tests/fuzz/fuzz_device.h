#pragma once
// A device whose every answer is decided by the fuzz input. Attached to a
// FakeTransport it answers each request from the input bytes: silence, the
// reply a sound device would give, or hostile datagrams. It never answers
// once the input is used up, so every run ends: each reply costs input, and
// the fake transport's clock is virtual.

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "support/fake_transport.h"

namespace quorvane::fuzz {

class FuzzDevice {
public:
    explicit FuzzDevice(ByteStream& input) : input_(input) {}

    // Sets `link`'s responder to this device; the device must outlive the link's use.
    void Attach(testing::FakeTransport& link);

    // The first byte of each answer picks one of these.
    enum Action : uint8_t {
        SILENT,         // nothing: the exchange waits and sends again
        SOUND,          // the reply a working device sends
        TWICE,          // the same reply twice, as a duplicated datagram
        EMPTY_FIRST,    // an empty datagram, then the reply
        RAW,            // any bytes at all, taken from the input
        BAD_PAYLOAD,    // right opcode and MAC, payload length and bytes from the input
        FOREIGN_FIRST,  // a reply for another MAC, then the reply
        OVERSIZED,      // a datagram too long for the reply buffer, then the reply
        ACTION_COUNT
    };

private:
    void Answer(std::span<const uint8_t> request, testing::FakeTransport& link);
    std::vector<uint8_t> SoundReply(std::span<const uint8_t> request);
    std::vector<uint8_t> BadPayloadReply(std::span<const uint8_t> request);

    ByteStream& input_;
    std::map<uint16_t, uint8_t> blockSums_;  // per block index, so a re-sent block counts once
};

}  // namespace quorvane::fuzz
