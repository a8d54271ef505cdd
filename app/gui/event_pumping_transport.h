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
    int Receive(uint32_t& sender, std::span<uint8_t> buffer) override;

private:
    Transport& inner_;
};

}  // namespace quorvane
