#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/device_summary.h"
#include "package/restrictions.h"
#include "package/upgrade_package.h"
#include "package_fixture.h"
#include "support/scripted_device.h"

namespace quorvane {
namespace {

using testing::IdentityRecord;
using testing::Join;
using testing::ScriptedNetwork;
using testing::SimulatedDevice;

constexpr const char* BASE_KEYS = "PRODUCTID 0x10\nVENDORID 0x1407\nREVISIONID 2\nDEFAULT 1\n";

MacAddress MacOf(uint8_t id) {
    return {0x02, 0x00, 0x00, 0x00, 0x00, id};
}

class Admission : public ::testing::Test {
protected:
    // Devices answer discovery in the order they are added; their last MAC
    // byte names them.
    SimulatedDevice& AddDevice(uint8_t id, uint16_t vendor, uint16_t deviceId) {
        SimulatedDevice& device = net.Add(MacOf(id));
        device.infoBlock = IdentityRecord(vendor, deviceId);
        return device;
    }

    // Runs one pass with `text` as the restriction file; the ids admitted, in order.
    std::vector<int> Admit(const std::string& text) {
        package.Close();
        const auto path = test::WriteTestPackage(folder, StandardMembers("RESET\n", text));
        if (!package.Open(path)) ADD_FAILURE() << "package did not open";
        admitted = AdmitDevices(package, net.protocol, restrictions);
        std::vector<int> ids;
        for (const AdmittedDevice& device : admitted) ids.push_back(device.record->mac[5]);
        return ids;
    }

    test::TempFolder folder;
    UpgradePackage package;
    ScriptedNetwork net;
    Restrictions restrictions;
    std::vector<AdmittedDevice> admitted;  // of the last pass
};

TEST_F(Admission, VendorTest) {
    struct Case {
        const char* vendorLine;
        std::vector<int> admitted;
    };
    const Case cases[] = {
        {"VENDORID 0x1407", {2, 1}},  // the primary vendor admits the alternate one too
        {"VENDORID 0x1000", {2}},
        {"VENDORID 0x1234", {3}},
        {"VENDORID 0x4444", {}},
    };
    AddDevice(1, 0x1407, 0x00FC);
    AddDevice(2, 0x1000, 0x00FC);
    AddDevice(3, 0x1234, 0x00FC);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vendorLine);
        EXPECT_EQ(Admit(std::string("PRODUCTID 1\nREVISIONID 1\nDEFAULT 0\n") + c.vendorLine + "\n"),
                  c.admitted);
    }
}

TEST_F(Admission, DeviceIdListComparesBitsTwoToSevenOfTheLowByte) {
    const uint16_t ids[] = {0x00FC, 0x12FD, 0xA0FE, 0x00FF, 0x00F8, 0x0000, 0x0003};
    for (uint8_t i = 0; i < std::size(ids); ++i) AddDevice(i + 1, 0x1407, ids[i]);
    // Device numbers in admission order (newest reply first).
    const std::vector<int> all{7, 6, 5, 4, 3, 2, 1};
    const std::vector<int> fcFamily{4, 3, 2, 1};
    const std::string tenth = "DEVICEID 0x10,0x10,0x10,0x10,0x10,0x10,0x10,0x10,0x10,0xFC";
    const std::string eleventh = "DEVICEID 0x10,0x10,0x10,0x10,0x10,0x10,0x10,0x10,0x10,0x10,0xFC";
    const std::string longest = "DEVICEID 0xFC,0x" + std::string(98 - 7, '0');  // 98 characters
    const std::string tooLong = "DEVICEID 0xF8,0x" + std::string(99 - 7, '0');  // 99 characters
    struct Case {
        std::string line;
        std::vector<int> admitted;
    };
    const Case cases[] = {
        {"DEVICEID 0xFC", fcFamily},
        {"DEVICEID 252", fcFamily},
        {"DEVICEID 0374", fcFamily},
        {"DEVICEID 0x70FD", fcFamily},  // high byte and bits 0-1 of the entry ignored too
        {"DEVICEID 0xF8", {5}},
        {"DEVICEID 0xFC,,0xF8", all},   // the empty item admits ids 0 to 3
        {"DEVICEID 0xF8,", {7, 6, 5}},  // a trailing comma gives the entry 0
        {"DEVICEID 0xFC, 0xF8", {}},    // three tokens: no line counts, so nothing is admitted
        {"", all},
        {tenth, fcFamily},
        {eleventh, {}},  // entries beyond ten are ignored
        {longest, {7, 6, 4, 3, 2, 1}},
        {tooLong, {7, 6, 5}},  // a long value is read whole: 0xF8 and 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(Admit(std::string(BASE_KEYS) + c.line + "\n"), c.admitted);
    }
}

