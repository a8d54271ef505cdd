#include "app/column_text.h"

#include <cstring>

#include "app/display_text.h"
#include "app/mac_strings.h"
#include "app/session_results.h"
#include "package/device_summary.h"
#include "protocol/ipv4_text.h"
#include "res/string_format.h"
#include "res/string_table.h"

namespace quorvane {
namespace {

constexpr int LOWEST_TYPE_BITS = 0xD8;   // "8-Port USIA"
constexpr int HIGHEST_TYPE_BITS = 0xFC;  // "Single Serial"

std::string NameText(const AdmittedDevice& device, const SessionResults*) {
    const DeviceSummary& summary = device.summary;
    const MacAddress& mac = device.record->mac;
    const std::size_t length = strnlen(summary.name, SUMMARY_TEXT_ROOM);
    // Never half a UTF-8 character: the rest of the name would then no
    // longer read as UTF-8 and be shown byte by byte.
    if (length > 0) return CutBytes(std::string_view(summary.name, length), NAME_TEXT_LIMIT);
    return FormatStringId(IDS_NAME_FROM_MAC, {mac[3], mac[4], mac[5]});
}

std::string MacColumn(const AdmittedDevice& device, const SessionResults*) {
    return MacText(device.record->mac);
}

// A zero letter byte would end the text of a C string (and hide the rest of
// the firmware text), so it is shown as the space that stands for "no letter".
char LetterOf(char letter) {
    return letter == '\0' ? ' ' : letter;
}

std::string FirmwareText(const AdmittedDevice& device, const SessionResults*) {
    const DeviceSummary& s = device.summary;
    if (s.dateSecond == 0) return LoadString(IDS_FIRMWARE_UPGRADE);
    return FormatStringId(IDS_FIRMWARE_TEXT, {LetterOf(s.firmwareLetters[0]), LetterOf(s.firmwareLetters[1]),
                                              LetterOf(s.firmwareLetters[2]), s.revisionId, s.versionSecond,
                                              s.versionThird, s.dateFirst, s.dateSecond, s.dateThird});
}

}  // namespace

std::string FirmwareVersionText(const AdmittedDevice& device) {
    const DeviceSummary& s = device.summary;
    if (s.dateSecond == 0) return {};
    return std::to_string(s.revisionId) + '.' + std::to_string(s.versionSecond) + '.' + std::to_string(s.versionThird);
}

namespace {

int PortLabelId(uint16_t deviceId) {
    const int bits = deviceId & 0xFC;
    if (bits < LOWEST_TYPE_BITS) return IDS_TYPE_UNKNOWN;
    return IDS_TYPE_SINGLE_SERIAL + (HIGHEST_TYPE_BITS - bits) / 4;
}

int ConnectorLabelId(uint16_t deviceId) {
    switch (deviceId >> 8) {
        case 0x50:
            return IDS_CONNECTOR_CABLED;
        case 0x58:
            return IDS_CONNECTOR_RS422;
        case 0x60:
            return IDS_CONNECTOR_RS485;
        case 0x68:
            return IDS_CONNECTOR_RJ45;
        case 0x70:
            return IDS_CONNECTOR_DB9;
        case 0x78:
            return IDS_CONNECTOR_TTL;
        default:
            return IDS_CONNECTOR_UNKNOWN;
    }
}

std::string DeviceTypeText(const AdmittedDevice& device, const SessionResults*) {
    const uint16_t deviceId = device.summary.deviceId;
    return FormatPlaceholders(IDS_DEVICE_TYPE_TEXT,
                              {LoadString(PortLabelId(deviceId)), LoadString(ConnectorLabelId(deviceId))});
}

std::string IpText(const AdmittedDevice& device, const SessionResults*) {
    return FormatIpv4(DeviceRecord::IpAddress(device.record));
}

std::string LastResultColumn(const AdmittedDevice& device, const SessionResults* session) {
    return session != nullptr ? session->LastText(device.record->mac) : std::string();
}

// Adding a column: a row here with its text function, and its title in
// the string table or in the row. upgradectl runs once a process, so a
// last result of its session would always be empty there.
constexpr DeviceColumn COLUMNS[] = {
    {KEY_NAME, "name", IDS_COLUMN_NAME, nullptr, 80, true, NameText},
    {KEY_MAC, "mac", IDS_COLUMN_MAC, nullptr, 120, true, MacColumn},
    {KEY_FIRMWARE, "firmware", IDS_COLUMN_FIRMWARE, nullptr, 140, true, FirmwareText},
    {KEY_DEVICE_TYPE, "type", IDS_COLUMN_DEVICE_TYPE, nullptr, 125, true, DeviceTypeText},
    {KEY_IP, "ip", IDS_COLUMN_IP, nullptr, 100, true, IpText},
    {KEY_LAST_RESULT, "last_result", IDS_COLUMN_LAST_RESULT, nullptr, 90, false, LastResultColumn},
};

// The text `textOf` gives for the column with `key`; false for a key of no
// column. A null device gives the empty text.
template <typename TextOf>
bool ColumnTextByKey(const AdmittedDevice* device, std::string& out, int key, TextOf textOf) {
    out.clear();
    for (const DeviceColumn& column : COLUMNS) {
        if (column.key != key) continue;
        if (device != nullptr && device->record != nullptr) out = textOf(column, *device);
        return true;
    }
    return false;
}

}  // namespace

std::vector<DeviceColumn> DeviceColumns() {
    std::vector<DeviceColumn> shown;
    for (const DeviceColumn& column : COLUMNS)
        if (column.upgradectl) shown.push_back(column);
    return shown;
}

std::vector<DeviceColumn> DesktopListColumns() {
    std::vector<DeviceColumn> shown;
    for (const DeviceColumn& column : COLUMNS)
        if (column.width > 0) shown.push_back(column);
    return shown;
}

std::string ColumnTitle(const DeviceColumn& column) {
    return column.titleId != 0 ? LoadString(column.titleId) : column.title;
}

bool DeviceColumnText(const AdmittedDevice* device, std::string& out, int key,
                      const SessionResults* session) {
    return ColumnTextByKey(device, out, key,
                           [session](const DeviceColumn& column, const AdmittedDevice& listed) {
                               return column.text(listed, session);
                           });
}

std::string DeviceCellText(const DeviceColumn& column, const AdmittedDevice& device,
                           const SessionResults* session) {
    std::string text = column.text(device, session);
    if (column.key == KEY_MAC && device.record->sharedMac != SharedMac::No)
        text += LoadString(IDS_DUPLICATE_MARK);
    return text;
}

bool DeviceCellText(const AdmittedDevice* device, std::string& out, int key, const SessionResults* session) {
    return ColumnTextByKey(device, out, key,
                           [session](const DeviceColumn& column, const AdmittedDevice& listed) {
                               return DeviceCellText(column, listed, session);
                           });
}

}  // namespace quorvane
