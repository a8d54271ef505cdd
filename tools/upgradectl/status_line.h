#pragma once
// One line at the bottom of the terminal that is redrawn in place. Anything
// else printed to the same stream must clear it first, or the two mix.

#include <ostream>
#include <string>

namespace quorvane::cli {

class StatusLine {
public:
    // `columns` is the terminal width; longer texts are cut to fit.
    StatusLine(std::ostream& out, std::size_t columns) : out_(out), columns_(columns) {}
    void Show(const std::string& text);
    // The characters a shown text may have: one column stays free, as
    // writing into the last one makes some terminals wrap.
    std::size_t Room() const { return columns_ > 1 ? columns_ - 1 : columns_; }
    // Erases the line if one is shown; harmless otherwise.
    void Clear();

private:
    std::ostream& out_;
    std::size_t columns_;
    bool shown_ = false;
};

// The width of the terminal on standard error, 80 when it cannot be told.
std::size_t TerminalColumns();
// True when standard error is a terminal, so redrawing in place works.
bool StderrIsTerminal();
bool StdinIsTerminal();

}  // namespace quorvane::cli
