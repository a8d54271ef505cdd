#include "app/app_loops.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "app_test_support.h"

namespace quorvane {
namespace {

using testing::Prompt;
using testing::ScriptedChooser;
using testing::ScriptedNetwork;
using testing::ScriptedPrompter;
using testing::TestDevice;

const Prompt INVALID_BOX{false, 126, "Invalid Upgrade File", BOX_OK};

class FailingEndpoint final : public StartableEndpoint {
public:
    explicit FailingEndpoint(bool starts) : starts_(starts) {}
    bool Start() override {
        ++starts;
        return starts_;
    }
    void Close() override { ++closes; }
    int StartError() const override { return starts_ ? 0 : EADDRNOTAVAIL; }
    int starts = 0;
    int closes = 0;

private:
    bool starts_;
};

TEST(StartEndpoint, FailureClosesTheEndpointAndTellsTheUser) {
    FailingEndpoint endpoint(false);
    ScriptedPrompter prompter;
    EXPECT_FALSE(StartEndpoint(endpoint, prompter));
    EXPECT_EQ(endpoint.closes, 1);
    EXPECT_EQ(prompter.prompts,
              (std::vector<Prompt>{
                  {false, 103, "Network initialization failed. Cannot assign requested address", BOX_OK}}));
}

TEST(StartEndpoint, SuccessShowsNothing) {
    FailingEndpoint endpoint(true);
    ScriptedPrompter prompter;
    EXPECT_TRUE(StartEndpoint(endpoint, prompter));
    EXPECT_EQ(endpoint.starts, 1);
    EXPECT_EQ(endpoint.closes, 0);
    EXPECT_TRUE(prompter.prompts.empty());
}

TEST(StartEndpoint, RealEndpointOnLoopback) {
    EndpointOptions options;
    options.broadcastAddress = testing::LOCALHOST;  // nothing is sent; only the socket is opened
    UdpEndpoint endpoint(options);
    ScriptedPrompter prompter;
    EXPECT_TRUE(StartEndpoint(endpoint, prompter));
    EXPECT_TRUE(endpoint.IsOpen());
    EXPECT_TRUE(prompter.prompts.empty());
}

// Every test here may change the working directory; it is put back after.
class LoopTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::current_path(startFolder_); }

    std::filesystem::path startFolder_ = std::filesystem::current_path();
    test::TempFolder scratch_;
    UpgradePackage package_;
    ScriptedPrompter prompter_;
    ScriptedChooser chooser_;
};

TEST_F(LoopTest, CancelEndsThePackageLoopWithoutAnyBox) {
    EXPECT_EQ(RunPackageLoop(chooser_, package_, prompter_), std::nullopt);
    EXPECT_EQ(chooser_.prompts, 1);
    EXPECT_TRUE(prompter_.prompts.empty());
    EXPECT_FALSE(package_.IsOpen());
}

TEST_F(LoopTest, APackageItsSignatureRefusesIsToldAsInvalidAndAskedForAgain) {
    const auto good = testing::WriteTestPackage(scratch_.Path(), "Good.upk");
    TrustOptions trust;
    trust.signature = scratch_.Path() / "Good.sig";
    chooser_.choices = {good};
    EXPECT_EQ(RunPackageLoop(chooser_, package_, prompter_, {}, trust), std::nullopt);
    const Prompt refused{
        false, 126, "Invalid Upgrade File\n\nerror: signature file " + trust.signature->string() +
                        ": No such file or directory", 0};
    EXPECT_EQ(prompter_.prompts, std::vector<Prompt>{refused});
    EXPECT_EQ(chooser_.prompts, 2);
    EXPECT_FALSE(package_.IsOpen());
}

