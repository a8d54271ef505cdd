// upgradectl against the device simulator, both as real processes talking
// UDP over 127.0.0.1.

#include <gtest/gtest.h>
#include <signal.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "package/package_writer.h"
#include "upgradectl_fixture.h"
#include "upgradectl_process.h"

namespace quorvane::testing {
namespace {

using nlohmann::json;

struct ExpectedDevice {
    const char* mac;
    const char* name;
    const char* firmware;
    const char* type;
    int vendorId;
    int deviceId;
};

// The simulator's first three default devices.
const ExpectedDevice DEFAULT_DEVICES[] = {
    {"02:00:00:00:00:01", "Press Line 1", "v QVN 4.0.2 01/01/15", "Single Serial (DB9)", 0x1407, 0x70FC},
    {"02:00:00:00:00:02", "Dock Printer 2", "v QVN 4.1.9 02/06/16", "Dual Serial (RJ45)", 0x1000, 0x68F8},
    {"02:00:00:00:00:03", "Boiler Gate 3", "v QVS 4.2.6 03/11/17", "8-Port USIA (Cabled)", 0x1407, 0x50D8},
};

// A device entry of the upgrade report without the counters, which vary with the network.
json WithoutCounters(json device) {
    for (const char* key :
         {"sends", "resends", "timeouts", "bad_echoes", "rtt_ms", "bytes", "seconds", "verify_seconds"})
        EXPECT_EQ(device.erase(key), 1u) << key;
    return device;
}

std::set<std::string> Macs(const json& devices) {
    std::set<std::string> macs;
    for (const auto& device : devices) macs.insert(device.at("mac").get<std::string>());
    return macs;
}

TEST_F(UpgradectlEndToEnd, DiscoverListsEveryAnsweringDeviceAsTableAndJson) {
    StartSimulator({"--devices", "3"});
    const auto text = Ctl({"discover"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(std::regex_search(text.out, std::regex("^Name +MAC +Firmware Date +Device Type +IP\n")))
        << text.out;
    for (const auto& device : DEFAULT_DEVICES) {
        const std::string row = std::string(device.name) + " +" + device.mac + " +" + device.firmware + " +" +
                                std::regex_replace(device.type, std::regex("[()]"), "\\$&") +
                                " +127\\.0\\.0\\.1";
        EXPECT_TRUE(std::regex_search(text.out, std::regex(row))) << row << "\n" << text.out;
    }

    // Global options before the command are accepted as well.
    const auto machine = RunProcess({UPGRADECTL_PATH, "--json", "--broadcast", "127.0.0.1", "--port",
                                     std::to_string(Sim().Port()), "--wait-ms", "100", "discover"},
                                    Dir(), 30s);
    ASSERT_EQ(machine.exitCode, 0) << machine.err;
    const json devices = json::parse(machine.out);
    ASSERT_EQ(devices.size(), 3u);
    for (const auto& expected : DEFAULT_DEVICES) {
        const auto found = std::find_if(devices.begin(), devices.end(),
                                        [&](const json& d) { return d.at("mac") == expected.mac; });
        ASSERT_NE(found, devices.end()) << expected.mac;
        const json want = {
            {"name", expected.name},         {"mac", expected.mac}, {"firmware", expected.firmware},
            {"type", expected.type},         {"ip", "127.0.0.1"},   {"vendorId", expected.vendorId},
            {"deviceId", expected.deviceId}, {"productId", 0x0101}, {"revisionId", 4}};
        EXPECT_EQ(*found, want);
    }
}

std::vector<std::string> MacOrder(const json& devices) {
    std::vector<std::string> macs;
    for (const auto& device : devices) macs.push_back(device.at("mac").get<std::string>());
    return macs;
}

TEST_F(UpgradectlEndToEnd, DiscoverListsASilentDeviceWithEmptyTextsButThePackageLeavesItOut) {
    StartSimulator({"--devices", "3", "--silent", "GET_INFO", "--fault-device", "02:00:00:00:00:02"});
    const auto all = Ctl({"discover", "--json"});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    const json devices = json::parse(all.out);
    // Chain order: the newest discovery reply first, as the simulator answers 1, 2, 3.
    EXPECT_EQ(MacOrder(devices),
              (std::vector<std::string>{"02:00:00:00:00:03", "02:00:00:00:00:02", "02:00:00:00:00:01"}));
    ASSERT_EQ(devices.size(), 3u);
    const json silent = {{"name", "00 00 02"},    {"mac", "02:00:00:00:00:02"},
                         {"firmware", "Upgrade"}, {"type", "Unknown (Unknown)"},
                         {"ip", "127.0.0.1"},     {"vendorId", 0},
                         {"deviceId", 0},         {"productId", 0},
                         {"revisionId", 0}};
    EXPECT_EQ(devices[1], silent);
    EXPECT_NE(all.err.find("no information reply from 02:00:00:00:00:02"), std::string::npos) << all.err;

    const auto admitted = Ctl({"discover", "--json", "--package", MakePackage(ADMIT_ALL).string()});
    ASSERT_EQ(admitted.exitCode, 0) << admitted.err;
    EXPECT_EQ(MacOrder(json::parse(admitted.out)),
              (std::vector<std::string>{"02:00:00:00:00:03", "02:00:00:00:00:01"}));
}

// Device names are bytes from the network: JSON output must stay valid.
TEST_F(UpgradectlEndToEnd, DiscoverJsonSurvivesNamesThatAreNotUtf8) {
    WriteFileText(Dir() / "profile", "mac=02:00:00:00:00:07 name=\"Odd\xff\xfe\"\n");
    StartSimulator({"--profile", (Dir() / "profile").string()});
    const auto result = Ctl({"discover", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json devices = json::parse(result.out);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].at("name"), "Odd\xef\xbf\xbd\xef\xbf\xbd");  // each bad byte replaced by U+FFFD
    const auto text = Ctl({"discover"});
    EXPECT_NE(text.out.find("Odd\xc3\xbf\xc3\xbe "), std::string::npos)
        << "the table shows a name that is not UTF-8 as Latin-1, in UTF-8";
}

TEST_F(UpgradectlEndToEnd, DiscoverWithPackageListsExactlyTheAdmittedDevices) {
    StartSimulator({"--devices", "3"});
    struct Case {
        const char* restrictions;
        std::set<std::string> admitted;
    };
    const Case cases[] = {
        {"PRODUCTID 1\nVENDORID 0x1407\nREVISIONID 0\nDEFAULT 0\n",
         {"02:00:00:00:00:01", "02:00:00:00:00:02", "02:00:00:00:00:03"}},
        // 0x1000 admits only itself, not the primary vendor.
        {"PRODUCTID 1\nVENDORID 0x1000\nREVISIONID 0\nDEFAULT 0\n", {"02:00:00:00:00:02"}},
        // Bits 0-1 of the low byte are ignored: 0xFB matches 0xF8.
        {"PRODUCTID 1\nVENDORID 0x1407\nDEVICEID 0xFB,0xD8\nREVISIONID 0\nDEFAULT 0\n",
         {"02:00:00:00:00:02", "02:00:00:00:00:03"}},
        // Without DEFAULT the pass ends before discovery.
        {"PRODUCTID 1\nVENDORID 0x1407\nREVISIONID 0\n", {}},
    };
    for (const auto& c : cases) {
        const fs::path package = MakePackage(c.restrictions);
        const auto result = Ctl({"discover", "--package", package.string(), "--json"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(Macs(json::parse(result.out)), c.admitted) << c.restrictions;
    }
}

TEST_F(UpgradectlEndToEnd, InspectJsonShowsMembersKeysAsParsedAndScriptLines) {
    const std::string restrictions =
        "; comment\nproductid 0x0101\nVENDORID 0x1407 extra\nVENDORID 010\nMAC 02-00-00-00-00-0a\n"
        "REVISIONID 4\nDEFAULT 0\n";
    const fs::path package = MakePackage(restrictions);
    const auto result = Ctl({"inspect", package.string(), "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json report = json::parse(result.out);
    const json members = json::array({{{"name", "program.cmd"}, {"size", SCRIPT.size()}},
                                      {{"name", "restriction.ini"}, {"size", restrictions.size()}},
                                      {{"name", "image.bin"}, {"size", 3001}}});
    EXPECT_EQ(report.at("members"), members);
    // Lower-case key found, three-token line skipped, octal value, MAC as text, no DEVICEID.
    const json keys = {{"PRODUCTID", 0x0101},
                       {"VENDORID", 8},
                       {"REVISIONID", 4},
                       {"DEFAULT", 0},
                       {"MAC", "02-00-00-00-00-0a"}};
    EXPECT_EQ(report.at("restrictions"), keys);
    EXPECT_EQ(report.at("script"),
              json::array({"; test upgrade", "SETPROGRAMMODE", "ERASE 1", "LOAD image.bin 1:0",
                           "READ readback.bin 1:0 3001", "RESET"}));

    EXPECT_EQ(Ctl({"inspect", (Dir() / "missing.upk").string()}).exitCode, 2);
}

TEST_F(UpgradectlEndToEnd, PackAndUnpackRoundTripEveryMember) {
    const fs::path package = MakePackage(ADMIT_ALL);
    const auto result = Ctl({"unpack", package.string(), (Dir() / "out").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFileText(Dir() / "out" / "program.cmd"), SCRIPT);
    EXPECT_EQ(ReadFileText(Dir() / "out" / "restriction.ini"), ADMIT_ALL);  // unscrambled again
    EXPECT_EQ(ReadFileBytes(Dir() / "out" / "image.bin"), Image());
    // Stored scrambled: the plain text does not appear in the package.
    EXPECT_EQ(ReadFileText(package).find("PRODUCTID"), std::string::npos);
}

TEST_F(UpgradectlEndToEnd, PackAndUnpackRefuseNamesThatWouldBeShadowedOrEscape) {
    const fs::path source = Dir() / "source";
    fs::create_directories(source / "sub");
    WriteFileText(source / "program.cmd", SCRIPT);
    WriteFileText(source / "restriction.ini", ADMIT_ALL);
    WriteFileText(source / "sub" / "PROGRAM.CMD", "not the script");
    const auto shadowed = Ctl(
        {"pack", (Dir() / "bad.upk").string(), "--script", (source / "program.cmd").string(),
         "--restrictions", (source / "restriction.ini").string(), (source / "sub" / "PROGRAM.CMD").string()});
    EXPECT_EQ(shadowed.exitCode, 2);
    EXPECT_FALSE(fs::exists(Dir() / "bad.upk"));

    // The package must not replace one of its own sources.
    const auto overwrite =
        Ctl({"pack", (source / "program.cmd").string(), "--script", (source / "program.cmd").string(),
             "--restrictions", (source / "restriction.ini").string()});
    EXPECT_EQ(overwrite.exitCode, 2);
    EXPECT_EQ(ReadFileText(source / "program.cmd"), SCRIPT);

    // Unpacking into the package's own folder never writes over the package.
    const fs::path self = Dir() / "self";
    fs::create_directories(self);
    const fs::path selfPackage = self / "x.upk";
    WriteFileText(source / "x.upk", "member named like its package");
    WriteFileBytes(source / "image.bin", Image());
    ASSERT_EQ(Ctl({"pack", selfPackage.string(), "--script", (source / "program.cmd").string(),
                   "--restrictions", (source / "restriction.ini").string(), (source / "x.upk").string(),
                   (source / "image.bin").string()})
                  .exitCode,
              0);
    const std::string before = ReadFileText(selfPackage);
    EXPECT_EQ(Ctl({"unpack", selfPackage.string(), self.string()}).exitCode, 2);
    EXPECT_EQ(ReadFileText(selfPackage), before);

    // A package built by another tool, with a member that climbs out of the folder.
    std::vector<uint8_t> bytes;
    auto member = [&bytes](const std::string& name, const std::string& data, bool scramble) {
        const uint32_t n = static_cast<uint32_t>(name.size());
        const uint32_t d = static_cast<uint32_t>(data.size());
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(n >> (8 * i)));
        bytes.insert(bytes.end(), name.begin(), name.end());
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(d >> (8 * i)));
        for (std::size_t i = 0; i < data.size(); ++i)
            bytes.push_back(static_cast<uint8_t>(data[i] ^ (scramble ? "KWX"[(i % 256) % 3] : 0)));
        if (d % 2) bytes.push_back(0);
    };
    member("program.cmd", SCRIPT, false);
    member("restriction.ini", ADMIT_ALL, true);
    member("../escaped.bin", "evil", false);
    bytes.insert(bytes.end(), 4, 0xFF);
    WriteFileBytes(Dir() / "evil.upk", bytes);
    const auto refused = Ctl({"unpack", (Dir() / "evil.upk").string(), (Dir() / "out" / "inner").string()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_FALSE(fs::exists(Dir() / "out" / "escaped.bin"));
    EXPECT_FALSE(fs::exists(Dir() / "out" / "inner" / "program.cmd"));
}

TEST_F(UpgradectlEndToEnd, UpgradeAllLoadsTheImageAndReadsItBack) {
    StartSimulator({"--devices", "3", "--block-size", "512"});
    // In turn and side by side alike.
    for (const char* jobs : {"1", "0"}) {
        const fs::path package = MakePackage(ADMIT_ALL);
        const auto result = Ctl({"upgrade", package.string(), "--all", "--yes", "--jobs", jobs});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(Occurrences(result.err, WARNING_TEXT), 1);
        EXPECT_EQ(Occurrences(result.err, COMPLETE_TEXT), 1);
        EXPECT_EQ(result.err.find("\x1b["), std::string::npos) << "no progress bar without a terminal";
        // READ output goes beside the package, under the upper-cased name with
        // each device's MAC before the extension: three devices, three files.
        for (const char* name :
             {"READBACK-020000000001.BIN", "READBACK-020000000002.BIN", "READBACK-020000000003.BIN"}) {
            EXPECT_EQ(ReadFileBytes(package.parent_path() / name), Image()) << name << " --jobs " << jobs;
            fs::remove(package.parent_path() / name);
        }
        EXPECT_FALSE(fs::exists(package.parent_path() / "READBACK.BIN"));
    }
    ASSERT_TRUE(Sim().Stop());
    for (const char* stem : {"020000000001", "020000000002", "020000000003"})
        EXPECT_EQ(Sim().Memory(stem), Image()) << stem;
}

std::vector<std::string> Keys(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

TEST_F(UpgradectlEndToEnd, JobsUpgradeDevicesSideBySideWithOneEventStream) {
    StartSimulator({"--devices", "3", "--block-size", "512"});
    const fs::path package = MakePackage(ADMIT_ALL, "SETPROGRAMMODE\nERASE 1\nLOAD image.bin 1:0\nRESET\n");
    EXPECT_EQ(Ctl({"--events", "-", "--json", "upgrade", package.string(), "--all", "--yes"}).exitCode, 2)
        << "both would write to stdout";
    // Each device READs into a file of its own, which no other output may be.
    const auto clash = Ctl({"--capture", "READBACK-020000000002.BIN", "upgrade", MakePackage(ADMIT_ALL).string(),
                            "--all", "--yes", "--jobs", "2"});
    EXPECT_EQ(clash.exitCode, 2);
    EXPECT_NE(clash.err.find("--capture READBACK-020000000002.BIN and the READ of program.cmd line 5 (" +
                             (Dir() / "READBACK-020000000002.BIN").string() + ") are one file"),
              std::string::npos)
        << clash.err;
    EXPECT_EQ(ProgrammingRequests(Sim().Log()), 0);
    const fs::path events = Dir() / "events.jsonl";
    const fs::path capture = Dir() / "fleet.pcap";
    const auto result = Ctl({"--events", events.string(), "--capture", capture.string(), "upgrade",
                             package.string(), "--all", "--yes", "--jobs", "0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Occurrences(result.err, COMPLETE_TEXT), 1);

    std::istringstream lines(ReadFileText(events));
    std::map<std::string, std::vector<nlohmann::ordered_json>> byName;
    std::vector<std::string> order;
    double last = 0;
    for (std::string line; std::getline(lines, line);) {
        const auto event = nlohmann::ordered_json::parse(line);
        const auto keys = Keys(event);
        ASSERT_GE(keys.size(), 2u) << line;
        EXPECT_EQ(keys[0], "event");
        EXPECT_EQ(keys[1], "t");
        EXPECT_GE(event.at("t").get<double>(), last) << line;
        last = event.at("t").get<double>();
        order.push_back(event.at("event"));
        byName[event.at("event")].push_back(event);
    }
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front(), "run-start");
    EXPECT_EQ(order.back(), "run-done");
    ASSERT_EQ(byName["discovered"].size(), 1u);
    EXPECT_EQ(byName["discovered"][0].at("count"), 3);
    EXPECT_EQ(byName["admitted"].size(), 3u);
    EXPECT_EQ(byName["device-start"].size(), 3u);
    EXPECT_EQ(byName["line"].size(), 12u) << "four script lines on each of three devices";
    const auto runDone = byName["run-done"].at(0);
    EXPECT_EQ(runDone.at("ok"), 3);
    EXPECT_EQ(runDone.at("failed"), 0);
    EXPECT_EQ(runDone.at("exit_code"), 0);
    ASSERT_EQ(byName["device-done"].size(), 3u);
    for (const nlohmann::ordered_json& done : byName["device-done"]) {
        EXPECT_EQ(Keys(done),
                  (std::vector<std::string>{"event", "t", "mac", "ok", "succeeded", "attempts", "sends",
                                            "resends", "timeouts", "bad_echoes", "rtt_ms", "bytes", "seconds",
                                            "firmware_before", "firmware_after", "verify", "verify_seconds"}));
        EXPECT_EQ(done.at("ok"), true);
        EXPECT_EQ(done.at("bytes"), 3001);
        // SETPROGRAMMODE, ERASE, LOAD (begin, 6 blocks, verify), RESET.
        EXPECT_EQ(done.at("sends").get<int>() - done.at("resends").get<int>(), 11) << done;
        EXPECT_EQ(Keys(done.at("rtt_ms")), (std::vector<std::string>{"min", "avg", "max"}));
    }
    std::set<std::string> finished;
    for (const nlohmann::ordered_json& progress : byName["progress"])
        if (progress.at("done") == 3001 && progress.at("total") == 3001) finished.insert(progress.at("mac"));
    EXPECT_EQ(finished,
              (std::set<std::string>{"02:00:00:00:00:01", "02:00:00:00:00:02", "02:00:00:00:00:03"}));
    // Every socket records into the one capture: discovery and the three
    // information queries with their replies (10), then 11 requests and 11
    // replies per device.
    const std::vector<uint8_t> pcap = ReadFileBytes(capture);
    std::size_t records = 0;
    for (std::size_t at = 24; at + 16 <= pcap.size(); ++records)
        at += 16 + (pcap[at + 8] | pcap[at + 9] << 8 | pcap[at + 10] << 16 | pcap[at + 11] << 24);
    EXPECT_GE(records, 10u + 3 * 22) << "the devices' own sockets are recorded too";
    ASSERT_TRUE(Sim().Stop());
    for (const char* stem : {"020000000001", "020000000002", "020000000003"})
        EXPECT_EQ(Sim().Memory(stem), Image()) << stem;
}

TEST_F(UpgradectlEndToEnd, UpgradeByMacTouchesOnlyThatDeviceAndReportsJson) {
    StartSimulator({"--devices", "3"});
    const fs::path package = MakePackage(ADMIT_ALL);
    const auto result = Ctl({"--json", "upgrade", package.string(), "--mac", "02-00-00-00-00-0A", "--yes"});
    EXPECT_EQ(result.exitCode, 2) << "no admitted device has this MAC";
    EXPECT_EQ(Ctl({"upgrade", package.string(), "--mac", "02:00:00:00:00", "--yes"}).exitCode, 2);
    EXPECT_EQ(
        Ctl({"upgrade", package.string(), "--mac", "02:00:00:00:00:01,02:00:00:00:00:0C", "--yes"}).exitCode,
        2);
    EXPECT_EQ(ProgrammingRequests(Sim().Log()), 0);

    // MACs may also follow one --mac as positionals, before the package.
    const auto chosen =
        Ctl({"upgrade", "--mac", "02:00:00:00:00:0B", "02-00-00-00-00-02", package.string(), "--yes"});
    EXPECT_EQ(chosen.exitCode, 2) << "one unknown MAC refuses the whole selection";
    EXPECT_EQ(ProgrammingRequests(Sim().Log()), 0);

    const auto upgraded = Ctl({"upgrade", package.string(), "--mac", "02-00-00-00-00-02", "--yes", "--json"});
    ASSERT_EQ(upgraded.exitCode, 0) << upgraded.err;
    const json report = json::parse(upgraded.out);
    EXPECT_EQ(report.at("exitCode"), 0);
    EXPECT_EQ(report.at("succeeded"), 1);
    ASSERT_EQ(report.at("devices").size(), 1u);
    json device = report.at("devices")[0];
    // SETPROGRAMMODE, ERASE, LOAD (begin, 6 blocks, verify), READ (24 requests), RESET: 35 first sends.
    EXPECT_EQ(device.at("sends").get<int>() - device.at("resends").get<int>(), 35) << device;
    EXPECT_EQ(device.at("bytes"), 6002) << "3001 loaded and 3001 read back";
    EXPECT_EQ(WithoutCounters(device),
              json({{"mac", "02:00:00:00:00:02"},
                    {"result", "upgraded"},
                    {"attempts", 1},
                    {"succeeded", true},
                    {"ok", true},
                    {"firmware_before", "v QVN 4.1.9 02/06/16"},
                    {"firmware_after", "v QVN 4.1.9 02/06/16"},
                    {"verify", "unchanged"}}));
    ASSERT_TRUE(Sim().Stop());
    EXPECT_EQ(Sim().Memory("020000000002"), Image());
    EXPECT_TRUE(Sim().Memory("020000000001").empty());
    EXPECT_TRUE(Sim().Memory("020000000003").empty());
}

TEST_F(UpgradectlEndToEnd, RefusalsExitThreeBeforeAnyProgrammingRequest) {
    // Four devices: the fourth reports product 0x0202, the others 0x0101.
    StartSimulator({"--devices", "4"});
    struct Case {
        const char* what;
        std::string restrictions;
        std::vector<std::string> options;
        const std::string& message;
    };
    const Case cases[] = {
        {"product",
         "PRODUCTID 0x0202\nVENDORID 0x1407\nREVISIONID 0\nDEFAULT 0\n",
         {"--all"},
         FIRMWARE_REFUSED_TEXT},
        {"revision",
         "PRODUCTID 0x0101\nVENDORID 0x1407\nREVISIONID 3\nDEFAULT 0\n",
         {"--all"},
         FIRMWARE_REFUSED_TEXT},
        {"mac key",
         "PRODUCTID 1\nVENDORID 0x1407\nREVISIONID 0\nDEFAULT 0\nMAC 02:00:00:00:00:01\n",
         {"--mac", "02:00:00:00:00:02"},
         MAC_REFUSED_TEXT},
        // Every selected device is checked: the fourth fails, so the first three stay untouched too.
        {"one of several",
         "PRODUCTID 0x0101\nVENDORID 0x1407\nREVISIONID 4\nDEFAULT 0\n",
         {"--all"},
         FIRMWARE_REFUSED_TEXT},
        // No terminal and no --yes: the configuration warning is declined.
        {"warning", ADMIT_ALL, {"--mac", "02:00:00:00:00:01"}, WARNING_TEXT},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"upgrade", MakePackage(c.restrictions).string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto result = Ctl(args);
        EXPECT_EQ(result.exitCode, 3) << c.what << "\n" << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.what << "\n" << result.err;
        EXPECT_EQ(result.err.find(COMPLETE_TEXT), std::string::npos) << c.what;
    }
    EXPECT_EQ(ProgrammingRequests(Sim().Log()), 0);
}

// Every device takes a request to the broadcast MAC as its own.
TEST_F(UpgradectlEndToEnd, AMacThatNamesNoSingleDeviceIsRefusedBeforeAnythingIsSent) {
    StartSimulator({"--devices", "3"});
    const fs::path package = MakePackage(ADMIT_ALL);
    for (const char* mac : {"ff:ff:ff:ff:ff:ff", "01-00-5e-00-00-01", "000000000000"}) {
        const auto result = Ctl({"upgrade", package.string(), "--mac", mac, "--yes"});
        EXPECT_EQ(result.exitCode, 2) << mac;
        EXPECT_EQ(result.err, std::string("upgradectl: '") + mac +
                                  "' names no single device (a broadcast, multicast or all-zero address)\n");
    }
    EXPECT_EQ(CountLines(Sim().Log(), "rx "), 0) << Sim().Log();
}

TEST_F(UpgradectlEndToEnd, RepliesThatNameNoSingleDeviceAreLeftOutAndNamedUnderVerbose) {
    WriteFileText(Dir() / "profile",
                  "mac=ff:ff:ff:ff:ff:ff\nmac=02:00:00:00:00:05 name=\"Real One\"\nmac=00:00:00:00:00:00\n");
    StartSimulator({"--profile", (Dir() / "profile").string()});
    const std::string line =
        "upgradectl: ignored 2 replies whose MAC names no single device (ff:ff:ff:ff:ff:ff, "
        "00:00:00:00:00:00)\n";
    EXPECT_EQ(Ctl({"discover"}).err, "1 device(s) found\n") << "named under -v only";
    const auto verbose = Ctl({"-v", "discover", "--json"});
    ASSERT_EQ(verbose.exitCode, 0) << verbose.err;
    EXPECT_EQ(Occurrences(verbose.err, line), 1) << verbose.err;
    EXPECT_EQ(MacOrder(json::parse(verbose.out)), std::vector<std::string>{"02:00:00:00:00:05"});
    EXPECT_EQ(CountLines(Sim().Log(), "rx GET_INFO "), 2) << "only the real device is asked, once a run";
}

// devsim serves every device from one address: the clone shows itself by
// an information block of its own.
TEST_F(UpgradectlEndToEnd, ACloneOfOneMacIsListedOnceMarkedAndNeverUpgraded) {
    WriteFileText(Dir() / "profile",
                  "mac=02:00:00:00:00:01 name=\"Press Line 1\"\n"
                  "mac=02:00:00:00:00:02\n"
                  "mac=02:00:00:00:00:03\n"
                  "mac=02:00:00:00:00:01 clone=yes name=\"Other Product\" product=0x0202\n");
    StartSimulator({"--profile", (Dir() / "profile").string()});
    const std::string warning =
        "upgradectl: warning: 02:00:00:00:00:01 answered with two different information blocks: more than "
        "one device has this MAC; it is listed once and will not be upgraded\n";
    const auto table = Ctl({"discover"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_EQ(Occurrences(table.out, "02:00:00:00:00:01"), 1) << table.out;
    EXPECT_TRUE(
        std::regex_search(table.out, std::regex("Press Line 1 +02:00:00:00:00:01 \\(duplicate\\) +v ")))
        << table.out;
    EXPECT_EQ(table.err, warning + "3 device(s) found\n");

    const fs::path package = MakePackage(ADMIT_ALL);
    const std::string refusal =
        "The MAC address 02:00:00:00:00:01 answered as more than one device. Requests are addressed by MAC "
        "alone, so it cannot be upgraded until every device has a MAC of its own.";
    const auto one = Ctl({"upgrade", package.string(), "--mac", "02:00:00:00:00:01", "--yes"});
    EXPECT_EQ(one.exitCode, 3) << one.err;
    EXPECT_NE(one.err.find(warning), std::string::npos) << one.err;
    EXPECT_NE(one.err.find(refusal), std::string::npos) << one.err;
    const auto all = Ctl({"--json", "upgrade", package.string(), "--all", "--yes"});
    EXPECT_EQ(all.exitCode, 3) << all.err;
    EXPECT_NE(all.err.find(refusal), std::string::npos) << all.err;
    EXPECT_EQ(json::parse(all.out).at("stop"), "macShared");
    EXPECT_EQ(ProgrammingRequests(Sim().Log()), 0);
}

TEST_F(UpgradectlEndToEnd, SilentDeviceFailsWithRetryAndFailureMessagesOthersComplete) {
    StartSimulator({"--devices", "3", "--silent", "ERASE", "--fault-device", "02:00:00:00:00:02"});
    const fs::path package = MakePackage(ADMIT_ALL);
    const auto result = Ctl({"upgrade", package.string(), "--all", "--yes", "--retries", "1"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    // Asked twice for the silent device: once answered Yes (--retries 1), then No.
    EXPECT_EQ(Occurrences(result.err, RETRY_TEXT + "02:00:00:00:00:02."), 2) << result.err;
    EXPECT_EQ(Occurrences(result.err, RETRY_TEXT), 2) << result.err;
    EXPECT_EQ(Occurrences(result.err, GIVEN_UP_TEXT), 1) << result.err;
    EXPECT_EQ(Occurrences(result.err, COMPLETE_TEXT), 1) << "the other two were upgraded";
    // The whole script ran again on the retry: two programming-mode requests.
    EXPECT_EQ(CountLines(Sim().Log(), "rx PROGRAM_MODE 02:00:00:00:00:02"), 2);
    ASSERT_TRUE(Sim().Stop());
    EXPECT_EQ(Sim().Memory("020000000001"), Image());
    EXPECT_EQ(Sim().Memory("020000000003"), Image());
    EXPECT_TRUE(Sim().Memory("020000000002").empty());
}

TEST_F(UpgradectlEndToEnd, UpgradeRecoversFromDroppedPackets) {
    StartSimulator({"--devices", "2", "--drop", "0.08", "--seed", "7"});
    const fs::path package = MakePackage(ADMIT_ALL);
    const auto result = Ctl({"upgrade", package.string(), "--all", "--yes"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFileBytes(package.parent_path() / "READBACK-020000000001.BIN"), Image());
    EXPECT_EQ(ReadFileBytes(package.parent_path() / "READBACK-020000000002.BIN"), Image());
    ASSERT_TRUE(Sim().Stop());
    EXPECT_GT(CountLines(Sim().Log(), "drop-"), 0) << "the seed must really drop packets";
    EXPECT_EQ(Sim().Memory("020000000001"), Image());
    EXPECT_EQ(Sim().Memory("020000000002"), Image());
}

// On a terminal (a pseudo-terminal made by script(1)) the warning is asked
// as y/N and the progress is drawn in place.
TEST_F(UpgradectlEndToEnd, OnATerminalTheWarningIsAskedAndProgressDrawn) {
    const fs::path script = "/usr/bin/script";
    if (!fs::exists(script)) GTEST_SKIP() << "script(1) from util-linux is needed for a terminal";
    StartSimulator({"--devices", "1"});
    const fs::path package = MakePackage(ADMIT_ALL);
    auto onTerminal = [&](const std::string& typed) {
        WriteFileText(Dir() / "typed", typed);
        const std::string command = std::string("'") + UPGRADECTL_PATH + "' upgrade '" + package.string() +
                                    "' --all --broadcast 127.0.0.1 --wait-ms 100 --port " +
                                    std::to_string(Sim().Port());
        auto result =
            RunProcess({script.string(), "-qec", command, "/dev/null"}, Dir(), 60s, Dir() / "typed");
        EXPECT_FALSE(result.timedOut);
        return result;
    };

    const auto declined = onTerminal("n\n");
    EXPECT_EQ(declined.exitCode, 3) << declined.out;
    EXPECT_NE(declined.out.find("Do you wish to continue?\r\nUpgrade this device? [y/N] "), std::string::npos)
        << declined.out;
    EXPECT_EQ(ProgrammingRequests(Sim().Log()), 0);

    const auto confirmed = onTerminal("y\n");
    EXPECT_EQ(confirmed.exitCode, 0) << confirmed.out;
    const std::string bar =
        "\r\x1b[2K[1/1 02:00:00:00:00:01] IMAGE.BIN [######] 100% 2.9/2.9 KiB\r\x1b[2K";
    EXPECT_NE(confirmed.out.find(bar), std::string::npos) << confirmed.out;
    EXPECT_NE(confirmed.out.find("\r\x1b[2K[1/1 02:00:00:00:00:01] upgraded\r\n"), std::string::npos)
        << confirmed.out;
    EXPECT_NE(confirmed.out.find(COMPLETE_TEXT), std::string::npos);
}

// On a terminal without --yes the devices are listed and confirmed once,
// and a run that still fails after --retries is asked about; without a
// terminal nothing is asked.
TEST_F(UpgradectlEndToEnd, OnATerminalTheDevicesAreConfirmedAndTheRetryQuestionAsked) {
    const fs::path script = "/usr/bin/script";
    if (!fs::exists(script)) GTEST_SKIP() << "script(1) from util-linux is needed for a terminal";
    StartSimulator({"--devices", "2", "--silent", "ERASE", "--fault-device", "02:00:00:00:00:02"});
    const fs::path package = MakePackage("PRODUCTID 0x0101\nVENDORID 0x1407\nREVISIONID 4\nDEFAULT 0\n");
    auto onTerminal = [&](const std::string& typed) {
        WriteFileText(Dir() / "typed", typed);
        const std::string command = std::string("'") + UPGRADECTL_PATH + "' upgrade '" + package.string() +
                                    "' --all --retries 1 --broadcast 127.0.0.1 --wait-ms 50 --port " +
                                    std::to_string(Sim().Port());
        auto result =
            RunProcess({script.string(), "-qec", command, "/dev/null"}, Dir(), 60s, Dir() / "typed");
        EXPECT_FALSE(result.timedOut);
        return result;
    };

    const auto declined = onTerminal("n\n");
    EXPECT_EQ(declined.exitCode, 3) << declined.out;
    EXPECT_NE(declined.out.find("Firmware Date         Device Type"), std::string::npos) << declined.out;
    EXPECT_NE(declined.out.find("02:00:00:00:00:01  v QVN 4.0.2 01/01/15  Single Serial (DB9)"), std::string::npos)
        << declined.out;
    EXPECT_NE(declined.out.find("02:00:00:00:00:02  "), std::string::npos) << declined.out;
    EXPECT_NE(declined.out.find("Upgrade these 2 devices? [y/N] "), std::string::npos) << declined.out;
    EXPECT_EQ(ProgrammingRequests(Sim().Log()), 0);

    // Yes to the devices; the silent one is retried once by --retries, then asked about: No.
    const auto failed = onTerminal("y\nn\n");
    EXPECT_EQ(failed.exitCode, 1) << failed.out;
    EXPECT_EQ(Occurrences(failed.out, "-> Yes (retry 1 of 1 (--retries))"), 1) << failed.out;
    EXPECT_EQ(Occurrences(failed.out, RETRY_TEXT + "02:00:00:00:00:02.\r\nWould you like to retry the upgrade now?\r\n\r\n"
                                             "line 3 ERASE 1: no answer to ERASE after 16 sends [y/N] "),
              1)
        << failed.out;
    EXPECT_EQ(failed.out.find("no --retries given"), std::string::npos) << failed.out;
    EXPECT_EQ(CountLines(Sim().Log(), "rx PROGRAM_MODE 02:00:00:00:00:02"), 2);

    // Without a terminal nothing is asked: the devices run at once.
    const auto plain = Ctl({"upgrade", package.string(), "--mac", "02:00:00:00:00:01"});
    EXPECT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.err.find("Upgrade this device?"), std::string::npos) << plain.err;
    EXPECT_TRUE(fs::exists(Dir() / "READBACK.BIN")) << "one device selected keeps the script's name";
}

// A package that `pack` would refuse, written directly: the script, the
// admitting restrictions and the test image.
fs::path WriteUncheckedPackage(const fs::path& path, const std::string& script) {
    EXPECT_TRUE(WritePackage(path, StandardMembers(script, ADMIT_ALL, {{"image.bin", Image()}})));
    return path;
}

TEST_F(UpgradectlEndToEnd, PackageWithAnErrorSendsNoDatagramAtAll) {
    StartSimulator({"--devices", "1"});
    fs::create_directories(Dir() / "READBACK.BIN");  // a folder where READ would write its file
    struct Case {
        const char* what;
        std::string script;
        const char* finding;
    };
    const Case cases[] = {
        {"LOAD of a member the package lacks", "SETPROGRAMMODE\nERASE 1\nLOAD missing.bin 0x10:0\nRESET\n",
         "error: program.cmd:3: "},
        {"READ onto a folder", SCRIPT, "error: program.cmd:5: "},
    };
    for (const auto& c : cases) {
        const fs::path package = WriteUncheckedPackage(Dir() / "faulty.upk", c.script);
        const auto result = Ctl({"upgrade", package.string(), "--all", "--yes"});
        EXPECT_EQ(result.exitCode, 2) << c.what << "\n" << result.err;
        EXPECT_NE(result.err.find(c.finding), std::string::npos) << c.what << "\n" << result.err;
    }
    EXPECT_EQ(Sim().Log(), "") << "not even discovery may be sent";
}

TEST_F(UpgradectlEndToEnd, PackageWithOnlyWarningsIsStillUpgraded) {
    StartSimulator({"--devices", "1"});
    const fs::path package =
        MakePackage(ADMIT_ALL, "SETPROGRAMMODE\nFOO 1\nERASE 1\nLOAD image.bin 1:0\nRESET\n");
    const auto result = Ctl({"upgrade", package.string(), "--all", "--yes"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::regex_search(result.err, std::regex("warning: program.cmd:2: .*FOO"))) << result.err;
    EXPECT_EQ(Occurrences(result.err, COMPLETE_TEXT), 1) << result.err;
    ASSERT_TRUE(Sim().Stop());
    EXPECT_EQ(Sim().Memory("020000000001"), Image());
}

TEST_F(UpgradectlEndToEnd, CheckSaysWhereEachReadWritesForOneDeviceAndForSeveral) {
    const fs::path package = MakePackage(ADMIT_ALL);
    const auto result = Ctl({"check", package.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("program.cmd:5: READ writes " + (Dir() / "READBACK.BIN").string() +
                              "; with more than one device one file per device, READBACK-<MAC>.BIN\n"),
              std::string::npos)
        << result.err;
}

TEST_F(UpgradectlEndToEnd, DryRunSendsOnlyDiscoveryAndInformationQueriesAndShowsThePlan) {
    StartSimulator({"--devices", "1"});
    const fs::path package = MakePackage(ADMIT_ALL);
    const std::string readOutput = (package.parent_path() / "READBACK.BIN").string();
    const auto text = Ctl({"upgrade", package.string(), "--all", "--yes", "--dry-run"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out,
              "02:00:00:00:00:01 would run:\n"
              "  line 2: SETPROGRAMMODE\n"
              "  line 3: ERASE 1\n"
              "  line 4: LOAD image.bin 1:0 (sends 3001 bytes)\n"
              "  line 5: READ readback.bin 1:0 3001 (writes " +
                  readOutput +
                  ")\n"
                  "  line 6: RESET\n");

    const auto machine = Ctl({"--json", "upgrade", package.string(), "--all", "--yes", "--dry-run"});
    ASSERT_EQ(machine.exitCode, 0) << machine.err;
    const json report = json::parse(machine.out);
    EXPECT_EQ(report.at("dryRun"), true);
    const json plan = report.at("devices").at(0).at("plan");
    ASSERT_EQ(plan.size(), 5u);
    EXPECT_EQ(plan[2],
              json({{"line", 4}, {"command", "LOAD"}, {"text", "LOAD image.bin 1:0"}, {"loadBytes", 3001}}));
    EXPECT_EQ(plan[3].at("readOutput"), readOutput);

    // Refused where the real run would be: no terminal to confirm the warning, no --yes.
    EXPECT_EQ(Ctl({"upgrade", package.string(), "--all", "--dry-run"}).exitCode, 3);

    const std::string log = Sim().Log();
    EXPECT_GT(CountLines(log, "rx GET_INFO "), 0);
    EXPECT_EQ(CountLines(log, "rx "), CountLines(log, "rx DISCOVER ") + CountLines(log, "rx GET_INFO "))
        << log;
    EXPECT_FALSE(fs::exists(readOutput));
}

TEST_F(UpgradectlEndToEnd, InterruptStopsTheRunNamesTheDeviceLeftMidScriptAndRemovesTheTempFolder) {
    // Storing a LOAD block takes 400 ms: the signals arrive while one is under way.
    StartSimulator({"--devices", "3", "--block-delay-ms", "400"});
    const fs::path package = MakePackage(ADMIT_ALL);
    struct Case {
        const char* mac;  // a device of its own per case: an interrupted one stays in programming mode
        std::vector<int> signals;
        bool json;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"02:00:00:00:00:01",
         {SIGINT},
         false,
         130,
         "upgradectl: interrupted; 02:00:00:00:00:01 was left mid-script and is probably still in "
         "programming mode\n"},
        {"02:00:00:00:00:02",
         {SIGTERM},
         true,
         143,
         "upgradectl: interrupted; 02:00:00:00:00:02 was left mid-script and is probably still in "
         "programming mode\n"},
        // The second signal ends the process at once.
        {"02:00:00:00:00:03", {SIGINT, SIGTERM}, false, 143, "upgradectl: interrupted again; ending at once"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mac);
        // The package's private folder is made in TMPDIR.
        const fs::path temp = Dir() / ("tmp" + std::string(c.mac).substr(15));
        fs::create_directories(temp);
        std::vector<std::string> args{"/usr/bin/env",
                                      "TMPDIR=" + temp.string(),
                                      UPGRADECTL_PATH,
                                      "upgrade",
                                      package.string(),
                                      "--mac",
                                      c.mac,
                                      "--yes",
                                      "--broadcast",
                                      "127.0.0.1",
                                      "--wait-ms",
                                      "100",
                                      "--port",
                                      std::to_string(Sim().Port())};
        if (c.json) args.push_back("--json");
        bool extracted = false;
        const auto result = RunProcess(args, Dir(), 60s, {}, [&](pid_t pid) {
            EXPECT_TRUE(WaitForLogLine(Sim(), std::string("rx LOAD_BLOCK ") + c.mac));
            extracted = !fs::is_empty(temp);
            for (int signal : c.signals) kill(pid, signal);
        });
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_TRUE(extracted) << "the private folder should have been in " << temp;
        EXPECT_TRUE(fs::is_empty(temp)) << "the private folder was left behind";
        // The script stopped inside its LOAD: the RESET line never ran.
        EXPECT_EQ(CountLines(Sim().Log(), std::string("rx RESET ") + c.mac), 0);
        if (!c.json) continue;
        const json report = json::parse(result.out);
        EXPECT_EQ(report.at("exitCode"), c.exitCode);
        ASSERT_EQ(report.at("devices").size(), 1u);
        EXPECT_EQ(WithoutCounters(report.at("devices")[0]),
                  json({{"mac", c.mac},
                        {"result", "failed"},
                        {"attempts", 1},
                        {"succeeded", false},
                        {"ok", false},
                        {"interrupted", true},
                        {"firmware_before", "v QVN 4.1.9 02/06/16"},
                        {"firmware_after", nullptr},
                        {"verify", nullptr}}));
    }
}

TEST_F(UpgradectlEndToEnd, ExpectExitsTwoWithTheCountBeforeAnyProgrammingRequest) {
    StartSimulator({"--devices", "3"});
    const std::string all = MakePackage(ADMIT_ALL).string();
    const std::string one = MakePackage("PRODUCTID 1\nVENDORID 0x1000\nREVISIONID 0\nDEFAULT 0\n").string();
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;  // empty: none
    };
    const Case cases[] = {
        {{"discover", "--expect", "3"}, 0, ""},
        {{"discover", "--expect", "4"}, 2, "upgradectl: 3 device(s) found, 4 expected; nothing was done\n"},
        {{"discover", "--package", one, "--expect", "1"}, 0, ""},
        {{"discover", "--package", one, "--expect", "2"}, 2, "upgradectl: 1 device(s) admitted, 2 expected"},
        {{"upgrade", all, "--all", "--yes", "--expect", "4"},
         2,
         "upgradectl: 3 device(s) admitted, 4 expected"},
        {{"upgrade", one, "--all", "--yes", "--expect", "3"},
         2,
         "upgradectl: 1 device(s) admitted, 3 expected"},
    };
    for (const auto& c : cases) {
        const auto result = Ctl(c.args);
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        const bool told = result.err.find(*c.message != 0 ? c.message : "expected") != std::string::npos;
        EXPECT_EQ(told, *c.message != 0) << result.err;
    }
    EXPECT_EQ(ProgrammingRequests(Sim().Log()), 0);
}

// A device that answers everything twice and stores a block more slowly
// than one receive wait: every device is listed once and upgraded once.
TEST_F(UpgradectlEndToEnd, DuplicatedRepliesAndASlowFlashStillUpgradeEveryDeviceOnce) {
    StartSimulator({"--devices", "3", "--block-size", "512", "--duplicate", "--block-delay-ms", "120"});
    const auto listed = Ctl({"discover", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(json::parse(listed.out).size(), 3u);

    const auto result = Ctl({"upgrade", MakePackage(ADMIT_ALL).string(), "--all", "--yes", "--expect", "3"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Occurrences(result.err, RETRY_TEXT), 0) << result.err;
    const std::string log = Sim().Log();
    ASSERT_TRUE(Sim().Stop());
    for (const char* stem : {"020000000001", "020000000002", "020000000003"})
        EXPECT_EQ(Sim().Memory(stem), Image()) << stem;
    EXPECT_EQ(CountLines(log, "rx PROGRAM_MODE "), 3) << "one script run per device";
}

}  // namespace
}  // namespace quorvane::testing
