#include "tools/devsim/simulator.h"

#include <algorithm>
#include <cstdio>

#include "protocol/packet_text.h"

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

// " delay=5ms", or " delay=0.950ms" for a wait that ends within a store
// begun earlier.
std::string DelayText(Micros delay) {
    if (delay <= Micros{0}) return {};
    const long long us = delay.count();
    char text[48];
    if (us % 1000 == 0) {
        std::snprintf(text, sizeof text, " delay=%lldms", us / 1000);
    } else {
        std::snprintf(text, sizeof text, " delay=%lld.%03lldms", us / 1000, us % 1000);
    }
    return text;
}

}  // namespace

Simulator::OpcodeFaults Simulator::ByOpcode(const FaultOptions& faults) {
    OpcodeFaults out;
    for (uint8_t opcode : faults.silent) out.silent.set(opcode);
    for (uint8_t opcode : faults.wrongEchoOnce) out.wrongEchoOnce.set(opcode);
    for (const auto& [opcode, count] : faults.dropFirst) {
        out.dropsFirst.set(opcode);
        out.dropFirst[opcode] = count;
    }
    return out;
}

Simulator::Simulator(std::vector<DeviceProfile> profiles, FaultOptions faults)
    : faults_(std::move(faults)), byOpcode_(ByOpcode(faults_)) {
    devices_.reserve(profiles.size());
    for (auto& profile : profiles) {
        FaultState state;
        // Each device draws from its own stream, so one device's traffic does
        // not change which packets another device loses.
        state.random = faults_.seed ^ (MacNumber(profile.mac) * 0x2545F4914F6CDD1Dull);
        state.faulty = faults_.AppliesTo(profile.mac);
        states_.push_back(state);
        nextWithMac_.push_back(NO_DEVICE);
        const auto [first, fresh] = byMac_.emplace(MacNumber(profile.mac), devices_.size());
        if (!fresh) {
            std::size_t last = first->second;
            while (nextWithMac_[last] != NO_DEVICE) last = nextWithMac_[last];
            nextWithMac_[last] = devices_.size();
        }
        devices_.emplace_back(std::move(profile));
    }
}

void Simulator::Handle(std::span<const uint8_t> request, Micros now, ReplyBatch& out) {
    out.Clear();
    bool taken = false;
    PacketHeader header;
    if (PacketHeader::Decode(request, header) && header.opcode == OP_DISCOVER) {
        for (std::size_t i = 0; i < devices_.size(); ++i) {
            if (!devices_[i].Accepts(request)) continue;
            taken = true;
            Serve(i, request, now, out);
        }
    } else if (const auto found = byMac_.find(MacNumber(header.mac)); found != byMac_.end()) {
        // Clones of one MAC all take the request, as units on one segment would.
        for (std::size_t i = found->second; i != NO_DEVICE; i = nextWithMac_[i]) {
            if (!devices_[i].Accepts(request)) continue;
            taken = true;
            Serve(i, request, now, out);
        }
    }
    if (!taken && Logging()) Log("ignored " + DescribeRequest(request));
}

std::vector<OutgoingReply> Simulator::Handle(std::span<const uint8_t> request, Micros now) {
    ReplyBatch batch;
    Handle(request, now, batch);
    std::vector<OutgoingReply> out;
    for (std::size_t i = 0; i < batch.Size(); ++i)
        out.push_back({{batch.Bytes(i).begin(), batch.Bytes(i).end()}, batch.Delay(i)});
    return out;
}

VirtualDevice* Simulator::Find(const MacAddress& mac) {
    const auto found = byMac_.find(MacNumber(mac));
    return found == byMac_.end() ? nullptr : &devices_[found->second];
}

int Simulator::RequestCount(const MacAddress& mac, uint8_t opcode) const {
    const auto found = byMac_.find(MacNumber(mac));
    if (found == byMac_.end()) return 0;
    return states_[found->second].arrived[opcode];
}

std::string Simulator::RequestLine(std::size_t index, std::span<const uint8_t> request) const {
    std::string what = DescribeRequest(request);
    // A discovery names no device; the log line names the one that heard it.
    if (request[OFFSET_OPCODE] == OP_DISCOVER) {
        const std::string mac = FormatMac(devices_[index].Mac());
        what.replace(what.find(' ') + 1, mac.size(), mac);
    }
    return what;
}

void Simulator::Serve(std::size_t index, std::span<const uint8_t> request, Micros now, ReplyBatch& out) {
    const uint8_t opcode = request[OFFSET_OPCODE];
    ++states_[index].arrived[opcode];
    if (Logging()) Log("rx " + RequestLine(index, request));
    if (Booting(index, request, now) || (Faulty(index) && DropRequest(index, request))) return;
    VirtualDevice& device = devices_[index];
    const std::size_t length = device.Answer(request, out.Room(device.MaxReplySize()));
    if (length == 0) {
        if (Logging()) Log("ignored " + RequestLine(index, request) + " (not understood in this state)");
        return;
    }
    const Micros delay = ReplyDelay(index, request, now);
    out.Commit(length, delay);
    if (Faulty(index)) Spoil(index, opcode, out);
    Send(index, delay, out);
    if (opcode == OP_RESET) Restart(index, now + delay);
}

