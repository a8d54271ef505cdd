#include "tools/upgradectl/text_table.h"

#include <algorithm>

#include "app/display_text.h"

namespace quorvane::cli {
namespace {

using Row = std::vector<std::string>;

void PrintLine(std::ostream& out, const Row& cells, const std::vector<std::size_t>& widths) {
    std::string line;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        const std::string cell = i < cells.size() ? cells[i] : std::string();
        line += cell;
        if (i + 1 < widths.size()) line += std::string(widths[i] - CharacterCount(cell) + 2, ' ');
    }
    out << line << '\n';
}

Row Printable(const Row& cells) {
    Row shown;
    for (const auto& cell : cells) shown.push_back(PrintableText(cell));
    return shown;
}

}  // namespace

std::string PrintableText(std::string_view text) {
    return TerminalText(text);
}

void TextTable::Print(std::ostream& out) const {
    // Widths are measured on the texts as printed: filtering and the Latin-1
    // reading of other bytes change their length.
    const Row headers = Printable(headers_);
    std::vector<Row> rows;
    for (const auto& row : rows_) rows.push_back(Printable(row));
    std::vector<std::size_t> widths(headers.size());
    for (std::size_t i = 0; i < headers.size(); ++i) {
        widths[i] = CharacterCount(headers[i]);
        for (const auto& row : rows)
            if (i < row.size()) widths[i] = std::max(widths[i], CharacterCount(row[i]));
    }
    PrintLine(out, headers, widths);
    Row rule;
    for (std::size_t width : widths) rule.emplace_back(width, '-');
    PrintLine(out, rule, widths);
    for (const auto& row : rows) PrintLine(out, row, widths);
}

}  // namespace quorvane::cli
