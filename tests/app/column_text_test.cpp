#include "app/column_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "app/interrupted_text.h"
#include "app/run_events.h"
#include "app/session_results.h"
#include "package/device_summary.h"

namespace quorvane {
namespace {

constexpr MacAddress TEST_MAC{0x00, 0x50, 0xC2, 0x1A, 0x2B, 0x3C};

DeviceSummary NamedSummary(const char* name) {
    DeviceSummary summary;
    std::strncpy(summary.name, name, SUMMARY_TEXT_ROOM - 1);
    return summary;
}

// A device of the list: its record (which only the MAC column reads) and
// its summary.
struct ListedRecord {
    DeviceRecord record;
    AdmittedDevice device;
};

std::unique_ptr<ListedRecord> RecordWith(const DeviceSummary& summary, const MacAddress& mac = TEST_MAC) {
    auto listed = std::make_unique<ListedRecord>();
    listed->record.mac = mac;
    listed->device = {&listed->record, summary};
    return listed;
}

std::string Text(const AdmittedDevice* device, int key) {
    std::string out = "stale";
    EXPECT_TRUE(DeviceColumnText(device, out, key)) << "key " << key;
    return out;
}

std::string Text(const std::unique_ptr<ListedRecord>& listed, int key) {
    return Text(&listed->device, key);
}

TEST(ColumnText, NameIsCutToSixteenCharactersOrMadeFromTheMac) {
    struct Case {
        const char* name;
        const char* expected;
    } cases[] = {
        {"Fifteen chars!!", "Fifteen chars!!"},
        {"Nineteen characters", "Nineteen charact"},
        {"Sixteen chars!!!", "Sixteen chars!!!"},
        {"", "1a 2b 3c"},
        // The cut never splits a UTF-8 character; a name that is not UTF-8 is cut at 16 bytes.
        {"Werkstatt-Caf\xc3\xa9-2", "Werkstatt-Caf\xc3\xa9-"},
        {"Werkstatt-Kaffe\xc3\xa9", "Werkstatt-Kaffe"},
        {"Werkstatt-K\xc3\xa4\xc3\xa4\xc3\xa4", "Werkstatt-K\xc3\xa4\xc3\xa4"},
        {"Werkstatt-Kaffe\xe9-2", "Werkstatt-Kaffe\xe9"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(RecordWith(NamedSummary(c.name)), KEY_NAME), c.expected) << c.name;
}

TEST(ColumnText, NameWithoutTerminatorStaysInsideItsField) {
    DeviceSummary summary;
    std::memset(summary.name, 'N', sizeof summary.name);
    std::memset(summary.workgroup, 'W', sizeof summary.workgroup);
    EXPECT_EQ(Text(RecordWith(summary), KEY_NAME), std::string(NAME_TEXT_LIMIT, 'N'));
}

TEST(ColumnText, MacIsSixLowerCaseHexPairs) {
    EXPECT_EQ(Text(RecordWith(NamedSummary("x")), KEY_MAC), "00:50:c2:1a:2b:3c");
    EXPECT_EQ(Text(RecordWith({}, {0xFF, 0xAB, 0x01, 0x00, 0x7F, 0x80}), KEY_MAC), "ff:ab:01:00:7f:80");
}

// The shown MAC cell carries the mark; the JSON a script reads keeps the
// plain MAC it can pass to --mac, and names the sharing in a key of its own.
TEST(ColumnText, AMacThatAnsweredAsTwoDevicesIsMarkedWhereShownOnly) {
    for (const SharedMac shared : {SharedMac::No, SharedMac::TwoBlocks}) {
        const auto listed = RecordWith(NamedSummary("Press Line 1"));
        listed->record.sharedMac = shared;
        std::string shown;
        EXPECT_TRUE(DeviceCellText(&listed->device, shown, KEY_MAC));
        EXPECT_EQ(shown, shared == SharedMac::No ? "00:50:c2:1a:2b:3c" : "00:50:c2:1a:2b:3c (duplicate)");
        const nlohmann::ordered_json json = AdmittedJson(listed->device);
        EXPECT_EQ(json.at("mac"), "00:50:c2:1a:2b:3c");
        EXPECT_EQ(json.contains("duplicate_mac"), shared != SharedMac::No);
        EXPECT_EQ(json.value("duplicate_mac", false), shared != SharedMac::No);
    }
}

TEST(ColumnText, FirmwareText) {
    struct Case {
        const char* what;
        DeviceSummary summary;
        const char* expected;
    };
    DeviceSummary full;
    std::memcpy(full.firmwareLetters, "XYZ", 3);
    full.revisionId = 4;
    full.versionSecond = 0;
    full.versionThird = 2;
    full.dateFirst = 6;
    full.dateSecond = 3;
    full.dateThird = 15;
    DeviceSummary noDate = full;
    noDate.dateSecond = 0;
    DeviceSummary longYear = full;
    longYear.dateFirst = 2024;
    longYear.revisionId = 255;
    longYear.versionSecond = 100;
    DeviceSummary noLetters = full;
    std::memcpy(noLetters.firmwareLetters, "   ", 3);
    DeviceSummary zeroLetter = full;
    zeroLetter.firmwareLetters[1] = '\0';
    const Case cases[] = {
        {"all fields", full, "v XYZ 4.0.2 06/03/15"},
        {"second date part 0", noDate, "Upgrade"},
        {"wide numbers", longYear, "v XYZ 255.100.2 2024/03/15"},
        {"no letters entry", noLetters, "v     4.0.2 06/03/15"},
        {"zero letter byte", zeroLetter, "v X Z 4.0.2 06/03/15"},
    };
    for (const Case& c : cases) {
        const std::string text = Text(RecordWith(c.summary), KEY_FIRMWARE);
        EXPECT_EQ(text, c.expected) << c.what;
        EXPECT_EQ(text.find('\0'), std::string::npos) << c.what;
    }
}

TEST(ColumnText, DeviceTypeJoinsPortAndConnectorLabels) {
    struct Case {
        uint16_t deviceId;
        const char* expected;
    } cases[] = {
        {0x70FC, "Single Serial (DB9)"},
        {0x50D8, "8-Port USIA (Cabled)"},
        {0x68FE, "Single Serial (RJ45)"},
        {0x0000, "Unknown (Unknown)"},
        {0x58F9, "Dual Serial (RS422, RJ45)"},
        {0x60F7, "Quad Serial (RS485, RJ45)"},
        {0x78F0, "Parallel (TTL)"},
        {0x70EC, "2SP? (DB9)"},
        {0x70E8, "Dual Parallel (DB9)"},
        {0x70E4, "1SP? (DB9)"},
        {0x70E3, "8-Port Serial (DB9)"},
        {0x70DC, "16-Port Serial (DB9)"},
        {0x70D7, "Unknown (DB9)"},
        {0x71FC, "Single Serial (Unknown)"},
    };
    for (const Case& c : cases) {
        DeviceSummary summary;
        summary.deviceId = c.deviceId;
        EXPECT_EQ(Text(RecordWith(summary), KEY_DEVICE_TYPE), c.expected) << std::hex << c.deviceId;
    }
}

TEST(ColumnText, OtherKeysGiveFalseAndAnEmptyText) {
    const auto listed = RecordWith(NamedSummary("box"));
    for (int key : {-1, 2, 3, 6, 1000}) {
        std::string out = "stale";
        EXPECT_FALSE(DeviceColumnText(&listed->device, out, key)) << key;
        EXPECT_EQ(out, "") << key;
    }
}

TEST(ColumnText, MissingDeviceGivesEmptyTexts) {
    const AdmittedDevice withoutRecord{};
    for (const AdmittedDevice* device : {static_cast<const AdmittedDevice*>(nullptr), &withoutRecord})
        for (int key : {KEY_NAME, KEY_MAC, KEY_FIRMWARE, KEY_DEVICE_TYPE}) EXPECT_EQ(Text(device, key), "");
}

TEST(ColumnText, IpIsUpgradectlsLastColumnAndTheDesktopListAddsTheLastResult) {
    const auto listed = RecordWith(NamedSummary("box"));
    listed->record.ipAddress = 0x0A000105;
    const std::vector<DeviceColumn> columns = DeviceColumns();
    ASSERT_EQ(columns.size(), 5u);
    EXPECT_STREQ(columns.back().name, "ip");
    EXPECT_EQ(ColumnTitle(columns.back()), "IP");
    EXPECT_EQ(DeviceCellText(columns.back(), listed->device), "10.0.1.5");
    EXPECT_EQ(ColumnTitle(columns.front()), "Name");
    std::vector<std::string> desktop;
    for (const DeviceColumn& column : DesktopListColumns()) desktop.push_back(column.name);
    EXPECT_EQ(desktop, (std::vector<std::string>{"name", "mac", "firmware", "type", "ip", "last_result"}));
    EXPECT_EQ(ColumnTitle(DesktopListColumns().back()), "Last result");
}

// The session's runs, as the "Last result" column shows them: the last
// run that finished a device decides; a device never finished shows nothing,
// and nor does any without the session that the program keeps.
TEST(ColumnText, LastResultIsWhatThisSessionsLastRunCameTo) {
    SessionResults session;
    std::vector<DeviceRecord> records(4);
    std::vector<DeviceRecord*> selected;
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].mac = {0x02, 0, 0, 0, 0, static_cast<uint8_t>(i + 1)};
        selected.push_back(&records[i]);
    }
    RunModel first(selected);
    const DeviceState states[] = {DeviceState::Failed, DeviceState::Upgraded, DeviceState::Interrupted,
                                  DeviceState::Waiting};
    for (std::size_t i = 0; i < 4; ++i) first.devices[i].state = states[i];
    session.Record(first);
    RunModel second({&records[0], &records[1]});
    second.devices[0].state = DeviceState::Upgraded;  // retried and upgraded
    second.devices[1].state = DeviceState::Waiting;   // not run again: keeps its result
    session.Record(second);

