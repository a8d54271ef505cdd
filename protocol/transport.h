#pragma once
// The seam between the exchanges and the socket. The UDP endpoint implements
// it for real; tests implement it with scripted replies and a virtual clock.

#include <chrono>
#include <cstdint>
#include <span>

namespace quorvane {

// Receive results besides a datagram's length.
inline constexpr int RECEIVE_NOTHING = -1;    // nothing within the wait, or the read failed
inline constexpr int RECEIVE_OVERSIZED = -2;  // a datagram longer than the buffer came and was dropped

class Transport {
public:
    virtual ~Transport() = default;

    // Sends one datagram to `address` (IPv4, host order) at the device port.
    // True when the platform accepted it; a short count still counts.
    virtual bool Send(uint32_t address, std::span<const uint8_t> datagram) = 0;

    // Waits up to `wait` (zero: takes only what is already waiting) for one
    // datagram and reads it into `buffer`.
    //   -1 (RECEIVE_NOTHING): nothing arrived within the wait, or the read failed;
    //   -2 (RECEIVE_OVERSIZED): a datagram longer than the buffer arrived; it
    //       is consumed and nothing of it is kept;
    //    0: the readiness wait failed, or an empty datagram was read;
    //    n: a datagram of n bytes was read and `sender` holds its source
    //       address (host order). `sender` is written only in this case, and
    //       the buffer's bytes from n onward are left as they were.
    virtual int Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) = 0;

    // The same with the configured receive wait.
    int Receive(uint32_t& sender, std::span<uint8_t> buffer) {
        return Receive(sender, buffer, ReceiveWait());
    }

    // The configured receive wait: how long one attempt waits for its reply.
    virtual std::chrono::milliseconds ReceiveWait() const = 0;

    // A monotonic clock the waits are measured on.
    virtual std::chrono::milliseconds Now() const = 0;
    // The same clock as finely as the transport can tell, for round-trip
    // times, which on a near network are far below a millisecond.
    virtual std::chrono::microseconds FineNow() const { return Now(); }

    // How many datagrams the system dropped for want of buffer room since the
    // transport started, as far as it can tell (0 when it cannot).
    virtual uint64_t DroppedDatagrams() const { return 0; }

    // From now on no datagram that arrived before this call is returned by
    // Receive: called right before a request is sent, since nothing received
    // earlier can be its answer. This reads and drops what is waiting (at
    // most `limit` datagrams, so a flood cannot hold a request back); a
    // socket that stamps each arrival can instead skip the old ones as it
    // meets them, without a read of its own.
    virtual void DropEarlierDatagrams(std::span<uint8_t> scratch, int limit) {
        for (int dropped = 0; dropped < limit; ++dropped) {
            uint32_t sender = 0;
            if (Receive(sender, scratch, std::chrono::milliseconds(0)) == RECEIVE_NOTHING) return;
        }
    }
};

// A transport over another one that passes every call on; wrappers derive
// from it and override only what they add to.
class ForwardingTransport : public Transport {
public:
    explicit ForwardingTransport(Transport& inner) : inner_(inner) {}
    // Wrapping another wrapper would otherwise pick the copy and forward
    // past it to what that one wraps.
    ForwardingTransport(const ForwardingTransport&) = delete;
    ForwardingTransport& operator=(const ForwardingTransport&) = delete;
    bool Send(uint32_t address, std::span<const uint8_t> datagram) override {
        return inner_.Send(address, datagram);
    }
    using Transport::Receive;
    int Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) override {
        return inner_.Receive(sender, buffer, wait);
    }
    std::chrono::milliseconds ReceiveWait() const override { return inner_.ReceiveWait(); }
    std::chrono::milliseconds Now() const override { return inner_.Now(); }
    std::chrono::microseconds FineNow() const override { return inner_.FineNow(); }
    uint64_t DroppedDatagrams() const override { return inner_.DroppedDatagrams(); }
    void DropEarlierDatagrams(std::span<uint8_t> scratch, int limit) override {
        inner_.DropEarlierDatagrams(scratch, limit);
    }

protected:
    Transport& inner_;
};

}  // namespace quorvane
