#pragma once
// The seam between the exchanges and the socket. The UDP endpoint implements
// it for real; tests implement it with scripted replies and a virtual clock.

#include <cstdint>
#include <span>

namespace quorvane {

class Transport {
public:
    virtual ~Transport() = default;

    // Sends one datagram to `address` (IPv4, host order) at the device port.
    // True when the platform accepted it; a short count still counts.
    virtual bool Send(uint32_t address, std::span<const uint8_t> datagram) = 0;

    // Waits up to the receive wait for one datagram and reads it into `buffer`.
    //   -1: nothing arrived within the wait, or the read failed (a datagram
    //       longer than the buffer included);
    //    0: the readiness wait failed, or an empty datagram was read;
    //    n: a datagram of n bytes was read and `sender` holds its source
    //       address (host order). `sender` is written only in this case, and
    //       the buffer's bytes from n onward are left as they were.
    virtual int Receive(uint32_t& sender, std::span<uint8_t> buffer) = 0;
};

}  // namespace quorvane