    const char* expected[] = {"upgraded", "upgraded", "interrupted", ""};
    for (std::size_t i = 0; i < 4; ++i) {
        const AdmittedDevice device{&records[i], {}};
        std::string text = "stale";
        EXPECT_TRUE(DeviceColumnText(&device, text, KEY_LAST_RESULT, &session)) << i;
        EXPECT_EQ(text, expected[i]) << i;
    }
    const AdmittedDevice device{&records[0], {}};
    EXPECT_EQ(Text(&device, KEY_LAST_RESULT), "") << "no session";
    session.Clear();
    std::string text = "stale";
    EXPECT_TRUE(DeviceColumnText(&device, text, KEY_LAST_RESULT, &session));
    EXPECT_EQ(text, "");
}

// What a stopped run says, in upgradectl's words.
TEST(InterruptedLines, NameTheDevicesLeftMidScriptAndThoseNotStarted) {
    std::vector<DeviceRecord> records(4);
    std::vector<DeviceRecord*> selected;
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].mac = {0x02, 0, 0, 0, 0, static_cast<uint8_t>(i + 1)};
        selected.push_back(&records[i]);
    }
    RunModel model(selected);
    model.devices[0].state = DeviceState::Upgraded;
    model.devices[1].state = DeviceState::Interrupted;
    for (std::size_t i = 0; i < 2; ++i) model.devices[i].counters.attempts = 1;
    EXPECT_EQ(InterruptedLines(model),
              (std::vector<std::string>{
                  "interrupted; 02:00:00:00:00:02 was left mid-script and is probably still in programming mode",
                  "not started: 02:00:00:00:00:03, 02:00:00:00:00:04"}));
    model.devices[1].state = DeviceState::Failed;
    for (std::size_t i = 2; i < 4; ++i) model.devices[i].counters.attempts = 1;
    EXPECT_EQ(InterruptedLines(model), std::vector<std::string>{"interrupted; no device was left mid-script"});
}

// One notice for a run asked to stop, as the window and the terminal say it.
TEST(InterruptedLines, TheStoppingNoticeIsOneTextInTheWindowAndOnTheTerminal) {
    EXPECT_EQ(StoppingText(StopNotice::Window), "Stopping after the exchange under way...");
    EXPECT_EQ(StoppingText(StopNotice::Terminal),
              "stopping after the exchange under way; press Ctrl-C again to end at once");
}

}  // namespace
}  // namespace quorvane
