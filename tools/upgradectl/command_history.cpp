// upgradectl history [--mac MAC] [--since DATE] [--limit N] [--json | --csv]:
// the device runs the history holds, newest first, as lines for a person,
// a JSON array or CSV for a spreadsheet.

#include <CLI/CLI.hpp>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/history_columns.h"
#include "app/history_recorder.h"
#include "app/history_store.h"
#include "app/run_events.h"
#include "protocol/mac_text.h"
#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/commands.h"
#include "tools/upgradectl/json_output.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

struct HistoryArgs {
    std::string mac;
    std::string since;
    std::size_t limit = 0;
    bool csv = false;
};

using Json = nlohmann::ordered_json;

// Every recorded field by its key, in the order JSON and CSV give them.
struct HistoryField {
    const char* key;
    Json (*value)(const HistoryEntry& entry);
};

constexpr HistoryField FIELDS[] = {
    {"run_id", [](const HistoryEntry& e) { return Json(e.runId); }},
    {"run_started_utc", [](const HistoryEntry& e) { return Json(e.run.startedUtc); }},
    {"run_ended_utc", [](const HistoryEntry& e) { return TextOrNull(e.run.endedUtc); }},
    {"run_finished", [](const HistoryEntry& e) { return Json(e.run.exitCode.has_value()); }},
    {"exit_code", [](const HistoryEntry& e) { return e.run.exitCode ? Json(*e.run.exitCode) : Json(nullptr); }},
    {"program", [](const HistoryEntry& e) { return Json(e.run.program); }},
    {"version", [](const HistoryEntry& e) { return Json(e.run.version); }},
    {"user", [](const HistoryEntry& e) { return Json(e.run.user); }},
    {"host", [](const HistoryEntry& e) { return Json(e.run.host); }},
    {"package_path", [](const HistoryEntry& e) { return Json(e.run.packagePath); }},
    {"package_sha256", [](const HistoryEntry& e) { return Json(e.run.packageSha256); }},
    {"key_id", [](const HistoryEntry& e) { return TextOrNull(e.run.keyId); }},
    {"trusted_comment", [](const HistoryEntry& e) { return TextOrNull(e.run.trustedComment); }},
    {"jobs", [](const HistoryEntry& e) { return Json(e.run.jobs); }},
    {"retries", [](const HistoryEntry& e) { return Json(e.run.retries); }},
    {"mac", [](const HistoryEntry& e) { return Json(e.device.mac); }},
    {"name", [](const HistoryEntry& e) { return Json(e.device.name); }},
    {"ipv4", [](const HistoryEntry& e) { return Json(e.device.ipv4); }},
    {"type", [](const HistoryEntry& e) { return Json(e.device.type); }},
    {"firmware_before", [](const HistoryEntry& e) { return TextOrNull(e.device.firmwareBefore); }},
    {"firmware_after", [](const HistoryEntry& e) { return TextOrNull(e.device.firmwareAfter); }},
    {"result", [](const HistoryEntry& e) { return Json(e.device.result); }},
    {"verify", [](const HistoryEntry& e) { return TextOrNull(e.device.verify); }},
    {"attempts", [](const HistoryEntry& e) { return Json(e.device.attempts); }},
    {"sends", [](const HistoryEntry& e) { return Json(e.device.sends); }},
    {"resends", [](const HistoryEntry& e) { return Json(e.device.resends); }},
    {"timeouts", [](const HistoryEntry& e) { return Json(e.device.timeouts); }},
    {"bytes", [](const HistoryEntry& e) { return Json(e.device.bytes); }},
    {"seconds", [](const HistoryEntry& e) { return Json(e.device.seconds); }},
    {"error", [](const HistoryEntry& e) { return TextOrNull(e.device.error); }},
    {"ended_utc", [](const HistoryEntry& e) { return Json(e.device.endedUtc); }},
};

