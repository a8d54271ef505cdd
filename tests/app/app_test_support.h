#pragma once
// Shared by the application logic tests: a scripted prompter and package
// chooser, simulated devices the test package admits, and a freshly written
// package.

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/app_loops.h"
#include "app/prompter.h"
#include "app/upgrade_run.h"
#include "package/package_check.h"
#include "package/package_fixture.h"
#include "package/package_writer.h"
#include "package/restrictions.h"
#include "package/upgrade_package.h"
#include "support/scripted_device.h"

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

// Hands out the queued package choices, then cancels.
class ScriptedChooser final : public PackageChooser {
public:
    std::optional<std::filesystem::path> Choose() override {
        ++prompts;
        if (choices.empty()) return std::nullopt;
        auto choice = choices.front();
        choices.pop_front();
        return choice;
    }
    std::deque<std::optional<std::filesystem::path>> choices;
    int prompts = 0;
};

// The ids a device reports in its information block; the defaults are
// those the test package admits.
struct DeviceIds {
    uint16_t vendorId = PRIMARY_VENDOR;
    uint16_t deviceId = 0x70FC;
    uint16_t productId = 1;
    uint8_t revisionId = 4;
};

// A device reporting `ids` whose first `failingRuns` script runs fail.
inline SimulatedDevice TestDevice(const MacAddress& mac, DeviceIds ids = {}, int failingRuns = 0) {
    return {.mac = mac,
            .infoFlag = 0x01,
            .infoBlock = InfoBlockOf(ids.vendorId, ids.deviceId, ids.productId, ids.revisionId),
            .failingRuns = failingRuns};
}

inline constexpr const char* TEST_SCRIPT = "SETPROGRAMMODE\nERASE 3\nRESET\n";
inline constexpr const char* TEST_RESTRICTIONS = "PRODUCTID 1\nVENDORID 0x1407\nREVISIONID 0\nDEFAULT 0\n";

inline std::filesystem::path WriteTestPackage(const std::filesystem::path& folder,
                                              const std::string& name = "test.upk",
                                              const std::string& restrictions = TEST_RESTRICTIONS) {
    const std::filesystem::path path = folder / name;
    EXPECT_TRUE(WritePackage(path, StandardMembers(TEST_SCRIPT, restrictions)));
    return path;
}

// The planned script of the selected devices over `protocol` (and the
// links of `fleet` side by side), without the checks around it.
inline void RunPlannedScripts(const std::vector<DeviceRecord*>& selected, UpgradePackage& package,
                              DeviceProtocol& protocol, Prompter& prompter, UpgradeProgress* progress,
                              UpgradeOutcome& outcome, const FleetOptions& fleet = {}) {
    const PackageCheck check = CheckPackage(package, package.PackageFolder());
    RunModel model(selected);
    RunScripts(model, check.plan, package, protocol, prompter, progress, outcome, fleet);
}

// A whole run as a front end drives it: the selection confirmed, the
// scripts, the completion message.
inline UpgradeOutcome RunWholeUpgrade(const std::vector<DeviceRecord*>& selected, UpgradePackage& package,
                                      const Restrictions& restrictions, DeviceProtocol& protocol,
                                      Prompter& prompter, UpgradeProgress* progress = nullptr) {
    UpgradeRun run(protocol, nullptr, {}, package, nullptr, restrictions);
    if (run.Confirm(selected, prompter) == UpgradeOutcome::Stop::None) {
        run.Execute({}, prompter, progress);
        run.Complete(prompter);
    }
    return run.Outcome();
}

}  // namespace quorvane::testing