bool Simulator::Booting(std::size_t index, std::span<const uint8_t> request, Micros now) {
    if (now >= states_[index].bootedAt) return false;
    if (Logging()) Log("booting " + RequestLine(index, request));
    return true;
}

void Simulator::Restart(std::size_t index, Micros replyAt) {
    const MacAddress& mac = devices_[index].Mac();
    const bool gone = std::find(faults_.noReturn.begin(), faults_.noReturn.end(), mac) != faults_.noReturn.end();
    if (gone)
        states_[index].bootedAt = Micros::max();
    else if (faults_.rebootMs > 0)
        states_[index].bootedAt = replyAt + std::chrono::milliseconds(faults_.rebootMs);
}

bool Simulator::DropRequest(std::size_t index, std::span<const uint8_t> request) {
    const uint8_t opcode = request[OFFSET_OPCODE];
    FaultState& state = states_[index];
    if (byOpcode_.silent[opcode]) {
        if (Logging()) Log("silent " + RequestLine(index, request));
        return true;
    }
    const int first = byOpcode_.dropFirst[opcode];
    if (byOpcode_.dropsFirst[opcode] && state.seen[opcode]++ < first) {
        if (Logging())
            Log("drop-rx " + RequestLine(index, request) + " (first " + std::to_string(first) + ")");
        return true;
    }
    if (faults_.DropsRequests() && Chance(index)) {
        if (Logging()) Log("drop-rx " + RequestLine(index, request) + " (random)");
        return true;
    }
    return false;
}

void Simulator::Spoil(std::size_t index, uint8_t opcode, ReplyBatch& out) {
    FaultState& state = states_[index];
    std::span<uint8_t> reply = out.Bytes(out.Size() - 1);
    if (opcode == OP_LOAD_VERIFY && faults_.badChecksum) ++reply[OFFSET_PAYLOAD];
    // A read of no bytes has nothing to cut short; the spoiling waits for a
    // read with data.
    const bool emptyRead = opcode == OP_READ && reply.size() <= HEADER_SIZE;
    if (!byOpcode_.wrongEchoOnce[opcode] || !HasEcho(opcode) || emptyRead || state.echoSpoiled[opcode])
        return;
    state.echoSpoiled.set(opcode);
    if (opcode == OP_READ) {
        // A read answered one byte short: the payload length no longer matches.
        out.ShortenLast(reply.size() - 1);
        WriteU16(reply, OFFSET_PAYLOAD_LENGTH, static_cast<uint16_t>(reply.size() - 1 - HEADER_SIZE));
    } else if (opcode == OP_LOAD_VERIFY) {
        ++reply[OFFSET_PAYLOAD];
    } else {
        WriteU16(reply, OFFSET_PAYLOAD, static_cast<uint16_t>(ReadU16(reply, OFFSET_PAYLOAD) + 1));
    }
}

Micros Simulator::ReplyDelay(std::size_t index, std::span<const uint8_t> request, Micros now) {
    if (!Faulty(index)) return Micros{0};
    FaultState& state = states_[index];
    const uint8_t opcode = request[OFFSET_OPCODE];
    if (opcode == OP_LOAD_BEGIN) state.storingBlock = -1;
    // The device works one request at a time: a request that arrives while a
    // block is still being stored waits for it.
    Micros ready = std::max(now, state.busyUntil);
    if (opcode == OP_LOAD_BLOCK && faults_.blockDelayMs > 0) {
        // The same block sent again is recognised and answered when its store
        // ends; only a new block costs another store.
        const int block = ReadU16(request, OFFSET_PAYLOAD);
        if (block != state.storingBlock) {
            ready += std::chrono::milliseconds(faults_.blockDelayMs);
            state.busyUntil = ready;
            state.storingBlock = block;
        }
    }
    return ready - now + std::chrono::milliseconds(faults_.delayMs);
}

void Simulator::Send(std::size_t index, Micros delay, ReplyBatch& out) {
    const bool faulty = Faulty(index);
    if (faulty && faults_.DropsReplies() && Chance(index)) {
        if (Logging()) Log("drop-tx " + DescribeReply(out.Bytes(out.Size() - 1)) + " (random)");
        out.DropLast();
        return;
    }
    const bool twice = faulty && faults_.duplicate;
    if (Logging()) {
        const std::string what = DescribeReply(out.Bytes(out.Size() - 1)) + DelayText(delay);
        Log("tx " + what);
        if (twice) Log("tx " + what + " (duplicate)");
    }
    if (twice) out.RepeatLast();
}

bool Simulator::Chance(std::size_t index) {
    const uint64_t draw = SplitMix(states_[index].random) >> 11;  // 53 random bits
    return static_cast<double>(draw) * 0x1.0p-53 < faults_.dropFraction;
}

void Simulator::Log(const std::string& line) const {
    if (log_) log_(line);
}

}  // namespace quorvane::devsim
