#include "platform/text/TextMeasurement.h"

#include "platform/text/TextStorage.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QTextLayout>

#include <vector>

namespace lumora::text {

namespace {

struct Segment {
    qsizetype length;
    QFont font;
    friend bool operator==(const Segment&, const Segment&) = default;
};

struct Key {
    QString text;
    std::vector<Segment> segments;
    double tabInterval;
    friend bool operator==(const Key&, const Key&) = default;
};

size_t qHash(const Key& key, size_t seed = 0)
{
    size_t h = ::qHash(key.text, seed) ^ ::qHash(key.tabInterval);
    for (const Segment& s : key.segments) h = h * 31 + (::qHash(s.font) ^ size_t(s.length));
    return h;
}

double measure(const Key& key)
{
    const bool hasTab = key.text.contains(u'\t');
    if (key.segments.size() == 1 && !hasTab && key.segments.front().font.letterSpacing() == 0)
        return QFontMetricsF(key.segments.front().font).horizontalAdvance(key.text);

    QTextLayout layout(key.text, key.segments.front().font);
    QList<QTextLayout::FormatRange> formats;
    qsizetype at = 0;
    for (const Segment& s : key.segments) {
        QTextLayout::FormatRange f;
        f.start = int(at);
        f.length = int(s.length);
        f.format.setFont(s.font);
        formats.append(f);
        at += s.length;
    }
    layout.setFormats(formats);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setFlags(QTextOption::IncludeTrailingSpaces);
    if (key.tabInterval > 0) option.setTabStopDistance(key.tabInterval);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    double width = 0;
    if (line.isValid()) {
        line.setNumColumns(int(key.text.size()));
        width = line.naturalTextWidth();
    }
    layout.endLayout();
    return width;
}

} // namespace

double typesetWidth(const TextStorage& storage, Range range, double tabInterval)
{
    const qsizetype from = std::clamp<qsizetype>(range.location, 0, storage.length());
    const qsizetype to = std::clamp<qsizetype>(range.end(), from, storage.length());
    if (from >= to) return 0.0;

    Key key;
    key.text = storage.substring(Range(from, to - from));
    key.tabInterval = tabInterval;
    qsizetype pos = from;
    while (pos < to) {
        Range fontRun;
        Range kernRun;
        const AttributeValue& fontValue = storage.attribute(AttributeKey::Font, pos, &fontRun);
        QFont font = fontValue.font() ? *fontValue.font() : QGuiApplication::font();
        const AttributeValue& kern = storage.attribute(AttributeKey::Kern, pos, &kernRun);
        if (const double* k = kern.number(); k && *k != 0.0) font.setLetterSpacing(QFont::AbsoluteSpacing, *k);
        else if (const std::int64_t* k = kern.integer(); k && *k != 0) font.setLetterSpacing(QFont::AbsoluteSpacing, double(*k));
        const qsizetype stop = std::min({to, fontRun.end(), kernRun.end()});
        if (!key.segments.empty() && key.segments.back().font == font) key.segments.back().length += stop - pos;
        else key.segments.push_back({stop - pos, font});
        pos = stop;
    }

    // Main thread only, like all text work.
    static QHash<Key, double> cache;
    if (auto it = cache.constFind(key); it != cache.constEnd()) return it.value();
    if (cache.size() > 4096) cache.clear();
    const double width = measure(key);
    cache.insert(key, width);
    return width;
}

} // namespace lumora::text
