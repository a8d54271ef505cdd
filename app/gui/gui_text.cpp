#include "app/gui/gui_text.h"

#include <QStringList>

#include "app/display_text.h"
#include "res/string_table.h"

namespace quorvane {

QString TableText(int id) {
    return QString::fromStdString(LoadString(id));
}

namespace {

// Safe texts are always valid UTF-8.
QString FromSafe(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString ExternalText(const std::string& bytes) {
    // The terminal's own conversion, so a name reads alike in both.
    return FromSafe(TerminalText(bytes));
}

QString ExternalLines(const std::string& bytes) {
    return FromSafe(MultilineText(bytes));
}

namespace {

QString ChooserPattern(QString pattern) {
    QStringList parts = pattern.split(u';', Qt::SkipEmptyParts);
    for (QString& part : parts) {
        part = part.trimmed();
        if (part == u"*.*") part = QStringLiteral("*");
    }
    return parts.join(u' ');
}

// "All Files (*.*)" keeps its name but shows the pattern the chooser uses.
QString ChooserName(QString name, const QString& tablePattern, const QString& pattern) {
    const QString shown = u'(' + tablePattern + u')';
    if (name.endsWith(shown)) name.chop(shown.size());
    return name.trimmed() + QStringLiteral(" (") + pattern + u')';
}

}  // namespace

QString ChooserFilter(const std::string& tableFilter) {
    const QStringList fields = QString::fromStdString(tableFilter).split(u'|');
    QStringList filters;
    // Pairs of name and pattern; the empty fields of the closing "||" end it.
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        if (fields[i].isEmpty() || fields[i + 1].isEmpty()) break;
        const QString pattern = ChooserPattern(fields[i + 1]);
        filters << ChooserName(fields[i], fields[i + 1], pattern);
    }
    return filters.join(QStringLiteral(";;"));
}

}  // namespace quorvane
