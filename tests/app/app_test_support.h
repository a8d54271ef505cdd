#pragma once
// Shared by the application logic tests: a scripted prompter, a small fleet
// of simulated devices answering over the fake transport, and a scratch
// folder that holds a freshly written package.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/prompter.h"
#include "package/package_writer.h"
#include "package/restrictions.h"
#include "package/upgrade_package.h"
#include "protocol/device_protocol.h"
#include "protocol/info_block.h"
#include "support/fake_transport.h"

namespace quorvane::testing {

struct Prompt {
    bool question = false;  // Ask rather than Tell
    int id = 0;
    std::string text;
    unsigned style = 0;
    bool operator==(const Prompt&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Prompt& p) {
    return out << (p.question ? "Ask(" : "Tell(") << p.id << ", 0x" << std::hex << p.style << std::dec
               << ", \"" << p.text << "\")";
}

// Records every box and answers the questions from a queue; a question
// nobody expected fails the test and is answered No.
class ScriptedPrompter final : public Prompter {
public:
    void Tell(int id, const std::string& text, unsigned style) override {
        prompts.push_back({false, id, text, style});
    }
    bool Ask(int id, const std::string& text, unsigned style) override {
        prompts.push_back({true, id, text, style});
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question " << id;
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<int> Ids() const {
        std::vector<int> ids;
        for (const Prompt& p : prompts) ids.push_back(p.id);
        return ids;
    }

    std::vector<Prompt> prompts;
    std::deque<bool> answers;
};

struct SimulatedDevice {
    MacAddress mac{};
    uint16_t vendorId = PRIMARY_VENDOR;
    uint16_t deviceId = 0x70FC;
    uint16_t productId = 1;
    uint8_t revisionId = 4;
    int failingRuns = 0;  // the first runs (counted by program-mode requests) get no erase reply
    int programModeRequests = 0;
};

inline constexpr int ALWAYS_FAILS = 1 << 20;

// Identity record, then a firmware record with a revision and a product entry.
inline std::vector<uint8_t> InfoBlockOf(const SimulatedDevice& device) {
    std::vector<uint8_t> block(IDENTITY_LENGTH + 2 + 2 * FIRMWARE_ENTRY_SIZE, 0);
    block[0] = IDENTITY_LENGTH;
    block[1] = TAG_IDENTITY;
    WriteU16(block, 2, device.vendorId);
    WriteU16(block, 4, device.deviceId);
    uint8_t* firmware = block.data() + IDENTITY_LENGTH;
    firmware[0] = 2 + 2 * FIRMWARE_ENTRY_SIZE;
    firmware[1] = TAG_FIRMWARE;
    uint8_t* revision = firmware + 2;
    revision[0] = ENTRY_REVISION;
    revision[1] = device.revisionId;
    uint8_t* product = revision + FIRMWARE_ENTRY_SIZE;
    product[0] = ENTRY_PRODUCT;
    product[2] = static_cast<uint8_t>(device.productId);
    product[3] = static_cast<uint8_t>(device.productId >> 8);
    product[8] = 3;  // a firmware date, so the device does not read "Upgrade"
    return block;
}

// Devices that answer discovery, the information query and the script
// commands the tests use, each addressed by its MAC.
class DeviceFleet {
public:
    explicit DeviceFleet(std::vector<SimulatedDevice> fleet) : devices(std::move(fleet)) {
        link.responder = [this](std::span<const uint8_t> request, FakeTransport& to) { Answer(request, to); };
    }

    // A record as discovery and the information query would leave it.
    std::unique_ptr<DeviceRecord> RecordOf(std::size_t index) const {
        auto record = std::make_unique<DeviceRecord>();
        record->mac = devices[index].mac;
        record->infoBlock = InfoBlockOf(devices[index]);
        return record;
    }

    std::size_t SentWithOpcode(uint8_t opcode) const {
        return std::count_if(link.sent.begin(), link.sent.end(), [&](const SentDatagram& d) {
            return d.bytes.size() > 1 && d.bytes[1] == opcode;
        });
    }
    // The MAC of every program-mode request, in order: one per script run.
    std::vector<MacAddress> ScriptRuns() const {
        std::vector<MacAddress> runs;
        for (const SentDatagram& d : link.sent) {
            PacketHeader header;
            if (PacketHeader::Decode(d.bytes, header) && header.opcode == OP_PROGRAM_MODE)
                runs.push_back(header.mac);
        }
        return runs;
    }

    std::vector<SimulatedDevice> devices;
    FakeTransport link;
    DeviceChain chain;
    DeviceProtocol protocol{link, chain};

private:
    void Answer(std::span<const uint8_t> request, FakeTransport& to) {
        PacketHeader header;
        if (!PacketHeader::Decode(request, header) || header.magic != REQUEST_MAGIC) return;
        if (header.opcode == OP_DISCOVER) {
            for (const SimulatedDevice& device : devices)
                to.QueueReply(MakeReplyWords(OP_DISCOVER_REPLY, device.mac, {0xFFFF, 0xFFFF}));
            return;
        }
        for (SimulatedDevice& device : devices)
            if (device.mac == header.mac) AnswerCommand(device, header.opcode, request, to);
    }

    static void AnswerCommand(SimulatedDevice& device, uint8_t opcode, std::span<const uint8_t> request,
                              FakeTransport& to) {
        switch (opcode) {
            case OP_GET_INFO: {
                std::vector<uint8_t> payload{0x01};
                const auto block = InfoBlockOf(device);
                payload.insert(payload.end(), block.begin(), block.end());
                to.QueueReply(MakeReply(OP_INFO_REPLY, device.mac, payload));
                return;
            }
            case OP_PROGRAM_MODE:
                ++device.programModeRequests;
                [[fallthrough]];
            case OP_LOCK:
            case OP_UNLOCK:
            case OP_RESET:
                to.QueueReply(MakeReply(opcode, device.mac));
                return;
            case OP_ERASE:
                if (device.programModeRequests > device.failingRuns)
                    to.QueueReply(MakeReplyWords(OP_ERASE, device.mac, {ReadU16(request, OFFSET_PAYLOAD)}));
                return;
            default:
                return;
        }
    }
};

// A private folder under the system's temporary folder, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("qv-app-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline constexpr const char* TEST_SCRIPT = "SETPROGRAMMODE\nERASE 3\nRESET\n";
inline constexpr const char* TEST_RESTRICTIONS = "PRODUCTID 1\nVENDORID 0x1407\nREVISIONID 0\nDEFAULT 0\n";

inline std::filesystem::path WriteTestPackage(const std::filesystem::path& folder,
                                              const std::string& name = "test.upk",
                                              const std::string& restrictions = TEST_RESTRICTIONS) {
    const std::filesystem::path path = folder / name;
    EXPECT_TRUE(WritePackage(path, StandardMembers(TEST_SCRIPT, restrictions)));
    return path;
}

}  // namespace quorvane::testing
