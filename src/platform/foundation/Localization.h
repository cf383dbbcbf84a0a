#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace lumora {

// The user-visible text for a key of resources/Localizable.strings. A key
// that the table lacks shows the key itself.
QString localized(const QString& key);
inline QString localized(const char* key) { return localized(QString::fromUtf8(key)); }

// Formats in the table take their arguments through "%@" placeholders,
// replaced in order by the arguments ("%%" gives "%"); a placeholder without
// an argument is left as it stands. "theme.name.copy" = "%@ Copy" names the
// copy of "Notes" "Notes Copy".
QString formatWithPlaceholders(const QString& format, const QStringList& arguments);
QString localizedFormat(const QString& key, const QStringList& arguments);

// A menu or button title: "&" is shown as is, never taken as a mnemonic.
QString localizedMenuTitle(const QString& key);

// The table parser, exposed for tests: one "key" = "value"; per entry, with
// \" \\ \n \t escapes and /* */ or // comments.
QHash<QString, QString> parseStringsTable(const QString& text);

} // namespace lumora
