#include "package/package_check.h"
#include "package/script_interpreter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "package/upgrade_package.h"
#include "tests/package/package_fixture.h"

namespace quorvane {
namespace {

using test::Bytes;
using test::TempFolder;

constexpr const char* KEYS = "PRODUCTID 1\nVENDORID 0x1407\nREVISIONID 0\nDEFAULT 0\n";

class PackageCheckTest : public ::testing::Test {
protected:
    // Writes and opens a package with the script, the keys and a 3-byte fw.bin.
    std::vector<std::string> Findings(const std::string& script, const std::string& keys = KEYS) {
        return Formatted(Check(StandardMembers(script, keys, {{"fw.bin", Bytes("abc"), false}})));
    }
    PackageCheck Check(const std::vector<PackageMember>& members) {
        return CheckBytes(EncodePackage(members));
    }
    PackageCheck CheckBytes(const std::vector<uint8_t>& bytes) {
        const auto path = folder.File("test.upk");
        test::WriteBytes(path, bytes);
        package.Close();
        EXPECT_TRUE(package.Open(path));
        return CheckPackage(package, folder.Path());
    }
    static std::vector<std::string> Formatted(const PackageCheck& check) {
        std::vector<std::string> lines;
        for (const auto& finding : check.findings) lines.push_back(FormatFinding(finding));
        return lines;
    }

