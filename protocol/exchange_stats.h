#pragma once
// What the exchanges with one device cost: how often requests went out,
// how they were answered, and how long the answers took.

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace quorvane {

struct ExchangeStats {
    uint64_t sends = 0;      // every request sent, resends included
    uint64_t resends = 0;    // sends after the first of an exchange
    uint64_t timeouts = 0;   // attempts whose wait ended without an accepted reply
    uint64_t badEchoes = 0;  // replies of the device that did not answer the request
    uint64_t answered = 0;   // exchanges that got their answer: the round-trip samples
    std::chrono::microseconds rttMin{0};
    std::chrono::microseconds rttMax{0};
    std::chrono::microseconds rttTotal{0};
    uint64_t bytes = 0;  // payload loaded into or read back from the device

    void AddRoundTrip(std::chrono::microseconds rtt) {
        rttMin = answered == 0 ? rtt : std::min(rttMin, rtt);
        rttMax = std::max(rttMax, rtt);
        rttTotal += rtt;
        ++answered;
    }
    // Adds the counts of `other`, as of a later run on the same device.
    void Merge(const ExchangeStats& other) {
        if (other.answered > 0) {
            rttMin = answered == 0 ? other.rttMin : std::min(rttMin, other.rttMin);
            rttMax = std::max(rttMax, other.rttMax);
        }
        sends += other.sends;
        resends += other.resends;
        timeouts += other.timeouts;
        badEchoes += other.badEchoes;
        answered += other.answered;
        rttTotal += other.rttTotal;
        bytes += other.bytes;
    }
    std::chrono::microseconds RttAverage() const {
        return answered == 0 ? std::chrono::microseconds(0) : rttTotal / static_cast<int64_t>(answered);
    }
};

}  // namespace quorvane
