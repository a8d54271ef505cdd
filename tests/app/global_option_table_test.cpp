// The shared options as the users see them: every entry of the table in the
// help text of each program that takes it and in no other, and the bash
// completion offering exactly upgradectl's.

#include "app/global_option_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/link_stack.h"

namespace quorvane {
namespace {

// What the command writes on stdout.
std::string Output(const std::string& command) {
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
    ::pclose(pipe);
    return text;
}

// Runs of white space as one space: a help text may be wrapped anywhere.
std::string Squeezed(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool space = std::isspace(static_cast<unsigned char>(c)) != 0;
        if (!space)
            out += c;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    return out;
}

std::string Long(const GlobalOption& entry) {
    return "--" + std::string(entry.longName);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// How each parser shows a name with its value: "--port N" and "--port <N>".
using ValueShown = std::string (*)(const std::string& name, std::string_view valueName);

void ExpectHelpHoldsItsOptions(const std::string& help, unsigned program, ValueShown shown) {
    ASSERT_FALSE(help.empty());
    for (const GlobalOption& entry : GlobalOptionTable()) {
        SCOPED_TRACE(Long(entry));
        if ((entry.programs & program) == 0) {
            EXPECT_FALSE(Contains(help, Long(entry)));
            continue;
        }
        EXPECT_TRUE(
            Contains(help, entry.valueName.empty() ? Long(entry) : shown(Long(entry), entry.valueName)));
        if (!entry.shortName.empty()) {
            EXPECT_TRUE(Contains(help, "-" + std::string(entry.shortName) + ","));
        }
        EXPECT_TRUE(Contains(help, Squeezed(std::string(entry.help))));
    }
}

TEST(GlobalOptionTableTest, UpgradectlHelpShowsEveryOptionItTakes) {
    const std::string help = Squeezed(Output(std::string("'") + UPGRADECTL_PATH + "' --help"));
    ExpectHelpHoldsItsOptions(help, IN_UPGRADECTL, [](const std::string& name, std::string_view value) {
        return name + " " + std::string(value);
    });
}

#ifdef QV_UPGRADE_PATH
TEST(GlobalOptionTableTest, DesktopHelpShowsEveryOptionItTakes) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string help = Squeezed(Output(std::string("'") + QV_UPGRADE_PATH + "' --help"));
    ExpectHelpHoldsItsOptions(help, IN_DESKTOP, [](const std::string& name, std::string_view value) {
        return name + " <" + std::string(value) + ">";
    });
}
#endif

// The words of the completion script's `local global="..."` line.
std::vector<std::string> CompletedGlobalOptions() {
    std::ifstream script(COMPLETION_PATH);
    const std::string start = "local global=\"";
    for (std::string line; std::getline(script, line);) {
        const auto at = line.find(start);
        if (at == std::string::npos) continue;
        const auto begin = at + start.size();
        std::istringstream words(line.substr(begin, line.find('"', begin) - begin));
        std::vector<std::string> names;
        for (std::string word; words >> word;) names.push_back(word);
        return names;
    }
    return {};
}

TEST(GlobalOptionTableTest, BashCompletionOffersExactlyUpgradectlsOptions) {
    std::vector<std::string> expected{"--version", "--help"};  // CLI11's own
    for (const GlobalOption& entry : GlobalOptionTable()) {
        if ((entry.programs & IN_UPGRADECTL) == 0) continue;
        expected.push_back(Long(entry));
        if (!entry.shortName.empty()) expected.push_back("-" + std::string(entry.shortName));
    }
    std::vector<std::string> completed = CompletedGlobalOptions();
    std::sort(expected.begin(), expected.end());
    std::sort(completed.begin(), completed.end());
    EXPECT_EQ(completed, expected);
}

// A number's range holds its default, and only numbers have one.
TEST(GlobalOptionTableTest, EveryNumberTakesItsOwnDefault) {
    const GlobalOptions defaults;
    for (const GlobalOption& entry : GlobalOptionTable()) {
        SCOPED_TRACE(Long(entry));
        const auto* number = std::get_if<int GlobalOptions::*>(&entry.field);
        if (number == nullptr || entry.valueName.empty()) {
            EXPECT_EQ(entry.range.lowest, 0);
            EXPECT_EQ(entry.range.highest, 0);
            continue;
        }
        EXPECT_LE(entry.range.lowest, defaults.**number);
        EXPECT_GE(entry.range.highest, defaults.**number);
    }
    EXPECT_EQ(GlobalOptionOf(GlobalOptionId::Jobs).range.highest, 4096);
}

TEST(GlobalOptionTableTest, LinkSettingsKeepTheOptionsAndTheEventsOnlyWhenAsked) {
    GlobalOptions options;
    options.events = "run.jsonl";
    options.rounds = 3;
    options.capture = "wire.pcap";
    EndpointOptions endpoint;
    endpoint.port = 14101;
    EXPECT_EQ(LinkSettingsOf(options, endpoint, true).options.events, "run.jsonl");
    const LinkSettings without = LinkSettingsOf(options, endpoint, false);
    EXPECT_EQ(without.options.events, "");
    EXPECT_EQ(without.options.rounds, 3);
    EXPECT_EQ(without.options.capture, std::filesystem::path("wire.pcap"));
    EXPECT_EQ(without.endpoint.port, 14101);
}

}  // namespace
}  // namespace quorvane
