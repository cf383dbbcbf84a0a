#include "platform/text/TextBoundaries.h"

#include "platform/foundation/CharacterSet.h"

#include <QLocale>

#include <unicode/ubrk.h>

#include <climits>
#include <utility>
#include <vector>

namespace lumora::text {

namespace {

QByteArray icuLocale()
{
    const QLocale system = QLocale::system();
    if (system.language() == QLocale::C || system.language() == QLocale::AnyLanguage) return "en";
    return system.name().toLatin1();
}

// One sentence and one word iterator per thread, opened on first use.
struct BreakIterators {
    UBreakIterator* sentence = nullptr;
    UBreakIterator* word = nullptr;

    ~BreakIterators()
    {
        if (sentence) ubrk_close(sentence);
        if (word) ubrk_close(word);
    }

    UBreakIterator* get(Unit unit)
    {
        UBreakIterator*& slot = unit == Unit::Sentences ? sentence : word;
        if (!slot) {
            UErrorCode status = U_ZERO_ERROR;
            const QByteArray locale = icuLocale() + (unit == Unit::Sentences ? "@ss=standard" : "");
            slot = ubrk_open(unit == Unit::Sentences ? UBRK_SENTENCE : UBRK_WORD, locale.constData(),
                             nullptr, 0, &status);
            if (U_FAILURE(status)) {
                status = U_ZERO_ERROR;
                slot = ubrk_open(unit == Unit::Sentences ? UBRK_SENTENCE : UBRK_WORD, "en", nullptr, 0, &status);
                if (U_FAILURE(status)) slot = nullptr;
            }
        }
        return slot;
    }
};

BreakIterators& iterators()
{
    thread_local BreakIterators its;
    return its;
}

bool isCRLF(QStringView text, qsizetype i, qsizetype end)
{
    return i + 1 < end && text[i] == u'\r' && text[i + 1] == u'\n';
}

void paragraphsForward(QStringView text, qsizetype from, qsizetype to,
                       const std::function<bool(Range, Range)>& block)
{
    qsizetype pos = from;
    while (pos < to) {
        qsizetype n = pos;
        while (n < to && !isNewline(text[n].unicode())) ++n;
        if (n == to) {
            block(Range(pos, to - pos), Range(pos, to - pos));
            return;
        }
        const qsizetype breakEnd = n + (isCRLF(text, n, to) ? 2 : 1);
        if (!block(Range(pos, n - pos), Range(pos, breakEnd - pos))) return;
        pos = breakEnd;
    }
}

void paragraphsReverse(QStringView text, qsizetype from, qsizetype to,
                       const std::function<bool(Range, Range)>& block)
{
    qsizetype pos = to;
    while (pos > from) {
        qsizetype contentsEnd = pos;
        if (isNewline(text[pos - 1].unicode())) {
            contentsEnd = pos - 1;
            if (text[pos - 1] == u'\n' && pos - 2 >= from && text[pos - 2] == u'\r') contentsEnd = pos - 2;
        }
        qsizetype start = contentsEnd;
        while (start > from && !isNewline(text[start - 1].unicode())) --start;
        if (!block(Range(start, contentsEnd - start), Range(start, pos - start))) return;
        pos = start;
    }
}

void segments(QStringView text, qsizetype from, qsizetype to, Unit unit, Direction direction,
              const std::function<bool(Range, Range)>& block)
{
    if (to - from > INT_MAX) to = from + INT_MAX;
    UBreakIterator* it = iterators().get(unit);
    if (!it) return;
    UErrorCode status = U_ZERO_ERROR;
    ubrk_setText(it, reinterpret_cast<const UChar*>(text.utf16() + from), int32_t(to - from), &status);
    if (U_FAILURE(status)) return;
    const bool words = unit == Unit::Words;
    auto report = [&](int32_t a, int32_t b) {
        const Range r(from + a, b - a);
        return block(r, r);
    };
    if (direction == Direction::Forward) {
        int32_t start = ubrk_first(it);
        for (int32_t end = ubrk_next(it); end != UBRK_DONE; start = end, end = ubrk_next(it)) {
            if (words && ubrk_getRuleStatus(it) == UBRK_WORD_NONE) continue;
            if (!report(start, end)) break;
        }
    } else if (!words) {
        int32_t end = ubrk_last(it);
        for (int32_t start = ubrk_previous(it); start != UBRK_DONE; end = start, start = ubrk_previous(it))
            if (!report(start, end)) break;
    } else {
        // A word's status belongs to the boundary after it: walk forwards, report backwards.
        std::vector<std::pair<int32_t, int32_t>> found;
        int32_t start = ubrk_first(it);
        for (int32_t end = ubrk_next(it); end != UBRK_DONE; start = end, end = ubrk_next(it))
            if (ubrk_getRuleStatus(it) != UBRK_WORD_NONE) found.emplace_back(start, end);
        for (auto w = found.rbegin(); w != found.rend(); ++w)
            if (!report(w->first, w->second)) break;
    }
    // Never leave the iterator pointing at text that may go away.
    ubrk_setText(it, nullptr, 0, &status);
}

} // namespace

void enumerateSubstrings(QStringView text, Range range, Unit unit, Direction direction,
                         const std::function<bool(Range, Range)>& block)
{
    const qsizetype from = std::clamp<qsizetype>(range.location, 0, text.size());
    const qsizetype to = std::clamp<qsizetype>(range.end(), from, text.size());
    if (from >= to) return;
    if (unit == Unit::Paragraphs) {
        if (direction == Direction::Forward) paragraphsForward(text, from, to, block);
        else paragraphsReverse(text, from, to, block);
        return;
    }
    segments(text, from, to, unit, direction, block);
}

qsizetype lineBreakLength(QStringView text, qsizetype index)
{
    if (index < 0 || index >= text.size() || !isNewline(text[index].unicode())) return 0;
    return isCRLF(text, index, text.size()) ? 2 : 1;
}

ParagraphBounds paragraphBounds(QStringView text, Range range)
{
    const qsizetype n = text.size();
    qsizetype first = std::clamp<qsizetype>(range.location, 0, n);
    // The "\n" of a "\r\n" belongs to the paragraph that the "\r" ends.
    if (first > 0 && first < n && text[first] == u'\n' && text[first - 1] == u'\r') --first;
    qsizetype start = first;
    while (start > 0 && !isNewline(text[start - 1].unicode())) --start;

    qsizetype last = range.length > 0 ? std::clamp<qsizetype>(range.end() - 1, 0, n) : first;
    if (last > 0 && last < n && text[last] == u'\n' && text[last - 1] == u'\r') --last;
    qsizetype contentsEnd = std::max(last, start);
    while (contentsEnd < n && !isNewline(text[contentsEnd].unicode())) ++contentsEnd;
    const qsizetype end = contentsEnd + lineBreakLength(text, contentsEnd);
    return {start, contentsEnd, end};
}

} // namespace lumora::text
