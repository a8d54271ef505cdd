// The program's own exchanges against the simulator core, over the scripted
// transport with its virtual clock: what the simulator answers must be what
// the exchanges accept, and its faults must make them retry or fail.

#include <gtest/gtest.h>

#include <numeric>

#include "protocol/device_protocol.h"
#include "protocol/info_block.h"
#include "tests/support/fake_transport.h"
#include "tests/tools/devsim_packets.h"
#include "tools/devsim/simulator.h"

namespace quorvane::devsim {
namespace {

using quorvane::testing::FakeTransport;
using namespace quorvane::devsim::testing;

class DevsimInterop : public ::testing::Test {
protected:
    void Start(FaultOptions faults = {}, std::size_t devices = 3) {
        sim_ = std::make_unique<Simulator>(DefaultProfiles(devices), std::move(faults));
        link_.responder = [this](std::span<const uint8_t> request, FakeTransport& link) {
            for (auto& reply : sim_->Handle(request)) link.QueueReply(std::move(reply.bytes));
        };
    }
    DeviceRecord Device(const MacAddress& mac) {
        DeviceRecord record;
        record.mac = mac;
        return record;
    }
    std::size_t SendsOf(uint8_t opcode) const {
        return std::count_if(link_.sent.begin(), link_.sent.end(),
                             [&](const auto& d) { return d.bytes[OFFSET_OPCODE] == opcode; });
    }

    std::unique_ptr<Simulator> sim_;
    FakeTransport link_;
    DeviceChain chain_;
    DeviceProtocol protocol_{link_, chain_};
};

TEST_F(DevsimInterop, DiscoveryAndInformationQueryFindEveryDevice) {
    Start();
    ASSERT_TRUE(protocol_.Discover(0xFFFF, 0xFFFF));
    std::vector<std::string> names;
    while (DeviceRecord* record = chain_.Next()) {
        ASSERT_TRUE(protocol_.QueryInfo(*record));
        const VirtualDevice* device = sim_->Find(record->mac);
        ASSERT_NE(device, nullptr);
        uint16_t vendor = 0;
        InfoBlock::VendorId(record->infoBlock, vendor);
        EXPECT_EQ(vendor, device->Profile().vendorId);
        std::string name;
        InfoBlock::Name(record->infoBlock, name);
        names.push_back(name);
    }
    // Newest reply first: the chain lists the devices in reverse.
    EXPECT_EQ(names, (std::vector<std::string>{"Boiler Gate 3", "Dock Printer 2", "Press Line 1"}));
}

TEST_F(DevsimInterop, ImageLoadsVerifiesAndReadsBack) {
    Start();
    const auto record = Device(DEVICE_3);
    const auto image = Pattern(1300, 9);
    ASSERT_TRUE(protocol_.SetProgramMode(record));
    ASSERT_TRUE(protocol_.Erase(record, 0x10));
    uint16_t block = 0;
    ASSERT_TRUE(protocol_.LoadBegin(record, 0x10, 0, static_cast<uint32_t>(image.size()), block));
    ASSERT_EQ(block, 512);
    for (uint16_t i = 0; i * block < image.size(); ++i) {
        const std::size_t n = std::min<std::size_t>(block, image.size() - i * block);
        ASSERT_TRUE(protocol_.LoadBlock(record, i, std::span<const uint8_t>(image.data() + i * block, n)));
    }
    uint8_t checksum = 0;
    ASSERT_TRUE(protocol_.LoadVerify(record, checksum));
    EXPECT_EQ(checksum, static_cast<uint8_t>(std::accumulate(image.begin(), image.end(), 0u)));
    std::vector<uint8_t> back(128);
    ASSERT_TRUE(protocol_.Read(record, 128, 0x10, 1024, back));
    EXPECT_EQ(back, std::vector<uint8_t>(image.begin() + 1024, image.begin() + 1152));
    EXPECT_TRUE(protocol_.Reset(record));
    EXPECT_EQ(link_.sent.size(), 9u);  // one send per exchange
}

TEST_F(DevsimInterop, FaultsMakeTheExchangesResendOrGiveUp) {
    FaultOptions f;
    f.wrongEchoOnce = {OP_ERASE, OP_READ};
    f.dropFirst = {{OP_LOCK, 3}};
    f.silent = {OP_UNLOCK};
    Start(f);
    const auto record = Device(DEVICE_1);
    EXPECT_TRUE(protocol_.Erase(record, 4));
    EXPECT_EQ(SendsOf(OP_ERASE), 2u);
    std::vector<uint8_t> back(16);
    EXPECT_TRUE(protocol_.Read(record, 16, 0, 0, back));
    EXPECT_EQ(SendsOf(OP_READ), 2u);
    EXPECT_TRUE(protocol_.Lock(record));
    EXPECT_EQ(SendsOf(OP_LOCK), 4u);
    EXPECT_FALSE(protocol_.Unlock(record));
    EXPECT_EQ(SendsOf(OP_UNLOCK), static_cast<std::size_t>(MAX_SENDS));
}

TEST_F(DevsimInterop, LostPacketsAreRecoveredByResending) {
    FaultOptions f;
    f.dropFraction = 0.2;
    f.seed = 5;
    Start(f, 1);
    const auto record = Device(DEVICE_1);
    const auto image = Pattern(4096, 1);
    uint16_t block = 0;
    ASSERT_TRUE(protocol_.LoadBegin(record, 2, 0, static_cast<uint32_t>(image.size()), block));
    for (uint16_t i = 0; i * block < image.size(); ++i) {
        ASSERT_TRUE(
            protocol_.LoadBlock(record, i, std::span<const uint8_t>(image.data() + i * block, block)));
    }
    uint8_t checksum = 0;
    ASSERT_TRUE(protocol_.LoadVerify(record, checksum));
    EXPECT_EQ(checksum, static_cast<uint8_t>(std::accumulate(image.begin(), image.end(), 0u)));
    EXPECT_EQ(sim_->Devices()[0].Memory().Read(LinearAddress(2, 0), image.size()), image);
    EXPECT_GT(link_.sent.size(), 10u);  // some requests or replies were lost and sent again
}

}  // namespace
}  // namespace quorvane::devsim
