#pragma once
// The simulator core: a set of virtual devices behind one address, with the
// configured faults. It maps one received datagram to the reply datagrams
// and the delay after which each is due, without touching a socket, so tests
// drive it directly.

#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/devsim/fault_options.h"
#include "tools/devsim/reply_batch.h"
#include "tools/devsim/virtual_device.h"

namespace quorvane::devsim {

// Device time: microseconds, so that a delay of a few milliseconds is kept
// to a small part of itself, wherever in a millisecond the request arrived.
using Micros = std::chrono::microseconds;

struct OutgoingReply {
    std::vector<uint8_t> bytes;
    Micros delay{0};  // after the request's arrival
};

// One line per event: "rx ...", "tx ...", "drop-rx ... (random)", "silent ...",
// "ignored ...". See README.md for the format.
using LogSink = std::function<void(const std::string& line)>;

class Simulator {
public:
    Simulator(std::vector<DeviceProfile> profiles, FaultOptions faults);

    // Everything the devices send in answer to `request`, arriving at `now`
    // (on any monotonic clock), in sending order, written into `out`
    // (emptied first). A request names its device by MAC, so the work does
    // not grow with the number of devices; only discovery asks them all.
    void Handle(std::span<const uint8_t> request, Micros now, ReplyBatch& out);
    // The same as separate buffers, for tests.
    std::vector<OutgoingReply> Handle(std::span<const uint8_t> request, Micros now = Micros{0});

    void SetLog(LogSink sink) { log_ = std::move(sink); }
    const FaultOptions& Faults() const { return faults_; }

    std::vector<VirtualDevice>& Devices() { return devices_; }
    const std::vector<VirtualDevice>& Devices() const { return devices_; }
    // The first device with `mac` (a clone comes after it).
    VirtualDevice* Find(const MacAddress& mac);
    // Requests of `opcode` that reached the first device with `mac`, faults or not.
    int RequestCount(const MacAddress& mac, uint8_t opcode) const;

private:
    // Tables by opcode rather than maps: each request looks up a few of
    // them, and a map walk per lookup added up over a thousand devices.
    using PerOpcode = std::array<int, 256>;
    struct FaultState {
        uint64_t random = 0;
        PerOpcode seen{};     // requests per opcode that passed the silent test
        PerOpcode arrived{};  // every request per opcode
        std::bitset<256> echoSpoiled;
        Micros busyUntil{0};
        int storingBlock = -1;  // index of the block being stored or stored last
        Micros bootedAt{0};     // silent until then, after a RESET
        bool faulty = false;    // the faults apply to this device
    };
    // The fault options by opcode, looked up once per request.
    struct OpcodeFaults {
        std::bitset<256> silent;
        std::bitset<256> wrongEchoOnce;
        std::bitset<256> dropsFirst;
        PerOpcode dropFirst{};  // how many, where dropsFirst is set
    };
    static OpcodeFaults ByOpcode(const FaultOptions& faults);

    void Serve(std::size_t index, std::span<const uint8_t> request, Micros now, ReplyBatch& out);
    bool DropRequest(std::size_t index, std::span<const uint8_t> request);
    bool Booting(std::size_t index, std::span<const uint8_t> request, Micros now);
    void Restart(std::size_t index, Micros replyAt);
    void Spoil(std::size_t index, uint8_t opcode, ReplyBatch& out);
    Micros ReplyDelay(std::size_t index, std::span<const uint8_t> request, Micros now);
    void Send(std::size_t index, Micros delay, ReplyBatch& out);
    bool Chance(std::size_t index);
    bool Faulty(std::size_t index) const { return states_[index].faulty; }
    // Log text is only built when someone reads it.
    bool Logging() const { return static_cast<bool>(log_); }
    std::string RequestLine(std::size_t index, std::span<const uint8_t> request) const;
    void Log(const std::string& line) const;

    std::vector<VirtualDevice> devices_;
    std::vector<FaultState> states_;
    static constexpr std::size_t NO_DEVICE = static_cast<std::size_t>(-1);
    std::unordered_map<uint64_t, std::size_t> byMac_;  // the first device with each MAC
    std::vector<std::size_t> nextWithMac_;             // by device: the next with its MAC (clones)
    FaultOptions faults_;
    OpcodeFaults byOpcode_;
    LogSink log_;
};

}  // namespace quorvane::devsim
