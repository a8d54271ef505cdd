#pragma once
// A mistyped command named as such, with the nearest real one:
// "unknown command 'upgarde'; did you mean 'upgrade'?".

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::cli {

// The command word among the arguments (program name first): the first that
// is neither an option nor the value of one of `optionsWithValue` ("--port").
// Nothing when there is none, or after "--".
std::optional<std::string> CommandWord(const std::vector<std::string>& arguments,
                                       const std::vector<std::string>& optionsWithValue);

// The name closest to `word` in edits (a swap of two neighbouring letters
// counts as one), the first of equals; empty when no name is within
// `maxEdits`.
std::string NearestName(std::string_view word, const std::vector<std::string>& names, std::size_t maxEdits);

// The message for a command word that is no command, or nothing when the
// arguments name a known command or none at all.
std::optional<std::string> UnknownCommandMessage(const std::vector<std::string>& arguments,
                                                 const std::vector<std::string>& commands,
                                                 const std::vector<std::string>& optionsWithValue);

}  // namespace quorvane::cli
