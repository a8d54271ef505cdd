#pragma once
// The program's one UDP socket.

#include <time.h>

#include <chrono>
#include <cstdint>
#include <span>

#include "diagnostic_sink.h"
#include "packet.h"
#include "readiness_wait.h"
#include "transport.h"

namespace quorvane {

inline constexpr uint16_t BIND_PORT_FIRST = 4110;
inline constexpr uint16_t BIND_PORT_LAST = 4150;
// Room asked for in the system's receive buffer: enough for the replies of
// thousands of devices answering one discovery at once.
inline constexpr int RECEIVE_BUFFER_REQUEST = 8 * 1024 * 1024;

struct EndpointOptions {
    // Where datagrams addressed to the limited broadcast address really go:
    // 255.255.255.255 on a device network, 127.0.0.1 against the simulator.
    uint32_t broadcastAddress = LIMITED_BROADCAST;
    uint16_t port = DEVICE_PORT;                  // destination port of every send
    std::chrono::milliseconds receiveWait{1000};  // readiness wait of every receive

    // Against a simulator the limited broadcast is redirected to where the
    // simulator listens; every other address is used as given.
    uint32_t Destination(uint32_t address) const {
        return address == LIMITED_BROADCAST ? broadcastAddress : address;
    }
    // The local address the socket binds to (host order). 0, any address,
    // lets the system pick the source of each datagram; an interface's own
    // address sends from that interface and receives the replies there.
    uint32_t localAddress = 0;
};

// Where a datagram the endpoint read came from, and when the system took it
// in (all zero when it did not stamp it).
struct DatagramOrigin {
    uint32_t address = 0;
    uint16_t port = 0;
    timespec arrival{};
};

// Told of each datagram the endpoint reads and sets aside because it came
// before the request now waiting, so that a capture still holds it.
class SetAsideWatcher {
public:
    virtual ~SetAsideWatcher() = default;
    virtual void SetAside(const DatagramOrigin& origin, std::span<const uint8_t> datagram) = 0;
};

class UdpEndpoint final : public Transport {
public:
    explicit UdpEndpoint(EndpointOptions options = {}, DiagnosticSink* sink = nullptr);
    ~UdpEndpoint() override;
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    // Opens, configures and binds the socket (port 0 first, then 4110..4150
    // while the address is in use). False leaves no socket open, and
    // StartError() tells the system's reason.
    bool Start();
    bool Send(uint32_t address, std::span<const uint8_t> datagram) override;
    using Transport::Receive;
    int Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) override;
    std::chrono::milliseconds ReceiveWait() const override { return options_.receiveWait; }
    std::chrono::milliseconds Now() const override;
    std::chrono::microseconds FineNow() const override;
    uint64_t DroppedDatagrams() const override;
    void DropEarlierDatagrams(std::span<uint8_t> scratch, int limit) override;
    // Where the last datagram Receive returned came from.
    const DatagramOrigin& LastOrigin() const { return lastOrigin_; }
    // `watcher` (or none) hears of every datagram set aside from now on.
    void WatchSetAside(SetAsideWatcher* watcher) { watcher_ = watcher; }
    // Receives wait through `wait` from now on (none: poll() on this thread).
    void SetReadinessWait(ReadinessWait* wait) { wait_ = wait; }
    const EndpointOptions& Options() const { return options_; }
    // Closes the socket; does nothing when none is open.
    void Close();

    bool IsOpen() const { return socket_ >= 0; }
    // The local port the socket is bound to, 0 when not started.
    uint16_t LocalPort() const;
    // The errno value of the last failed start, 0 after a good one.
    int StartError() const { return startError_; }
    // The receive buffer the system granted, in bytes (0 when not started).
    int ReceiveBufferBytes() const { return receiveBuffer_; }
    // True once datagrams come with their arrival times, so that a drop
    // marks the time instead of reading the queue empty.
    bool SkipsByArrivalTime() const { return arrivalsStamped_; }

private:
    // The readiness wait of one receive, by `wait_` or poll(); as ReadinessWait::WaitReadable.
    int WaitReadable(int timeoutMs);
    // True for a datagram that arrived before the last DropEarlierDatagrams.
    bool Skipped(const timespec& arrival);
    void DrainByReading(std::span<uint8_t> scratch, int limit);

    EndpointOptions options_;
    DiagnosticSink* sink_;
    int socket_ = -1;
    ReadinessWait* wait_ = nullptr;
    int startError_ = 0;
    int receiveBuffer_ = 0;
    uint64_t dropped_ = 0;         // the system's count of datagrams dropped on this socket
    bool stampsArrivals_ = false;  // the system was asked to stamp arrival times
    bool arrivalsStamped_ = false; // a stamped datagram has come, so all later ones are
    timespec staleBefore_{};       // datagrams that arrived before this are skipped
    // The wall clock's lead over the monotonic clock at the last mark:
    // arrival times are wall-clock times, and a clock that was set in
    // between would make new datagrams look old or old ones new.
    int64_t wallLeadNs_ = 0;
    DatagramOrigin lastOrigin_;
    SetAsideWatcher* watcher_ = nullptr;
};

}  // namespace quorvane