TEST_F(LoopTest, InvalidFilesAreReportedAndAskedForAgain) {
    const auto folder = scratch_.Path() / "packages";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "notes.txt") << "not a package\n";
    const auto good = testing::WriteTestPackage(folder, "Good.upk");
    chooser_.choices = {folder / "notes.txt", folder / "missing.upk", good};
    EXPECT_EQ(RunPackageLoop(chooser_, package_, prompter_), std::optional<std::string>("Good.upk"));
    // A file that is not there says so before the package is called invalid.
    const Prompt missing{
        false, 126, (folder / "missing.upk").string() + ": No such file or directory\nInvalid Upgrade File",
        0};
    EXPECT_EQ(prompter_.prompts, (std::vector<Prompt>{INVALID_BOX, missing}));
    EXPECT_EQ(chooser_.prompts, 3);
    EXPECT_TRUE(package_.IsOpen());
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), folder));
}

TEST_F(LoopTest, PackageCheckErrorsRefuseThePackageAndWarningsAreShownOnce) {
    const auto folder = scratch_.Path();
    const auto keys = testing::TEST_RESTRICTIONS;
    WritePackage(folder / "error.upk", StandardMembers("ERASE 1\nLOAD fw.bin 0x10:0\n", keys));
    WritePackage(folder / "warn.upk", StandardMembers("FOO\nRESET\n", keys));
    chooser_.choices = {folder / "error.upk", folder / "warn.upk"};
    EXPECT_EQ(RunPackageLoop(chooser_, package_, prompter_), std::optional<std::string>("warn.upk"));
    EXPECT_EQ(prompter_.prompts,
              (std::vector<Prompt>{{false, 126,
                                    "Invalid Upgrade File\n\nerror: program.cmd:2: LOAD names member "
                                    "'FW.BIN', which the package lacks",
                                    BOX_OK},
                                   {false, 160,
                                    "The upgrade file opened with these warnings:\n\nwarning: program.cmd:1: "
                                    "unknown keyword 'FOO' is skipped",
                                    BOX_OK | ICON_INFORMATION}}));
}

TEST_F(LoopTest, RelativeChoiceOpensFromItsOwnFolder) {
    const auto folder = scratch_.Path() / "sub";
    std::filesystem::create_directories(folder);
    testing::WriteTestPackage(folder, "rel.upk");
    std::filesystem::current_path(scratch_.Path());
    chooser_.choices = {std::filesystem::path("sub") / "rel.upk"};
    EXPECT_EQ(RunPackageLoop(chooser_, package_, prompter_), std::optional<std::string>("rel.upk"));
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), folder));
    EXPECT_TRUE(prompter_.prompts.empty());
}

TEST_F(LoopTest, CancelAfterAnInvalidFileEndsTheLoop) {
    std::ofstream(scratch_.Path() / "bad.upk") << "x";
    chooser_.choices = {scratch_.Path() / "bad.upk", std::nullopt};
    EXPECT_EQ(RunPackageLoop(chooser_, package_, prompter_), std::nullopt);
    EXPECT_EQ(prompter_.prompts, std::vector<Prompt>{INVALID_BOX});
    EXPECT_FALSE(package_.IsOpen());
}

// Shows the dialog by answering from a queue, and checks at the start of
// every admission pass that the previous showing left nothing behind.
class ScriptedScreen final : public DeviceListScreen, public SearchIndicator {
public:
    explicit ScriptedScreen(DeviceChain& chain) : chain_(chain) {}

    void SearchStarted() override {
        ++searches;
        searching = true;
        EXPECT_TRUE(chain_.Empty()) << "pass " << searches;
        if (lastDevices) {
            EXPECT_TRUE(lastDevices->empty()) << "pass " << searches;
            EXPECT_EQ(lastDevices->capacity(), 0u) << "pass " << searches;
        }
    }
    void SearchEnded() override { searching = false; }

