#pragma once
// A transport that lets the user-interface thread repaint before every
// receive wait, so a window shown during a blocking discovery (which waits up
// to a second per receive) does not freeze. Called from another thread it
// only passes the calls on.

#include "protocol/transport.h"

namespace quorvane {

class EventPumpingTransport final : public ForwardingTransport {
public:
    using ForwardingTransport::ForwardingTransport;
    bool Send(uint32_t address, std::span<const uint8_t> datagram) override;
    using Transport::Receive;
    int Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) override;
};

}  // namespace quorvane
