#include "tools/upgradectl/command_suggestion.h"

#include <algorithm>

namespace quorvane::cli {
namespace {

bool Contains(const std::vector<std::string>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Edits between two words: insertions, deletions, replacements and swaps of
// neighbouring letters, the common slips of typing.
std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::optional<std::string> CommandWord(const std::vector<std::string>& arguments,
                                       const std::vector<std::string>& optionsWithValue) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") return std::nullopt;
        if (argument.empty() || argument[0] != '-') return argument;
        // "--port 4101" hides its value; "--port=4101" carries it along.
        if (Contains(optionsWithValue, argument)) ++i;
    }
    return std::nullopt;
}

std::string NearestName(std::string_view word, const std::vector<std::string>& names, std::size_t maxEdits) {
    std::string nearest;
    std::size_t best = maxEdits + 1;
    for (const std::string& name : names) {
        const std::size_t distance = EditDistance(word, name);
        if (distance < best) {
            best = distance;
            nearest = name;
        }
    }
    return nearest;
}

std::optional<std::string> UnknownCommandMessage(const std::vector<std::string>& arguments,
                                                 const std::vector<std::string>& commands,
                                                 const std::vector<std::string>& optionsWithValue) {
    const std::optional<std::string> word = CommandWord(arguments, optionsWithValue);
    if (!word || Contains(commands, *word)) return std::nullopt;
    std::string message = "unknown command '" + *word + "'";
    // Half the word at most, so that a word of its own is not "corrected".
    const std::string nearest = NearestName(*word, commands, std::max<std::size_t>(1, word->size() / 2));
    if (!nearest.empty()) message += "; did you mean '" + nearest + "'?";
    return message;
}

}  // namespace quorvane::cli
