#pragma once
// One simulated device: it accepts the requests addressed to it and answers
// each with the reply a device gives. No faults here; the Simulator layers
// those on top.
//
// Device behaviour where the program leaves it to the device:
// - ERASE v forgets segment a = v (linear addresses v*65536 .. v*65536+65535);
//   ERASE 0xFFFF forgets the whole memory. Forgotten bytes read 0xFF.
// - LOAD_BEGIN starts a load at a:b and announces the profile's block size;
//   LOAD_BLOCK i writes its data at begin + i * block size; LOAD_VERIFY gives
//   the sum of the data bytes received, mod 256, where a block index sent
//   again replaces that block's earlier bytes (a resent block after a lost
//   reply must not count twice).
// - READ answers `length` bytes from a:b, at most what one reply can carry.
// - SETPROGRAMMODE, LOCK, UNLOCK and RESET only set flags; RESET also ends a
//   load in progress. Memory survives a reset.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "protocol/packet.h"
#include "tools/devsim/device_profile.h"
#include "tools/devsim/sparse_memory.h"

namespace quorvane::devsim {

inline constexpr uint16_t ERASE_ALL = 0xFFFF;
inline constexpr std::size_t MAX_READ_LENGTH = REPLY_CAPACITY - HEADER_SIZE;

// A reply packet: reply magic, opcode, MAC, payload length and payload.
std::vector<uint8_t> BuildReply(uint8_t opcode, const MacAddress& mac, std::span<const uint8_t> payload);

class VirtualDevice {
public:
    explicit VirtualDevice(DeviceProfile profile);

    // True when the request is for this device: request magic and the
    // device's MAC (discovery: the all-FF MAC).
    bool Accepts(std::span<const uint8_t> request) const;

    // Carries out an accepted request and returns the reply datagram, or
    // nothing when the device ignores it (unknown opcode, payload shorter than
    // the command needs, a block without a load begun).
    std::optional<std::vector<uint8_t>> Answer(std::span<const uint8_t> request);

    const DeviceProfile& Profile() const { return profile_; }
    const MacAddress& Mac() const { return profile_.mac; }
    const SparseMemory& Memory() const { return memory_; }
    SparseMemory& Memory() { return memory_; }
    bool ProgramMode() const { return programMode_; }
    bool Locked() const { return locked_; }
    bool Loading() const { return load_.has_value(); }
    uint8_t LoadChecksum() const;

private:
    struct LoadSession {
        uint64_t begin = 0;
        uint32_t totalLength = 0;
        std::map<uint16_t, uint8_t> blockSums;  // last received sum per block index
    };

    std::vector<uint8_t> Reply(uint8_t opcode, std::span<const uint8_t> payload = {}) const;
    std::vector<uint8_t> ReplyWord(uint8_t opcode, uint16_t word) const;
    std::vector<uint8_t> Information() const;
    std::optional<std::vector<uint8_t>> Erase(std::span<const uint8_t> payload);
    std::optional<std::vector<uint8_t>> LoadBegin(std::span<const uint8_t> payload);
    std::optional<std::vector<uint8_t>> LoadBlock(std::span<const uint8_t> payload);
    std::optional<std::vector<uint8_t>> Read(std::span<const uint8_t> payload) const;

    DeviceProfile profile_;
    std::vector<uint8_t> infoBlock_;
    SparseMemory memory_;
    std::optional<LoadSession> load_;
    bool programMode_ = false;
    bool locked_ = false;
};

}  // namespace quorvane::devsim
