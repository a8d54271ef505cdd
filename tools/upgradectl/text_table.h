#pragma once
// A plain left-aligned text table for terminal output.

#include <ostream>
#include <string>
#include <vector>

namespace quorvane::cli {

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
