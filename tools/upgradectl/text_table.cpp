#include "tools/upgradectl/text_table.h"

#include <algorithm>

namespace quorvane::cli {
namespace {

void PrintLine(std::ostream& out, const std::vector<std::string>& cells,
               const std::vector<std::size_t>& widths) {
    std::string line;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        const std::string cell = i < cells.size() ? PrintableText(cells[i]) : std::string();
        line += cell;
        if (i + 1 < widths.size()) line += std::string(widths[i] - cell.size() + 2, ' ');
    }
    out << line << '\n';
}

}  // namespace

std::string PrintableText(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return text;
}

void TextTable::Print(std::ostream& out) const {
    std::vector<std::size_t> widths(headers_.size());
    for (std::size_t i = 0; i < headers_.size(); ++i) {
        widths[i] = headers_[i].size();
        for (const auto& row : rows_)
            if (i < row.size()) widths[i] = std::max(widths[i], row[i].size());
    }
    PrintLine(out, headers_, widths);
    std::vector<std::string> rule;
    for (std::size_t width : widths) rule.emplace_back(width, '-');
    PrintLine(out, rule, widths);
    for (const auto& row : rows_) PrintLine(out, row, widths);
}

}  // namespace quorvane::cli
