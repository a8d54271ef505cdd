#pragma once
// An error that stops a command before it began its work.

#include <string>
#include <string_view>

namespace quorvane::cli {

// What every line upgradectl writes on stderr starts with.
inline constexpr std::string_view MESSAGE_PREFIX = "upgradectl: ";

// `text` as such a line: "upgradectl: " and `text`.
std::string Said(std::string_view text);

// Prints `line` on stderr, as every message is; with --json also
// {"error": TEXT, "exit": CODE} on stdout, TEXT being the line without the
// program's name in front, so that a script reading stdout always receives
// one JSON document. Returns `exitCode`.
int FailBeforeWork(bool json, const std::string& line, int exitCode);

// Only the JSON object, for errors whose line someone else has printed.
void PrintErrorJson(const std::string& line, int exitCode);

// True when the arguments (program name first) hold --json before any
// "--": when the parser refuses them, the options were never set.
bool AsksForJson(int argc, const char* const* argv);

}  // namespace quorvane::cli
