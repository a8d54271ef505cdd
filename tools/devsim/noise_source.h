#pragma once
// Traffic that is nobody's answer: replies of a host that is no simulated
// device, and datagrams longer than any reply, sent at a steady rate to the
// client that spoke last. It lets tests show that the program neither waits
// for ever nor fails an attempt because of such traffic.

#include <netinet/in.h>

#include <cstdint>
#include <vector>

#include "tools/devsim/capture_tap.h"
#include "tools/devsim/fault_options.h"

namespace quorvane::devsim {

class NoiseSource {
public:
    explicit NoiseSource(const FaultOptions& faults);

    bool Active() const { return foreignEveryMs_ > 0 || oversizedEveryMs_ > 0; }
    // Remembers where the noise goes; nothing is sent before a client spoke.
    void SetClient(const sockaddr_in& client, int64_t nowMs);
    // Sends what is due by `nowMs`; a capture holds it like any reply.
    void SendDue(int fd, int64_t nowMs, CaptureTap& tap);
    // Milliseconds until the next datagram is due (`idle` when none is).
    int64_t WaitMs(int64_t nowMs, int64_t idle) const;

private:
    int64_t foreignEveryMs_ = 0;
    int64_t oversizedEveryMs_ = 0;
    int64_t nextForeignMs_ = 0;
    int64_t nextOversizedMs_ = 0;
    bool haveClient_ = false;
    sockaddr_in client_{};
    uint8_t opcode_ = 0;
    std::vector<uint8_t> foreign_;
    std::vector<uint8_t> oversized_;
};

}  // namespace quorvane::devsim
