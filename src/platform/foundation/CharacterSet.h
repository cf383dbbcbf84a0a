#pragma once

#include <QStringView>

#include <array>
#include <cstdint>

namespace lumora {

// A set of UTF-16 code units, tested in constant time. Surrogates are never
// members of the sets below, so a character outside the Basic Multilingual
// Plane never matches and a scan never stops inside a surrogate pair.
class CharacterSet {
public:
    CharacterSet() = default;
    explicit CharacterSet(QStringView characters) { add(characters); }

    bool contains(char16_t c) const { return (m_bits[c >> 6] >> (c & 63)) & 1u; }
    bool contains(QChar c) const { return contains(char16_t(c.unicode())); }

    void add(char16_t c) { m_bits[c >> 6] |= std::uint64_t(1) << (c & 63); }
    void add(QStringView characters);
    void add(const CharacterSet& other);

    // Space, tab and the other Unicode space separators; no line breaks.
    static const CharacterSet& whitespace();
    // U+000A to U+000D, U+0085, U+2028, U+2029.
    static const CharacterSet& newlines();
    static const CharacterSet& whitespaceAndNewlines();
    // Unicode decimal digits (general category Nd) of the Basic Multilingual Plane.
    static const CharacterSet& decimalDigits();

private:
    std::array<std::uint64_t, 1024> m_bits{};
};

namespace text {

// The same classes as plain tests, for hot loops.
constexpr bool isNewline(char16_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

constexpr bool isWhitespace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A)
        || c == 0x202F || c == 0x205F || c == 0x3000;
}

constexpr bool isWhitespaceOrNewline(char16_t c) { return isWhitespace(c) || isNewline(c); }

inline bool isNewline(QChar c) { return isNewline(char16_t(c.unicode())); }
inline bool isWhitespace(QChar c) { return isWhitespace(char16_t(c.unicode())); }
inline bool isWhitespaceOrNewline(QChar c) { return isWhitespaceOrNewline(char16_t(c.unicode())); }

} // namespace text

} // namespace lumora
