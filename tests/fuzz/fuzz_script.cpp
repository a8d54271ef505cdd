// A restriction file and an upgrade script from the input, run as one
// admission pass and one script run against a device that answers from the
// rest of the input.
//
// Input: restriction text, a line "%%", script text, "%%", the data of the
// member DATA.BIN, "%%", the device's answers (see FuzzDevice). Every
// section but the last keeps its final line feed.
//
// One package stays open for the whole process: each input replaces the
// extracted script, restriction file and prepared DATA.BIN in its private
// folder, as a fresh package with these members would have extracted them.
// Packing, opening and closing a package for every input would cost far more
// than the run itself (the container is fuzz_package's business).

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

void RunPass(UpgradePackage& package, ByteStream& answers) {
    testing::FakeTransport link;
    FuzzDevice device(answers);
    device.Attach(link);
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    Restrictions restrictions;
    std::vector<DeviceRecord*> admitted;
    AdmitDevices(package, protocol, restrictions, admitted);
    FUZZ_CHECK(restrictions.deviceIdCount <= DEVICEID_CAPACITY);
    // Without an admitted device the script still runs, against a made-up one.
    DeviceRecord stranger;
    const DeviceRecord& target = admitted.empty() ? stranger : *admitted.front();
    CheckingObserver observer;
    RunUpgradeScript(package, protocol, target, &observer);
    FUZZ_CHECK(!package.reader.IsOpen());
}

UpgradePackage& OpenPackage() {
    static UpgradePackage package;
    if (!package.IsOpen()) {
        // In a folder of its own: READ writes beside the package, and that
        // folder is emptied after every input.
        const auto folder = ScratchFolder() / "package";
        std::filesystem::create_directory(folder);
        FUZZ_CHECK(WritePackage(folder / PACKAGE_NAME,
                                StandardMembers("RESET\n", "DEFAULT 0\n", {{DATA_MEMBER, {}, false}})));
        FUZZ_CHECK(package.Open(folder / PACKAGE_NAME));
        FUZZ_CHECK(package.PrepareData(DATA_MEMBER) == ExtractStatus::Done);
    }
    return package;
}

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// READ output goes beside the package, never over it; it is removed after each input.
void CheckAndEmptyPackageFolder(const UpgradePackage& package, uintmax_t packageSize) {
    std::error_code error;
    FUZZ_CHECK(std::filesystem::file_size(package.PackagePath(), error) == packageSize);
    for (const auto& entry : std::filesystem::directory_iterator(package.PackageFolder(), error))
        if (entry.path() != package.PackagePath()) std::filesystem::remove_all(entry.path(), error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto sections = SplitSections({data, size}, 4);
    UpgradePackage& package = OpenPackage();
    static const uintmax_t packageSize = std::filesystem::file_size(package.PackagePath());
    FUZZ_CHECK(WriteFile(package.WorkFile(RESTRICTION_FILE), Bytes(sections[0])));
    FUZZ_CHECK(WriteFile(package.WorkFile(SCRIPT_FILE), Bytes(sections[1])));
    FUZZ_CHECK(WriteFile(package.PreparedData(DATA_MEMBER), Bytes(sections[2])));
    ByteStream answers(Bytes(sections[3]));
    RunPass(package, answers);
    CheckAndEmptyPackageFolder(package, packageSize);
    return 0;
}
