// Signatures made by the real minisign program, verified by ours, and the
// trust policy over them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "package/minisign.h"
#include "package/signature_check.h"
#include "tests/package/package_fixture.h"

namespace quorvane {
namespace {

using test::ReadText;
using test::TempFolder;
using test::WriteText;

// A folder with a key pair, a package-like file and its signatures, all
// made by `minisign`: "ED" (hashed, the default) and legacy "Ed".
class MinisignFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteText(folder_.File("p.upk"), std::string(3000, 'x') + "firmware"));
        ASSERT_TRUE(MakeKey("k")) << "the minisign program is needed (scripts/setup installs it)";
        ASSERT_TRUE(MakeKey("other"));
        ASSERT_TRUE(Sign("k", "p.upk.minisig", "", "firmware 4.1.0 for QVN, 2026-12-01"));
        ASSERT_TRUE(Sign("k", "legacy.minisig", "-l", "legacy"));
        ASSERT_TRUE(Sign("other", "other.minisig", "", "other"));
    }
    bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
    bool MakeKey(const std::string& name) {
        return Run("minisign -G -W -p " + File(name + ".pub") + " -s " + File(name + ".key"));
    }
    bool Sign(const std::string& key, const std::string& out, const std::string& flags, const std::string& comment) {
        return Run("minisign -S " + flags + " -s " + File(key + ".key") + " -m " + File("p.upk") + " -x " +
                   File(out) + " -t '" + comment + "'");
    }
    std::string File(const std::string& name) const { return folder_.File(name).string(); }
    std::vector<uint8_t> Package() const { return test::ReadBytes(folder_.File("p.upk")); }
    MinisignKey Key(const std::string& name) const { return ParseMinisignKey(ReadText(File(name + ".pub"))).value; }
    // The id minisign itself prints in the public key's comment.
    std::string PrintedId(const std::string& name) const {
        std::string comment = ReadText(File(name + ".pub"));
        std::size_t start = comment.find("public key ") + 11;
        return comment.substr(start, comment.find('\n') - start);
    }
    SignatureFile Signature(const std::string& text) const { return {true, text, ""}; }

    TempFolder folder_;
};

TEST_F(MinisignFiles, BothAlgorithmsVerifyWithTheKeyMinisignPrints) {
    MinisignParse<MinisignKey> key = ParseMinisignKey(ReadText(File("k.pub")));
    ASSERT_TRUE(key.Ok()) << key.error;
    EXPECT_EQ(MinisignKeyIdText(key.value.id), PrintedId("k"));
    for (const char* name : {"p.upk.minisig", "legacy.minisig"}) {
        MinisignParse<MinisignSignature> signature = ParseMinisignSignature(ReadText(File(name)));
        ASSERT_TRUE(signature.Ok()) << name << ": " << signature.error;
        EXPECT_EQ(signature.value.prehashed, std::string(name) == "p.upk.minisig") << name;
        EXPECT_EQ(VerifyMinisign(key.value, signature.value, Package()), MinisignVerdict::Good) << name;
    }
}

TEST_F(MinisignFiles, TamperedFilesAreRefusedWithTheirReason) {
    const std::string good = ReadText(File("p.upk.minisig"));
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    std::string flippedSignature = good;
    std::size_t sigLine = good.find('\n') + 20;  // inside the signature's bytes, past the key id
    flippedSignature[sigLine] = flippedSignature[sigLine] == 'A' ? 'B' : 'A';
    std::vector<uint8_t> flippedPackage = Package();
    flippedPackage[1500] ^= 0x01;
    struct Case {
        const char* what;
        std::string signature;
        std::vector<uint8_t> package;
        std::string reason;
    } cases[] = {
        {"a flipped byte in the package", good, flippedPackage, "signature does not match the package"},
        {"a flipped byte in the signature", flippedSignature, Package(), "signature does not match the package"},
        {"a changed trusted comment", replaced("2026-12-01", "2027-01-01"), Package(),
         "the signature's trusted comment was changed after signing"},
        {"another key", ReadText(File("other.minisig")), Package(),
         "signed by key " + PrintedId("other") + ", which is not trusted"},
        {"a truncated file", good.substr(0, good.find("trusted comment")), Package(),
         "malformed signature: not a minisign signature (an \"untrusted comment:\" line, the signature, a "
         "\"trusted comment:\" line and the global signature)"},
        {"a line that is not base64", replaced(good.substr(good.find('\n') + 1, 4), "!!!!"), Package(),
         "malformed signature: the signature is not 74 bytes of base64"},
    };
    std::vector<TrustedKey> trusted{{Key("k"), File("k.pub")}};
    for (const Case& c : cases) {
        SignatureCheck check = CheckSignature(trusted, Signature(c.signature), c.package, true);
        EXPECT_EQ(check.status, SignatureStatus::Bad) << c.what;
        EXPECT_EQ(check.reason, c.reason) << c.what;
    }
}

