#pragma once
// The local IPv4 address the system sends from toward a destination, for
// captures: a socket bound to every interface never learns which one a
// datagram left by.

#include <cstdint>
#include <map>

namespace quorvane {

// Asks the routing table (no datagram is sent); 0 when it has no route.
uint32_t SourceAddressToward(uint32_t destination);

// The same, asked once per destination.
class SourceAddressCache {
public:
    uint32_t Toward(uint32_t destination);

private:
    std::map<uint32_t, uint32_t> known_;
};

}  // namespace quorvane
