// upgradectl pack, unpack and inspect as real processes: packing replaces a
// package only when the new one is complete and passes its check, unpacking
// a damaged package says what was lost, and names reach the terminal filtered.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <set>

#include "upgradectl_process.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string GOOD_SCRIPT = "SETPROGRAMMODE\nERASE 1\nLOAD image.bin 1:0\nRESET\n";
const std::string WARNING_SCRIPT = "SETPROGRAMMODE\nFROBNICATE 1\nLOAD image.bin 1:0\nRESET\n";
const std::string ERROR_SCRIPT = "SETPROGRAMMODE\nLOAD missing.bin 1:0\nRESET\n";
const std::string RESTRICTIONS = "PRODUCTID 0x0101\nVENDORID 0x1407\nREVISIONID 4\nDEFAULT 1\n";
const std::string IMAGE(70000, '\x5a');  // larger than one copy chunk

std::set<std::string> Entries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// Container bytes written by hand, so that damage can be built in.
struct RawPackage {
    std::vector<uint8_t> bytes;

    void Length(uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    void Member(const std::string& name, const std::string& data, bool scramble = false) {
        Length(static_cast<uint32_t>(name.size()));
        bytes.insert(bytes.end(), name.begin(), name.end());
        Length(static_cast<uint32_t>(data.size()));
        for (std::size_t i = 0; i < data.size(); ++i)
            bytes.push_back(static_cast<uint8_t>(data[i] ^ (scramble ? "KWX"[(i % 256) % 3] : 0)));
        if (data.size() % 2) bytes.push_back(0);
    }
    void TextMembers() {
        Member("program.cmd", "RESET\n");
        Member("restriction.ini", RESTRICTIONS, true);
    }
    uint32_t Offset() const { return static_cast<uint32_t>(bytes.size()); }
};

class UpgradectlPack : public ::testing::Test {
protected:
    UpgradectlPack() {
        WriteFileText(Dir() / "good.cmd", GOOD_SCRIPT);
        WriteFileText(Dir() / "warning.cmd", WARNING_SCRIPT);
        WriteFileText(Dir() / "error.cmd", ERROR_SCRIPT);
        WriteFileText(Dir() / "restriction.ini", RESTRICTIONS);
        WriteFileText(Dir() / "image.bin", IMAGE);
    }
    fs::path Dir() const { return temp_.Path(); }
    std::vector<std::string> Pack(const std::string& script, std::vector<std::string> extra = {"image.bin"}) {
        std::vector<std::string> argv{UPGRADECTL_PATH, "pack",           "out.upk",        "--script",
                                      script,          "--restrictions", "restriction.ini"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
    }
    ProcessResult Run(const std::vector<std::string>& argv) {
        ProcessResult result = RunProcess(argv, Dir(), 20s);
        EXPECT_FALSE(result.timedOut) << argv[1] << " did not end in time";
        return result;
    }

private:
    TempFolder temp_;
};

TEST_F(UpgradectlPack, AFailedWriteLeavesTheOldPackageAndNoTemporaryFile) {
    if (access("/usr/bin/prlimit", X_OK) != 0) GTEST_SKIP() << "prlimit (util-linux) is not installed";
    ASSERT_EQ(Run(Pack("good.cmd")).exitCode, 0);
    const std::string old = ReadFileText(Dir() / "out.upk");
    chmod((Dir() / "out.upk").c_str(), 0640);
    const auto before = Entries(Dir());
    // A full disk without root: writes beyond 20000 bytes fail with EFBIG,
    // and SIGXFSZ, ignored here, stays ignored through exec.
    std::vector<std::string> argv{"/bin/sh", "-c", "trap '' XFSZ; exec /usr/bin/prlimit --fsize=20000 \"$@\"",
                                  "sh"};
    const auto pack = Pack("good.cmd");
    argv.insert(argv.end(), pack.begin(), pack.end());
    const auto full = Run(argv);
    EXPECT_EQ(full.exitCode, 2);
    EXPECT_EQ(full.err, "upgradectl: cannot write out.upk: File too large\n");
    EXPECT_EQ(ReadFileText(Dir() / "out.upk"), old);
    EXPECT_EQ(Entries(Dir()), before);

    // A pack that succeeds replaces the package and keeps its permissions.
    WriteFileText(Dir() / "image.bin", "new image");
    ASSERT_EQ(Run(Pack("good.cmd")).exitCode, 0);
    EXPECT_NE(ReadFileText(Dir() / "out.upk"), old);
    EXPECT_EQ(fs::status(Dir() / "out.upk").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(Entries(Dir()), before);
}

TEST_F(UpgradectlPack, RefusesBadInputsAndPackagesTheCheckFindsFaultIn) {
    ASSERT_EQ(mkfifo((Dir() / "fifo").c_str(), 0600), 0);
    fs::resize_file(Dir() / "image.bin", 16 * 1024 * 1024);  // the smallest size refused
    WriteFileText(Dir() / "small.bin", IMAGE);
    WriteFileText(Dir() / "self.cmd", "READ self.upk 1:0 4\n");
    struct Case {
        std::vector<std::string> argv;
        const char* err;  // the whole of stderr
    };
    const Case cases[] = {
        {Pack("fifo"), "upgradectl: fifo is not a regular file\n"},
        {Pack("/dev/zero"), "upgradectl: /dev/zero is not a regular file\n"},
        {Pack("good.cmd", {"fifo"}), "upgradectl: fifo is not a regular file\n"},
        {Pack("good.cmd"), "upgradectl: image.bin is too large for a package member (16 MiB or more)\n"},
        {{UPGRADECTL_PATH, "pack", "SELF.UPK", "--script", "self.cmd", "--restrictions", "restriction.ini"},
         "error: program.cmd:1: READ output would overwrite the package itself\n"
         "upgradectl: SELF.UPK not written: the package has errors\n"},
        {{UPGRADECTL_PATH, "pack", "", "--script", "good.cmd", "--restrictions", "restriction.ini"},
         "upgradectl: the output file name is empty\n"},
        {{UPGRADECTL_PATH, "unpack", "out.upk", ""}, "upgradectl: the output folder name is empty\n"},
        {Pack("error.cmd", {"small.bin", "--force"}),
         "error: program.cmd:2: LOAD names member 'MISSING.BIN', which the package lacks\n"
         "upgradectl: out.upk not written: the package has errors\n"},
    };
    const auto before = Entries(Dir());
    for (const Case& c : cases) {
        const auto result = Run(c.argv);
        EXPECT_EQ(result.exitCode, 2) << c.err;
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(Entries(Dir()), before) << "nothing written, no temporary file left: " << c.err;
    }
}

TEST_F(UpgradectlPack, WarningsRefuseThePackageUnlessForced) {
    const auto refused = Run(Pack("warning.cmd"));
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err,
              "warning: program.cmd:2: unknown keyword 'FROBNICATE' is skipped\n"
              "upgradectl: out.upk not written: the package has warnings (--force writes it)\n");
    EXPECT_FALSE(fs::exists(Dir() / "out.upk"));

    auto forcedArgs = Pack("warning.cmd");
    forcedArgs.push_back("--force");
    const auto forced = Run(forcedArgs);
    EXPECT_EQ(forced.exitCode, 0);
    EXPECT_EQ(forced.err,
              "warning: program.cmd:2: unknown keyword 'FROBNICATE' is skipped\n"
              "Wrote out.upk (3 members)\n");

    // inspect shows the same finding, as text and as JSON.
    const auto text = Run({UPGRADECTL_PATH, "inspect", "out.upk"});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("\nFindings:\nwarning: program.cmd:2: unknown keyword 'FROBNICATE' is skipped\n"),
              std::string::npos)
        << text.out;
    const auto json = Run({UPGRADECTL_PATH, "inspect", "out.upk", "--json"});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(json.out).at("findings"),
              nlohmann::json::parse(R"({"errors": [], "warnings": [{"member": "program.cmd", "line": 2,
                                        "message": "unknown keyword 'FROBNICATE' is skipped"}],
                                        "signature": {"status": "none", "key_id": null,
                                                      "trusted_comment": null, "reason": null}})"));

    ASSERT_EQ(Run(Pack("good.cmd", {"image.bin", "--force"})).exitCode, 0);
    EXPECT_NE(Run({UPGRADECTL_PATH, "inspect", "out.upk"}).out.find("\nFindings:\nnone\n"),
              std::string::npos);
}

