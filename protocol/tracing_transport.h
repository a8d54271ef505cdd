#pragma once
// A transport that passes every call on and, while its sink traces, writes
// one entry per request sent and per reply or empty wait received: the
// opcode's name, the MAC, the fields, the size, the peer and, for a reply
// that answers the last request, the round trip from that request's send.
// The exchanges above it stay as they are; with tracing off it builds no
// text at all.
//
//   -> ERASE 02:00:00:00:00:01 value=3, 16 bytes
//   <- ERASE 02:00:00:00:00:01 echo=3, 16 bytes from 127.0.0.1 after 0.412 ms

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <utility>

#include "protocol/packet.h"
#include "protocol/trace_sink.h"
#include "protocol/transport.h"

namespace quorvane {

class TracingTransport final : public ForwardingTransport {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `sink` may be null (nothing is traced) and must outlive the transport;
    // `clock` times the round trips (tests give a fake one).
    TracingTransport(Transport& inner, TraceSink* sink, Clock clock = std::chrono::steady_clock::now)
        : ForwardingTransport(inner), sink_(sink), clock_(std::move(clock)) {}

    bool Send(uint32_t address, std::span<const uint8_t> datagram) override;
    using Transport::Receive;
    int Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) override;
    // While tracing, what is dropped is read through this transport, so that
    // the late and duplicated replies show in the trace, marked as dropped.
    void DropEarlierDatagrams(std::span<uint8_t> scratch, int limit) override;

private:
    // A reply's opcode and MAC, which name the request it answers.
    using ReplyKey = std::pair<uint8_t, MacAddress>;

    bool Tracing() const { return sink_ != nullptr && sink_->Detail() > TRACE_OFF; }
    void Trace(const std::string& line, std::span<const uint8_t> datagram);
    void TraceReceive(int result, uint32_t sender, std::span<const uint8_t> buffer,
                      std::chrono::milliseconds wait, std::chrono::steady_clock::time_point receivedAt);
    void RememberRequest(std::span<const uint8_t> request, std::chrono::steady_clock::time_point sentAt);
    // " after 0.412 ms", or "" for a reply to no request sent here.
    std::string RoundTrip(std::span<const uint8_t> reply,
                          std::chrono::steady_clock::time_point receivedAt) const;

    TraceSink* sink_;
    Clock clock_;
    // When each request still answerable was last sent. The information
    // queries go out to many devices before their replies come back, so one
    // "last request" would not do.
    std::map<ReplyKey, std::chrono::steady_clock::time_point> sentAt_;
    bool dropping_ = false;
};

}  // namespace quorvane
