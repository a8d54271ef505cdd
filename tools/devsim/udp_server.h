#pragma once
// The socket side of devsim: one UDP socket, replies to each request's
// source, and a queue for replies that are due later. Requests are read
// and replies sent in batches.

#include <netinet/in.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

#include "tools/devsim/capture_tap.h"
#include "tools/devsim/datagram_batch.h"
#include "tools/devsim/noise_source.h"
#include "tools/devsim/reply_batch.h"
#include "tools/devsim/reply_queue.h"
#include "tools/devsim/simulator.h"

namespace quorvane::devsim {

struct ListenAddress {
    uint32_t address = 0x7F000001;  // host order
    uint16_t port = 4101;
};

// "127.0.0.1:4101"; the port may be 0 (ParseAddressAndPort).
bool ParseListenAddress(const std::string& text, ListenAddress& out);

// Flags the signal handlers set and the loop polls.
struct RunFlags {
    volatile std::sig_atomic_t* stop = nullptr;
    volatile std::sig_atomic_t* dump = nullptr;
};

class UdpServer {
public:
    UdpServer() = default;
    UdpServer(const UdpServer&) = delete;
    UdpServer& operator=(const UdpServer&) = delete;
    ~UdpServer();

    bool Open(const ListenAddress& where, std::string& error);
    uint16_t BoundPort() const { return port_; }
    // Writes every datagram received and sent to `writer` (after Open).
    void CaptureInto(PcapWriter& writer);

    // Serves until the stop flag is set; calls `onDump` whenever the dump flag
    // is raised. False when the socket fails.
    bool Run(Simulator& simulator, RunFlags flags, const std::function<void()>& onDump, std::string& error);

private:
    void AnswerAll(Simulator& simulator, ReplyQueue& queue, NoiseSource& noise, const ReceiveBatch& incoming,
                   int count, Micros arrived);

    int fd_ = -1;
    uint16_t port_ = 0;
    sockaddr_in local_{};
    CaptureTap tap_;
    ReplyBatch batch_;    // one request's replies
    SendBatch outgoing_;  // the replies of one turn of the loop that are due now
};

}  // namespace quorvane::devsim
