#include "platform/text/TextSubstitutions.h"

#include "platform/foundation/CharacterSet.h"

namespace lumora::text {

namespace {

constexpr char16_t kLeftDouble = 0x201C;
constexpr char16_t kRightDouble = 0x201D;
constexpr char16_t kLeftSingle = 0x2018;
constexpr char16_t kRightSingle = 0x2019;
constexpr char16_t kEmDash = 0x2014;
constexpr char16_t kEnDash = 0x2013;

bool isSpaceOrTab(QChar c) { return c == u' ' || c == u'\t' || c.category() == QChar::Separator_Space; }

bool isBlank(QChar c) { return isSpaceOrTab(c) || isNewline(c); }

bool isWordCharacter(QChar c) { return c.isLetterOrNumber() || c.isMark(); }

bool isClosingPunctuation(QChar c) { return QStringView(u".,;:!?)]}").contains(c); }

} // namespace

std::optional<Substitution> smartQuote(QStringView text, qsizetype typedAt)
{
    if (typedAt < 0 || typedAt >= text.size()) return std::nullopt;
    const QChar typed = text[typedAt];
    if (typed != u'"' && typed != u'\'') return std::nullopt;
    bool opening = true;
    if (typedAt > 0) {
        const QChar before = text[typedAt - 1];
        opening = isBlank(before) || QStringView(u"([{<").contains(before) || before == QChar(kEmDash)
            || before == QChar(kEnDash) || before == QChar(kLeftDouble) || before == QChar(kLeftSingle);
    }
    const bool isDouble = typed == u'"';
    const char16_t curly = isDouble ? (opening ? kLeftDouble : kRightDouble) : (opening ? kLeftSingle : kRightSingle);
    return Substitution{Range(typedAt, 1), QString(QChar(curly))};
}

std::optional<Substitution> smartDash(QStringView text, qsizetype typedAt)
{
    if (typedAt < 2 || typedAt >= text.size()) return std::nullopt;
    const QChar typed = text[typedAt];
    if (typed == u'-' || typed == u'>') return std::nullopt;
    if (text[typedAt - 1] != u'-' || text[typedAt - 2] != u'-') return std::nullopt;
    const qsizetype start = typedAt - 2;
    if (start > 0 && (text[start - 1] == u'-' || text[start - 1] == u'!')) return std::nullopt;
    // At the start of a line, hyphens are Markdown (rules, underlines).
    qsizetype i = start;
    while (i > 0 && isSpaceOrTab(text[i - 1])) --i;
    if (i == 0 || isNewline(text[i - 1])) return std::nullopt;
    return Substitution{Range(start, 2), QString(QChar(kEmDash))};
}

bool endsReplacementShortcut(QChar c)
{
    return isBlank(c) || QStringView(u".,;:!?").contains(c);
}

std::optional<Substitution> textReplacement(QStringView text, qsizetype typedAt,
                                            const std::vector<TextReplacementEntry>& entries)
{
    if (typedAt <= 0 || typedAt >= text.size() || !endsReplacementShortcut(text[typedAt])) return std::nullopt;
    std::optional<Substitution> best;
    for (const TextReplacementEntry& entry : entries) {
        const qsizetype length = entry.replace.size();
        if (length == 0 || length > typedAt || entry.replace == entry.with) continue;
        if (best && best->range.length >= length) continue;
        const qsizetype start = typedAt - length;
        if (text.sliced(start, length) != entry.replace) continue;
        if (start > 0) {
            const QChar before = text[start - 1];
            if (!isBlank(before) && !QStringView(u"([{\"'\u201C\u2018").contains(before)) continue;
        }
        best = Substitution{Range(start, length), entry.with};
    }
    return best;
}

std::pair<QString, QString> smartInsertPadding(QStringView text, Range range, QStringView pasted)
{
    std::pair<QString, QString> padding;
    if (pasted.isEmpty() || range.location < 0 || range.end() > text.size()) return padding;
    if (range.location > 0 && isWordCharacter(text[range.location - 1]) && isWordCharacter(pasted.front()))
        padding.first = QStringLiteral(" ");
    if (range.end() < text.size() && isWordCharacter(text[range.end()]) && isWordCharacter(pasted.back()))
        padding.second = QStringLiteral(" ");
    return padding;
}

Range smartDeleteRange(QStringView text, Range range)
{
    if (range.isEmpty() || range.location < 0 || range.end() > text.size()) return range;
    const qsizetype start = range.location;
    const qsizetype end = range.end();
    // Whole words only: a word character at each edge, none just outside.
    if (!isWordCharacter(text[start]) || !isWordCharacter(text[end - 1])) return range;
    if (start > 0 && isWordCharacter(text[start - 1])) return range;
    if (end < text.size() && isWordCharacter(text[end])) return range;

    const bool spaceBefore = start > 0 && isSpaceOrTab(text[start - 1]);
    const bool lineStartBefore = start == 0 || isNewline(text[start - 1]);
    const bool spaceAfter = end < text.size() && isSpaceOrTab(text[end]);
    const bool stopAfter = end == text.size() || isNewline(text[end]) || isClosingPunctuation(text[end]);
    if (spaceBefore && spaceAfter) return Range(start, range.length + 1);
    if (spaceBefore && stopAfter) return Range(start - 1, range.length + 1);
    if (lineStartBefore && spaceAfter) return Range(start, range.length + 1);
    return range;
}

} // namespace lumora::text