TEST_F(Admission, DeviceIdEntriesInFileOrder) {
    Admit(std::string(BASE_KEYS) + "DEVICEID 0xFC,,0xF8\n");
    ASSERT_EQ(restrictions.deviceIdCount, 3);
    EXPECT_EQ(restrictions.deviceIdList[0], 0xFC);
    EXPECT_EQ(restrictions.deviceIdList[1], 0);
    EXPECT_EQ(restrictions.deviceIdList[2], 0xF8);
    Admit(std::string(BASE_KEYS) + "DEVICEID -1,0x12345,junk\n");
    ASSERT_EQ(restrictions.deviceIdCount, 3);
    EXPECT_EQ(restrictions.deviceIdList[0], 0xFFFF);
    EXPECT_EQ(restrictions.deviceIdList[1], 0x2345);
    EXPECT_EQ(restrictions.deviceIdList[2], 0);
    Admit(BASE_KEYS);
    EXPECT_EQ(restrictions.deviceIdCount, 0);
}

TEST_F(Admission, MissingRequiredKeyListsNothingAndDiscoversNothing) {
    AddDevice(1, 0x1407, 0x00FC);
    for (const char* key : {"PRODUCTID", "VENDORID", "REVISIONID", "DEFAULT"}) {
        SCOPED_TRACE(key);
        std::string text;
        for (const char* line : {"PRODUCTID 0x10", "VENDORID 0x1407", "REVISIONID 2", "DEFAULT 0"}) {
            if (std::string(line).rfind(key, 0) != 0) text += std::string(line) + "\n";
        }
        net.link.sent.clear();
        EXPECT_TRUE(Admit(text).empty());
        EXPECT_TRUE(net.link.sent.empty());
    }
}

TEST_F(Admission, KeysLandInTheRecord) {
    AddDevice(1, 0x1407, 0x00FC);
    EXPECT_EQ(Admit("default 7\nREVISIONID 0x21\nproductid 300\nVENDORID 0x1407\n"), std::vector<int>{1});
    EXPECT_EQ(restrictions.wantedProductId, 300);
    EXPECT_EQ(restrictions.wantedVendorId, 0x1407);
    EXPECT_EQ(restrictions.wantedRevisionId, 0x21);
    EXPECT_EQ(restrictions.defaultsWarning, 7);
}

TEST_F(Admission, DeviceWithoutBlockCountsAsVendorZero) {
    net.Add(MacOf(1));  // its information reply carries only the flag byte
    EXPECT_EQ(Admit("PRODUCTID 1\nVENDORID 0\nREVISIONID 1\nDEFAULT 0\n"), std::vector<int>{1});
    EXPECT_TRUE(Admit(BASE_KEYS).empty());
}

TEST_F(Admission, MacKey) {
    AddDevice(1, 0x1407, 0x00FC);
    const MacAddress expected{0x00, 0x50, 0xC2, 0x01, 0x02, 0x03};
    for (const char* value : {"00:50:C2:01:02:03", "00-50-c2-01-02-03"}) {
        SCOPED_TRACE(value);
        restrictions.wantedMac = {};
        Admit(std::string(BASE_KEYS) + "MAC " + value + "\n");
        EXPECT_TRUE(restrictions.macRestricted);
        EXPECT_EQ(restrictions.wantedMac, expected);
        EXPECT_EQ(restrictions.macText, value);
    }
    // The next pass without a MAC line lifts the restriction.
    EXPECT_EQ(Admit(BASE_KEYS), std::vector<int>{1});
    EXPECT_FALSE(restrictions.macRestricted);
    // A value beyond the record's 19 characters keeps its first 19 and the
    // restriction with them: an over-long MAC must not open the package to all.
    Admit(std::string(BASE_KEYS) + "MAC 00:50:C2:01:02:03\t\t\t\n");
    EXPECT_TRUE(restrictions.macRestricted);
    EXPECT_EQ(restrictions.wantedMac, expected);
    EXPECT_EQ(restrictions.macText, "00:50:C2:01:02:03\t\t");
    Admit(std::string(BASE_KEYS) + "MAC 00:50:C2:01:02:0300\n");
    EXPECT_TRUE(restrictions.macRestricted);
}

