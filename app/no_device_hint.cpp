#include "app/no_device_hint.h"

#include "protocol/interfaces.h"
#include "protocol/ipv4_text.h"
#include "protocol/source_address.h"
#include "res/string_format.h"
#include "res/string_table.h"

namespace quorvane {

std::string InterfaceToward(uint32_t destination, uint32_t local) {
    const uint32_t source = local != 0 ? local : SourceAddressToward(destination);
    if (source == 0) return "no interface (the system has no route to " + FormatIpv4(destination) + ")";
    const auto found = FindIpv4InterfaceByAddress(ListIpv4Interfaces(), source);
    return (found ? found->name + " " : std::string()) + "(" + FormatIpv4(source) + ")";
}

std::vector<std::string> NoDeviceHint(const DiscoveryReport& report, const EndpointOptions& endpoint,
                                      HintFor program) {
    if (report.rounds == 0 || report.devices > 0) return {};
    const uint32_t destination = endpoint.Destination(LIMITED_BROADCAST);
    const std::string port = std::to_string(endpoint.port);
    return {
        FormatPlaceholders(IDS_NO_DEVICE_ANSWERED, {InterfaceToward(destination, endpoint.localAddress),
                                                    FormatIpv4(destination), port}),
        LoadString(program == HintFor::Terminal ? IDS_OTHER_INTERFACE_COMMAND : IDS_OTHER_INTERFACE_OPTION),
        FormatPlaceholders(IDS_FIREWALL_RULE, {port})};
}

}  // namespace quorvane
