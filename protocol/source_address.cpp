#include "protocol/source_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvane {

uint32_t SourceAddressToward(uint32_t destination) {
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (probe < 0) return 0;
    // Without it the system refuses to pick a route to a broadcast address.
    const int on = 1;
    ::setsockopt(probe, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(9);  // any port: connecting a UDP socket only chooses the route
    target.sin_addr.s_addr = htonl(destination);
    uint32_t source = 0;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::connect(probe, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) == 0)
        source = ntohl(local.sin_addr.s_addr);
    ::close(probe);
    return source;
}

uint32_t SourceAddressCache::Toward(uint32_t destination) {
    const auto found = known_.find(destination);
    if (found != known_.end()) return found->second;
    const uint32_t source = SourceAddressToward(destination);
    known_.emplace(destination, source);
    return source;
}

}  // namespace quorvane
