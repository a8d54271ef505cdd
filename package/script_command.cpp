#include "package/script_command.h"

#include <algorithm>
#include <array>

#include "package/line_reader.h"
#include "package/upgrade_package.h"

namespace quorvane {
namespace {

struct KeywordEntry {
    ScriptKeyword keyword;
    const char* text;
};

// In the order a run tests them.
constexpr std::array<KeywordEntry, 7> KEYWORDS{{
    {ScriptKeyword::SetProgramMode, "SETPROGRAMMODE"},
    {ScriptKeyword::LockDevice, "LOCKDEVICE"},
    {ScriptKeyword::UnlockDevice, "UNLOCKDEVICE"},
    {ScriptKeyword::Reset, "RESET"},
    {ScriptKeyword::Erase, "ERASE"},
    {ScriptKeyword::Load, "LOAD"},
    {ScriptKeyword::Read, "READ"},
}};

// Edit distance with adjacent swaps, stopping early once it exceeds 1.
bool WithinOneSlip(std::string_view a, std::string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    if (b.size() - a.size() > 1) return false;
    std::size_t i = 0;
    while (i < a.size() && a[i] == b[i]) ++i;
    if (i == a.size()) return true;  // equal, or one letter added at the end
    if (a.size() == b.size()) {
        if (a.substr(i + 1) == b.substr(i + 1)) return true;  // one letter wrong
        return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] && a.substr(i + 2) == b.substr(i + 2);
    }
    return a.substr(i) == b.substr(i + 1);  // one letter missing
}

// "LOAD<TAB>FIRMWARE.BIN", "LOADFIRMWARE.BIN": a keyword run together with
// its argument, by a missing space or by a byte that does not separate
// tokens (a tab, a no-break space, a lone carriage return).
bool RunIntoArgument(std::string_view text, std::string_view keyword) {
    return text.size() > keyword.size() && text.substr(0, keyword.size()) == keyword;
}

void NoteNumber(const LineReader& reader, uint8_t n, const char* what, ScriptCommand& command) {
    std::string token;
    if (!reader.Token(n, token)) {
        command.argumentNotes.push_back(std::string("no ") + what + "; 0 is used");
        return;
    }
    if (!IsWholeNumber(token))
        command.argumentNotes.push_back(std::string(what) + " '" + token + "' is not a number");
}

void NotePair(const LineReader& reader, uint8_t n, ScriptCommand& command) {
    std::string token;
    if (!reader.Token(n, token)) {
        command.argumentNotes.push_back("no address; 0:0 is used");
        return;
    }
    const auto colon = token.find(':');
    if (colon == std::string::npos) {
        command.argumentNotes.push_back("address '" + token + "' has no ':'; it is read as " + token + ":0");
        return;
    }
    if (!IsWholeNumber(token.substr(0, colon)) || !IsWholeNumber(token.substr(colon + 1)))
        command.argumentNotes.push_back("address '" + token + "' is not two numbers a:b");
}

void ReadNameAndAddress(const LineReader& reader, ScriptCommand& command) {
    reader.TokenUpper(2, command.name);
    command.nameUsable = command.name.size() <= MAX_TOKEN_LENGTH && IsSafeFileName(command.name);
    reader.Pair(3, command.a, command.b);
    NotePair(reader, 3, command);
}

}  // namespace

std::string NameProblem(const ScriptCommand& command) {
    if (command.name.empty()) return "no file name";
    if (command.name.size() > MAX_TOKEN_LENGTH)
        return "a file name longer than " + std::to_string(MAX_TOKEN_LENGTH) + " characters";
    if (!IsSafeFileName(command.name)) return "'" + command.name + "', which is not a plain file name";
    return {};
}

ScriptKeyword KeywordOf(std::string_view upperText) {
    for (const auto& entry : KEYWORDS)
        if (upperText == entry.text) return entry.keyword;
    return ScriptKeyword::Unknown;
}

const char* KeywordName(ScriptKeyword keyword) {
    for (const auto& entry : KEYWORDS)
        if (entry.keyword == keyword) return entry.text;
    return "";
}

bool IsDeviceCommand(ScriptKeyword keyword) {
    return keyword != ScriptKeyword::None && keyword != ScriptKeyword::Unknown;
}

ScriptKeyword LikelyMeant(std::string_view upperText) {
    for (const auto& entry : KEYWORDS)
        if (RunIntoArgument(upperText, entry.text)) return entry.keyword;
    for (const auto& entry : KEYWORDS)
        if (WithinOneSlip(upperText, entry.text)) return entry.keyword;
    return ScriptKeyword::Unknown;
}

ScriptCommand ReadScriptCommand(const LineReader& reader) {
    ScriptCommand command;
    if (reader.TokenCount() == 0) return command;
    reader.TokenUpper(1, command.keywordText);
    // A keyword too long for the keyword buffer cannot be one of ours.
    command.keyword = command.keywordText.size() > MAX_TOKEN_LENGTH ? ScriptKeyword::Unknown
                                                                    : KeywordOf(command.keywordText);
    switch (command.keyword) {
        case ScriptKeyword::Erase:
            reader.Number16(2, command.segment);
            NoteNumber(reader, 2, "segment number", command);
            break;
        case ScriptKeyword::Load:
            ReadNameAndAddress(reader, command);
            break;
        case ScriptKeyword::Read:
            ReadNameAndAddress(reader, command);
            reader.Number32(4, command.length);
            NoteNumber(reader, 4, "length", command);
            break;
        default:
            break;
    }
    return command;
}

}  // namespace quorvane
