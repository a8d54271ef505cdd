// Signed packages end to end: keys and signatures made by the minisign
// program, upgradectl enforcing the trust policy against devsim. A refused
// package sends nothing at all, not even discovery.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "upgradectl_fixture.h"

namespace quorvane::testing {
namespace {

using nlohmann::json;

const std::string COMMENT = "firmware 4.1.0 for QVN, 2026-12-01";

class SignedPackages : public UpgradectlEndToEnd {
protected:
    void SetUp() override {
        StartSimulator({"--devices", "1"});
        package_ = MakePackage(ADMIT_ALL);
        other_ = MakePackage(ADMIT_ALL, SCRIPT + "; another package\n");
        ASSERT_TRUE(Minisign("-G -W -p " + Path("trusted.pub") + " -s " + Path("trusted.key")))
            << "the minisign program is needed (scripts/setup installs it)";
        ASSERT_TRUE(Minisign("-G -W -p " + Path("stranger.pub") + " -s " + Path("stranger.key")));
        ASSERT_TRUE(Sign("trusted", package_, "good.minisig"));
        ASSERT_TRUE(Sign("trusted", other_, "mismatch.minisig"));
        ASSERT_TRUE(Sign("stranger", package_, "stranger.minisig"));
    }
    bool Minisign(const std::string& arguments) {
        return std::system(("minisign " + arguments + " >/dev/null 2>&1").c_str()) == 0;
    }
    bool Sign(const std::string& key, const fs::path& package, const std::string& out) {
        return Minisign("-S -s " + Path(key + ".key") + " -m " + package.string() + " -x " + Path(out) + " -t '" +
                        COMMENT + "'");
    }
    std::string Path(const std::string& name) const { return (Dir() / name).string(); }
    // The id minisign prints in the public key's comment.
    std::string KeyId(const std::string& name) const {
        const std::string text = ReadFileText(Dir() / (name + ".pub"));
        const std::size_t start = text.find("public key ") + 11;
        return text.substr(start, text.find('\n') - start);
    }
    // The signature beside the package: one of SetUp's, or none.
    void Beside(const std::string& signature) {
        const fs::path target = package_.string() + ".minisig";
        fs::remove(target);
        if (!signature.empty()) fs::copy_file(Dir() / signature, target);
    }
    void InstallKey() {
        fs::create_directories(Dir() / "config/quorvane-upgrade/trusted-keys");
        fs::copy_file(Dir() / "trusted.pub", Dir() / "config/quorvane-upgrade/trusted-keys/trusted.pub");
    }

    fs::path package_;
    fs::path other_;
};

TEST_F(SignedPackages, ThePolicyRunsGoodOnesAndSendsNothingForTheOthers) {
    const std::string trusted = KeyId("trusted");
    const struct Case {
        const char* what;
        const char* keys;  // "": none; "flag": --trusted-key; "folder": the user's key folder
        const char* signature;
        bool allowUnsigned;
        int exitCode;
        std::string line;
    } cases[] = {
        {"nothing trusted, nothing signed", "", "", false, 0, "[1/1 02:00:00:00:00:01] upgraded"},
        {"signed, nothing to verify with", "", "good.minisig", false, 0,
         "warning: signed by key " + trusted + ", but no trusted key is installed: not verified"},
        {"good, key given", "flag", "good.minisig", false, 0, "upgradectl: signed by key " + trusted + ": " + COMMENT},
        {"good, key installed", "folder", "good.minisig", false, 0,
         "upgradectl: signed by key " + trusted + ": " + COMMENT},
        {"unsigned", "flag", "", false, 2, "error: not signed"},
        {"unsigned but allowed", "flag", "", true, 0,
         "warning: not signed; sent because unsigned packages are allowed (--allow-unsigned)"},
        {"another package's", "flag", "mismatch.minisig", false, 2, "error: signature does not match the package"},
        {"another package's, unsigned allowed", "folder", "mismatch.minisig", true, 2,
         "error: signature does not match the package"},
        {"an untrusted key's", "folder", "stranger.minisig", false, 2,
         "error: signed by key " + KeyId("stranger") + ", which is not trusted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(Dir() / "config");
        if (std::string(c.keys) == "folder") InstallKey();
        Beside(c.signature);
        std::vector<std::string> args;
        if (std::string(c.keys) == "flag") args = {"--trusted-key", Path("trusted.pub")};
        if (c.allowUnsigned) args.push_back("--allow-unsigned");
        for (const char* arg : {"upgrade", "--all", "--yes"}) args.push_back(arg);
        args.push_back(package_.string());
        const std::size_t before = Sim().Log().size();
        const ProcessResult result = Ctl(args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.err.find(c.line + "\n"), std::string::npos) << result.err;
        const std::string received = Sim().Log().substr(before);
        if (c.exitCode == 2) {
            EXPECT_NE(result.err.find("upgradectl: the package is not trusted; nothing was sent\n"), std::string::npos);
            EXPECT_EQ(CountLines(received, "rx "), 0) << received;
        } else {
            EXPECT_GT(ProgrammingRequests(received), 0) << received;
        }
    }
}

TEST_F(SignedPackages, CheckJsonEventsAndDryRunNameTheSigner) {
    const std::string trusted = KeyId("trusted");
    Beside("good.minisig");
    const std::string key = Path("trusted.pub");
    const ProcessResult check = Ctl({"--trusted-key", key, "--json", "check", package_.string()});
    ASSERT_EQ(check.exitCode, 0) << check.err;
    EXPECT_EQ(json::parse(check.out).at("signature"),
              json({{"status", "good"}, {"key_id", trusted}, {"trusted_comment", COMMENT}, {"reason", nullptr}}));
    const ProcessResult text = Ctl({"--trusted-key", key, "check", package_.string()});
    EXPECT_NE(text.err.find("signature: signed by key " + trusted + ": " + COMMENT + "\n"), std::string::npos)
        << text.err;

    const ProcessResult dry = Ctl({"--trusted-key", key, "upgrade", "--all", "--yes", "--dry-run", package_.string()});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_EQ(dry.out.rfind("signature: signed by key " + trusted + ": " + COMMENT + "\n", 0), 0u) << dry.out;

    const ProcessResult run = Ctl({"--trusted-key", key, "--events", Path("events.jsonl"), "--json", "upgrade",
                                   "--all", "--yes", package_.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(json::parse(run.out).at("key_id"), trusted);
    std::istringstream events(ReadFileText(Dir() / "events.jsonl"));
    int signedEvents = 0;
    for (std::string line; std::getline(events, line);) {
        const json event = json::parse(line);
        if (event.at("event") == "admitted" || event.at("event") == "run-done") {
            EXPECT_EQ(event.at("key_id"), trusted) << line;
            ++signedEvents;
        }
    }
    EXPECT_EQ(signedEvents, 2);

    Beside("stranger.minisig");
    const ProcessResult refused = Ctl({"--trusted-key", key, "--json", "check", package_.string()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(json::parse(refused.out).at("signature").at("status"), "bad");
}

}  // namespace
}  // namespace quorvane::testing
