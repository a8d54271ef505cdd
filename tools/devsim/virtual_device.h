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
//   load in progress. Memory survives a reset. A RESET after a LOAD makes the
//   device report its profile's firmwareAfter from then on, when it has one.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/packet.h"
#include "tools/devsim/device_profile.h"
#include "tools/devsim/sparse_memory.h"

namespace quorvane::devsim {

inline constexpr uint16_t ERASE_ALL = 0xFFFF;
inline constexpr std::size_t MAX_READ_LENGTH = REPLY_CAPACITY - HEADER_SIZE;

class VirtualDevice {
public:
    explicit VirtualDevice(DeviceProfile profile);

    // True when the request is for this device: request magic and the
    // device's MAC (discovery: the all-FF MAC).
    bool Accepts(std::span<const uint8_t> request) const;

    // Carries out an accepted request and writes the reply datagram into
    // `out`, which holds at least MaxReplySize() bytes. Returns its length,
    // or 0 when the device ignores the request (unknown opcode, payload
    // shorter than the command needs, a block without a load begun).
    std::size_t Answer(std::span<const uint8_t> request, std::span<uint8_t> out);
    // The longest reply this device ever gives.
    std::size_t MaxReplySize() const {
        return HEADER_SIZE + std::max(1 + infoBlock_.size(), MAX_READ_LENGTH);
    }
    // The same, as a new buffer: for tests and tools where speed does not count.
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
        // Last received sum per block index, -1 for a block not received;
        // grown as blocks arrive, so a long load allocates only now and then.
        std::vector<int16_t> blockSums;
    };

    std::size_t Reply(std::span<uint8_t> out, uint8_t opcode, std::span<const uint8_t> payload = {},
                      std::span<const uint8_t> more = {}) const;
    std::size_t ReplyWord(std::span<uint8_t> out, uint8_t opcode, uint16_t word) const;
    std::size_t Information(std::span<uint8_t> out) const;
    std::size_t Erase(std::span<const uint8_t> payload, std::span<uint8_t> out);
    std::size_t LoadBegin(std::span<const uint8_t> payload, std::span<uint8_t> out);
    std::size_t LoadBlock(std::span<const uint8_t> payload, std::span<uint8_t> out);
    std::size_t Read(std::span<const uint8_t> payload, std::span<uint8_t> out) const;
    void Restart();

    DeviceProfile profile_;
    std::vector<uint8_t> infoBlock_;
    SparseMemory memory_;
    std::optional<LoadSession> load_;
    bool programMode_ = false;
    bool locked_ = false;
    bool loadedSinceReset_ = false;
};

}  // namespace quorvane::devsim
