#include "tools/upgradectl/status_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "app/display_text.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {

void StatusLine::Show(const std::string& text) {
    // Cut in characters after filtering: a byte cut could split a character.
    out_ << "\r\x1b[2K" << FirstCharacters(PrintableText(text), Room()) << std::flush;
    shown_ = true;
}

void StatusLine::Clear() {
    if (!shown_) return;
    out_ << "\r\x1b[2K" << std::flush;
    shown_ = false;
}

std::size_t TerminalColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}
bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

}  // namespace quorvane::cli
