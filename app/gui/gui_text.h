#pragma once
// Texts crossing from the Qt-free code into widgets.

#include <QString>
#include <string>

namespace quorvane {

// String `id` of the table, loaded now.
QString TableText(int id);

// A text from outside (a device, the file system, a package), or one of
// ours with such a text in it, as the terminal shows it (TerminalText): the
// controls and bidirectional controls that could disguise it become '?', and
// text that is not UTF-8 is read as Latin-1, so no byte is lost.
QString ExternalText(const std::string& bytes);
// The same for a text of several lines, whose line feeds stay (a message box).
QString ExternalLines(const std::string& bytes);

// A filter of the table ("name|pattern|name|pattern||") in the file
// chooser's form ("name (pattern);;name (pattern)"). "*.*" becomes "*": on
// this platform files without a dot in their name are files too.
QString ChooserFilter(const std::string& tableFilter);

}  // namespace quorvane
