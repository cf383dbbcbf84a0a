#include "platform/text/CaseMapping.h"

#include "platform/text/TextBoundaries.h"

#include <QLocale>

#include <unicode/ubrk.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <vector>

namespace lumora::text {

namespace {

using CaseFunction = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

int32_t toTitle(UChar* dest, int32_t capacity, const UChar* src, int32_t length, const char* locale,
                UErrorCode* status)
{
    // A null break iterator: ICU's word iterator for the locale.
    return u_strToTitle(dest, capacity, src, length, nullptr, locale, status);
}

QString mapped(QStringView text, CaseFunction function, const QByteArray& locale)
{
    if (text.isEmpty()) return {};
    const auto* source = reinterpret_cast<const UChar*>(text.utf16());
    const auto length = int32_t(text.size());
    // Full case mapping grows a text by at most three units per unit.
    std::vector<UChar> buffer(size_t(length) + 16);
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = function(buffer.data(), int32_t(buffer.size()), source, length, locale.constData(), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        buffer.resize(size_t(needed));
        status = U_ZERO_ERROR;
        needed = function(buffer.data(), int32_t(buffer.size()), source, length, locale.constData(), &status);
    }
    if (U_FAILURE(status)) return text.toString();
    return QString(reinterpret_cast<const QChar*>(buffer.data()), needed);
}

} // namespace

QString writerLocale()
{
    const QLocale system = QLocale::system();
    if (system.language() == QLocale::C || system.language() == QLocale::AnyLanguage) return QStringLiteral("en");
    return system.name();
}

QString changeCase(QStringView text, CaseChange change, const QString& locale)
{
    const QByteArray id = (locale.isEmpty() ? writerLocale() : locale).toLatin1();
    switch (change) {
    case CaseChange::upper: return mapped(text, &u_strToUpper, id);
    case CaseChange::lower: return mapped(text, &u_strToLower, id);
    case CaseChange::capitalize: return mapped(text, &toTitle, id);
    }
    return text.toString();
}

std::optional<Range> wordAt(QStringView text, qsizetype position)
{
    if (position < 0 || position > text.size()) return std::nullopt;
    // Only the words around the position are looked at: its paragraph, and
    // of a long one the stretch between the spaces a little way off.
    const ParagraphBounds bounds = paragraphBounds(text, Range(position, 0));
    constexpr qsizetype nearby = 256;
    qsizetype from = std::max(bounds.start, position - nearby);
    qsizetype to = std::min(bounds.contentsEnd, position + nearby);
    while (from > bounds.start && !text[from - 1].isSpace()) --from;
    while (to < bounds.contentsEnd && !text[to].isSpace()) ++to;
    std::optional<Range> found;
    enumerateSubstrings(text, Range(from, to - from), Unit::Words,
                        Direction::Forward, [&](Range word, Range) {
                            if (word.location > position) return false;
                            if (word.end() >= position) {
                                found = word;
                                return false;
                            }
                            return true;
                        });
    return found;
}

} // namespace lumora::text
