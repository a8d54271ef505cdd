#include "package/package_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <system_error>

#include "package/line_reader.h"
#include "package/member_rules.h"
#include "package/restriction_check.h"
#include "package/script_interpreter.h"
#include "package/upgrade_package.h"
#include "protocol/output_file.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// Where the package is and where a run would write.
struct CheckTarget {
    fs::path outputFolder;
    fs::path packagePath;
};

class Findings {
public:
    explicit Findings(std::vector<Finding>& out) : out_(out) {}
    void Error(std::string member, int line, std::string text) {
        out_.push_back({FindingLevel::Error, std::move(member), line, std::move(text)});
    }
    void Warning(std::string member, int line, std::string text) {
        out_.push_back({FindingLevel::Warning, std::move(member), line, std::move(text)});
    }

private:
    std::vector<Finding>& out_;
};

// Byte faults a line reader would hide: a NUL ends a line early, and lone
// carriage returns make the whole script one line.
void CheckScriptBytes(const UpgradePackage& package, Findings& findings) {
    std::string script;
    package.ReadWorkText(SCRIPT_FILE, script);
    int line = 1;
    int nulLine = 0;
    int loneCrLine = 0;
    char previous = '\0';
    for (const char c : script) {
        if (previous == '\r' && c != '\n' && loneCrLine == 0) loneCrLine = line;
        if (c == '\0' && nulLine == 0) nulLine = line;
        if (c == '\n') ++line;
        previous = c;
    }
    if (nulLine != 0) findings.Error(SCRIPT_MEMBER, nulLine, "the script is not text: it holds a NUL byte");
    if (loneCrLine != 0)
        findings.Warning(
            SCRIPT_MEMBER, loneCrLine,
            "lone carriage returns end lines here; only line feeds do, so these lines run together");
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

void CheckKeyword(const ScriptCommand& command, int line, Findings& findings) {
    const ScriptKeyword meant = LikelyMeant(command.keywordText);
    // A slip of a known keyword would skip a step the author meant to run,
    // such as the LOAD between an erase and a reset: that is refused.
    if (meant != ScriptKeyword::Unknown)
        findings.Error(SCRIPT_MEMBER, line,
                       "unknown keyword " + Quoted(command.keywordText) + " (a misspelt " +
                           KeywordName(meant) + "?) would be skipped");
    else
        findings.Warning(SCRIPT_MEMBER, line,
                         "unknown keyword " + Quoted(command.keywordText) + " is skipped");
}

void CheckLoad(UpgradePackage& package, PlannedCommand& planned, Findings& findings) {
    const ScriptCommand& command = planned.command;
    if (!command.nameUsable) {
        findings.Error(SCRIPT_MEMBER, planned.line, "LOAD names " + NameProblem(command));
        return;
    }
    MemberInfo member;
    const MemberLookup lookup = package.Find(command.name, member);
    if (lookup == MemberLookup::Missing) {
        findings.Error(SCRIPT_MEMBER, planned.line,
                       "LOAD names member " + Quoted(command.name) + ", which the package lacks");
        return;
    }
    if (lookup == MemberLookup::Hidden) {
        findings.Error(
            SCRIPT_MEMBER, planned.line,
            "LOAD names member " + Quoted(command.name) + ", which a damaged part of the package hides");
        return;
    }
    planned.loadBytes = member.size;
    if (member.size >= MEMBER_DATA_LIMIT)
        findings.Error(member.name, 0, "the member is 16 MiB or larger, more than a package member may hold");
}

// Why a READ output path cannot take the device's bytes; empty when it can.
std::string OutputProblem(const fs::path& output, const fs::path& folder, const fs::path& packagePath) {
    struct stat info {};
    if (::lstat(output.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode))
            return "READ output " + output.string() + " exists and is not a regular file";
        // Truncating a file with another name would destroy that file too.
        if (info.st_nlink > 1) return "READ output " + output.string() + " has other hard links";
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "READ output folder " + folder.string() + " is not writable";
    if (SameFileName(output, packagePath)) return "READ output would overwrite the package itself";
    return {};
}

// READ writes into the output folder; a path that is taken by something
// other than a regular file, or a folder that cannot be written, would fail
// the run only after the device was erased and loaded.
void CheckRead(const CheckTarget& target, PlannedCommand& planned, Findings& findings) {
    const ScriptCommand& command = planned.command;
    if (!command.nameUsable) {
        findings.Error(SCRIPT_MEMBER, planned.line, "READ names " + NameProblem(command));
        return;
    }
    planned.readOutput = target.outputFolder / command.name;
    const std::string problem = OutputProblem(planned.readOutput, target.outputFolder, target.packagePath);
    if (!problem.empty()) findings.Error(SCRIPT_MEMBER, planned.line, problem);
    if (command.length >= READ_LENGTH_LIMIT)
        findings.Error(SCRIPT_MEMBER, planned.line,
                       "READ length must be below " + std::to_string(READ_LENGTH_LIMIT) + " bytes");
}

// A second READ into one file would leave only the last read-back.
void CheckReadRepeated(const PlannedCommand& planned, std::map<std::string, int>& reads, Findings& findings) {
    if (!planned.command.nameUsable) return;
    const auto [first, added] = reads.try_emplace(planned.command.name, planned.line);
    if (!added)
        findings.Error(SCRIPT_MEMBER, planned.line,
                       "READ output " + planned.command.name + " is written by line " +
                           std::to_string(first->second) + " already; its read-back would be lost");
}

void CheckScriptLines(UpgradePackage& package, const CheckTarget& target, PackageCheck& check,
                      Findings& findings) {
    std::map<std::string, int> reads;  // READ output name: the first line that writes it
    LineReader reader;
    if (!package.OpenWorkText(SCRIPT_FILE, reader)) {
        findings.Error(SCRIPT_MEMBER, 0, "the script cannot be read");
        return;
    }
    for (int line = 1; reader.NextLine(); ++line) {
        if (reader.Truncated())
            findings.Warning(SCRIPT_MEMBER, line,
                             "the line is longer than 499 characters; the rest is ignored");
        PlannedCommand planned{line, reader.Line(), ReadScriptCommand(reader), 0, {}};
        const ScriptCommand& command = planned.command;
        if (command.keyword == ScriptKeyword::None) continue;
        if (command.keyword == ScriptKeyword::Unknown) {
            CheckKeyword(command, line, findings);
            // Kept, as no device command: a run tells every line it reaches and skips this one.
            check.plan.push_back(std::move(planned));
            continue;
        }
        const bool named = command.nameUsable ||
                           (command.keyword != ScriptKeyword::Load && command.keyword != ScriptKeyword::Read);
        for (const auto& note : named ? command.argumentNotes : std::vector<std::string>{})
            findings.Warning(SCRIPT_MEMBER, line, std::string(KeywordName(command.keyword)) + ": " + note);
        if (command.keyword == ScriptKeyword::Load) CheckLoad(package, planned, findings);
        if (command.keyword == ScriptKeyword::Read) {
            CheckRead(target, planned, findings);
            CheckReadRepeated(planned, reads, findings);
        }
        check.plan.push_back(std::move(planned));
    }
    if (std::none_of(check.plan.begin(), check.plan.end(), IsDevicePlanned))
        findings.Warning(SCRIPT_MEMBER, 0, "the script has no device command: a run would send nothing");
}

// Damage that hides nothing the script names still deserves a word.
void CheckContainer(UpgradePackage& package, Findings& findings) {
    const ContainerLayout layout = package.Layout();
    if (layout.faultOffset >= 0)
        findings.Warning({}, 0,
                         "the package is damaged or cut short at byte " + std::to_string(layout.faultOffset) +
                             ": no member after that point can be read");
    if (layout.membersAfterEnd) findings.Warning({}, 0, "members follow the end marker; they are ignored");
}

}  // namespace

