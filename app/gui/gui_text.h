#pragma once
// Texts crossing from the Qt-free code into widgets.

#include <QString>
#include <string>

namespace quorvane {

// String `id` of the table, loaded now.
QString TableText(int id);

// A text from outside (a device, the file system): UTF-8 when it is valid
// UTF-8, otherwise each byte as its Latin-1 character, so no byte is lost.
QString ExternalText(const std::string& bytes);

// A filter of the table ("name|pattern|name|pattern||") in the file
// chooser's form ("name (pattern);;name (pattern)"). "*.*" becomes "*": on
// this platform files without a dot in their name are files too.
QString ChooserFilter(const std::string& tableFilter);

}  // namespace quorvane
