#pragma once
// A transport that passes every call on and, once told where to, writes each
// datagram sent and received to a capture file. The exchanges above it stay
// as they are; without a capture it only forwards.

#include <chrono>
#include <cstdint>
#include <span>

#include "pcap_writer.h"
#include "source_address.h"
#include "transport.h"
#include "udp_endpoint.h"

namespace quorvane {

class RecordingTransport final : public ForwardingTransport, private SetAsideWatcher {
public:
    using ForwardingTransport::ForwardingTransport;
    ~RecordingTransport() override;

    // From now on every datagram is written to `writer` (which must outlive
    // this transport). `endpoint` are the options the socket under `inner`
    // was made with and `localPort` the port it is bound to: the transport
    // calls carry neither.
    void RecordInto(PcapWriter& writer, const EndpointOptions& endpoint, uint16_t localPort);
    // The same over the socket itself (which must be `inner` and outlive
    // this transport): received datagrams keep their source port and
    // arrival time, and those the socket sets aside are written as it
    // reads them.
    void RecordInto(PcapWriter& writer, UdpEndpoint& endpoint);

    bool Send(uint32_t address, std::span<const uint8_t> datagram) override;
    using Transport::Receive;
    int Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) override;
    // Over another transport, what is dropped while recording is read
    // through this one, so the late and duplicated replies a capture is
    // wanted for are in it; the socket itself reports what it sets aside.
    void DropEarlierDatagrams(std::span<uint8_t> scratch, int limit) override {
        if (writer_ != nullptr && socket_ == nullptr)
            Transport::DropEarlierDatagrams(scratch, limit);
        else
            inner_.DropEarlierDatagrams(scratch, limit);
    }

private:
    void SetAside(const DatagramOrigin& origin, std::span<const uint8_t> datagram) override;
    void WriteReceived(const DatagramOrigin& origin, std::span<const uint8_t> datagram);

    PcapWriter* writer_ = nullptr;
    EndpointOptions endpoint_;
    uint16_t localPort_ = 0;
    UdpEndpoint* socket_ = nullptr;
    SourceAddressCache sources_;
};

}  // namespace quorvane
