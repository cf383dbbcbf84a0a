#include "platform/foundation/Localization.h"

#include "platform/foundation/Bundle.h"

#include <QHash>

namespace lumora {

namespace {

void skipSpaceAndComments(const QString& t, qsizetype& i)
{
    const qsizetype n = t.size();
    while (i < n) {
        if (t.at(i).isSpace()) {
            ++i;
        } else if (t.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype end = t.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
        } else if (t.mid(i, 2) == QLatin1String("//")) {
            const qsizetype end = t.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? n : end + 1;
        } else {
            break;
        }
    }
}

bool readQuoted(const QString& t, qsizetype& i, QString& out)
{
    const qsizetype n = t.size();
    if (i >= n || t.at(i) != u'"') return false;
    ++i;
    out.clear();
    while (i < n) {
        const QChar c = t.at(i++);
        if (c == u'"') return true;
        if (c == u'\\' && i < n) {
            const QChar e = t.at(i++);
            if (e == u'n') out += u'\n';
            else if (e == u't') out += u'\t';
            else out += e;
        } else {
            out += c;
        }
    }
    return false;
}

const QHash<QString, QString>& table()
{
    static const QHash<QString, QString> strings =
        parseStringsTable(QString::fromUtf8(Bundle::resourceData(QStringLiteral("Localizable"), QStringLiteral("strings"))));
    return strings;
}

} // namespace

QHash<QString, QString> parseStringsTable(const QString& text)
{
    QHash<QString, QString> result;
    qsizetype i = 0;
    QString key;
    QString value;
    while (true) {
        skipSpaceAndComments(text, i);
        if (i >= text.size()) break;
        if (!readQuoted(text, i, key)) {
            // Skip a malformed line rather than give up on the table.
            const qsizetype end = text.indexOf(QLatin1Char('\n'), i);
            if (end < 0) break;
            i = end + 1;
            continue;
        }
        skipSpaceAndComments(text, i);
        if (i < text.size() && text.at(i) == u'=') {
            ++i;
            skipSpaceAndComments(text, i);
            if (readQuoted(text, i, value)) result.insert(key, value);
        }
        skipSpaceAndComments(text, i);
        if (i < text.size() && text.at(i) == u';') ++i;
    }
    return result;
}

QString localized(const QString& key)
{
    const auto& t = table();
    const auto it = t.constFind(key);
    return it == t.constEnd() ? key : it.value();
}

QString formatWithPlaceholders(const QString& format, const QStringList& arguments)
{
    QString out;
    out.reserve(format.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'%' && i + 1 < format.size()) {
            const QChar d = format.at(i + 1);
            if (d == u'%') {
                out += u'%';
                ++i;
                continue;
            }
            if (d == u'@' && next < arguments.size()) {
                out += arguments.at(next++);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString localizedFormat(const QString& key, const QStringList& arguments)
{
    return formatWithPlaceholders(localized(key), arguments);
}

QString localizedMenuTitle(const QString& key)
{
    QString s = localized(key);
    s.replace(QLatin1Char('&'), QLatin1String("&&"));
    return s;
}

} // namespace lumora
