#pragma once

#include <QHash>
#include <QString>

namespace lumora {

// The user-visible text for a key of resources/Localizable.strings. A key
// that the table lacks shows the key itself.
QString localized(const QString& key);
inline QString localized(const char* key) { return localized(QString::fromUtf8(key)); }

// A menu or button title: "&" is shown as is, never taken as a mnemonic.
QString localizedMenuTitle(const QString& key);

// The table parser, exposed for tests: one "key" = "value"; per entry, with
// \" \\ \n \t escapes and /* */ or // comments.
QHash<QString, QString> parseStringsTable(const QString& text);

} // namespace lumora
