#include "platform/files/Encodings.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace lumora;

namespace {

QByteArray bytes(const char* data, qsizetype n) { return QByteArray(data, n); }

} // namespace

TEST(Encodings, EveryOfferedEncodingHasAConverterAndANameOfItsOwn)
{
    QSet<QString> names;
    for (StringEncoding e : Encodings::available()) {
        SCOPED_TRACE(e);
        EXPECT_FALSE(Encodings::converterName(e).isEmpty());
        EXPECT_EQ(Encodings::usable(e), e);
        names.insert(Encodings::displayName(e));
    }
    EXPECT_EQ(names.size(), Encodings::available().size()) << "display names must tell encodings apart";
    EXPECT_EQ(Encodings::available().constFirst(), Encoding::utf8);
    for (StringEncoding e : Encodings::available()) EXPECT_FALSE(Encodings::converterName(e).isEmpty()) << e;

    // The names detection gives.
    EXPECT_EQ(Encodings::fromConverterName("windows-1252"), Encoding::windowsCP1252);
    EXPECT_EQ(Encodings::fromConverterName("ISO-8859-1"), Encoding::isoLatin1);
    EXPECT_EQ(Encodings::fromConverterName("UTF-16LE"), Encoding::utf16LittleEndian);
    EXPECT_EQ(Encodings::fromConverterName("ISO-8859-8-I"), Encoding::isoLatinHebrew);
    EXPECT_EQ(Encodings::fromConverterName("IBM420_ltr"), std::nullopt);
    EXPECT_EQ(Encodings::fromConverterName(nullptr), std::nullopt);
    EXPECT_EQ(Encodings::displayName(Encoding::windowsCP1252), QStringLiteral("Western (Windows Latin 1)"));
}

TEST(Encodings, UnknownAndUnsupportedNumbersFallBackToUtf8)
{
    for (StringEncoding e : {StringEncoding(0), StringEncoding(0xdeadbeef), Encoding::nextStep, Encoding::symbol,
                             Encoding::nonLossyASCII}) {
        SCOPED_TRACE(e);
        EXPECT_FALSE(Encodings::isAvailable(e));
        EXPECT_EQ(Encodings::usable(e), Encoding::utf8);
        EXPECT_FALSE(Encodings::displayName(e).isEmpty());
        EXPECT_FALSE(Encodings::decode("abc", e).has_value());
        EXPECT_FALSE(Encodings::encode(u"abc", e).has_value());
    }
    EXPECT_TRUE(Encodings::displayName(0xdeadbeef).contains(QString::number(0xdeadbeef)));
}

TEST(Encodings, DecodingIsStrict)
{
    struct Case {
        const char* what;
        QByteArray data;
        StringEncoding encoding;
        qsizetype offset;
    };
    const Case cases[] = {
        {"stray continuation byte", bytes("ab\x80", 3), Encoding::utf8, 2},
        {"overlong NUL", bytes("x\xC0\x80", 3), Encoding::utf8, 1},
        {"truncated sequence", bytes("ok\xE2\x82", 4), Encoding::utf8, 2},
        {"8-bit byte in ASCII", bytes("caf\xE9", 4), Encoding::ascii, 3},
        {"odd byte count in UTF-16", bytes("a\0b", 3), Encoding::utf16LittleEndian, 2},
        {"lone surrogate in UTF-16", bytes("\x00\xD8" "a\0", 4), Encoding::utf16LittleEndian, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qsizetype offset = -1;
        EXPECT_FALSE(Encodings::decode(c.data, c.encoding, &offset).has_value());
        EXPECT_EQ(offset, c.offset);
    }
    // Valid input decodes, U+FEFF of UTF-8 included (marks are the file codec's business).
    EXPECT_EQ(Encodings::decode("\xEF\xBB\xBFhi", Encoding::utf8), QStringLiteral(u"\uFEFFhi"));
    EXPECT_EQ(Encodings::decode("", Encoding::utf8), QString());
}

TEST(Encodings, EncodingIsStrict)
{
    struct Case {
        const char* what;
        QString text;
        StringEncoding encoding;
        qsizetype offset;
    };
    const Case cases[] = {
        {"euro sign in Latin 1", QStringLiteral(u"price: 5 €"), Encoding::isoLatin1, 9},
        {"emoji in Windows Latin 1", QStringLiteral(u"ok 😀 fine"), Encoding::windowsCP1252, 3},
        {"lone high surrogate in UTF-8", QStringLiteral("ab") + QChar(0xD83D) + QStringLiteral("c"), Encoding::utf8, 2},
        {"lone low surrogate in UTF-16", QString(QChar(0xDE00)), Encoding::utf16LittleEndian, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qsizetype offset = -1;
        EXPECT_FALSE(Encodings::encode(c.text, c.encoding, &offset).has_value());
        EXPECT_EQ(offset, c.offset);
    }
    EXPECT_EQ(Encodings::encode(u"é€", Encoding::windowsCP1252), bytes("\xE9\x80", 2));
    // UTF-16 and UTF-32 with a mark write it little-endian, whatever the machine.
    EXPECT_EQ(Encodings::encode(u"a", Encoding::utf16), bytes("\xFF\xFE" "a\0", 4));
    EXPECT_EQ(Encodings::encode(u"a", Encoding::utf32), bytes("\xFF\xFE\0\0" "a\0\0\0", 8));
}
