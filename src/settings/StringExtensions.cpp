#include "settings/StringExtensions.h"

#include <QLocale>
#include <QTextBoundaryFinder>

namespace lumora::string {

QString quoted(const QString& text)
{
    return QLocale().quoteString(text);
}

namespace {

bool isCharacterBoundary(const QString& s, qsizetype position)
{
    if (position <= 0 || position >= s.size()) return true;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    finder.setPosition(position);
    return finder.isAtBoundary();
}

} // namespace

PathRelation pathRelation(const QString& path, const QString& other)
{
    const QString s = path.normalized(QString::NormalizationForm_C);
    const QString o = other.normalized(QString::NormalizationForm_C);

    // The longest common prefix of whole characters.
    qsizetype p = 0;
    const qsizetype shortest = std::min(s.size(), o.size());
    while (p < shortest && s.at(p) == o.at(p)) ++p;
    while (p > 0 && !(isCharacterBoundary(s, p) && isCharacterBoundary(o, p))) --p;

    if (p == 0) {
        if (s.isEmpty() && o.isEmpty()) return PathRelation::sameItem;
        if (s.startsWith(QLatin1Char('/')) || o.startsWith(QLatin1Char('/'))) return PathRelation::unrelated;
        if (o.isEmpty()) return PathRelation::inside;
        if (s.isEmpty()) return PathRelation::containing;
        return PathRelation::unrelated;
    }
    const bool sDone = p == s.size();
    const bool oDone = p == o.size();
    if (sDone && oDone) return PathRelation::sameItem;
    if (!sDone && !oDone) return PathRelation::unrelated;

    const QString& shorter = sDone ? s : o;
    const QString& longer = sDone ? o : s;
    const QString rest = longer.mid(p);
    bool boundary = false;
    if (rest.startsWith(QLatin1Char('/'))) {
        if (rest == QLatin1String("/")) return PathRelation::sameItem;
        boundary = true;
    }
    if (shorter != QLatin1String("/") && shorter.endsWith(QLatin1Char('/'))) boundary = true;
    if (shorter == QLatin1String("/")) boundary = true;
    if (!boundary) return PathRelation::unrelated;
    return oDone ? PathRelation::inside : PathRelation::containing;
}

} // namespace lumora::string