TEST_F(UpgradectlPack, UnpackOfADamagedPackageWritesWhatItCanAndNamesWhatWasLost) {
    struct Case {
        const char* what;
        RawPackage package;
        std::vector<std::string> written;
        std::string err;
    };
    std::vector<Case> cases;
    {
        RawPackage p;
        p.TextMembers();
        p.Member("good.bin", "good");
        const uint32_t fault = p.Offset();
        p.Member("cut.bin", std::string(100, 'c'));
        p.bytes.resize(p.bytes.size() - 60);  // data runs past the end of the file
        cases.push_back({"cut short",
                         p,
                         {"program.cmd", "restriction.ini", "good.bin"},
                         "upgradectl: the member at byte " + std::to_string(fault) +
                             " is damaged: it and every member after it could not be read\n"});
    }
    {
        RawPackage p;
        p.TextMembers();
        const uint32_t fault = p.Offset();
        p.Member(std::string(256, 'n'), "x");  // a name the format cannot hold
        p.Member("after.bin", "after");
        p.Length(0xFFFFFFFF);
        cases.push_back({"long name",
                         p,
                         {"program.cmd", "restriction.ini"},
                         "upgradectl: the member at byte " + std::to_string(fault) +
                             " is damaged: it and every member after it could not be read\n"});
    }
    {
        RawPackage p;
        p.TextMembers();
        p.Member("last.bin", "last");
        cases.push_back({"no end marker",
                         p,
                         {"program.cmd", "restriction.ini", "last.bin"},
                         "upgradectl: the package ends at byte " + std::to_string(p.Offset()) +
                             " without its end marker: members may be missing\n"});
    }
    {
        RawPackage p;
        p.TextMembers();
        p.Member("big.bin", std::string(1 << 24, '\0'));  // walked over, never extracted
        p.Member("after.bin", "after");
        p.Length(0xFFFFFFFF);
        cases.push_back({"oversized member",
                         p,
                         {"program.cmd", "restriction.ini", "after.bin"},
                         "upgradectl: lost 'big.bin': its data is 16 MiB or more\n"});
    }
    for (const Case& c : cases) {
        WriteFileBytes(Dir() / "damaged.upk", c.package.bytes);
        fs::remove_all(Dir() / "out");
        const auto result = Run({UPGRADECTL_PATH, "unpack", "damaged.upk", "out"});
        EXPECT_EQ(result.exitCode, 2) << c.what;
        EXPECT_EQ(result.err, c.err) << c.what;
        const std::set<std::string> written(c.written.begin(), c.written.end());
        EXPECT_EQ(Entries(Dir() / "out"), written) << c.what;
    }
}