// One CSV field as RFC 4180 has it: quoted when it holds a comma, a quote
// or a line break, its quotes doubled.
std::string CsvField(const Json& value) {
    const std::string text = value.is_null() ? "" : value.is_string() ? value.get<std::string>() : value.dump();
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

void PrintCsv(const std::vector<HistoryEntry>& entries) {
    std::string line;
    for (const HistoryField& field : FIELDS) line += (line.empty() ? "" : ",") + std::string(field.key);
    std::cout << line << "\r\n";
    for (const HistoryEntry& entry : entries) {
        line.clear();
        for (const HistoryField& field : FIELDS) {
            if (&field != FIELDS) line += ',';
            line += CsvField(field.value(entry));
        }
        std::cout << line << "\r\n";
    }
}

void PrintJsonArray(const std::vector<HistoryEntry>& entries) {
    Json array = Json::array();
    for (const HistoryEntry& entry : entries) {
        Json object = Json::object();
        for (const HistoryField& field : FIELDS) object[field.key] = field.value(entry);
        array.push_back(std::move(object));
    }
    PrintJson(array);
}

// The columns' titles, in capitals over the history's lines.
std::vector<std::string> TerminalHeaders() {
    std::vector<std::string> headers;
    for (const HistoryColumn& column : HistoryColumns()) {
        std::string title = column.title;
        for (char& c : title) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        headers.push_back(std::move(title));
    }
    return headers;
}

void PrintLines(const std::vector<HistoryEntry>& entries) {
    TextTable table(TerminalHeaders());
    for (const HistoryEntry& entry : entries) {
        std::vector<std::string> cells;
        for (const HistoryColumn& column : HistoryColumns()) {
            std::string text = column.text(entry);
            cells.push_back(column.external ? PrintableText(text) : std::move(text));
        }
        table.AddRow(std::move(cells));
    }
    table.Print(std::cout);
}

// A date "2026-12-01" or a UTC time "2026-12-01T08:30:00Z", as recorded.
bool ValidSince(const std::string& text) {
    static const std::regex form(R"(\d{4}-\d{2}-\d{2}(T\d{2}:\d{2}(:\d{2})?Z?)?)");
    return std::regex_match(text, form);
}

int RunHistory(const GlobalOptions& global, const HistoryArgs& args) {
    if (global.json && args.csv)
        return FailBeforeWork(global.json, Said("--json and --csv both choose the output; give one"), EXIT_USAGE);
    HistoryQuery query;
    query.limit = args.limit;
    if (!args.since.empty() && !ValidSince(args.since))
        return FailBeforeWork(global.json, Said("'") + args.since + "' is not a date (2026-12-01)", EXIT_USAGE);
    query.since = args.since;
    if (!args.mac.empty()) {
        MacAddress mac{};
        if (!ParseMacText(args.mac, mac))
            return FailBeforeWork(global.json, Said("'") + args.mac + "' is not a MAC address (aa:bb:cc:dd:ee:ff)",
                                  EXIT_USAGE);
        query.mac = FormatMac(mac);
    }
    const std::filesystem::path path = HistoryPathOf(global);
    std::vector<HistoryEntry> entries;
    std::error_code ignored;
    if (path.empty() || !std::filesystem::exists(path, ignored)) {
        std::cerr << MESSAGE_PREFIX << "no history yet" << (path.empty() ? "" : " (" + path.string() + ")") << '\n';
    } else {
        HistoryOpen opened = OpenHistory(path, false);
        if (!opened.warning.empty()) std::cerr << MESSAGE_PREFIX << "warning: " << opened.warning << '\n';
        std::string error = opened.error;
        if (opened.store) opened.store->Read(query, entries, error);
        if (!error.empty()) return FailBeforeWork(global.json, Said(error), EXIT_USAGE);
    }
    if (global.json)
        PrintJsonArray(entries);
    else if (args.csv)
        PrintCsv(entries);
    else if (!entries.empty())
        PrintLines(entries);
    return EXIT_DONE;
}

}  // namespace

Command AddHistoryCommand(CLI::App& app, const GlobalOptions& global) {
    auto* sub = app.add_subcommand("history", "List the device runs the upgrade history holds, newest first");
    auto args = std::make_shared<HistoryArgs>();
    sub->add_option("--mac", args->mac, "Only the runs of the device with this MAC address")->type_name("MAC");
    sub->add_option("--since", args->since, "Only runs started on or after this UTC date (2026-12-01)")
        ->type_name("DATE");
    sub->add_option("--limit", args->limit, "At most N device runs (0: all)")
        ->type_name("N")
        ->check(CLI::Range(0, 1 << 30));
    sub->add_flag("--csv", args->csv, "Comma-separated values with a header row, for spreadsheets");
    return {sub, [&global, args] { return RunHistory(global, *args); }};
}

}  // namespace quorvane::cli
