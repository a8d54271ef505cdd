#include "protocol/recording_transport.h"

#include <chrono>

namespace quorvane {

void RecordingTransport::RecordInto(PcapWriter& writer, const EndpointOptions& endpoint, uint16_t localPort) {
    writer_ = &writer;
    endpoint_ = endpoint;
    localPort_ = localPort;
}

RecordingTransport::~RecordingTransport() {
    if (socket_ != nullptr) socket_->WatchSetAside(nullptr);
}

void RecordingTransport::RecordInto(PcapWriter& writer, UdpEndpoint& endpoint) {
    RecordInto(writer, endpoint.Options(), endpoint.LocalPort());
    socket_ = &endpoint;
    endpoint.WatchSetAside(this);
}

void RecordingTransport::SetAside(const DatagramOrigin& origin, std::span<const uint8_t> datagram) {
    WriteReceived(origin, datagram);
}

void RecordingTransport::WriteReceived(const DatagramOrigin& origin, std::span<const uint8_t> datagram) {
    const DatagramEnds ends{origin.address, origin.port, sources_.Toward(origin.address), localPort_};
    if (origin.arrival.tv_sec == 0 && origin.arrival.tv_nsec == 0) {
        writer_->Write(ends, datagram);
        return;
    }
    const auto arrival = std::chrono::seconds(origin.arrival.tv_sec) + std::chrono::nanoseconds(origin.arrival.tv_nsec);
    writer_->Write(ends, datagram,
                   std::chrono::system_clock::time_point(
                       std::chrono::duration_cast<std::chrono::system_clock::duration>(arrival)));
}

bool RecordingTransport::Send(uint32_t address, std::span<const uint8_t> datagram) {
    if (writer_ == nullptr) return inner_.Send(address, datagram);
    // Stamped before it leaves: on loopback the reply can be back before
    // the send call returns, and the round trip must not look shorter.
    const auto when = std::chrono::system_clock::now();
    const bool sent = inner_.Send(address, datagram);
    // A datagram the system refused never reached the wire.
    if (sent) {
        const uint32_t destination = endpoint_.Destination(address);
        writer_->Write({sources_.Toward(destination), localPort_, destination, endpoint_.port}, datagram,
                       when);
    }
    return sent;
}

int RecordingTransport::Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) {
    const int result = inner_.Receive(sender, buffer, wait);
    if (writer_ == nullptr) return result;
    if (result > 0) {
        // Over another transport the source port is not known; devices
        // answer from the port they listen on, which is where requests went.
        const DatagramOrigin origin = socket_ != nullptr ? socket_->LastOrigin()
                                                         : DatagramOrigin{sender, endpoint_.port, {}};
        WriteReceived(origin, buffer.first(static_cast<std::size_t>(result)));
    } else if (result < 0) {
        // A wait that ended empty is a quiet moment: the file catches up
        // without costing anything while datagrams flow.
        writer_->Flush();
    }
    return result;
}

}  // namespace quorvane