TEST_F(MinisignFiles, PolicyFailsClosedOnceAKeyIsTrusted) {
    const std::string signature = ReadText(File("p.upk.minisig"));
    const std::string id = PrintedId("k");
    std::vector<TrustedKey> none;
    std::vector<TrustedKey> some{{Key("other"), File("other.pub")}, {Key("k"), File("k.pub")}};
    SignatureFile absent;
    struct Case {
        const char* what;
        const std::vector<TrustedKey>& trusted;
        SignatureFile file;
        bool allowUnsigned;
        const char* status;
        std::string line;
    } cases[] = {
        {"no keys, unsigned", none, absent, false, "none", "not signed"},
        {"no keys, signed", none, Signature(signature), false, "unverified",
         "signed by key " + id + ", but no trusted key is installed: not verified"},
        {"trusted, good", some, Signature(signature), false, "good",
         "signed by key " + id + ": firmware 4.1.0 for QVN, 2026-12-01"},
        {"trusted, unsigned", some, absent, false, "bad", "not signed"},
        {"trusted, unsigned, allowed", some, absent, true, "none",
         "not signed; sent because unsigned packages are allowed (--allow-unsigned)"},
        {"trusted, unreadable signature", some, {true, "", "signature file s: Permission denied"}, true, "bad",
         "signature file s: Permission denied"},
    };
    for (const Case& c : cases) {
        SignatureCheck check = CheckSignature(c.trusted, c.file, Package(), c.allowUnsigned);
        EXPECT_STREQ(SignatureStatusWord(check.status), c.status) << c.what;
        EXPECT_EQ(SignatureLine(check), c.line) << c.what;
    }
}

TEST_F(MinisignFiles, KeyFilesAreReadFromFoldersAndNamedWhenBroken) {
    std::filesystem::create_directory(folder_.File("keys"));
    std::filesystem::copy_file(File("k.pub"), folder_.File("keys/k.pub"));
    ASSERT_TRUE(WriteText(folder_.File("keys/notes.txt"), "not a key"));
    TrustedKeyLoad load = LoadTrustedKeys({folder_.File("keys"), folder_.File("missing")}, {File("other.pub")});
    EXPECT_EQ(load.error, "");
    ASSERT_EQ(load.keys.size(), 2u);
    EXPECT_EQ(MinisignKeyIdText(load.keys[0].key.id), PrintedId("k"));

    // "RW" starts base64 of "Ed"; "RU" of "ED", a signature's tag and no key's.
    std::string wrongTag = ReadText(File("k.pub"));
    wrongTag.replace(wrongTag.find("\nRW") + 1, 2, "RU");
    struct Case {
        const char* text;
        std::string error;
    } cases[] = {
        {"", "not a minisign public key (an \"untrusted comment:\" line, then the key)"},
        {"untrusted comment: x\nRWQ=\n", "the key is not 42 bytes of base64"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteText(folder_.File("bad.pub"), c.text));
        EXPECT_EQ(LoadTrustedKeys({}, {File("bad.pub")}).error, "trusted key " + File("bad.pub") + ": " + c.error);
    }
    ASSERT_TRUE(WriteText(folder_.File("bad.pub"), wrongTag));
    EXPECT_EQ(LoadTrustedKeys({}, {File("bad.pub")}).error,
              "trusted key " + File("bad.pub") + ": the key is not an Ed25519 key (its algorithm is not \"Ed\")");
}

}  // namespace
}  // namespace quorvane
