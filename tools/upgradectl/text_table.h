#pragma once
// A plain left-aligned text table for terminal output.

#include <ostream>
#include <string>
#include <vector>

namespace quorvane::cli {

// `text` with every control byte replaced by '?': names come from the
// network and script lines from the package, and neither may steer the
// user's terminal with escape sequences.
std::string PrintableText(std::string text);

class TextTable {
public:
    explicit TextTable(std::vector<std::string> headers) : headers_(std::move(headers)) {}
    void AddRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
    // Columns are padded to their widest cell and separated by two spaces;
    // a missing cell prints as empty.
    void Print(std::ostream& out) const;

private:
    std::vector<std::string> headers_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace quorvane::cli
