#pragma once
// The one check of a package before any device is touched: the container,
// the restriction file and the script, with every LOAD member found and
// every READ output judged. Its plan is what every run executes. It never
// sends anything and extracts nothing: a run prepares its LOAD members as
// a step of its own (PrepareLoadMembers).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "package/script_command.h"
#include "package/signature_check.h"

namespace quorvane {

class UpgradePackage;

enum class FindingLevel { Error, Warning };

struct Finding {
    FindingLevel level = FindingLevel::Error;
    std::string member;  // "program.cmd", "restriction.ini", a data member, or empty for the container
    int line = 0;        // physical line of the member, from 1; 0 when the finding is not about a line
    std::string text;
};

// One script line with tokens, as a run would see it: a device command, or
// a line whose keyword is unknown, which the run tells its observer and
// skips (IsDevicePlanned is false for it).
struct PlannedCommand {
    int line = 0;
    std::string text;  // the line as cleaned (comment and outer spaces removed)
    ScriptCommand command;
    uint64_t loadBytes = 0;            // LOAD: the bytes the member sends
    std::filesystem::path readOutput;  // READ: where the bytes go
};

struct PackageCheck {
    std::vector<Finding> findings;
    std::vector<PlannedCommand> plan;  // every line with tokens, in script order
    // How the package's signature was judged, once it was (JoinSignature).
    std::optional<SignatureCheck> signature;

    bool HasErrors() const;
    bool HasWarnings() const;
};

// True for a line of the plan that sends something to the device.
bool IsDevicePlanned(const PlannedCommand& planned);

// Checks the open package. `outputFolder` is where READ writes its files.
PackageCheck CheckPackage(UpgradePackage& package, const std::filesystem::path& outputFolder);
// The same for a package that is about to be moved to `packagePath` (a
// package being written), so that a READ onto that name is caught too.
PackageCheck CheckPackage(UpgradePackage& package, const std::filesystem::path& outputFolder,
                          const std::filesystem::path& packagePath);

// Why the READ output `output` cannot take a device's bytes (it exists
// and is no regular file or has other names, its folder cannot be
// written, it is the package at `packagePath`); empty when it can.
std::string ReadOutputProblem(const std::filesystem::path& output, const std::filesystem::path& packagePath);

// Joins the signature's judgement to the check: a refusal is an error, a
// reason that does not refuse (not verified, unsigned but allowed) a
// warning, and a good signature or none that nothing requires no finding.
void JoinSignature(PackageCheck& check, SignatureCheck signature);

// The key that signed the package, as minisign prints it; empty when it is
// not signed or was never judged.
std::string KeyIdOf(const PackageCheck& check);

// "error: program.cmd:3: text", "warning: restriction.ini: text".
std::string FormatFinding(const Finding& finding);
const char* LevelName(FindingLevel level);

}  // namespace quorvane