    int Show(const std::string& packageName, UpgradePackage& package,
             std::vector<AdmittedDevice>& devices) override {
        EXPECT_FALSE(searching);
        EXPECT_TRUE(package.IsOpen());
        names.push_back(packageName);
        shown.push_back(devices.size());
        lastDevices = &devices;
        if (results.empty()) return DIALOG_CANCEL;
        const int result = results.front();
        results.pop_front();
        return result;
    }

    std::deque<int> results;
    std::vector<std::string> names;
    std::vector<std::size_t> shown;
    int searches = 0;
    bool searching = false;
    const std::vector<AdmittedDevice>* lastDevices = nullptr;

private:
    DeviceChain& chain_;
};

TEST_F(LoopTest, DialogLoopRepeatsUntilDoneThenClosesThePackage) {
    ScriptedNetwork fleet({TestDevice({0, 0x50, 0xC2, 1, 1, 1}), TestDevice({0, 0x50, 0xC2, 1, 1, 2})});
    ASSERT_TRUE(package_.Open(testing::WriteTestPackage(scratch_.Path())));
    const auto extracted = package_.WorkFile("PROGRAM.CMD");
    ASSERT_TRUE(std::filesystem::exists(extracted));
    ScriptedScreen screen(fleet.chain);
    screen.results = {1004, DIALOG_OK, DIALOG_CANCEL};
    Restrictions restrictions;

    RunDialogLoop("test.upk", package_, fleet.protocol, restrictions, screen, &screen);

    EXPECT_EQ(screen.shown, (std::vector<std::size_t>{2, 2, 2}));
    EXPECT_EQ(screen.names, (std::vector<std::string>(3, "test.upk")));
    EXPECT_EQ(screen.searches, 3);
    EXPECT_EQ(fleet.Sends(OP_DISCOVER), 3);
    EXPECT_TRUE(fleet.chain.Empty());
    EXPECT_FALSE(package_.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(extracted));
    EXPECT_FALSE(std::filesystem::exists(extracted.parent_path()));
}

// A search nobody answered is followed by the desktop program's hint, once;
// the empty list is shown all the same.
TEST_F(LoopTest, ASearchNoDeviceAnsweredGivesTheHintOnce) {
    ScriptedNetwork fleet;  // no device at all
    ASSERT_TRUE(package_.Open(testing::WriteTestPackage(scratch_.Path())));
    ScriptedScreen screen(fleet.chain);
    screen.results = {DIALOG_REFRESH, DIALOG_CANCEL};
    Restrictions restrictions;
    ScriptedPrompter prompter;
    EndpointOptions endpoint;
    endpoint.broadcastAddress = 0x7F000001;
    const NoDeviceHelp help{prompter, endpoint};
    RunDialogLoop("test.upk", package_, fleet.protocol, restrictions, screen, nullptr, nullptr, {}, &help);
    EXPECT_EQ(screen.shown, (std::vector<std::size_t>{0, 0}));
    EXPECT_EQ(
        prompter.prompts,
        (std::vector<Prompt>{{false, 194,
                              "No device answered the discovery sent by lo (127.0.0.1) to 127.0.0.1 port "
                              "4101\nThe program started with --interface NAME sends by another interface\n"
                              "A host firewall must let the replies in, for example: sudo nft add rule "
                              "inet filter input udp sport 4101 accept",
                              BOX_OK | ICON_INFORMATION}}));
}

TEST_F(LoopTest, DialogShownEvenWhenNoDeviceIsAdmitted) {
    ScriptedNetwork fleet({TestDevice({0, 0x50, 0xC2, 1, 1, 1}, {.vendorId = 0x2222})});
    ASSERT_TRUE(package_.Open(testing::WriteTestPackage(scratch_.Path())));
    ScriptedScreen screen(fleet.chain);
    Restrictions restrictions;
    RunDialogLoop("test.upk", package_, fleet.protocol, restrictions, screen);
    EXPECT_EQ(screen.shown, std::vector<std::size_t>{0});
    EXPECT_FALSE(package_.IsOpen());
}

}  // namespace
}  // namespace quorvane
