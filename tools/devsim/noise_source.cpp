#include "tools/devsim/noise_source.h"

#include <sys/socket.h>

#include <algorithm>

#include "protocol/packet.h"

namespace quorvane::devsim {

namespace {

// A MAC no simulated device is given (DefaultProfiles count up from 02:00:...).
constexpr MacAddress FOREIGN_MAC{0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
constexpr std::size_t OVERSIZED_LENGTH = 2000;  // more than any reply the program reads

int64_t Period(int perSecond) {
    return perSecond > 0 ? std::max<int64_t>(1, 1000 / perSecond) : 0;
}

}  // namespace

NoiseSource::NoiseSource(const FaultOptions& faults)
    : foreignEveryMs_(Period(faults.foreignPerSecond)),
      oversizedEveryMs_(Period(faults.oversizedPerSecond)),
      foreign_(HEADER_SIZE + 2),
      oversized_(OVERSIZED_LENGTH, 0x55) {}

void NoiseSource::SetClient(const sockaddr_in& client, int64_t nowMs) {
    if (!haveClient_) {
        nextForeignMs_ = nowMs + foreignEveryMs_;
        nextOversizedMs_ = nowMs + oversizedEveryMs_;
    }
    client_ = client;
    haveClient_ = true;
}

void NoiseSource::SendDue(int fd, int64_t nowMs, CaptureTap& tap) {
    if (!haveClient_) return;
    const auto send = [&](const std::vector<uint8_t>& bytes) {
        if (::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&client_),
                     sizeof client_) >= 0)
            tap.Sent(client_, bytes);
    };
    while (foreignEveryMs_ > 0 && nextForeignMs_ <= nowMs) {
        // Every command reply opcode in turn, from a device the program never
        // asked (a discovery reply would be a device of its own).
        opcode_ = static_cast<uint8_t>(opcode_ < OP_LOCK || opcode_ >= OP_INFO_REPLY ? OP_LOCK : opcode_ + 1);
        const uint8_t echo[2] = {0, 0};
        BuildPacket(foreign_, opcode_, REPLY_MAGIC, FOREIGN_MAC, echo);
        send(foreign_);
        nextForeignMs_ += foreignEveryMs_;
    }
    while (oversizedEveryMs_ > 0 && nextOversizedMs_ <= nowMs) {
        send(oversized_);
        nextOversizedMs_ += oversizedEveryMs_;
    }
}

int64_t NoiseSource::WaitMs(int64_t nowMs, int64_t idle) const {
    if (!haveClient_) return idle;
    int64_t wait = idle;
    if (foreignEveryMs_ > 0) wait = std::min(wait, nextForeignMs_ - nowMs);
    if (oversizedEveryMs_ > 0) wait = std::min(wait, nextOversizedMs_ - nowMs);
    return std::max<int64_t>(wait, 0);
}

}  // namespace quorvane::devsim
