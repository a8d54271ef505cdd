#include "protocol/recording_transport.h"

#include <chrono>

namespace quorvane {

void RecordingTransport::RecordInto(PcapWriter& writer, const EndpointOptions& endpoint, uint16_t localPort) {
    writer_ = &writer;
    endpoint_ = endpoint;
    localPort_ = localPort;
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
        // Devices answer from the port they listen on, which is where the
        // requests went; the receive does not report the source port.
        const DatagramEnds ends{sender, endpoint_.port, sources_.Toward(sender), localPort_};
        writer_->Write(ends, buffer.first(static_cast<std::size_t>(result)));
    } else if (result < 0) {
        // A wait that ended empty is a quiet moment: the file catches up
        // without costing anything while datagrams flow.
        writer_->Flush();
    }
    return result;
}

}  // namespace quorvane
