#include "app/history_columns.h"

#include <filesystem>

#include "res/string_format.h"
#include "res/string_table.h"

namespace quorvane {
namespace {

// A run without an end was killed or lost its power: its devices' results
// say so, since a device it left mid-script may not be what the row claims.
std::string ResultText(const HistoryEntry& entry) {
    if (entry.run.exitCode) return entry.device.result;
    return FormatPlaceholders(IDS_HISTORY_UNFINISHED, {entry.device.result});
}

std::string PackageName(const HistoryEntry& entry) {
    return std::filesystem::path(entry.run.packagePath).filename().string();
}

// Whether the device's script was sent to it, so that what it runs now may
// differ from what it ran before.
bool ScriptWasSent(const std::string& result) {
    return result == "upgraded" || result == "failed" || result == "interrupted";
}

// "4.0.2 -> 4.1.0". Without a firmware after, a device the script was sent
// to reads "4.0.2 -> not checked", so that the newest row never passes its
// old firmware off as what it runs; one left alone shows what it ran.
std::string FirmwareText(const HistoryEntry& entry) {
    const HistoryDevice& device = entry.device;
    if (!device.firmwareAfter.empty()) return device.firmwareBefore + " -> " + device.firmwareAfter;
    if (ScriptWasSent(device.result)) return FormatPlaceholders(IDS_HISTORY_NOT_CHECKED, {device.firmwareBefore});
    return device.firmwareBefore;
}

}  // namespace

const std::vector<HistoryColumn>& HistoryColumns() {
    static const std::vector<HistoryColumn> columns = {
        {"Time", false, [](const HistoryEntry& e) { return e.device.endedUtc; }},
        {"MAC", false, [](const HistoryEntry& e) { return e.device.mac; }},
        {"Name", true, [](const HistoryEntry& e) { return e.device.name; }},
        {"Result", false, ResultText},
        {"Firmware", true, FirmwareText},
        {"Package", true, PackageName},
        {"Key", false, [](const HistoryEntry& e) { return e.run.keyId; }},
    };
    return columns;
}

}  // namespace quorvane
