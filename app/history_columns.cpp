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

// "4.0.2 -> 4.1.0", or the firmware before alone while none after is known.
std::string FirmwareText(const HistoryEntry& entry) {
    if (entry.device.firmwareAfter.empty()) return entry.device.firmwareBefore;
    return entry.device.firmwareBefore + " -> " + entry.device.firmwareAfter;
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