bool IsDevicePlanned(const PlannedCommand& planned) {
    return IsDeviceCommand(planned.command.keyword);
}

bool PackageCheck::HasErrors() const {
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding& f) { return f.level == FindingLevel::Error; });
}

bool PackageCheck::HasWarnings() const {
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding& f) { return f.level == FindingLevel::Warning; });
}

void JoinSignature(PackageCheck& check, SignatureCheck signature) {
    if (!signature.reason.empty())
        check.findings.push_back({signature.Refused() ? FindingLevel::Error : FindingLevel::Warning, "", 0,
                                  signature.reason});
    check.signature = std::move(signature);
}

std::string KeyIdOf(const PackageCheck& check) {
    return check.signature ? check.signature->keyId : std::string();
}

PackageCheck CheckPackage(UpgradePackage& package, const fs::path& outputFolder) {
    return CheckPackage(package, outputFolder, package.PackagePath());
}

PackageCheck CheckPackage(UpgradePackage& package, const fs::path& outputFolder,
                          const fs::path& packagePath) {
    const CheckTarget target{outputFolder, packagePath};
    PackageCheck check;
    Findings findings(check.findings);
    CheckContainer(package, findings);
    CheckScriptBytes(package, findings);
    CheckScriptLines(package, target, check, findings);
    CheckRestrictionFile(package, check.findings);
    // Errors first, each group in member and line order, as a reader scans them.
    std::stable_sort(check.findings.begin(), check.findings.end(), [](const Finding& a, const Finding& b) {
        if (a.level != b.level) return a.level == FindingLevel::Error;
        if (a.member != b.member) return a.member < b.member;
        return a.line < b.line;
    });
    return check;
}

const char* LevelName(FindingLevel level) {
    return level == FindingLevel::Error ? "error" : "warning";
}

std::string FormatFinding(const Finding& finding) {
    std::string text = LevelName(finding.level);
    text += ": ";
    if (!finding.member.empty()) {
        text += finding.member;
        if (finding.line > 0) text.append(":").append(std::to_string(finding.line));
        text += ": ";
    }
    return text + finding.text;
}

std::string ReadOutputProblem(const fs::path& output, const fs::path& packagePath) {
    const fs::path folder = output.parent_path();
    return OutputProblem(output, folder.empty() ? fs::path(".") : folder, packagePath);
}

}  // namespace quorvane
