#include "tools/devsim/simulator.h"

#include <algorithm>

#include "tools/devsim/packet_text.h"

namespace quorvane::devsim {
namespace {

uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t MacNumber(const MacAddress& mac) {
    uint64_t n = 0;
    for (uint8_t byte : mac) n = (n << 8) | byte;
    return n;
}

std::string DelayText(int64_t delayMs) {
    return delayMs > 0 ? " delay=" + std::to_string(delayMs) + "ms" : "";
}

}  // namespace

Simulator::Simulator(std::vector<DeviceProfile> profiles, FaultOptions faults) : faults_(std::move(faults)) {
    devices_.reserve(profiles.size());
    for (auto& profile : profiles) {
        FaultState state;
        // Each device draws from its own stream, so one device's traffic does
        // not change which packets another device loses.
        state.random = faults_.seed ^ (MacNumber(profile.mac) * 0x2545F4914F6CDD1Dull);
        states_.push_back(state);
        devices_.emplace_back(std::move(profile));
    }
}

std::vector<OutgoingReply> Simulator::Handle(std::span<const uint8_t> request, int64_t nowMs) {
    std::vector<OutgoingReply> out;
    bool taken = false;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (!devices_[i].Accepts(request)) continue;
        taken = true;
        Serve(i, request, nowMs, out);
    }
    if (!taken) Log("ignored " + DescribeRequest(request));
    return out;
}

VirtualDevice* Simulator::Find(const MacAddress& mac) {
    auto it = std::find_if(devices_.begin(), devices_.end(), [&](const auto& d) { return d.Mac() == mac; });
    return it == devices_.end() ? nullptr : &*it;
}

int Simulator::RequestCount(const MacAddress& mac, uint8_t opcode) const {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].Mac() != mac) continue;
        auto it = states_[i].arrived.find(opcode);
        return it == states_[i].arrived.end() ? 0 : it->second;
    }
    return 0;
}

void Simulator::Serve(std::size_t index, std::span<const uint8_t> request, int64_t nowMs,
                      std::vector<OutgoingReply>& out) {
    const uint8_t opcode = request[OFFSET_OPCODE];
    const std::string mac = FormatMac(devices_[index].Mac());
    // A discovery names no device; the log line names the one that heard it.
    std::string what = DescribeRequest(request);
    if (opcode == OP_DISCOVER) what.replace(what.find(' ') + 1, mac.size(), mac);
    ++states_[index].arrived[opcode];
    Log("rx " + what);
    if (Faulty(index) && DropRequest(index, opcode, what)) return;
    auto reply = devices_[index].Answer(request);
    if (!reply) {
        Log("ignored " + what + " (not understood in this state)");
        return;
    }
    if (Faulty(index)) Spoil(index, opcode, *reply);
    const int64_t delayMs = ReplyDelay(index, opcode, nowMs);
    Send(index, std::move(*reply), delayMs, out);
}

bool Simulator::DropRequest(std::size_t index, uint8_t opcode, const std::string& what) {
    FaultState& state = states_[index];
    if (faults_.silent.count(opcode)) {
        Log("silent " + what);
        return true;
    }
    auto first = faults_.dropFirst.find(opcode);
    if (first != faults_.dropFirst.end() && state.seen[opcode]++ < first->second) {
        Log("drop-rx " + what + " (first " + std::to_string(first->second) + ")");
        return true;
    }
    if (faults_.DropsRequests() && Chance(index)) {
        Log("drop-rx " + what + " (random)");
        return true;
    }
    return false;
}

void Simulator::Spoil(std::size_t index, uint8_t opcode, std::vector<uint8_t>& reply) {
    FaultState& state = states_[index];
    if (opcode == OP_LOAD_VERIFY && faults_.badChecksum) ++reply[OFFSET_PAYLOAD];
    if (!faults_.wrongEchoOnce.count(opcode) || !HasEcho(opcode) || !state.echoSpoiled.insert(opcode).second)
        return;
    if (opcode == OP_READ) {
        // A read answered one byte short: the payload length no longer matches.
        reply.pop_back();
        WriteU16(reply, OFFSET_PAYLOAD_LENGTH, static_cast<uint16_t>(reply.size() - HEADER_SIZE));
    } else if (opcode == OP_LOAD_VERIFY) {
        ++reply[OFFSET_PAYLOAD];
    } else {
        WriteU16(reply, OFFSET_PAYLOAD, static_cast<uint16_t>(ReadU16(reply, OFFSET_PAYLOAD) + 1));
    }
}

int64_t Simulator::ReplyDelay(std::size_t index, uint8_t opcode, int64_t nowMs) {
    if (!Faulty(index)) return 0;
    FaultState& state = states_[index];
    // The device works one request at a time: a request that arrives while a
    // block is still being stored waits for it.
    int64_t ready = std::max(nowMs, state.busyUntilMs);
    if (opcode == OP_LOAD_BLOCK && faults_.blockDelayMs > 0) {
        ready += faults_.blockDelayMs;
        state.busyUntilMs = ready;
    }
    return ready - nowMs + faults_.delayMs;
}

void Simulator::Send(std::size_t index, std::vector<uint8_t> reply, int64_t delayMs,
                     std::vector<OutgoingReply>& out) {
    const std::string what = DescribeReply(reply);
    if (Faulty(index) && faults_.DropsReplies() && Chance(index)) {
        Log("drop-tx " + what + " (random)");
        return;
    }
    Log("tx " + what + DelayText(delayMs));
    if (Faulty(index) && faults_.duplicate) {
        Log("tx " + what + DelayText(delayMs) + " (duplicate)");
        out.push_back({reply, delayMs});
    }
    out.push_back({std::move(reply), delayMs});
}

bool Simulator::Chance(std::size_t index) {
    const uint64_t draw = SplitMix(states_[index].random) >> 11;  // 53 random bits
    return static_cast<double>(draw) * 0x1.0p-53 < faults_.dropFraction;
}

void Simulator::Log(const std::string& line) const {
    if (log_) log_(line);
}

}  // namespace quorvane::devsim
