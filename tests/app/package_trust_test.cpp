// Where trusted keys are looked for, and what stops a package's judgement.
#include "app/package_trust.h"

#include <gtest/gtest.h>

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

TEST(PackageTrustTest, AnUnreadablePackageOrAMissingNamedSignatureIsSaid) {
    test::TempFolder folder;
    const auto package = folder.File("p.upk");
    ASSERT_TRUE(test::WriteText(package, "bytes"));
    GlobalOptions options;
    EXPECT_EQ(JudgePackage(folder.File("none.upk"), {}, options).error,
              "cannot read " + folder.File("none.upk").string() + ": No such file or directory");
    // Unsigned with no keys: passes, as every package did before signatures.
    PackageTrust unsigned_ = JudgePackage(package, {folder.Path()}, options);
    EXPECT_TRUE(unsigned_.Passes());
    EXPECT_EQ(unsigned_.bytes.size(), 5u);
    options.signature = folder.File("given.minisig");
    PackageTrust named = JudgePackage(package, {}, options);
    EXPECT_FALSE(named.Passes());
    EXPECT_EQ(named.signature.reason,
              "signature file " + folder.File("given.minisig").string() + ": No such file or directory");
    options.signature.reset();
    options.trustedKeys = {folder.File("k.pub")};
    EXPECT_EQ(JudgePackage(package, {}, options).error,
              "trusted key " + folder.File("k.pub").string() + ": No such file or directory");
}

}  // namespace
}  // namespace quorvane
