#include "package/upgrade_package.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "package/package_file.h"
#include "package/package_writer.h"
#include "tests/package/package_fixture.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// Hand-made container bytes, for layouts the package writer would never produce.
class RawPackage {
public:
    RawPackage& Length(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(value >> shift));
        return *this;
    }
    RawPackage& Text(std::string_view text) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return *this;
    }
    RawPackage& Member(std::string_view name, std::string_view data) {
        Length(static_cast<uint32_t>(name.size())).Text(name).Length(static_cast<uint32_t>(data.size()));
        Text(data);
        if (data.size() % 2 != 0) Text("\xEE");
        return *this;
    }
    // The two members Open insists on.
    RawPackage& TextMembers() { return Member("program.cmd", "RESET\n").Member("restriction.ini", ""); }
    RawPackage& End() { return Length(END_MARKER); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// A listing of a folder: every name with its contents.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = test::ReadText(entry.path());
    }
    return files;
}

class UpgradePackageTest : public ::testing::Test {
protected:
    // Private folders are made under TMPDIR: pointing it at a folder of the
    // test's own shows exactly what the package leaves behind.
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        if (old != nullptr) oldTmpDir_ = old;
        ::setenv("TMPDIR", tmp_.Path().c_str(), 1);
    }
    void TearDown() override {
        package_.Close();
        if (oldTmpDir_) {
            ::setenv("TMPDIR", oldTmpDir_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    std::vector<fs::path> PrivateFolders() const {
        std::vector<fs::path> folders;
        for (const auto& entry : fs::directory_iterator(tmp_.Path())) folders.push_back(entry.path());
        return folders;
    }
    bool OpenRaw(const RawPackage& raw) {
        const auto path = folder_.File("raw.upk");
        EXPECT_TRUE(test::WriteBytes(path, raw.Bytes()));
        return package_.Open(path);
    }
    // Extracts `name` into a file of the test folder; nullopt when Extract fails,
    // which must then leave no output file.
    std::optional<std::string> ExtractText(std::string name, bool unscramble = false) {
        const auto out = folder_.File("out.bin");
        fs::remove(out);
        if (!package_.Extract(name, out, unscramble)) {
            EXPECT_FALSE(fs::exists(out)) << name;
            return std::nullopt;
        }
        return test::ReadText(out);
    }

    test::TempFolder folder_;
    test::TempFolder tmp_;
    std::optional<std::string> oldTmpDir_;
    UpgradePackage package_;
};

const std::string kScript = "SETPROGRAMMODE\nLOAD fw.bin 0:0x100\nRESET\n";
const std::string kRestrictions = "PRODUCTID 0x12\nVENDORID 0x1407\n";

std::vector<PackageMember> StandardPackage() {
    return StandardMembers(kScript, kRestrictions, {{"fw.bin", test::Bytes("firmware bytes"), false}});
}

TEST_F(UpgradePackageTest, OpenExtractsTheTextMembersIntoAPrivateFolder) {
    ASSERT_TRUE(package_.Open(test::WriteTestPackage(folder_, StandardPackage())));
    EXPECT_TRUE(package_.IsOpen());
    EXPECT_EQ(package_.PackageFolder(), folder_.Path());

    const auto folders = PrivateFolders();
    ASSERT_EQ(folders.size(), 1u);
    const fs::path script = package_.WorkFile("PROGRAM.CMD");
    EXPECT_EQ(script.parent_path(), folders[0]);
    struct stat info {};
    ASSERT_EQ(::stat(folders[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(test::ReadText(script), kScript);
    // restriction.ini is stored scrambled and must come out plain.
    EXPECT_EQ(test::ReadText(package_.WorkFile("RESTRICTION.INI")), kRestrictions);

    // A data member left behind in the folder (a failed transfer) goes with it.
    std::string member = "fw.bin";
    ASSERT_TRUE(package_.Extract(member, package_.WorkFile("FW.BIN"), false));
    EXPECT_EQ(member, "FW.BIN");
    EXPECT_EQ(test::ReadText(package_.WorkFile("FW.BIN")), "firmware bytes");

    EXPECT_TRUE(package_.Close());
    EXPECT_FALSE(package_.IsOpen());
    EXPECT_TRUE(PrivateFolders().empty());
    EXPECT_TRUE(package_.WorkFile("PROGRAM.CMD").empty());
    EXPECT_TRUE(package_.PackageFolder().empty());
    EXPECT_TRUE(package_.Close());
}

TEST_F(UpgradePackageTest, PackageFolderIsAbsoluteForARelativePath) {
    test::WriteTestPackage(folder_, StandardPackage(), "relative.upk");
    const fs::path before = fs::current_path();
    fs::current_path(folder_.Path());
    const bool opened = package_.Open("relative.upk");
    fs::current_path(before);
    ASSERT_TRUE(opened);
    EXPECT_EQ(package_.PackageFolder(), folder_.Path());
}

TEST_F(UpgradePackageTest, UserFilesBesideThePackageAreNeverTouched) {
    const auto packagePath = test::WriteTestPackage(folder_, StandardPackage());
    for (const char* name : {"PROGRAM.CMD", "RESTRICTION.INI", "FW.BIN", "program.cmd"}) {
        ASSERT_TRUE(test::WriteText(folder_.File(name), std::string("user's own ") + name));
    }
    const auto before = Snapshot(folder_.Path());

    ASSERT_TRUE(package_.Open(packagePath));
    std::string member = "FW.BIN";
    ASSERT_TRUE(package_.Extract(member, package_.WorkFile(member), false));
    EXPECT_EQ(Snapshot(folder_.Path()), before);
    package_.Close();
    EXPECT_EQ(Snapshot(folder_.Path()), before);
}

TEST_F(UpgradePackageTest, PackageInAReadOnlyFolderOpens) {
    const auto packagePath = test::WriteTestPackage(folder_, StandardPackage());
    const auto before = Snapshot(folder_.Path());
    fs::permissions(folder_.Path(), fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    // Root ignores the permission bits, so the real check is that nothing
    // is written into the package folder at all.
    ASSERT_TRUE(package_.Open(packagePath));
    std::string member = "fw.bin";
    EXPECT_TRUE(package_.Extract(member, package_.WorkFile(member), false));
    EXPECT_EQ(Snapshot(folder_.Path()), before);
    package_.Close();
    EXPECT_EQ(Snapshot(folder_.Path()), before);
}

TEST_F(UpgradePackageTest, FailedOpenLeavesNothingBehind) {
    struct Case {
        const char* what;
        RawPackage raw;
    };
    const Case cases[] = {
        {"empty file", RawPackage()},
        {"starts with the end marker", RawPackage().End().TextMembers()},
        {"no restriction.ini", RawPackage().Member("program.cmd", "RESET\n").End()},
        {"no program.cmd", RawPackage().Member("restriction.ini", "").End()},
        {"no end marker and no restriction.ini", RawPackage().Member("program.cmd", "RESET\n")},
        {"cut inside a length field", RawPackage().Text("\x0b\x00")},
        {"program.cmd data cut short",
         RawPackage().Member("restriction.ini", "").Length(11).Text("program.cmd").Length(40).Text("RESET")},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(package_.Open(test::WriteTestPackage(folder_, StandardPackage(), "good.upk")));
        const auto before = Snapshot(folder_.Path());
        EXPECT_FALSE(OpenRaw(c.raw)) << c.what;
        EXPECT_FALSE(package_.IsOpen()) << c.what;
        EXPECT_TRUE(package_.WorkFile("PROGRAM.CMD").empty()) << c.what;
        // Neither the earlier package's folder nor the failed one survives.
        EXPECT_TRUE(PrivateFolders().empty()) << c.what;
        auto after = Snapshot(folder_.Path());
        after.erase("raw.upk");
        auto expected = before;
        expected.erase("raw.upk");
        EXPECT_EQ(after, expected) << c.what;
    }
    EXPECT_FALSE(package_.Open(folder_.File("missing.upk")));
    EXPECT_FALSE(package_.Open(folder_.Path()));
    // A FIFO would block the open until a writer came along.
    ASSERT_EQ(::mkfifo(folder_.File("fifo.upk").c_str(), 0600), 0);
    EXPECT_FALSE(package_.Open(folder_.File("fifo.upk")));
    EXPECT_TRUE(PrivateFolders().empty());
}

// From memory a package reads exactly as from its file, and leaves no folder.
TEST_F(UpgradePackageTest, PackageInMemoryReadsAsItsFile) {
    const std::string scrambledAcrossChunks(600, 'k');
    const RawPackage cases[] = {
        RawPackage().Member("program.cmd", "RESET\n").Member("FW.BIN", "odd").Member("restriction.ini", "").End(),
        RawPackage().TextMembers().End().Member("after.bin", "x"),
        RawPackage().TextMembers().Length(4).Text("FW.BIN"),  // cut inside a member
        RawPackage().Member("program.cmd", "RESET\n").End(),    // no restriction.ini
        RawPackage(),
    };
    for (const auto& raw : cases) {
        SCOPED_TRACE(testing::PrintToString(raw.Bytes()));
        UpgradePackage memory;
        const bool opened = OpenRaw(raw);
        ASSERT_EQ(memory.OpenInMemory(raw.Bytes()), opened);
        EXPECT_EQ(memory.IsOpen(), opened);
        if (!opened) continue;
        EXPECT_TRUE(memory.PrivateFolder().empty());
        const ContainerLayout fromFile = package_.Layout();
        const ContainerLayout fromMemory = memory.Layout();
        EXPECT_EQ(fromMemory.members.size(), fromFile.members.size());
        EXPECT_EQ(fromMemory.faultOffset, fromFile.faultOffset);
        EXPECT_EQ(fromMemory.membersAfterEnd, fromFile.membersAfterEnd);
        for (const std::string name : {"PROGRAM.CMD", "RESTRICTION.INI"}) {
            std::string fileText, memoryText;
            EXPECT_TRUE(package_.ReadWorkText(name, fileText));
            EXPECT_TRUE(memory.ReadWorkText(name, memoryText));
            EXPECT_EQ(memoryText, fileText);
        }
        std::string data = "stale";
        const ExtractStatus status = memory.ReadMemberData("FW.BIN", data, false);
        EXPECT_EQ(status, package_.ExtractMember("FW.BIN", package_.WorkFile("FW.BIN"), false));
        EXPECT_EQ(data, status == ExtractStatus::Done ? "odd" : "");
    }
    // The restriction file is unscrambled with the key restarting every 256 bytes.
    UpgradePackage memory;
    ASSERT_TRUE(memory.OpenInMemory(EncodePackage(StandardMembers("RESET\n", scrambledAcrossChunks))));
    std::string text;
    EXPECT_TRUE(memory.ReadWorkText("RESTRICTION.INI", text));
    EXPECT_EQ(text, scrambledAcrossChunks);
    EXPECT_FALSE(memory.ReadWorkText("FW.BIN", text));
    // With the file's package closed, no private folder is left: the one in memory made none.
    package_.Close();
    EXPECT_TRUE(memory.IsOpen());
    EXPECT_TRUE(PrivateFolders().empty());
}

TEST_F(UpgradePackageTest, LookupWalksOddLengthsAndMatchesNamesLikeKeywords) {
    const RawPackage raw = RawPackage()
                               .TextMembers()
                               .Member("a.b", "xyz")  // odd name and odd data length
                               .Member("Fw.Bin", "firmware")
                               .Member("FW.BIN", "second of the same name")
                               .Member("EMPTY", "")
                               .Member("\xe4.bin", "umlaut")
                               .Member(std::string("NUL\0junk", 8), "cut at zero")
                               .Member("LAST", "9")
                               .End()
                               .Member("AFTER", "never");
    ASSERT_TRUE(OpenRaw(raw));
    struct Case {
        std::string request;
        std::optional<std::string> data;
    };
    const Case cases[] = {
        {"a.b", "xyz"},
        {"FW.BIN", "firmware"},
        {"fw.bin", "firmware"},
        {"empty", ""},
        {"\xe4.BIN", "umlaut"},
        {"\xc4.BIN", std::nullopt},  // only a-z fold
        {"nul", "cut at zero"},
        {"last", "9"},
        {"after", std::nullopt},
        {"missing", std::nullopt},
        {"a.b ", std::nullopt},
        {"", std::nullopt},
        {"program.cmd", "RESET\n"},  // still found after other lookups
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractText(c.request), c.data) << c.request;
    }
}

TEST_F(UpgradePackageTest, ExtractUpperCasesTheCallersName) {
    ASSERT_TRUE(OpenRaw(RawPackage().TextMembers().End()));
    std::string name = "program.cmd";
    ASSERT_TRUE(package_.Extract(name, folder_.File("x"), false));
    EXPECT_EQ(name, "PROGRAM.CMD");
    name = "missing.bin";
    EXPECT_FALSE(package_.Extract(name, folder_.File("y"), false));
    EXPECT_EQ(name, "MISSING.BIN");
    EXPECT_FALSE(fs::exists(folder_.File("y")));
    // No output file of an empty (refused) name can be created.
    name = "program.cmd";
    EXPECT_FALSE(package_.Extract(name, package_.WorkFile("../PROGRAM.CMD"), false));
    package_.Close();
    EXPECT_FALSE(package_.Extract(name, folder_.File("z"), false));
}

TEST_F(UpgradePackageTest, ExtractionStreamsWholeChunksAndTheRemainder) {
    std::string ramp(256, '\0');
    for (int i = 0; i < 256; ++i) ramp[i] = static_cast<char>(i);
    const std::string longer = ramp + ramp + "tail";
    ASSERT_TRUE(OpenRaw(RawPackage().TextMembers().Member("ramp", ramp).Member("longer", longer).End()));
    EXPECT_EQ(ExtractText("ramp"), ramp);
    EXPECT_EQ(ExtractText("longer"), longer);
}

TEST_F(UpgradePackageTest, UnscramblingRestartsTheKeyAtEveryChunk) {
    // Every stored byte is 'K': it unscrambles to 0 exactly where key byte 0 is used.
    ASSERT_TRUE(OpenRaw(RawPackage().TextMembers().Member("S", std::string(600, 'K')).End()));
    const auto plain = ExtractText("S", true);
    ASSERT_TRUE(plain.has_value());
    ASSERT_EQ(plain->size(), 600u);
    const char kw = 'K' ^ 'W';
    const char kx = 'K' ^ 'X';
    const std::map<std::size_t, char> expected = {
        {0, 0},    {1, kw},  {2, kx},  {254, kx}, {255, 0},  {256, 0}, {257, kw},
        {258, kx}, {511, 0}, {512, 0}, {513, kw}, {598, kx}, {599, 0},
    };
    for (const auto& [position, value] : expected) {
        EXPECT_EQ((*plain)[position], value) << "position " << position;
    }
    EXPECT_EQ(ExtractText("S", false), std::string(600, 'K'));
}

TEST_F(UpgradePackageTest, MembersOutsideTheFormatCountAsMissing) {
    // Data that runs past the end of the file.
    RawPackage truncated =
        RawPackage().TextMembers().Length(6).Text("FW.BIN").Length(100).Text(std::string(50, 'x'));
    ASSERT_TRUE(OpenRaw(truncated));
    ASSERT_TRUE(test::WriteText(folder_.File("keep.bin"), "keep"));
    std::string name = "FW.BIN";
    EXPECT_FALSE(package_.Extract(name, folder_.File("keep.bin"), false));
    EXPECT_EQ(test::ReadText(folder_.File("keep.bin")), "keep");
    EXPECT_EQ(ExtractText("program.cmd"), "RESET\n");

    // No end marker: what is there is found, the rest ends at the end of the file.
    ASSERT_TRUE(OpenRaw(RawPackage().TextMembers().Member("FW.BIN", "abc")));
    EXPECT_EQ(ExtractText("fw.bin"), "abc");
    EXPECT_EQ(ExtractText("missing"), std::nullopt);

    // A name of 256 bytes does not fit the format; 255 bytes do.
    const std::string name255(255, 'N');
    const std::string name256(256, 'M');
    ASSERT_TRUE(OpenRaw(RawPackage().TextMembers().Member(name255, "ok").Member(name256, "too long").End()));
    EXPECT_EQ(ExtractText(name255), "ok");
    EXPECT_EQ(ExtractText(name256), std::nullopt);
}

TEST_F(UpgradePackageTest, DataOfSixteenMebibytesCountsAsMissingButIsWalkedOver) {
    // The data is really there (a sparse file): only the length limit refuses it,
    // and the member behind it is still found.
    const auto path = folder_.File("big.upk");
    const RawPackage head = RawPackage().TextMembers().Length(3).Text("BIG").Length(MEMBER_DATA_LIMIT);
    ASSERT_TRUE(test::WriteBytes(path, head.Bytes()));
    fs::resize_file(path, head.Bytes().size() + MEMBER_DATA_LIMIT);
    {
        const auto tail = RawPackage().Member("AFTER", "xyz").End().Bytes();
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
    }
    ASSERT_TRUE(package_.Open(path));
    EXPECT_EQ(ExtractText("BIG"), std::nullopt);
    EXPECT_EQ(ExtractText("after"), "xyz");
    ASSERT_EQ(package_.Members().size(), 4u);
}

TEST_F(UpgradePackageTest, ExtractNeverWritesOverThePackageItself) {
    // A member named like the package, extracted next to it, would truncate
    // the container while it is being read.
    const auto path = folder_.File("X.UPK");
    ASSERT_TRUE(test::WriteBytes(path, RawPackage().TextMembers().Member("X.UPK", "abc").End().Bytes()));
    const auto before = test::ReadBytes(path);
    ASSERT_TRUE(package_.Open(path));
    std::string member = "x.upk";
    EXPECT_FALSE(package_.Extract(member, path, false));
    EXPECT_EQ(test::ReadBytes(path), before);
    EXPECT_EQ(ExtractText("x.upk"), "abc");  // elsewhere it extracts as usual
}

TEST_F(UpgradePackageTest, MembersListsStoredNamesInFileOrder) {
    EXPECT_TRUE(package_.Members().empty());
    ASSERT_TRUE(OpenRaw(
        RawPackage().TextMembers().Member("Fw.Bin", "abc").Member("x", "").End().Member("after", "")));
    const auto members = package_.Members();
    ASSERT_EQ(members.size(), 4u);
    EXPECT_EQ(members[0].name, "program.cmd");
    EXPECT_EQ(members[0].size, 6u);
    EXPECT_EQ(members[2].name, "Fw.Bin");
    EXPECT_EQ(members[2].size, 3u);
    EXPECT_EQ(members[3].name, "x");
    EXPECT_EQ(members[3].size, 0u);
    // Listing leaves the container usable for lookups.
    EXPECT_EQ(ExtractText("fw.bin"), "abc");

    // A malformed container lists what lies in front of the fault.
    ASSERT_TRUE(
        OpenRaw(RawPackage().TextMembers().Member("ok", "1").Length(2).Text("no").Length(9).Text("short")));
    const auto partial = package_.Members();
    ASSERT_EQ(partial.size(), 3u);
    EXPECT_EQ(partial[2].name, "ok");
}

TEST(IsSafeFileNameTest, RefusesNamesThatCouldLeaveTheFolder) {
    struct Case {
        std::string name;
        bool safe;
    };
    const Case cases[] = {
        {"FW.BIN", true},      {"PROGRAM.CMD", true},
        {"...", true},         {" A", true},
        {"\xe4.BIN", true},    {"", false},
        {".", false},          {"..", false},
        {"../FW.BIN", false},  {"/ETC/PASSWD", false},
        {"..\\FW.BIN", false}, {"A\x01", false},
        {"A\tB", false},       {"A\x7f", false},
        {"A\x1f", false},      {std::string("A\0B", 3), false},
    };
    UpgradePackage closed;
    for (const auto& c : cases) {
        EXPECT_EQ(IsSafeFileName(c.name), c.safe) << c.name;
        EXPECT_TRUE(closed.WorkFile(c.name).empty());
    }
}

// What was read (and checked) once is what is extracted, though the file is
// swapped afterwards; the private folder and READ's folder are the file's.
TEST_F(UpgradePackageTest, PackageOpenedFromItsBytesNeverReadsTheFileAgain) {
    const auto path = WriteTestPackage(folder_, StandardPackage());
    PackageFileRead read = ReadPackageFile(path);
    ASSERT_TRUE(read.Ok()) << read.error;
    WritePackage(path, StandardMembers("RESET\n", kRestrictions, {{"fw.bin", test::Bytes("swapped"), false}}));

    ASSERT_TRUE(package_.Open(path, read.bytes));
    std::string text;
    EXPECT_TRUE(package_.ReadWorkText("PROGRAM.CMD", text));
    EXPECT_EQ(text, kScript);
    ASSERT_EQ(package_.PrepareData("FW.BIN"), ExtractStatus::Done);
    EXPECT_EQ(test::ReadText(package_.PreparedData("FW.BIN")), "firmware bytes");
    EXPECT_EQ(package_.PackageFolder(), folder_.Path());
    EXPECT_EQ(PrivateFolders().size(), 1u);
    package_.Close();
    EXPECT_TRUE(PrivateFolders().empty());
}

TEST(ReadPackageFileTest, SaysTheSystemsReasonForWhatIsNoPackageFile) {
    test::TempFolder folder;
    ASSERT_EQ(::mkfifo(folder.File("fifo").c_str(), 0600), 0);
    struct Case {
        std::string path;
        const char* error;
    } cases[] = {
        {folder.File("missing.upk").string(), "No such file or directory"},
        {folder.Path().string(), "not a regular file"},
        {folder.File("fifo").string(), "not a regular file"},
    };
    for (const Case& c : cases) EXPECT_EQ(ReadPackageFile(c.path).error, c.error) << c.path;
}

}  // namespace
}  // namespace quorvane
