#include "tools/upgradectl/command_error.h"

#include <iostream>
#include <nlohmann/json.hpp>
#include <string_view>

#include "tools/upgradectl/json_output.h"

namespace quorvane::cli {

std::string Said(std::string_view text) {
    std::string line(MESSAGE_PREFIX);
    line += text;
    return line;
}

int FailBeforeWork(bool json, const std::string& line, int exitCode) {
    std::cerr << line << '\n';
    if (json) PrintErrorJson(line, exitCode);
    return exitCode;
}

void PrintErrorJson(const std::string& line, int exitCode) {
    nlohmann::ordered_json report;
    report["error"] = line.starts_with(MESSAGE_PREFIX) ? line.substr(MESSAGE_PREFIX.size()) : line;
    report["exit"] = exitCode;
    PrintJson(report);
}

bool AsksForJson(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") return false;
        if (argument == "--json") return true;
    }
    return false;
}

}  // namespace quorvane::cli
