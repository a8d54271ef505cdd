#include "protocol/tracing_transport.h"

#include <cstdio>
#include <optional>

#include "protocol/ipv4_text.h"
#include "protocol/packet_text.h"

namespace quorvane {
namespace {

using Key = std::pair<uint8_t, MacAddress>;

// The reply a request waits for, by the key its answer carries. Every
// device answers a discovery, so its key names no device.
std::optional<Key> AwaitedReply(std::span<const uint8_t> request) {
    PacketHeader header;
    if (!PacketHeader::Decode(request, header) || header.magic != REQUEST_MAGIC) return std::nullopt;
    switch (header.opcode) {
        case OP_DISCOVER:
            return Key{OP_DISCOVER_REPLY, BROADCAST_MAC};
        case OP_GET_INFO:
            return Key{OP_INFO_REPLY, header.mac};
        default:
            return Key{header.opcode, header.mac};
    }
}

std::optional<Key> ReplyKeyOf(std::span<const uint8_t> reply) {
    PacketHeader header;
    if (!PacketHeader::Decode(reply, header) || header.magic != REPLY_MAGIC) return std::nullopt;
    return Key{header.opcode, header.opcode == OP_DISCOVER_REPLY ? BROADCAST_MAC : header.mac};
}

std::string SizeText(std::size_t size) {
    return std::to_string(size) + (size == 1 ? " byte" : " bytes");
}

}  // namespace

bool TracingTransport::Send(uint32_t address, std::span<const uint8_t> datagram) {
    if (!Tracing()) return inner_.Send(address, datagram);
    // Written before the send, so that the round trip leaves out the time
    // the trace itself takes (with -vv, many lines). Timed before it leaves:
    // on loopback the reply can be back before the send call returns.
    Trace("-> " + DescribeRequest(datagram) + ", " + SizeText(datagram.size()), datagram);
    const auto sentAt = clock_();
    const bool sent = inner_.Send(address, datagram);
    if (sent)
        RememberRequest(datagram, sentAt);
    else
        Trace("-> not sent: the system refused the datagram", {});
    return sent;
}

int TracingTransport::Receive(uint32_t& sender, std::span<uint8_t> buffer, std::chrono::milliseconds wait) {
    const int result = inner_.Receive(sender, buffer, wait);
    if (Tracing()) TraceReceive(result, sender, buffer, wait, clock_());
    return result;
}

void TracingTransport::DropEarlierDatagrams(std::span<uint8_t> scratch, int limit) {
    if (!Tracing()) return inner_.DropEarlierDatagrams(scratch, limit);
    dropping_ = true;
    Transport::DropEarlierDatagrams(scratch, limit);
    dropping_ = false;
}

void TracingTransport::RememberRequest(std::span<const uint8_t> request,
                                       std::chrono::steady_clock::time_point sentAt) {
    if (const auto key = AwaitedReply(request)) sentAt_[*key] = sentAt;
}

std::string TracingTransport::RoundTrip(std::span<const uint8_t> reply,
                                        std::chrono::steady_clock::time_point receivedAt) const {
    const auto key = ReplyKeyOf(reply);
    const auto found = key ? sentAt_.find(*key) : sentAt_.end();
    if (found == sentAt_.end()) return "";
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(receivedAt - found->second).count();
    char text[48];
    std::snprintf(text, sizeof text, " after %lld.%03lld ms", static_cast<long long>(micros / 1000),
                  static_cast<long long>(micros % 1000));
    return text;
}

void TracingTransport::TraceReceive(int result, uint32_t sender, std::span<const uint8_t> buffer,
                                    std::chrono::milliseconds wait,
                                    std::chrono::steady_clock::time_point receivedAt) {
    if (result > 0) {
        const auto reply = buffer.first(static_cast<std::size_t>(result));
        // Whatever came before a request cannot answer it: no round trip.
        const std::string timing =
            dropping_ ? ", dropped: it came before the request" : RoundTrip(reply, receivedAt);
        Trace("<- " + DescribeReply(reply) + ", " + SizeText(reply.size()) + " from " + FormatIpv4(sender) +
                  timing,
              reply);
    } else if (result == RECEIVE_OVERSIZED) {
        Trace("<- a datagram of more than " + SizeText(buffer.size()) + ", dropped", {});
    } else if (result == 0) {
        Trace("<- an empty datagram, or the wait failed", {});
    } else if (wait.count() > 0) {
        // Looks that take only what is waiting end empty all the time.
        Trace("<- nothing within " + std::to_string(wait.count()) + " ms", {});
    }
}

void TracingTransport::Trace(const std::string& line, std::span<const uint8_t> datagram) {
    sink_->Write(line, sink_->Detail() >= TRACE_HEX ? HexLines(datagram) : std::string());
}

}  // namespace quorvane
