// Hostile replies to discovery, the information query and every command
// exchange. The input is first matched as one bare datagram, then read as
// the exchanges' parameters followed by the device's answers (FuzzDevice).
// Out-values must stay untouched when an exchange fails, and no exchange
// may send more than its retry rule allows.

#include "fuzz/fuzz_replies.h"

#include <algorithm>
#include <array>
#include <vector>

#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_support.h"
#include "protocol/device_chain.h"
#include "protocol/device_protocol.h"
#include "protocol/info_block.h"
#include "protocol/packet.h"
#include "protocol/recording_transport.h"
#include "support/fake_transport.h"

using namespace quorvane;
using namespace quorvane::fuzz;

namespace {

constexpr uint8_t SENTINEL = 0xA7;
constexpr std::size_t READ_ROOM = 256;
constexpr std::size_t READ_GUARD = 16;  // bytes after the asked length that Read must not touch

struct Parameters {
    uint16_t discoverFirst, discoverSecond;
    MacAddress mac;
    uint16_t eraseValue, loadA, loadB;
    uint32_t loadTotal;
    uint16_t blockIndex;
    std::vector<uint8_t> blockData;
    uint8_t readLength;
    uint16_t readA, readB;
};

Parameters ReadParameters(ByteStream& in) {
    Parameters p{};
    p.discoverFirst = in.U16();
    p.discoverSecond = in.U16();
    const auto mac = in.TakePadded(p.mac.size());
    std::copy(mac.begin(), mac.end(), p.mac.begin());
    p.eraseValue = in.U16();
    p.loadA = in.U16();
    p.loadB = in.U16();
    p.loadTotal = in.U32();
    p.blockIndex = in.U16();
    // Up to a little more than a request can carry, so the size check is reached too.
    p.blockData = in.TakePadded(in.U16() % (REQUEST_CAPACITY + 8));
    p.readLength = in.Byte();
    p.readA = in.U16();
    p.readB = in.U16();
    return p;
}

void MatchBareDatagram(std::span<const uint8_t> datagram) {
    const MacAddress mac{1, 2, 3, 4, 5, 6};
    for (const uint8_t opcode : {OP_DISCOVER_REPLY, OP_INFO_REPLY, OP_READ}) {
        if (!MatchReply(datagram, nullptr, opcode)) continue;
        FUZZ_CHECK(datagram.size() >= OFFSET_MAC + 6 && datagram[OFFSET_OPCODE] == opcode);
        FUZZ_CHECK(ReadU32(datagram, OFFSET_MAGIC) == REPLY_MAGIC);
    }
    if (MatchReply(datagram, &mac, OP_READ))
        FUZZ_CHECK(std::equal(mac.begin(), mac.end(), datagram.begin() + OFFSET_MAC));
    PacketHeader header;
    FUZZ_CHECK(PacketHeader::Decode(datagram, header) == (datagram.size() >= HEADER_SIZE));
}

// Counts the sends of one exchange against the retry rule.
template <typename Run>
bool Bounded(testing::FakeTransport& link, Run&& run) {
    const std::size_t before = link.sent.size();
    const bool ok = run();
    FUZZ_CHECK(link.sent.size() - before <= static_cast<std::size_t>(MAX_SENDS));
    return ok;
}

void QueryInformation(DeviceProtocol& protocol, testing::FakeTransport& link, DeviceRecord& record) {
    record.infoFlag = SENTINEL;
    record.infoBlock = {SENTINEL};
    if (!Bounded(link, [&] { return protocol.QueryInfo(record); })) {
        FUZZ_CHECK(record.infoFlag == SENTINEL && record.infoBlock == std::vector<uint8_t>{SENTINEL});
        return;
    }
    FUZZ_CHECK(record.infoBlock.size() < REPLY_CAPACITY);
    std::string text;
    uint16_t word = 0;
    FirmwareFields fields;
    InfoBlock::Name(record.infoBlock, text);
    InfoBlock::Workgroup(record.infoBlock, text);
    InfoBlock::VendorId(record.infoBlock, word);
    InfoBlock::Firmware(record.infoBlock, fields);
}

void RunLoad(DeviceProtocol& protocol, testing::FakeTransport& link, const DeviceRecord& record,
             const Parameters& p) {
    uint16_t blockSize = 0xB5B5;
    if (!Bounded(link, [&] { return protocol.LoadBegin(record, p.loadA, p.loadB, p.loadTotal, blockSize); }))
        FUZZ_CHECK(blockSize == 0xB5B5);
    Bounded(link, [&] { return protocol.LoadBlock(record, p.blockIndex, p.blockData); });
    uint8_t checksum = SENTINEL;
    if (!Bounded(link, [&] { return protocol.LoadVerify(record, checksum); }))
        FUZZ_CHECK(checksum == SENTINEL);
}

void RunRead(DeviceProtocol& protocol, testing::FakeTransport& link, const DeviceRecord& record,
             const Parameters& p) {
    std::array<uint8_t, READ_ROOM + READ_GUARD> buffer;
    buffer.fill(SENTINEL);
    const auto out = std::span(buffer).first(p.readLength + READ_GUARD);
    const bool ok = Bounded(link, [&] { return protocol.Read(record, p.readLength, p.readA, p.readB, out); });
    const auto touched = ok ? buffer.begin() + p.readLength : buffer.begin();
    FUZZ_CHECK(std::all_of(touched, buffer.end(), [](uint8_t b) { return b == SENTINEL; }));
}

}  // namespace

namespace quorvane::fuzz {

void RunReplyExchanges(const std::vector<uint8_t>& input, PcapWriter* capture) {
    MatchBareDatagram(input);

    ByteStream in(input);
    const Parameters p = ReadParameters(in);
    testing::FakeTransport link;
    FuzzDevice device(in);
    device.Attach(link);
    RecordingTransport recorder(link);
    if (capture != nullptr) {
        EndpointOptions endpoint;
        endpoint.broadcastAddress = testing::LOCALHOST;
        recorder.RecordInto(*capture, endpoint, CAPTURE_LOCAL_PORT);
    }
    DeviceChain chain;
    DeviceProtocol protocol(recorder, chain);

    const bool found = protocol.Discover(p.discoverFirst, p.discoverSecond);
    FUZZ_CHECK(found == !chain.Empty() && link.sent.size() == 1);
    DeviceRecord record;
    record.mac = p.mac;
    QueryInformation(protocol, link, record);
    Bounded(link, [&] { return protocol.SetProgramMode(record); });
    Bounded(link, [&] { return protocol.Lock(record); });
    Bounded(link, [&] { return protocol.Erase(record, p.eraseValue); });
    RunLoad(protocol, link, record, p);
    RunRead(protocol, link, record, p);
    Bounded(link, [&] { return protocol.Unlock(record); });
    Bounded(link, [&] { return protocol.Reset(record); });
}

}  // namespace quorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunReplyExchanges(std::vector<uint8_t>(data, data + size), nullptr);
    return 0;
}
