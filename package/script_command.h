#pragma once
// One script line read as a command: the keyword and its arguments, taken
// from the line reader's tokens the way a run uses them. The interpreter
// and the package check share it, so both read a line the same way.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class LineReader;

enum class ScriptKeyword {
    None,
    Unknown,
    SetProgramMode,
    LockDevice,
    UnlockDevice,
    Reset,
    Erase,
    Load,
    Read
};

struct ScriptCommand {
    ScriptKeyword keyword = ScriptKeyword::None;  // None: the line has no tokens
    std::string keywordText;                      // token 1, upper-cased
    std::string name;                             // LOAD member or READ file, upper-cased
    bool nameUsable = false;                      // the name can name a file of its own folder
    uint16_t a = 0;                               // address pair a:b of LOAD and READ
    uint16_t b = 0;
    uint16_t segment = 0;  // ERASE
    uint32_t length = 0;   // READ
    // Numbers and addresses that are missing or do not read cleanly; the
    // values above are still what a run uses (missing numbers are 0).
    std::vector<std::string> argumentNotes;
};

ScriptCommand ReadScriptCommand(const LineReader& reader);
// Why a LOAD or READ name cannot be used ("no file name", ...); empty when it can.
std::string NameProblem(const ScriptCommand& command);

// The keyword the text names, Unknown for anything else.
ScriptKeyword KeywordOf(std::string_view upperText);
const char* KeywordName(ScriptKeyword keyword);
// True for the commands that send something to the device.
bool IsDeviceCommand(ScriptKeyword keyword);
// A known keyword that `upperText` is most likely a slip of: one letter
// wrong, missing, added or two letters swapped, or a keyword with more
// behind it (run into its argument). Unknown when none fits.
ScriptKeyword LikelyMeant(std::string_view upperText);

}  // namespace quorvane
