#include "multimarkdown_binding/EngineText.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumora {

namespace {

constexpr char16_t replacementCharacter = 0xFFFD;

inline bool isRejectedControl(char16_t unit)
{
    return unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != 0x0B && unit != 0x0C
        && unit != u'\r';
}

inline char* putCodePoint(char* out, char32_t cp)
{
    if (cp < 0x80) {
        *out++ = char(cp);
    } else if (cp < 0x800) {
        *out++ = char(0xC0 | (cp >> 6));
        *out++ = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = char(0xE0 | (cp >> 12));
        *out++ = char(0x80 | ((cp >> 6) & 0x3F));
        *out++ = char(0x80 | (cp & 0x3F));
    } else {
        *out++ = char(0xF0 | (cp >> 18));
        *out++ = char(0x80 | ((cp >> 12) & 0x3F));
        *out++ = char(0x80 | ((cp >> 6) & 0x3F));
        *out++ = char(0x80 | (cp & 0x3F));
    }
    return out;
}

} // namespace

std::string engineTextFromString(const QString& text)
{
    const char16_t* units = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype count = text.size();
    std::string result;
    // A byte for each unit, as most texts need; three bytes for each unit
    // still to come, the most any unit can need, once a unit needs more.
    result.resize(size_t(count) + 16);
    char* out = result.data();
    char* end = out + result.size();
    qsizetype i = 0;
    auto makeRoom = [&](size_t bytes) {
        if (size_t(end - out) >= bytes) return;
        const size_t written = size_t(out - result.data());
        result.resize(written + bytes + size_t(count - i) * 3);
        out = result.data() + written;
        end = result.data() + result.size();
    };

    if (count > 0 && units[0] == 0xFEFF) i = 1;
    for (; i < count; ++i) {
#if defined(__SSE2__)
        // Printable ASCII with its tabs and line feeds, the bulk of most
        // texts, goes sixteen units at a time.
        const __m128i space = _mm_set1_epi16(0x20);
        const __m128i span = _mm_set1_epi16(0x5F);
        const __m128i lineFeed = _mm_set1_epi16(0x0A);
        const __m128i tab = _mm_set1_epi16(0x09);
        // All ones where a unit is within 0x20...0x7E or a tab or line feed.
        auto plain = [&](__m128i block) {
            const __m128i printable =
                _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(block, space), span), _mm_setzero_si128());
            return _mm_or_si128(printable,
                                _mm_or_si128(_mm_cmpeq_epi16(block, lineFeed), _mm_cmpeq_epi16(block, tab)));
        };
        while (count - i >= 16) {
            makeRoom(16);
            const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
            const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + 8));
            if (_mm_movemask_epi8(_mm_and_si128(plain(low), plain(high))) != 0xFFFF) break;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(low, high));
            out += 16;
            i += 16;
        }
        if (i >= count) break;
#endif
        makeRoom(4);
        const char16_t unit = units[i];
        if (unit >= 0x20 && unit < 0x80) {
            *out++ = char(unit);
        } else if (unit < 0x80) {
            if (unit == u'\r') {
                *out++ = '\n';
                if (i + 1 < count && units[i + 1] == u'\n') ++i;
            } else if (isRejectedControl(unit)) {
                out = putCodePoint(out, replacementCharacter);
            } else {
                *out++ = char(unit);
            }
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
                const char32_t cp = 0x10000 + ((char32_t(unit) - 0xD800) << 10)
                    + (char32_t(units[i + 1]) - 0xDC00);
                out = putCodePoint(out, cp);
                ++i;
            } else {
                out = putCodePoint(out, replacementCharacter);
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            out = putCodePoint(out, replacementCharacter);
        } else {
            out = putCodePoint(out, unit);
        }
    }
    result.resize(size_t(out - result.data()));
    return result;
}

QString stringFromEngineText(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

} // namespace lumora