TEST_F(UpgradectlPack, UnpackReplacesWhatLiesAtAMemberNameAndNeverWritesThroughIt) {
    const fs::path out = Dir() / "out";
    const fs::path outside = Dir() / "outside.bin";
    const fs::path dangling = Dir() / "created.bin";
    const bool canLimit = access("/usr/bin/prlimit", X_OK) == 0;
    struct Case {
        const char* what;
        std::string name;  // of the data member
        std::function<void(const fs::path& at)> plant;
        std::string err;  // the whole of stderr; exit code 2 unless empty
        bool fullDisk = false;
    };
    const Case cases[] = {
        {"symbolic link to a file outside", "image.bin",
         [&](const fs::path& at) { fs::create_symlink(outside, at); }, ""},
        {"dangling symbolic link", "image.bin", [&](const fs::path& at) { fs::create_symlink(dangling, at); },
         ""},
        {"hard link to a file outside", "image.bin",
         [&](const fs::path& at) { fs::create_hard_link(outside, at); }, ""},
        {"folder", "image.bin", [](const fs::path& at) { fs::create_directory(at); },
         "upgradectl: lost 'image.bin': it could not be written: Is a directory\n"},
        {"nothing, a name as long as a file name may be", std::string(255, 'n'), [](const fs::path&) {}, ""},
        {"nothing, a full disk", "image.bin", [](const fs::path&) {},
         "upgradectl: lost 'image.bin': it could not be written: File too large\n", true},
    };
    for (const Case& c : cases) {
        if (c.fullDisk && !canLimit) continue;
        RawPackage p;
        p.TextMembers();
        const std::string data = c.fullDisk ? IMAGE : "member bytes";
        p.Member(c.name, data);
        p.Length(0xFFFFFFFF);
        WriteFileBytes(Dir() / "links.upk", p.bytes);
        WriteFileText(outside, "outside");
        chmod(outside.c_str(), 04755);  // a mode the member must not take over
        fs::remove(dangling);
        fs::remove_all(out);
        fs::create_directory(out);
        c.plant(out / c.name);
        std::vector<std::string> argv{UPGRADECTL_PATH, "unpack", "links.upk", "out"};
        // As in the pack test: writes beyond 20000 bytes fail with EFBIG.
        if (c.fullDisk)
            argv.insert(argv.begin(),
                        {"/bin/sh", "-c", "trap '' XFSZ; exec /usr/bin/prlimit --fsize=20000 \"$@\"", "sh"});
        const auto result = Run(argv);
        EXPECT_EQ(result.exitCode, c.err.empty() ? 0 : 2) << c.what;
        EXPECT_EQ(result.err, c.err) << c.what;
        EXPECT_EQ(ReadFileText(outside), "outside") << c.what;
        EXPECT_FALSE(fs::exists(dangling)) << c.what;
        std::set<std::string> left{"program.cmd", "restriction.ini"};
        if (!c.fullDisk) left.insert(c.name);
        EXPECT_EQ(Entries(out), left) << c.what << ": no temporary file stays";
        if (!c.err.empty()) continue;
        const fs::path written = out / c.name;
        EXPECT_EQ(fs::symlink_status(written).type(), fs::file_type::regular) << c.what;
        EXPECT_EQ(fs::hard_link_count(written), 1u) << c.what;
        EXPECT_EQ(fs::status(written).permissions() & fs::perms::set_uid, fs::perms::none) << c.what;
        EXPECT_EQ(ReadFileText(written), data) << c.what;
    }
    if (!canLimit) GTEST_SKIP() << "the full disk needs prlimit (util-linux)";
}