    TempFolder folder;
    UpgradePackage package;
};

TEST_F(PackageCheckTest, ScriptFindings) {
    using Lines = std::vector<std::string>;
    const struct {
        std::string script;
        Lines findings;
    } cases[] = {
        {"SETPROGRAMMODE\nERASE 1 ; comment\nLOAD fw.bin 0x10:0\nREAD back.bin 0x10:0 3\nRESET\n", {}},
        {"SETPROGRAMMODE\nLAOD fw.bin 0x10:0\nRESET\n",
         {"error: program.cmd:2: unknown keyword 'LAOD' (a misspelt LOAD?) would be skipped"}},
        {"LOAD\tfw.bin 0x10:0\n",
         {"error: program.cmd:1: unknown keyword 'LOAD\tFW.BIN' (a misspelt LOAD?) would be skipped",
          "warning: program.cmd: the script has no device command: a run would send nothing"}},
        {"SETPROGRAMMODE\nLOADfw.bin 0x10:0\n",
         {"error: program.cmd:2: unknown keyword 'LOADFW.BIN' (a misspelt LOAD?) would be skipped"}},
        {"ERASE 1\nLOAD missing.bin 0x10:0\n",
         {"error: program.cmd:2: LOAD names member 'MISSING.BIN', which the package lacks"}},
        {"RESET\nLOAD  fw.bin 0x10:0\n", {"error: program.cmd:2: LOAD names no file name"}},
        {"READ ../x 0:0 1\n", {"error: program.cmd:1: READ names '../X', which is not a plain file name"}},
        {"READ big.bin 0:0 8388608\n", {"error: program.cmd:1: READ length must be below 8388608 bytes"}},
        {std::string("RESET\n\0\n", 8),
         {"error: program.cmd:2: the script is not text: it holds a NUL byte"}},
        {"", {"warning: program.cmd: the script has no device command: a run would send nothing"}},
        {"SETPROGRAMMODE\rRESET\r",
         {"error: program.cmd:1: unknown keyword 'SETPROGRAMMODE\rRESET' (a misspelt SETPROGRAMMODE?) would "
          "be "
          "skipped",
          "warning: program.cmd: the script has no device command: a run would send nothing",
          "warning: program.cmd:1: lone carriage returns end lines here; only line feeds do, so these lines "
          "run "
          "together"}},
        {";" + std::string(498, 'x') + "ERASE 0xFFFF\nRESET\n",
         {"warning: program.cmd:1: the line is longer than 499 characters; the rest is ignored"}},
        {"DELAY 5\nRESET\n", {"warning: program.cmd:1: unknown keyword 'DELAY' is skipped"}},
        {"READ back.bin 1:0 3\nREAD Back.Bin 2:0 3\n",
         {"error: program.cmd:2: READ output BACK.BIN is written by line 1 already; its read-back would be "
          "lost"}},
        {"ERASE\nERASE 12abc\nLOAD fw.bin 0x8000\nREAD r.bin 1:2\n",
         {"warning: program.cmd:1: ERASE: no segment number; 0 is used",
          "warning: program.cmd:2: ERASE: segment number '12abc' is not a number",
          "warning: program.cmd:3: LOAD: address '0x8000' has no ':'; it is read as 0x8000:0",
          "warning: program.cmd:4: READ: no length; 0 is used"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        EXPECT_EQ(Findings(c.script), c.findings);
    }
}

TEST_F(PackageCheckTest, RestrictionFindings) {
    using Lines = std::vector<std::string>;
    const struct {
        std::string keys;
        Lines findings;
    } cases[] = {
        {std::string(KEYS) + "MAC 00:50:c2:00:00:09\nDEVICEID 0xFC,0xF8\n", {}},
        {std::string(KEYS) + "MAC  00:50:c2:00:00:09\n",
         {"warning: restriction.ini: MAC is given but no MAC line is valid: the package admits no device",
          "warning: restriction.ini:5: MAC line ignored: it must hold the key and one value, separated by a "
          "single space"}},
        {std::string(KEYS) + "DEVICEID 0xFC, 0xF8\nDEVICEID 0xFC\n",
         {"warning: restriction.ini:5: DEVICEID line ignored: it must hold the key and one value, separated "
          "by a "
          "single space"}},
        {"PRODUCTID 1\nVENDORID abc\nVENDORID 5\nREVISIONID 0\nMAC 1:2\n",
         {"warning: restriction.ini: no valid DEFAULT line: the package admits no device",
          "warning: restriction.ini:2: VENDORID value 'abc' is not a number",
          "warning: restriction.ini:3: VENDORID line ignored: the one on line 2 counts",
          "warning: restriction.ini:5: MAC value '1:2' is not six hexadecimal byte values joined by ':' or "
          "'-'"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        EXPECT_EQ(Findings("RESET\n", c.keys), c.findings);
    }
}

TEST_F(PackageCheckTest, ContainerFaultsHideOrWarn) {
    auto bytes =
        EncodePackage(StandardMembers("LOAD fw.bin 0x10:0\n", KEYS, {{"fw.bin", Bytes("abc"), false}}));
    // Without its end marker the container is cut short, but fw.bin is whole.
    bytes.resize(bytes.size() - 4);
    EXPECT_EQ(
        Formatted(CheckBytes(bytes)),
        std::vector<std::string>{"warning: the package is damaged or cut short at byte " +
                                 std::to_string(bytes.size()) + ": no member after that point can be read"});
    // Cut into fw.bin's data, the member the script loads is hidden.
    bytes.resize(bytes.size() - 2);
    const auto findings = Formatted(CheckBytes(bytes));
    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(findings[0],
              "error: program.cmd:1: LOAD names member 'FW.BIN', which a damaged part of the package hides");

    bytes = EncodePackage(StandardMembers("RESET\n", KEYS));
    const auto extra = EncodePackage({{"late.bin", Bytes("x"), false}});
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    EXPECT_EQ(Formatted(CheckBytes(bytes)),
              std::vector<std::string>{"warning: members follow the end marker; they are ignored"});
}

TEST_F(PackageCheckTest, ReadOutputMustBeARegularFileInAWritableFolder) {
    const std::string script = "READ out.bin 0x10:0 16\n";
    const auto out = folder.File("OUT.BIN");
    const std::string taken =
        "error: program.cmd:1: READ output " + out.string() + " exists and is not a regular file";
    ASSERT_EQ(::symlink("/etc/hostname", out.c_str()), 0);
    EXPECT_EQ(Findings(script), std::vector<std::string>{taken});
    std::filesystem::remove(out);
    ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0);
    EXPECT_EQ(Findings(script), std::vector<std::string>{taken});
    std::filesystem::remove(out);
    ASSERT_TRUE(test::WriteText(folder.File("other.txt"), "keep"));
    std::filesystem::create_hard_link(folder.File("other.txt"), out);
    EXPECT_EQ(Findings(script), std::vector<std::string>{"error: program.cmd:1: READ output " + out.string() +
                                                         " has other hard links"});
    std::filesystem::remove(out);
    EXPECT_TRUE(Findings(script).empty());

    // A folder its user may not write to; root writes anywhere, so root
    // runs this part as an ordinary user.
    std::filesystem::permissions(folder.Path(), std::filesystem::perms::owner_all |
                                                    std::filesystem::perms::others_read |
                                                    std::filesystem::perms::others_exec);
    std::filesystem::permissions(folder.File("test.upk"), std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    const std::string expected =
        "error: program.cmd:1: READ output folder " + folder.Path().string() + " is not writable";
    if (::geteuid() != 0)
        std::filesystem::permissions(folder.Path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        UpgradePackage other;
        if (!other.Open(folder.File("test.upk"))) ::_exit(4);
        ::_exit(Formatted(CheckPackage(other, folder.Path())) == std::vector<std::string>{expected} ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
}

TEST_F(PackageCheckTest, PlanAndLoadMembersPreparedOnceByTheRun) {
    const auto check = Check(
        StandardMembers("SETPROGRAMMODE\nFOO\nLOAD fw.bin 0x10:0x20\nLOAD FW.BIN 1:2\nREAD r.bin 0:0 5\n",
                        KEYS, {{"fw.bin", Bytes("abcdefg"), false}}));
    // FOO stays in the plan, for a run to tell, but sends nothing.
    ASSERT_EQ(check.plan.size(), 5u);
    EXPECT_EQ(check.plan[1].text, "FOO");
    EXPECT_FALSE(IsDevicePlanned(check.plan[1]));
    EXPECT_TRUE(IsDevicePlanned(check.plan[2]));
    EXPECT_EQ(check.plan[2].line, 3);
    EXPECT_EQ(check.plan[2].text, "LOAD fw.bin 0x10:0x20");
    EXPECT_EQ(check.plan[2].loadBytes, 7u);
    EXPECT_EQ(check.plan[4].readOutput, folder.File("R.BIN"));
    EXPECT_TRUE(package.PreparedData("FW.BIN").empty()) << "the check extracts nothing";
    EXPECT_EQ(PrepareLoadMembers(package, check.plan), "");
    const auto prepared = package.PreparedData("FW.BIN");
    ASSERT_FALSE(prepared.empty());
    EXPECT_EQ(test::ReadText(prepared), "abcdefg");
}

}  // namespace
}  // namespace quorvane
