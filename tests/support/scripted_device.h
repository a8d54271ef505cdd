#pragma once
// Simulated device servers behind a FakeTransport: each answers discovery,
// the information query and the script commands the way a real device would,
// can be told to stay silent on one opcode or block or to fail whole script
// runs, and the network keeps every request so tests can check the exact
// exchange sequence.

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protocol/device_chain.h"
#include "protocol/device_protocol.h"
#include "protocol/packet.h"
#include "support/fake_transport.h"

namespace quorvane::testing {

struct SimulatedDevice {
    MacAddress mac{};
    uint32_t ip = LOCALHOST;
    uint8_t infoFlag = 0;
    std::vector<uint8_t> infoBlock{};  // sent behind the flag byte of the information reply
    int failingRuns = 0;               // the first runs (counted by program-mode requests) get no erase reply
    bool answersInfo = true;
    uint16_t blockSize = 64;       // what LoadBegin announces
    int silentOpcode = -1;         // requests with this opcode go unanswered...
    int answersBeforeSilence = 0;  // ...once this many of them have been answered
    int silentBlock = -1;          // the block with this index is never answered
    int reportedChecksum = -1;     // what verify reports; -1: the sum of the loaded bytes
    std::map<uint16_t, std::vector<uint8_t>> blocks{};  // data of every answered block since LoadBegin
    int programModeRequests = 0;
    // After answering RESET: silent this long (virtual time), as it boots,
    // or for good (-1); then it reports `infoBlockAfterReset` when given.
    int64_t bootMillis = 0;
    std::vector<uint8_t> infoBlockAfterReset{};
    int64_t bootedAt = 0;  // the virtual time it answers again

    // The loaded bytes, blocks in index order.
    std::vector<uint8_t> Loaded() const;
};

inline constexpr int ALWAYS_FAILS = 1 << 20;

// What the simulated memory holds at a:address, so READ output can be checked.
uint8_t MemoryByte(uint16_t a, uint16_t address);

// Information block records.
std::vector<uint8_t> IdentityRecord(uint16_t vendor, uint16_t deviceId);
std::vector<uint8_t> NamingRecord(const std::string& name, const std::string& workgroup);
// Tag-32 record with a kind-8 entry (revision, date) and a kind-11 entry
// (product, second and third version numbers, date) and kind-12 letters.
std::vector<uint8_t> FirmwareRecord(uint8_t revision, uint16_t product, uint8_t second, uint8_t third,
                                    uint16_t dateFirst, uint8_t dateSecond, uint8_t dateThird,
                                    const std::string& letters);
std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts);
// An identity record, then a firmware record naming `product` and `revision`
// with a firmware date, so the device does not read as waiting for an upgrade.
std::vector<uint8_t> InfoBlockOf(uint16_t vendor, uint16_t deviceId, uint16_t product, uint8_t revision);

class ScriptedNetwork {
public:
    explicit ScriptedNetwork(std::initializer_list<SimulatedDevice> fleet = {});
    ScriptedNetwork(const ScriptedNetwork&) = delete;
    ScriptedNetwork& operator=(const ScriptedNetwork&) = delete;

    // Devices answer discovery in the order they were added; devices added
    // with one MAC all answer every request to it.
    SimulatedDevice& Add(const MacAddress& mac, uint32_t ip = LOCALHOST);
    SimulatedDevice& Add(SimulatedDevice device);
    // A record of device `index` as discovery and the information query would leave it.
    std::unique_ptr<DeviceRecord> RecordOf(std::size_t index) const;

    // One text per request sent, a resend of the same bytes folded into the
    // first: "DISCOVER", "INFO 02:..:01", "PROGRAMMODE", "LOCK", "UNLOCK",
    // "RESET", "ERASE 3", "BEGIN 0x10:0x2000 300", "BLOCK 0 64", "VERIFY",
    // "READ 128 0x10:0x80".
    std::vector<std::string> Trace() const;
    // Requests sent with `opcode`, resends included.
    int Sends(uint8_t opcode) const;
    // The MAC of every program-mode request, in order: one per script run.
    std::vector<MacAddress> ScriptRuns() const;

    std::deque<SimulatedDevice> devices;  // a deque, so Add() never moves a device

    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol{link, chain};

private:
    void Respond(std::span<const uint8_t> request);
    void Answer(SimulatedDevice& device, std::span<const uint8_t> request);
};

}  // namespace quorvane::testing
