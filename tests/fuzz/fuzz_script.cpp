// A restriction file and an upgrade script from the input, packed with the
// package writer and opened from memory, then one admission pass and the
// script run against a device that answers from the rest of the input.
// Nothing touches the disk, so a run costs microseconds rather than the
// file system's time.
//
// Input: restriction text, a line "%%", script text, "%%", the data of the
// member DATA.BIN, "%%", the device's answers (see FuzzDevice). Every
// section but the last keeps its final line feed.

#include <map>
#include <set>
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

constexpr const char* DATA_MEMBER = "DATA.BIN";

// Holds the interpreter to what it tells front ends: lines in order, and
// each transfer counted up from 0 to its total without a step back.
class CheckingObserver final : public ScriptObserver {
public:
    void OnLine(int lineNumber, std::string_view line) override {
        FUZZ_CHECK(lineNumber > lastLine_ && !line.empty());
        lastLine_ = lineNumber;
    }
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override {
        FUZZ_CHECK(!fileName.empty() && done <= total);
        if (done == 0) {
            // Only a new transfer reports 0 done; the one before it ended, or
            // the run would have stopped there.
            FUZZ_CHECK(!started_ || Finished());
            started_ = true;
            name_ = fileName;
            total_ = total;
        } else {
            FUZZ_CHECK(started_ && fileName == name_ && total == total_ && done > done_);
        }
        done_ = done;
        if (Finished()) finishedTotals_[name_].insert(total_);
    }
    // True also before the first transfer.
    bool Finished() const { return done_ == total_; }
    // The totals of the finished transfers of `name`.
    const std::set<uint64_t>& FinishedTotals(const std::string& name) { return finishedTotals_[name]; }

private:
    int lastLine_ = 0;
    bool started_ = false;
    std::string name_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    std::map<std::string, std::set<uint64_t>> finishedTotals_;
};

std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

void RunPass(UpgradePackage& package, ByteStream& answers) {
    testing::FakeTransport link;
    link.keepSent = false;
    FuzzDevice device(answers);
    device.Attach(link);
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    Restrictions restrictions;
    const std::vector<AdmittedDevice> admitted = AdmitDevices(package, protocol, restrictions);
    FUZZ_CHECK(restrictions.deviceIdCount <= DEVICEID_CAPACITY);
    FUZZ_CHECK(!restrictions.admitsNone || admitted.empty());
    // Without an admitted device the script still runs, against a made-up one.
    DeviceRecord stranger;
    const DeviceRecord& target = admitted.empty() ? stranger : *admitted.front().record;
    CheckingObserver observer;
    const bool succeeded = RunUpgradeScript(package, protocol, target, &observer);
    if (!succeeded) return;
    // A run that succeeded finished every transfer it started.
    FUZZ_CHECK(observer.Finished());
    // What READ kept is as long as a READ of that name that finished.
    for (const auto& [name, output] : package.Outputs())
        FUZZ_CHECK(observer.FinishedTotals(name).count(output.size()) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto sections = SplitSections({data, size}, 4);
    const std::string restrictionText(sections[0]);
    const std::string scriptText(sections[1]);
    const auto members = StandardMembers(scriptText, restrictionText, {{DATA_MEMBER, Bytes(sections[2]), false}});
    UpgradePackage package;
    FUZZ_CHECK(package.OpenInMemory(EncodePackage(members)));
    // What the writer packed reads back the same, the scrambled restriction file included.
    std::string text;
    FUZZ_CHECK(package.ReadWorkText(SCRIPT_FILE, text) && text == scriptText);
    FUZZ_CHECK(package.ReadWorkText(RESTRICTION_FILE, text) && text == restrictionText);
    ByteStream answers(std::span(reinterpret_cast<const uint8_t*>(sections[3].data()), sections[3].size()));
    RunPass(package, answers);
    // The container is only read: the run changes nothing in it.
    const auto stored = package.Members();
    FUZZ_CHECK(stored.size() == members.size());
    for (std::size_t i = 0; i < stored.size(); ++i)
        FUZZ_CHECK(stored[i].name == members[i].name && stored[i].size == members[i].data.size());
    return 0;
}
