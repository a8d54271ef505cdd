#pragma once
// The faults a simulated device can show, for tests and demonstrations.
// All of them but the restart's apply to the devices named in `devices`, or
// to every device when none is named. Random drops are drawn per device from a generator
// seeded with `seed` and the device's MAC, so a run is repeatable.

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "protocol/packet.h"

namespace quorvane::devsim {

enum class DropMode { Both, Requests, Replies };

struct FaultOptions {
    double dropFraction = 0.0;  // share of requests and/or replies lost, 0..1
    DropMode dropMode = DropMode::Both;
    uint64_t seed = 1;
    std::map<uint8_t, int> dropFirst;  // opcode -> number of first requests ignored
    std::set<uint8_t> silent;          // opcodes never answered
    std::set<uint8_t> wrongEchoOnce;   // ERASE, LOAD_BLOCK, READ, LOAD_VERIFY
    bool badChecksum = false;          // LOAD_VERIFY always reports sum + 1
    bool duplicate = false;            // every reply sent twice
    int64_t delayMs = 0;               // added to every reply
    int64_t blockDelayMs = 0;          // time the device needs to store one LOAD block
    int foreignPerSecond = 0;          // other hosts' traffic sent to the client, datagrams a second
    int oversizedPerSecond = 0;        // datagrams longer than any reply sent to the client, a second
    std::vector<MacAddress> devices;   // empty: every device
    // After answering RESET: every device is silent this long, as it boots;
    // the devices of `noReturn` never answer again.
    int64_t rebootMs = 0;
    std::vector<MacAddress> noReturn;

    bool AppliesTo(const MacAddress& mac) const;
    bool DropsRequests() const { return dropFraction > 0 && dropMode != DropMode::Replies; }
    bool DropsReplies() const { return dropFraction > 0 && dropMode != DropMode::Requests; }
};

// Opcodes whose reply carries a value that --wrong-echo-once can spoil.
bool HasEcho(uint8_t opcode);

}  // namespace quorvane::devsim
