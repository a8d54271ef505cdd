// devsim's profile file. A text the parser refuses leaves the profiles
// untouched and names a line; a text it takes gives devices that each
// answer a discovery once, with the address the file gave them, and answer
// an information query.

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/packet.h"
#include "tools/devsim/profile_file.h"
#include "tools/devsim/simulator.h"

using namespace quorvane;
using namespace quorvane::fuzz;
using namespace quorvane::devsim;

namespace {

// Large enough for any test file, small enough that a run stays quick.
constexpr std::size_t MAX_DEVICES_CHECKED = 64;

std::vector<uint8_t> Request(uint8_t opcode, const MacAddress& mac, std::vector<uint8_t> payload) {
    std::vector<uint8_t> request(REQUEST_CAPACITY);
    request.resize(BuildPacket(request, opcode, REQUEST_MAGIC, mac, payload));
    return request;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<DeviceProfile> profiles(1);
    profiles[0].name = "untouched";
    std::string error;
    if (!ParseProfiles(in, profiles, error)) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(profiles.size() == 1 && profiles[0].name == "untouched");
        return 0;
    }
    if (profiles.size() > MAX_DEVICES_CHECKED) return 0;
    for (const auto& profile : profiles) {
        FUZZ_CHECK(profile.name.size() <= NAME_ROOM);
        FUZZ_CHECK(profile.workgroup.size() < WORKGROUP_ROOM);
    }
    Simulator simulator(profiles, {});
    const auto replies = simulator.Handle(Request(OP_DISCOVER, BROADCAST_MAC, {0xFF, 0xFF, 0xFF, 0xFF}));
    FUZZ_CHECK(replies.size() == profiles.size());
    std::vector<MacAddress> answered;
    std::vector<MacAddress> given;
    for (std::size_t i = 0; i < replies.size(); ++i) {
        PacketHeader header;
        FUZZ_CHECK(PacketHeader::Decode(replies[i].bytes, header) && header.magic == REPLY_MAGIC);
        answered.push_back(header.mac);
        given.push_back(profiles[i].mac);
        const auto answers = simulator.Handle(Request(OP_GET_INFO, header.mac, {}));
        FUZZ_CHECK(!answers.empty());
        for (const auto& answer : answers) {
            PacketHeader info;
            FUZZ_CHECK(PacketHeader::Decode(answer.bytes, info) && info.mac == header.mac);
            FUZZ_CHECK(answer.bytes.size() == HEADER_SIZE + info.payloadLength);
        }
    }
    // Each device answered once, from the address its profile gave it.
    std::sort(answered.begin(), answered.end());
    std::sort(given.begin(), given.end());
    FUZZ_CHECK(answered == given);
    return 0;
}
