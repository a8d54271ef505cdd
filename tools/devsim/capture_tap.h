#pragma once
// devsim's side of a capture: what its socket receives and sends, written
// with the real addresses and ports of both ends.

#include <netinet/in.h>

#include <cstdint>
#include <span>

#include "protocol/pcap_writer.h"
#include "protocol/source_address.h"

namespace quorvane::devsim {

class CaptureTap {
public:
    // Writes to `writer` from now on (it must outlive the tap); `local` is the
    // address the socket is bound to.
    void Attach(PcapWriter& writer, const sockaddr_in& local);

    void Received(const sockaddr_in& from, std::span<const uint8_t> bytes);
    void Sent(const sockaddr_in& to, std::span<const uint8_t> bytes);
    // Nothing is happening: let the file catch up.
    void Idle();

private:
    DatagramEnds Ends(const sockaddr_in& peer);

    PcapWriter* writer_ = nullptr;
    uint32_t localAddress_ = 0;
    uint16_t localPort_ = 0;
    SourceAddressCache sources_;
};

}  // namespace quorvane::devsim
