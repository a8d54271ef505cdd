#pragma once
// A plain left-aligned text table for terminal output.

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::cli {

// `text` made safe for the terminal (TerminalText): names come from the
// network, member names and script lines from the package, and none of them
// may steer the user's terminal with escape sequences or reorder its text.
std::string PrintableText(std::string_view text);

class TextTable {
public:
    explicit TextTable(std::vector<std::string> headers) : headers_(std::move(headers)) {}
    void AddRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
    // Columns are padded to their widest cell, counted in characters, and
    // separated by two spaces; a missing cell prints as empty.
    void Print(std::ostream& out) const;

private:
    std::vector<std::string> headers_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace quorvane::cli
