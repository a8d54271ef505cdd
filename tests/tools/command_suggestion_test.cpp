#include "tools/upgradectl/command_suggestion.h"

#include <gtest/gtest.h>

namespace quorvane::cli {
namespace {

const std::vector<std::string> COMMANDS = {"discover", "interfaces", "inspect", "check",
                                           "upgrade",  "pack",       "unpack"};
const std::vector<std::string> WITH_VALUE = {"--broadcast", "--interface", "--port", "--wait-ms"};

TEST(CommandSuggestion, NamesTheUnknownCommandAndTheNearestOne) {
    struct Case {
        std::vector<std::string> arguments;
        std::optional<std::string> message;
    };
    const Case cases[] = {
        {{"upgradectl", "upgarde", "x.upk"}, "unknown command 'upgarde'; did you mean 'upgrade'?"},
        {{"upgradectl", "--port", "4101", "dicsover"},
         "unknown command 'dicsover'; did you mean 'discover'?"},
        {{"upgradectl", "--json", "chek", "x.upk"}, "unknown command 'chek'; did you mean 'check'?"},
        {{"upgradectl", "--port=4101", "unpak"}, "unknown command 'unpak'; did you mean 'unpack'?"},
        {{"upgradectl", "frobnicate"}, "unknown command 'frobnicate'"},
        {{"upgradectl", "upgrade", "x.upk", "--all"}, std::nullopt},
        {{"upgradectl", "--broadcast", "127.0.0.1", "discover"}, std::nullopt},
        {{"upgradectl", "--json"}, std::nullopt},
        {{"upgradectl", "--", "upgarde"}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UnknownCommandMessage(c.arguments, COMMANDS, WITH_VALUE), c.message) << c.arguments.back();
}

TEST(CommandSuggestion, NearestNameStaysWithinTheAllowedEdits) {
    EXPECT_EQ(NearestName("upgrdae", COMMANDS, 2), "upgrade");
    EXPECT_EQ(NearestName("pcak", COMMANDS, 1), "pack");  // one swap
    EXPECT_EQ(NearestName("xyz", COMMANDS, 2), "");
}

}  // namespace
}  // namespace quorvane::cli
