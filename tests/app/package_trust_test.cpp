// Where trusted keys are looked for, what stops a package's judgement, and
// that a package is opened from the bytes that were judged.
#include "app/package_trust.h"

#include <gtest/gtest.h>

#include "package/package_writer.h"
#include "tests/package/package_fixture.h"

namespace quorvane {
namespace {

TEST(PackageTrustTest, KeyFoldersAreTheSystemsThenTheUsers) {
    struct Case {
        const char* xdg;
        const char* home;
        std::vector<std::filesystem::path> folders;
    } cases[] = {
        {"/x/cfg", "/home/t",
         {"/etc/quorvane-upgrade/trusted-keys", "/x/cfg/quorvane-upgrade/trusted-keys"}},
        {"", "/home/t", {"/etc/quorvane-upgrade/trusted-keys", "/home/t/.config/quorvane-upgrade/trusted-keys"}},
        {nullptr, nullptr, {"/etc/quorvane-upgrade/trusted-keys"}},
    };
    for (const Case& c : cases) EXPECT_EQ(TrustedKeyFolders(c.xdg, c.home), c.folders) << (c.xdg ? c.xdg : "null");
}

TEST(PackageTrustTest, AnUnreadablePackageOrAMissingNamedSignatureOrKeyIsSaid) {
    test::TempFolder folder;
    const auto package = folder.File("p.upk");
    ASSERT_TRUE(test::WriteText(package, "bytes"));
    EXPECT_EQ(JudgePackage(folder.File("none.upk"), {}).fileError,
              folder.File("none.upk").string() + ": No such file or directory");
    // Unsigned with no keys: passes, as every package did before signatures.
    TrustOptions folderOnly;
    folderOnly.keyFolders = {folder.Path()};
    PackageTrust unsigned_ = JudgePackage(package, folderOnly);
    EXPECT_EQ(unsigned_.signature.status, SignatureStatus::None);
    EXPECT_EQ(unsigned_.bytes.size(), 5u);
    TrustOptions namedSignature;
    namedSignature.signature = folder.File("given.minisig");
    TrustOptions namedKey;
    namedKey.keyFiles = {folder.File("k.pub")};
    const struct {
        TrustOptions trust;
        std::string reason;
    } refusals[] = {
        {namedSignature, "signature file " + folder.File("given.minisig").string() + ": No such file or directory"},
        {namedKey, "trusted key " + folder.File("k.pub").string() + ": No such file or directory"},
    };
    for (const auto& refusal : refusals) {
        const PackageTrust judged = JudgePackage(package, refusal.trust);
        EXPECT_EQ(judged.signature.status, SignatureStatus::Bad) << refusal.reason;
        EXPECT_EQ(judged.signature.reason, refusal.reason);
    }
}

TEST(PackageTrustTest, APackageSwappedAfterItsJudgementIsNotWhatIsExtracted) {
    test::TempFolder folder;
    const auto path = folder.File("p.upk");
    auto members = [](const char* image) {
        return StandardMembers("LOAD image.bin 1:0\n", "PRODUCTID 1\n", {{"image.bin", test::Bytes(image)}});
    };
    ASSERT_TRUE(WritePackage(path, members("judged")));
    UpgradePackage package;
    const JudgedPackage opened = OpenJudged(path, package, {});
    ASSERT_TRUE(opened.opened);
    ASSERT_TRUE(opened.check.signature.has_value());
    EXPECT_EQ(opened.check.signature->status, SignatureStatus::None);

    ASSERT_TRUE(WritePackage(path, members("swapped")));
    std::string data;
    ASSERT_EQ(package.ReadMemberData("IMAGE.BIN", data, false), ExtractStatus::Done);
    EXPECT_EQ(data, "judged");
}

}  // namespace
}  // namespace quorvane
