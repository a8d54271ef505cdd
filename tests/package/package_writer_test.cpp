#include "package/package_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package/upgrade_package.h"
#include "tests/package/package_fixture.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

TEST(PackageWriterTest, EncodesNamesUnalignedAndPadsOddData) {
    const std::vector<PackageMember> members = {
        {"abc", {1, 2, 3}, false},
        {"d", {}, false},
        {"ef", {9, 8}, false},
    };
    const std::vector<uint8_t> expected = {
        3,    0,    0,    0,    'a', 'b', 'c', 3, 0, 0, 0, 1, 2, 3, 0,  // odd data: one fill byte
        1,    0,    0,    0,    'd', 0,   0,   0, 0,                    // empty data: no fill
        2,    0,    0,    0,    'e', 'f', 2,   0, 0, 0, 9, 8,           // even data: no fill
        0xFF, 0xFF, 0xFF, 0xFF,
    };
    EXPECT_EQ(EncodePackage(members), expected);
    EXPECT_EQ(EncodePackage({}), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(PackageWriterTest, LengthsAreLittleEndian) {
    const std::vector<PackageMember> members = {{"x", std::vector<uint8_t>(0x0102, 0), false}};
    const auto bytes = EncodePackage(members);
    ASSERT_GE(bytes.size(), 9u);
    EXPECT_EQ(bytes[5], 0x02);
    EXPECT_EQ(bytes[6], 0x01);
    EXPECT_EQ(bytes[7], 0x00);
    EXPECT_EQ(bytes.size(), 4u + 1 + 4 + 0x0102 + 4);
}

TEST(PackageWriterTest, ScramblingRestartsTheKeyAtEveryChunk) {
    std::vector<uint8_t> data(600, 0);
    ScrambleMember(data);
    const std::pair<std::size_t, char> expected[] = {
        {0, 'K'}, {1, 'W'}, {2, 'X'}, {254, 'X'}, {255, 'K'}, {256, 'K'}, {257, 'W'}, {511, 'K'}, {512, 'K'},
    };
    for (const auto& [position, key] : expected) {
        EXPECT_EQ(data[position], static_cast<uint8_t>(key)) << "position " << position;
    }
    ScrambleMember(data);
    EXPECT_EQ(data, std::vector<uint8_t>(600, 0));
    // Lengths that end inside an eight-byte word, in the first chunk and in a later one.
    for (const auto& [length, tail] : {std::pair<std::size_t, std::string>{13, "XKWXK"}, {603, "KWXKWXK"}}) {
        std::vector<uint8_t> odd(length, 0);
        ScrambleMember(odd);
        EXPECT_EQ(std::string(odd.end() - static_cast<std::ptrdiff_t>(tail.size()), odd.end()), tail) << length;
    }

    // Stored scrambled inside the package, behind name and length.
    const auto bytes = EncodePackage({{"s", std::vector<uint8_t>(257, 0), true}});
    const std::size_t dataStart = 4 + 1 + 4;
    EXPECT_EQ(bytes[dataStart + 255], 'K');
    EXPECT_EQ(bytes[dataStart + 256], 'K');
    EXPECT_EQ(bytes[dataStart + 257], 0);  // the fill byte is not scrambled
}

TEST(PackageWriterTest, StandardMembersPutTheTextMembersFirst) {
    const auto members = StandardMembers("RESET\n", "PRODUCTID 1\n", {{"FW.BIN", {1, 2}, false}});
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].name, "program.cmd");
    EXPECT_FALSE(members[0].scramble);
    EXPECT_EQ(members[0].data, test::Bytes("RESET\n"));
    EXPECT_EQ(members[1].name, "restriction.ini");
    EXPECT_TRUE(members[1].scramble);
    EXPECT_EQ(members[1].data, test::Bytes("PRODUCTID 1\n"));
    EXPECT_EQ(members[2].name, "FW.BIN");
}

TEST(PackageWriterTest, WrittenPackagesOpenAndExtractEveryMember) {
    test::TempFolder folder;
    std::vector<uint8_t> firmware(1000);
    for (std::size_t i = 0; i < firmware.size(); ++i) firmware[i] = static_cast<uint8_t>(i * 7);
    const auto members = StandardMembers("LOAD fw.bin 0:0\n", "PRODUCTID 7\n",
                                         {{"fw.bin", firmware, false}, {"odd.bin", {5, 6, 7}, false}});
    const auto path = folder.File("round.upk");
    ASSERT_TRUE(WritePackage(path, members));
    EXPECT_EQ(test::ReadBytes(path), EncodePackage(members));

    UpgradePackage package;
    ASSERT_TRUE(package.Open(path));
    const auto listed = package.Members();
    ASSERT_EQ(listed.size(), members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(listed[i].name, members[i].name);
        EXPECT_EQ(listed[i].size, members[i].data.size());
        std::string name = members[i].name;
        const auto out = folder.File("out" + std::to_string(i));
        ASSERT_TRUE(package.Extract(name, out, members[i].scramble)) << members[i].name;
        EXPECT_EQ(test::ReadBytes(out), members[i].data) << members[i].name;
    }
}

TEST(PackageWriterTest, RefusesMembersTheReaderWouldRefuse) {
    test::TempFolder folder;
    const auto path = folder.File("bad.upk");
    EXPECT_FALSE(WritePackage(path, {{std::string(256, 'n'), {1}, false}}));
    EXPECT_FALSE(WritePackage(path, {{"big", std::vector<uint8_t>(MEMBER_DATA_LIMIT), false}}));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(WritePackage(path, {{std::string(255, 'n'), {1}, false}}));
    EXPECT_FALSE(WritePackage(folder.File("no-such-folder") / "x.upk", {}));
}

TEST(PackageWriterTest, StreamingFromFilesWritesTheSameBytesAsEncoding) {
    test::TempFolder folder;
    // Longer than one copy chunk, with an odd length: the key phase and the
    // fill byte must come out as EncodePackage makes them.
    std::vector<uint8_t> large(70001);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 13 + 1);
    const std::vector<PackageMember> members = {
        {"program.cmd", test::Bytes("RESET\n"), false}, {"large.ini", large, true}, {"e", {}, false}};
    std::vector<MemberSource> sources;
    for (const auto& member : members) {
        ASSERT_TRUE(test::WriteBytes(folder.File(member.name), member.data));
        sources.emplace_back(member.name, member.scramble);
        ASSERT_EQ(sources.back().Open(folder.File(member.name)), SourceProblem::None);
    }
    const int out = ::open(folder.File("out.upk").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(out, 0);
    EXPECT_TRUE(StreamPackage(out, sources));
    ::close(out);
    EXPECT_EQ(test::ReadBytes(folder.File("out.upk")), EncodePackage(members));

    // Sizes are read from the open file before any data.
    MemberSource source("x", false);
    fs::resize_file(folder.File("e"), MEMBER_DATA_LIMIT - 1);
    EXPECT_EQ(source.Open(folder.File("e")), SourceProblem::None);
    fs::resize_file(folder.File("e"), MEMBER_DATA_LIMIT);
    EXPECT_EQ(source.Open(folder.File("e")), SourceProblem::TooLarge);
    EXPECT_EQ(source.Open(folder.Path()), SourceProblem::NotRegularFile);
    EXPECT_EQ(source.Open(folder.File("none")), SourceProblem::CannotOpen);
}

}  // namespace
}  // namespace quorvane