TEST_F(Admission, MacOrDeviceIdLinesThatAllFailToCountAdmitNothing) {
    AddDevice(1, 0x1407, 0x00FC);
    const struct {
        const char* lines;
        std::vector<int> admitted;
    } cases[] = {
        {"MAC  00:50:c2:00:00:09\n", {}},  // two spaces: three tokens
        {"MAC\n", {}},
        {"mac 00:50:c2:00:00:09 extra\n", {}},
        {"DEVICEID 0xFC, 0xF8\nDEVICEID\n", {}},
        // One line that counts restores the usual rules.
        {"MAC  00:50:c2:00:00:09\nMAC 00:50:C2:01:02:03\n", {1}},
        {"DEVICEID 0xFC, 0xF8\nDEVICEID 0xFC\n", {1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        EXPECT_EQ(Admit(std::string(BASE_KEYS) + c.lines), c.admitted);
        net.chain.Clear();
    }
}

TEST_F(Admission, SilentDeviceIsSkippedAfterItsRetries) {
    AddDevice(1, 0x1407, 0x00FC);
    AddDevice(2, 0x1407, 0x00FC).answersInfo = false;
    AddDevice(3, 0x1407, 0x00FC);
    EXPECT_EQ(Admit(BASE_KEYS), (std::vector<int>{3, 1}));
    EXPECT_EQ(net.Sends(OP_GET_INFO), 1 + MAX_SENDS + 1);
    // The three are asked at once; only the silent one is asked again.
    EXPECT_EQ(net.Trace(),
              (std::vector<std::string>{"DISCOVER", "INFO 03", "INFO 02", "INFO 01", "INFO 02"}));
    EXPECT_EQ(net.link.virtualMillis, 1000 + 16 * 1000);  // one quiet discovery wait, one retry budget
}

TEST_F(Admission, NoDeviceAnswersDiscovery) {
    EXPECT_TRUE(Admit(BASE_KEYS).empty());
    EXPECT_EQ(net.Trace(), std::vector<std::string>{"DISCOVER"});
}

TEST_F(Admission, RepeatedPassesAdmitTheSameDevices) {
    AddDevice(1, 0x1407, 0x00FC);
    AddDevice(2, 0x5555, 0x00FC);
    AddDevice(3, 0x1000, 0x00FC);
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(Admit(BASE_KEYS), (std::vector<int>{3, 1}));
        net.chain.Clear();
    }
}

TEST_F(Admission, SummaryCarriesTheIdentity) {
    SimulatedDevice& device = AddDevice(1, 0, 0);
    device.ip = 0x0A000105;
    device.infoFlag = 0x5A;
    device.infoBlock =
        Join({IdentityRecord(0x1000, 0x31F4), testing::FirmwareRecord(4, 0x0123, 5, 6, 2024, 7, 9, "ABC"),
              testing::NamingRecord("printer-room", std::string(30, 'w') + "xyz")});
    ASSERT_EQ(Admit(BASE_KEYS), std::vector<int>{1});
    ASSERT_EQ(admitted.front().record, net.chain.Head());
    const DeviceSummary& summary = admitted.front().summary;
    EXPECT_EQ(summary.vendorId, 0x1000);
    EXPECT_EQ(summary.deviceId, 0x31F4);
    EXPECT_EQ(summary.ipAddress, 0x0A000105u);
    EXPECT_EQ(summary.infoFlag, 0x5A);
    EXPECT_EQ(summary.productId, 0x0123);
    EXPECT_EQ(summary.revisionId, 4);
    EXPECT_EQ(summary.versionSecond, 5);
    EXPECT_EQ(summary.versionThird, 6);
    EXPECT_EQ(summary.dateFirst, 2024);
    EXPECT_EQ(summary.dateSecond, 7);
    EXPECT_EQ(summary.dateThird, 9);
    EXPECT_EQ(std::string(summary.firmwareLetters, 3), "ABC");
    EXPECT_STREQ(summary.name, "printer-room");
    EXPECT_STREQ(summary.workgroup, std::string(19, 'w').c_str());  // cut to the record's room
    EXPECT_EQ(std::vector<uint8_t>(summary.mac, summary.mac + 6),
              std::vector<uint8_t>(device.mac.begin(), device.mac.end()));
}

TEST_F(Admission, SummaryIsBuiltAnewForEveryDevice) {
    SimulatedDevice& named = AddDevice(1, 0x1407, 0x00FC);
    named.infoBlock = Join({named.infoBlock, testing::FirmwareRecord(4, 0x0123, 5, 6, 2024, 7, 9, "ABC"),
                            testing::NamingRecord("first", "group")});
    AddDevice(2, 0x1407, 0x00FD);  // identity only: every other field empty
    ASSERT_EQ(Admit(BASE_KEYS), (std::vector<int>{2, 1}));
    DeviceSummary summary = admitted[0].summary;
    EXPECT_EQ(summary.deviceId, 0x00FD);
    EXPECT_EQ(summary.productId, 0);
    EXPECT_EQ(summary.dateSecond, 0);
    EXPECT_EQ(std::string(summary.firmwareLetters, 3), "   ");
    EXPECT_STREQ(summary.name, "");
    EXPECT_STREQ(summary.workgroup, "");
    summary = admitted[1].summary;
    EXPECT_STREQ(summary.name, "first");
}

}  // namespace
}  // namespace quorvane
