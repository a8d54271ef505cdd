// Why a device failed, in words, from what the exchanges and the device
// answered; the waits while an exchange is sent again; the refusals and
// the devices that answered but were not admitted, with their values.

#include "app/failure_text.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "app/upgrade_run.h"
#include "app_test_support.h"

namespace quorvane {
namespace {

using testing::FakeTransport;
using testing::MakeReplyWords;
using testing::Prompt;
using testing::ScriptedNetwork;
using testing::ScriptedPrompter;
using testing::SimulatedDevice;
using testing::TestDevice;

constexpr MacAddress MAC_A{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr MacAddress MAC_B{0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

// 1,100 bytes: 17 blocks of 64 and one of 12, summing to 0x9c.
std::vector<uint8_t> Firmware() {
    std::vector<uint8_t> bytes(1100, 0);
    bytes[0] = 0x9c;
    return bytes;
}

constexpr const char* LOAD_SCRIPT = "SETPROGRAMMODE\nERASE 3\nLOAD fw.bin 1:0\nRESET\n";

// Hears the waits of every device.
class WaitingProgress final : public UpgradeProgress {
public:
    void OnDeviceStart(std::size_t, std::size_t, const DeviceRecord&) override {}
    void OnDeviceEnd(std::size_t, bool) override {}
    void OnLine(int, std::string_view) override {}
    void OnTransfer(std::string_view, uint64_t, uint64_t) override {}
    void OnDeviceWaiting(std::size_t, std::string_view waiting, const ExchangeStats& exchanges) override {
        waits.emplace_back(waiting);
        told.emplace_back(waiting);
        resends = exchanges.resends;
    }
    void OnDeviceError(std::size_t, std::string_view error) override {
        told.push_back("error: " + std::string(error));
    }
    std::vector<std::string> waits;
    std::vector<std::string> told;  // the waits and the error, in order
    uint64_t resends = 0;
};

class FailureText : public ::testing::Test {
protected:
    // Runs the load script once on `device` (no retry) and returns the run.
    const RunModel& RunOnce(SimulatedDevice device,
                            const std::function<void(ScriptedNetwork&)>& tamper = {}) {
        net_ = std::make_unique<ScriptedNetwork>(std::initializer_list<SimulatedDevice>{device});
        if (tamper) tamper(*net_);
        record_ = net_->RecordOf(0);
        const auto path = scratch_.File("load.upk");
        EXPECT_TRUE(WritePackage(
            path, StandardMembers(LOAD_SCRIPT, testing::TEST_RESTRICTIONS, {{"FW.BIN", Firmware(), false}})));
        EXPECT_TRUE(package_.Open(path));
        restrictions_.wantedProductId = 1;
        run_ = std::make_unique<UpgradeRun>(net_->protocol, nullptr, LinkFactory{}, package_, nullptr,
                                            restrictions_);
        prompter_.answers = {false};
        if (run_->Confirm({record_.get()}, prompter_) == UpgradeOutcome::Stop::None)
            run_->Execute({}, prompter_, &progress_);
        return run_->Model();
    }

    test::TempFolder scratch_;
    UpgradePackage package_;
    Restrictions restrictions_;
    std::unique_ptr<ScriptedNetwork> net_;
    std::unique_ptr<DeviceRecord> record_;
    std::unique_ptr<UpgradeRun> run_;
    ScriptedPrompter prompter_;
    WaitingProgress progress_;
};

TEST_F(FailureText, EveryCauseIsNamedWithItsLineAndRequest) {
    struct Case {
        const char* what;
        std::function<void(SimulatedDevice&)> device;
        std::function<void(ScriptedNetwork&)> network;
        const char* error;
    } cases[] = {
        {"silent verify",
         [](SimulatedDevice& d) { d.silentOpcode = OP_LOAD_VERIFY; },
         {},
         "line 3 LOAD fw.bin: no answer to LOAD_VERIFY after 16 sends"},
        {"wrong checksum",
         [](SimulatedDevice& d) { d.reportedChecksum = 0x9d; },
         {},
         "line 3 LOAD fw.bin: the device reported checksum 0x9d, expected 0x9c"},
        {"block size 0",
         [](SimulatedDevice& d) { d.blockSize = 0; },
         {},
         "line 3 LOAD fw.bin: LOAD_BEGIN refused: block size 0"},
        {"block size past the buffer",
         [](SimulatedDevice& d) { d.blockSize = 600; },
         {},
         "line 3 LOAD fw.bin: LOAD_BEGIN refused: block size 600 (blocks of 1 to 512 bytes, at most 65535 of "
         "them, can be sent)"},
        {"silent erase",
         [](SimulatedDevice& d) { d.silentOpcode = OP_ERASE; },
         {},
         "line 2 ERASE 3: no answer to ERASE after 16 sends"},
        {"wrong echo of block 17",
         {},
         [](ScriptedNetwork& net) {
             // Block 17 is echoed as block 16, every time.
             auto answer = net.link.responder;
             net.link.responder = [answer](std::span<const uint8_t> request, FakeTransport& link) {
                 if (request[OFFSET_OPCODE] == OP_LOAD_BLOCK && ReadU16(request, OFFSET_PAYLOAD) == 17) {
                     link.QueueReply(MakeReplyWords(OP_LOAD_BLOCK, MAC_A, {16}));
                     return;
                 }
                 answer(request, link);
             };
         },
         "line 3 LOAD fw.bin: wrong echo of block 17 (16 sends)"},
        {"refused send",
         {},
         [](ScriptedNetwork& net) { net.link.failSendsFrom = 1; },
         "line 2 ERASE 3: ERASE could not be sent: the system refused it"},
    };
    for (const Case& c : cases) {
        SimulatedDevice device = TestDevice(MAC_A);
        if (c.device) c.device(device);
        const RunModel& model = RunOnce(device, c.network);
        ASSERT_EQ(model.devices.size(), 1u) << c.what;
        const DeviceResult& result = model.devices[0];
        EXPECT_EQ(result.state, DeviceState::Failed) << c.what;
        EXPECT_EQ(result.error, c.error) << c.what;
        EXPECT_FALSE(result.localError) << c.what;
        // The retry question says why after its own text; the network advice stays.
        ASSERT_EQ(prompter_.prompts.size(), 2u) << c.what;
        EXPECT_EQ(prompter_.prompts[0].text,
                  "Upgrade failed on device with MAC address 02:00:00:00:00:01.\nWould you like to retry the "
                  "upgrade now?\n\n" +
                      std::string(c.error))
            << c.what;
        EXPECT_EQ(prompter_.prompts[1].id, 147) << c.what;
        package_.Close();
        prompter_.prompts.clear();
    }
}

TEST_F(FailureText, AnExchangeSentAgainSaysWhatItWaitsFor) {
    SimulatedDevice device = TestDevice(MAC_A);
    device.silentOpcode = OP_LOAD_VERIFY;
    RunOnce(device);
    // 15 waits, then the answered reset after the failure takes the last back.
    ASSERT_EQ(progress_.waits.size(), 16u);
    EXPECT_EQ(progress_.waits.front(), "waiting for LOAD_VERIFY, send 2 of 16");
    EXPECT_EQ(progress_.waits[3], "waiting for LOAD_VERIFY, send 5 of 16");
    EXPECT_EQ(progress_.waits[14], "waiting for LOAD_VERIFY, send 16 of 16");
    EXPECT_EQ(progress_.waits.back(), "");
    // The resends of the exchange under way are counted while it waits.
    EXPECT_EQ(progress_.resends, 15u);
}

// The reset after a failed transfer waits too when the device keeps
// silent; the failure is still the last thing the run says.
TEST_F(FailureText, TheFailureComesAfterTheWaitsOfTheResetThatFollowsIt) {
    RunOnce(TestDevice(MAC_A), [](ScriptedNetwork& net) {
        net.link.responder = [answer = net.link.responder](std::span<const uint8_t> request,
                                                           FakeTransport& link) {
            if (request[OFFSET_OPCODE] == OP_LOAD_VERIFY || request[OFFSET_OPCODE] == OP_RESET) return;
            answer(request, link);
        };
    });
    ASSERT_EQ(progress_.told.size(), 32u);  // 15 waits, one taken back by the reset, 15 waits, the error
    EXPECT_EQ(progress_.told[14], "waiting for LOAD_VERIFY, send 16 of 16");
    EXPECT_EQ(progress_.told[15], "");
    EXPECT_EQ(progress_.told[30], "waiting for RESET, send 16 of 16");
    EXPECT_EQ(progress_.told[31], "error: line 3 LOAD fw.bin: no answer to LOAD_VERIFY after 16 sends");
}

TEST_F(FailureText, AWaitAnsweredAtLastIsTakenBackByTheNextStep) {
    // The first four LOAD_VERIFY requests go unanswered, the fifth is answered.
    RunOnce(TestDevice(MAC_A), [](ScriptedNetwork& net) {
        net.link.responder = [answer = net.link.responder, unanswered = 4](std::span<const uint8_t> request,
                                                                          FakeTransport& link) mutable {
            if (request[OFFSET_OPCODE] == OP_LOAD_VERIFY && unanswered-- > 0) return;
            answer(request, link);
        };
    });
    ASSERT_EQ(progress_.waits.size(), 5u);
    EXPECT_EQ(progress_.waits[3], "waiting for LOAD_VERIFY, send 5 of 16");
    EXPECT_EQ(progress_.waits.back(), "");
    EXPECT_EQ(run_->Model().devices[0].state, DeviceState::Upgraded);
}

TEST_F(FailureText, ALocalCauseKeepsTheSystemsReasonAfterItsLine) {
    EXPECT_EQ(ScriptFailureText(5, "READ readback.bin 1:0 20000",
                                "cannot write READBACK.BIN: No space left on device"),
              "line 5 READ readback.bin: cannot write READBACK.BIN: No space left on device");
    EXPECT_EQ(ScriptFailureText(1, "RESET", "no answer to RESET after 16 sends"),
              "line 1 RESET: no answer to RESET after 16 sends");
    EXPECT_EQ(ScriptFailureText(0, "", "cannot open a socket"), "cannot open a socket");
}

TEST_F(FailureText, RefusalsNameEveryRefusedDeviceAndItsValues) {
    ScriptedNetwork net{TestDevice(MAC_A, {.revisionId = 4}),
                        TestDevice(MAC_B, {.productId = 5, .revisionId = 3})};
    auto a = net.RecordOf(0);
    auto b = net.RecordOf(1);
    Restrictions restrictions;
    restrictions.wantedProductId = 1;
    restrictions.wantedRevisionId = 3;
    ScriptedPrompter prompter;
    EXPECT_EQ(CheckAndConfirm({a.get(), b.get()}, restrictions, prompter),
              UpgradeOutcome::Stop::FirmwareRefused);
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_EQ(
        prompter.prompts[0].text,
        "The firmware currently inside this device is not compatible with this upgrade file. Please use "
        "the correct upgrade file !\n"
        "02:00:00:00:00:01: revision 4, the package needs 3\n"
        "02:00:00:00:00:02: product 5, the package needs 1");

    restrictions = {};
    restrictions.wantedProductId = 1;
    restrictions.macRestricted = true;
    restrictions.macText = "02:00:00:00:00:09";
    prompter.prompts.clear();
    EXPECT_EQ(CheckAndConfirm({b.get()}, restrictions, prompter), UpgradeOutcome::Stop::MacRefused);
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_EQ(prompter.prompts[0].id, 153);
    EXPECT_TRUE(
        prompter.prompts[0].text.ends_with("upgrade file !\n02:00:00:00:00:02: MAC address "
                                           "02:00:00:00:00:02, the package needs 02:00:00:00:00:09"))
        << prompter.prompts[0].text;
}

TEST_F(FailureText, AMacThatAnsweredButWasNotAdmittedIsToldWhy) {
    constexpr MacAddress PORT_TYPE{0x02, 0x00, 0x00, 0x00, 0x00, 0x04};
    constexpr MacAddress VENDOR{0x02, 0x00, 0x00, 0x00, 0x00, 0x05};
    constexpr MacAddress MUTE{0x02, 0x00, 0x00, 0x00, 0x00, 0x06};
    constexpr MacAddress ABSENT{0x02, 0x00, 0x00, 0x00, 0x00, 0x07};
    SimulatedDevice mute = TestDevice(MUTE);
    mute.answersInfo = false;
    ScriptedNetwork net{TestDevice(MAC_A), TestDevice(PORT_TYPE, {.deviceId = 0x7020}),
                        TestDevice(VENDOR, {.vendorId = 0x2000}), mute};
    const auto path = scratch_.File("ids.upk");
    ASSERT_TRUE(WritePackage(path, StandardMembers(testing::TEST_SCRIPT,
                                                   "PRODUCTID 1\nVENDORID 0x1407\nREVISIONID 0\nDEFAULT 0\n"
                                                   "DEVICEID 0xFC\n")));
    ASSERT_TRUE(package_.Open(path));
    Restrictions restrictions;
    std::vector<AdmissionRefusal> refused;
    const auto admitted = AdmitAndAnnounce(package_, net.protocol, restrictions, nullptr, {}, &refused);
    ASSERT_EQ(admitted.size(), 1u);
    EXPECT_EQ(refused.size(), 3u);
    EXPECT_EQ(MissingMacText(PORT_TYPE, refused, restrictions),
              "02:00:00:00:00:04 answered but DEVICEID 0xFC does not admit its port type 0x20");
    EXPECT_EQ(MissingMacText(VENDOR, refused, restrictions),
              "02:00:00:00:00:05 answered but VENDORID 0x1407 does not admit its vendor id 0x2000");
    EXPECT_EQ(MissingMacText(MUTE, refused, restrictions),
              "02:00:00:00:00:06 answered the discovery but not the information query");
    EXPECT_EQ(MissingMacText(ABSENT, refused, restrictions),
              "no admitted device has the MAC address 02:00:00:00:00:07");
}

}  // namespace
}  // namespace quorvane
