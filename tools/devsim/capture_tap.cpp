#include "tools/devsim/capture_tap.h"

#include <arpa/inet.h>

namespace quorvane::devsim {

void CaptureTap::Attach(PcapWriter& writer, const sockaddr_in& local) {
    writer_ = &writer;
    localAddress_ = ntohl(local.sin_addr.s_addr);
    localPort_ = ntohs(local.sin_port);
}

// Seen from the peer; the caller swaps the ends for what was received.
DatagramEnds CaptureTap::Ends(const sockaddr_in& peer) {
    const uint32_t peerAddress = ntohl(peer.sin_addr.s_addr);
    // A socket bound to every interface does not know which one a datagram
    // used; the one facing the peer is what the system picks.
    const uint32_t local = localAddress_ != INADDR_ANY ? localAddress_ : sources_.Toward(peerAddress);
    return {local, localPort_, peerAddress, ntohs(peer.sin_port)};
}

void CaptureTap::Received(const sockaddr_in& from, std::span<const uint8_t> bytes) {
    if (writer_ == nullptr) return;
    const DatagramEnds out = Ends(from);
    writer_->Write({out.destinationAddress, out.destinationPort, out.sourceAddress, out.sourcePort}, bytes);
}

void CaptureTap::Sent(const sockaddr_in& to, std::span<const uint8_t> bytes) {
    if (writer_ != nullptr) writer_->Write(Ends(to), bytes);
}

void CaptureTap::Idle() {
    if (writer_ != nullptr) writer_->Flush();
}

}  // namespace quorvane::devsim
