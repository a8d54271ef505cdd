#pragma once
// Discovery on a busy or large network: one or more rounds of the discovery
// broadcast, replies merged by MAC, every pass bounded in time and size.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/device_chain.h"
#include "protocol/transport.h"

namespace quorvane {

inline constexpr int DISCOVERY_OVERFLOW_ROUNDS = 3;            // rounds in all when the socket overflowed
inline constexpr int DISCOVERY_PASS_WAITS = 10;                // receive waits one round lasts at most
inline constexpr std::size_t DISCOVERY_MAX_DEVICES = 65536;    // devices one pass holds at most
inline constexpr std::size_t DISCOVERY_IGNORED_MACS_KEPT = 8;  // ignored MACs a report names at most

struct DiscoverySettings {
    // Rounds asked for; after the first, another follows only while the
    // last one found a device not seen before.
    int rounds = 1;
};

// What the last pass did, for a front end that reports it.
struct DiscoveryReport {
    int rounds = 0;
    int overflowedRounds = 0;  // rounds in which the system dropped datagrams
    std::size_t devices = 0;
    // Replies whose MAC names no single device (NamesOneDevice), and their
    // MACs, each once, in order of arrival, the first few only.
    std::size_t ignoredReplies = 0;
    std::vector<MacAddress> ignoredMacs;
    bool moreIgnoredMacs = false;  // other MACs were ignored beyond those kept
};

// Clears the chain, then runs the rounds. A device that answers more than
// once is one record, placed by its newest reply; the chain yields the
// newest first. A MAC that answers from two addresses is one record too,
// marked SharedMac::TwoAddresses. A reply whose MAC names no single device
// is left out and counted in the report. A round lasts until one receive
// wait passes without a discovery reply of a device, or ten receive waits in
// all, whatever else arrives. When
// the system dropped datagrams in a round, another round follows (three in
// all at most). False when no device answered or the first send failed.
bool DiscoverDevices(Transport& link, DeviceChain& chain, uint16_t first, uint16_t second,
                     const DiscoverySettings& settings, DiscoveryReport& report);

}  // namespace quorvane
