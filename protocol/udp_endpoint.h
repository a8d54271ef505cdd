#pragma once
// The program's one UDP socket.

#include <chrono>
#include <cstdint>
#include <span>

#include "diagnostic_sink.h"
#include "packet.h"
#include "transport.h"

namespace quorvane {

inline constexpr uint16_t BIND_PORT_FIRST = 4110;
inline constexpr uint16_t BIND_PORT_LAST = 4150;

struct EndpointOptions {
    // Where datagrams addressed to the limited broadcast address really go:
    // 255.255.255.255 on a device network, 127.0.0.1 against the simulator.
    uint32_t broadcastAddress = LIMITED_BROADCAST;
    uint16_t port = DEVICE_PORT;                             // destination port of every send
    std::chrono::milliseconds receiveWait{1000};             // readiness wait of every receive
    // The local address the socket binds to (host order). 0, any address,
    // lets the system pick the source of each datagram; an interface's own
    // address sends from that interface and receives the replies there.
    uint32_t localAddress = 0;
};

class UdpEndpoint final : public Transport {
public:
    explicit UdpEndpoint(EndpointOptions options = {}, DiagnosticSink* sink = nullptr);
    ~UdpEndpoint() override;
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    // Opens, configures and binds the socket (port 0 first, then 4110..4150
    // while the address is in use). False leaves no socket open.
    bool Start();
    bool Send(uint32_t address, std::span<const uint8_t> datagram) override;
    int Receive(uint32_t& sender, std::span<uint8_t> buffer) override;
    // Closes the socket; does nothing when none is open.
    void Close();

    bool IsOpen() const { return socket_ >= 0; }
    // The local port the socket is bound to, 0 when not started.
    uint16_t LocalPort() const;
    // The system's error number of the step that made the last Start fail
    // (0 after a success), for telling the user why.
    int StartError() const { return startError_; }

private:
    EndpointOptions options_;
    DiagnosticSink* sink_;
    int socket_ = -1;
    int startError_ = 0;
};

}  // namespace quorvane
