#include "platform/foundation/CharacterSet.h"

#include <QChar>

namespace lumora {

void CharacterSet::add(QStringView characters)
{
    for (QChar c : characters) add(char16_t(c.unicode()));
}

void CharacterSet::add(const CharacterSet& other)
{
    for (size_t i = 0; i < m_bits.size(); ++i) m_bits[i] |= other.m_bits[i];
}

namespace {

template <typename Test>
CharacterSet makeSet(Test test)
{
    CharacterSet set;
    for (char32_t c = 0; c < 0x10000; ++c)
        if (!QChar::isSurrogate(c) && test(char16_t(c))) set.add(char16_t(c));
    return set;
}

} // namespace

const CharacterSet& CharacterSet::whitespace()
{
    static const CharacterSet set = makeSet([](char16_t c) { return text::isWhitespace(c); });
    return set;
}

const CharacterSet& CharacterSet::newlines()
{
    static const CharacterSet set = makeSet([](char16_t c) { return text::isNewline(c); });
    return set;
}

const CharacterSet& CharacterSet::whitespaceAndNewlines()
{
    static const CharacterSet set = makeSet([](char16_t c) { return text::isWhitespaceOrNewline(c); });
    return set;
}

const CharacterSet& CharacterSet::decimalDigits()
{
    static const CharacterSet set =
        makeSet([](char16_t c) { return QChar::category(char32_t(c)) == QChar::Number_DecimalDigit; });
    return set;
}

} // namespace lumora
