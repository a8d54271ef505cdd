// A restriction file and an upgrade script from the input, packed with the
// package writer, then one admission pass and the script run against a
// device that answers from the rest of the input.
//
// Input: restriction text, a line "%%", script text, "%%", the data of the
// member DATA.BIN, "%%", the device's answers (see FuzzDevice). Every
// section but the last keeps its final line feed.

#include <string>
#include <vector>

#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_support.h"
#include "package/package_writer.h"
#include "package/restrictions.h"
#include "package/script_interpreter.h"
#include "package/upgrade_package.h"
#include "protocol/device_chain.h"
#include "protocol/device_protocol.h"
#include "support/fake_transport.h"

using namespace quorvane;
using namespace quorvane::fuzz;

namespace {

constexpr const char* PACKAGE_NAME = "fuzz.upk";
constexpr const char* DATA_MEMBER = "DATA.BIN";

// Holds the interpreter to what it tells front ends.
class CheckingObserver final : public ScriptObserver {
public:
    void OnLine(int lineNumber, std::string_view line) override {
        FUZZ_CHECK(lineNumber > lastLine_ && !line.empty());
        lastLine_ = lineNumber;
    }
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override {
        FUZZ_CHECK(!fileName.empty() && done <= total);
    }

private:
    int lastLine_ = 0;
};

std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

void RunPass(UpgradePackage& package, ByteStream& answers) {
    testing::FakeTransport link;
    FuzzDevice device(answers);
    device.Attach(link);
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    Restrictions restrictions;
    const std::vector<AdmittedDevice> admitted = AdmitDevices(package, protocol, restrictions);
    FUZZ_CHECK(restrictions.deviceIdCount <= DEVICEID_CAPACITY);
    // Without an admitted device the script still runs, against a made-up one.
    DeviceRecord stranger;
    const DeviceRecord& target = admitted.empty() ? stranger : *admitted.front().record;
    CheckingObserver observer;
    RunUpgradeScript(package, protocol, target, &observer);
    FUZZ_CHECK(!package.reader.IsOpen());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto sections = SplitSections({data, size}, 4);
    const auto packageFile = ScratchFolder() / PACKAGE_NAME;
    const auto members = StandardMembers(std::string(sections[1]), std::string(sections[0]),
                                         {{DATA_MEMBER, Bytes(sections[2]), false}});
    FUZZ_CHECK(WritePackage(packageFile, members));
    {
        UpgradePackage package;
        FUZZ_CHECK(package.Open(packageFile));
        ByteStream answers(
            std::span(reinterpret_cast<const uint8_t*>(sections[3].data()), sections[3].size()));
        RunPass(package, answers);
    }
    // READ writes beside the package but never over it.
    std::error_code error;
    FUZZ_CHECK(std::filesystem::file_size(packageFile, error) == EncodePackage(members).size());
    EmptyScratchFolder(packageFile);
    return 0;
}