TEST_F(UpgradectlPack, MemberNamesReachTheTerminalFiltered) {
    RawPackage p;
    p.TextMembers();
    p.Member("rlo\xe2\x80\xaegnp.exe", "x");  // shows as rloexe.png without the filter
    p.Member("c1\xc2\x9bJ.bin", "y");         // a C1 CSI: "erase the screen"
    p.Length(0xFFFFFFFF);
    WriteFileBytes(Dir() / "names.upk", p.bytes);
    const auto unpacked = Run({UPGRADECTL_PATH, "unpack", "names.upk", "out"});
    EXPECT_EQ(unpacked.exitCode, 0) << unpacked.err;
    EXPECT_EQ(unpacked.out, "program.cmd\nrestriction.ini\nrlo?gnp.exe\nc1?J.bin\n");
    const auto inspected = Run({UPGRADECTL_PATH, "inspect", "names.upk"});
    EXPECT_NE(inspected.out.find("rlo?gnp.exe      1\n"), std::string::npos) << inspected.out;

    RawPackage escape;
    escape.TextMembers();
    escape.Member("\x1b]0;owned\x07.bin", "z");
    escape.Length(0xFFFFFFFF);
    WriteFileBytes(Dir() / "escape.upk", escape.bytes);
    const auto refused = Run({UPGRADECTL_PATH, "unpack", "escape.upk", "out2"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, "upgradectl: refusing member name '?]0;owned?.bin': not a plain file name\n");
}

}  // namespace
}  // namespace quorvane::testing
