#pragma once
// A transport that lets the user-interface thread repaint before every
// receive wait, so a window shown during a blocking discovery (which waits up
// to a second per receive) does not freeze. Called from another thread it
// only passes the calls on.

#include "protocol/transport.h"

namespace quorvane {

class EventPumpingTransport final : public Transport {
public:
    explicit EventPumpingTransport(Transport& inner) : inner_(inner) {}
    bool Send(uint32_t address, std::span<const uint8_t> datagram) override;
    using Transport::Receive;
    int Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) override;
    std::chrono::milliseconds ReceiveWait() const override { return inner_.ReceiveWait(); }
    std::chrono::milliseconds Now() const override { return inner_.Now(); }
    uint64_t DroppedDatagrams() const override { return inner_.DroppedDatagrams(); }
    void DropEarlierDatagrams(std::span<uint8_t> scratch, int limit) override {
        inner_.DropEarlierDatagrams(scratch, limit);
    }

private:
    Transport& inner_;
};

}  // namespace quorvane
