#include "platform/files/TextFileCodec.h"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

QByteArray encoded(QStringView text, StringEncoding encoding)
{
    auto bytes = Encodings::encode(text, encoding);
    EXPECT_TRUE(bytes.has_value());
    return bytes.value_or(QByteArray());
}

QByteArray marked(StringEncoding encoding, QStringView text)
{
    return TextFileCodec::byteOrderMark(encoding) + encoded(text, encoding);
}

const QString kMixedEndings = QStringLiteral(u"# Grüße, naïve café\r\nzweite Zeile\nthird\r\rlast");

} // namespace

// The files users have: each reads with the right characters and the right
// format (the detected ones through ICU's guesses), and writes back byte for
// byte.
TEST(TextFileCodec, EverydayFilesReadRightAndWriteBackUnchanged)
{
    struct Case {
        const char* what;
        QByteArray file;
        StringEncoding preferred;
        QString text;
        TextFileFormat format;
    };
    const QString french = QStringLiteral(u"Déjà l'été, où êtes-vous? Ça va très bien, merci.\r\nNaïve façade à côté.\n");
    const QString quotes = QStringLiteral(u"It’s a “quoted” word — and a second “quote”, costing 5 €.\r\nNext\n");
    const QString emoji = QStringLiteral(u"Smile 😀 and 中文\r\nline\n");
    const Case cases[] = {
        {"UTF-8", encoded(kMixedEndings, Encoding::utf8), Encoding::utf8, kMixedEndings, {Encoding::utf8, false}},
        {"UTF-8 with a mark", marked(Encoding::utf8, kMixedEndings), Encoding::utf8, kMixedEndings,
         {Encoding::utf8, true}},
        {"UTF-16LE with a mark", marked(Encoding::utf16LittleEndian, emoji), Encoding::utf8, emoji,
         {Encoding::utf16LittleEndian, true}},
        {"UTF-16LE with a mark beats Latin 1 preferred", marked(Encoding::utf16LittleEndian, emoji),
         Encoding::isoLatin1, emoji, {Encoding::utf16LittleEndian, true}},
        {"UTF-16BE with a mark", marked(Encoding::utf16BigEndian, emoji), Encoding::utf8, emoji,
         {Encoding::utf16BigEndian, true}},
        {"a mark beats the preference", marked(Encoding::utf16LittleEndian, emoji), Encoding::isoLatin1, emoji,
         {Encoding::utf16LittleEndian, true}},
        {"UTF-32LE with a mark", marked(Encoding::utf32LittleEndian, emoji), Encoding::utf8, emoji,
         {Encoding::utf32LittleEndian, true}},
        {"UTF-16LE without a mark", encoded(emoji, Encoding::utf16LittleEndian), Encoding::utf8, emoji,
         {Encoding::utf16LittleEndian, false}},
        {"Latin 1, detected", encoded(french, Encoding::isoLatin1), Encoding::utf8, french,
         {Encoding::isoLatin1, false}},
        {"Latin 1, short and detected", encoded(u"Café\n", Encoding::isoLatin1), Encoding::utf8, QStringLiteral(u"Café\n"),
         {Encoding::isoLatin1, false}},
        {"Latin 1, preferred", encoded(kMixedEndings, Encoding::isoLatin1), Encoding::isoLatin1, kMixedEndings,
         {Encoding::isoLatin1, false}},
        {"Windows Latin 1, detected", encoded(quotes, Encoding::windowsCP1252), Encoding::utf8, quotes,
         {Encoding::windowsCP1252, false}},
        {"Mac Roman, preferred", encoded(french, Encoding::macOSRoman), Encoding::macOSRoman, french,
         {Encoding::macOSRoman, false}},
        {"Cyrillic, detected", encoded(u"Все счастливые семьи похожи друг на друга, каждая несчастливая семья "
                                       u"несчастлива по-своему.\n",
                                       Encoding::windowsCP1251),
         Encoding::utf8,
         QStringLiteral(u"Все счастливые семьи похожи друг на друга, каждая несчастливая семья несчастлива по-своему.\n"),
         {Encoding::windowsCP1251, false}},
        {"UTF-16 preferred, no mark: big-endian", encoded(u"ab\n", Encoding::utf16BigEndian), Encoding::utf16,
         QStringLiteral("ab\n"), {Encoding::utf16BigEndian, false}},
        {"UTF-16 preferred, no mark, little-endian bytes", encoded(u"ab\n", Encoding::utf16LittleEndian),
         Encoding::utf16, QStringLiteral("ab\n"), {Encoding::utf16LittleEndian, false}},
        {"UTF-32 preferred, no mark, little-endian bytes", encoded(u"ab\n", Encoding::utf32LittleEndian),
         Encoding::utf32, QStringLiteral("ab\n"), {Encoding::utf32LittleEndian, false}},
        {"empty file", QByteArray(), Encoding::utf8, QString(), {Encoding::utf8, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto read = TextFileCodec::read(c.file, c.preferred);
        ASSERT_TRUE(read.ok()) << read.error().message().toStdString();
        EXPECT_EQ(read->text, c.text);
        EXPECT_EQ(read->format, c.format);
        const auto written = TextFileCodec::write(read->text, read->format);
        ASSERT_TRUE(written.ok());
        EXPECT_EQ(written->bytes, c.file);
        EXPECT_FALSE(written->usedFallback);
    }
}

TEST(TextFileCodec, StrictReadingNeverInventsCharacters)
{
    // Latin 1 bytes preferred as UTF-8: the UTF-8 attempt fails, detection reads them.
    const auto latin = TextFileCodec::read(encoded(u"résumé naïve\n", Encoding::isoLatin1), Encoding::utf8);
    ASSERT_TRUE(latin.ok());
    EXPECT_EQ(latin->text, QStringLiteral(u"résumé naïve\n"));
    EXPECT_FALSE(latin->text.contains(QChar(0xFFFD)));

    // A mark that lies: the file is damaged, not some other encoding.
    const auto damaged = TextFileCodec::read(QByteArray("\xEF\xBB\xBFok \xFF\xFE bad", 11), Encoding::utf8, "/x/n.md");
    ASSERT_FALSE(damaged.ok());
    EXPECT_EQ(damaged.error().code, PlatformError::Code::cannotDecode);
    EXPECT_TRUE(damaged.error().errorDescription.contains(QStringLiteral("n.md")));

    // UTF-16 preferred for a file without NUL bytes would make every two
    // letters one CJK character; such a file is read as what it is.
    const auto ascii = TextFileCodec::read("plain words\n", Encoding::utf16);
    ASSERT_TRUE(ascii.ok());
    EXPECT_EQ(ascii->text, QStringLiteral("plain words\n"));
    EXPECT_EQ(ascii->format.encoding, Encoding::utf8);

    // ASCII preferred for UTF-8 text: ASCII fails, UTF-8 reads it.
    const auto utf8 = TextFileCodec::read(encoded(u"naïve", Encoding::utf8), Encoding::ascii);
    ASSERT_TRUE(utf8.ok());
    EXPECT_EQ(utf8->text, QStringLiteral(u"naïve"));
    EXPECT_EQ(utf8->format.encoding, Encoding::utf8);

    // An unknown preference is UTF-8.
    const auto unknown = TextFileCodec::read(encoded(u"naïve", Encoding::utf8), 0xdeadbeef);
    ASSERT_TRUE(unknown.ok());
    EXPECT_EQ(unknown->format.encoding, Encoding::utf8);
}

TEST(TextFileCodec, BinaryDataIsNotText)
{
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0", 29);
    const QByteArray utf16WithNul = marked(Encoding::utf16LittleEndian, QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
    const QByteArray utf8WithNul("text\0more", 9);
    for (const QByteArray& data : {png, utf16WithNul, utf8WithNul}) {
        for (StringEncoding preferred : {Encoding::utf8, Encoding::isoLatin1, Encoding::utf16LittleEndian}) {
            const auto read = TextFileCodec::read(data, preferred, "/home/a/picture.png");
            ASSERT_FALSE(read.ok()) << data.toHex().toStdString() << " as " << preferred;
            EXPECT_EQ(read.error().code, PlatformError::Code::notText);
            EXPECT_TRUE(read.error().errorDescription.contains(QStringLiteral("picture.png")));
            EXPECT_FALSE(read.error().recoverySuggestion.isEmpty());
        }
    }
}

TEST(TextFileCodec, TextThatOutgrowsItsEncodingFallsBackToUtf8)
{
    // A Latin 1 document that gained a euro sign.
    const QString text = QStringLiteral(u"Café à 5 €\r\n");
    EXPECT_FALSE(Encodings::encode(text, Encoding::isoLatin1).has_value());
    const auto written = TextFileCodec::write(text, TextFileFormat{Encoding::isoLatin1, false});
    ASSERT_TRUE(written.ok());
    EXPECT_TRUE(written->usedFallback);
    EXPECT_EQ(written->format, (TextFileFormat{Encoding::utf8, false}));
    EXPECT_EQ(written->bytes, text.toUtf8());
    EXPECT_FALSE(written->bytes.contains('?'));

    // Without a fallback that holds it, the attempt fails and says why.
    const auto refused = TextFileCodec::write(text, TextFileFormat{Encoding::isoLatin1, false},
                                              TextFileFormat{Encoding::ascii, false});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, PlatformError::Code::cannotEncode);
    EXPECT_TRUE(refused.error().errorDescription.contains(QStringLiteral(u"é")));
}

TEST(TextFileCodec, WritingNeverDependsOnTheLocaleAndNeverWritesQuestionMarks)
{
    // An unknown encoding writes UTF-8.
    const auto unknown = TextFileCodec::write(u"naïve", TextFileFormat{0xdeadbeef, false});
    ASSERT_TRUE(unknown.ok());
    EXPECT_EQ(unknown->bytes, QStringLiteral(u"naïve").toUtf8());
    EXPECT_EQ(unknown->format.encoding, Encoding::utf8);

    // A broken surrogate fits nowhere: the save fails instead of writing "?".
    const QString broken = QStringLiteral("ab") + QChar(0xD83D) + QStringLiteral("c");
    const auto failed = TextFileCodec::write(broken, TextFileFormat{Encoding::utf8, false});
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().code, PlatformError::Code::cannotEncode);
    EXPECT_TRUE(failed.error().errorDescription.contains(QStringLiteral("U+D83D")));

    // New files in UTF-16 (10) get a little-endian mark; UTF-8 gets none.
    const auto utf16 = TextFileCodec::write(u"a", TextFileFormat::forEncoding(Encoding::utf16));
    ASSERT_TRUE(utf16.ok());
    EXPECT_EQ(utf16->bytes, QByteArray("\xFF\xFE" "a\0", 4));
    EXPECT_EQ(TextFileFormat::forEncoding(Encoding::utf8), (TextFileFormat{Encoding::utf8, false}));
    // A mark asked of an encoding that has none is left out.
    const auto latin = TextFileCodec::write(u"a", TextFileFormat{Encoding::isoLatin1, true});
    ASSERT_TRUE(latin.ok());
    EXPECT_EQ(latin->bytes, QByteArray("a"));
    EXPECT_FALSE(latin->format.byteOrderMark);
}

TEST(TextFileCodec, LargeTextsRoundTrip)
{
    // Enough text to outgrow the first output buffers in every direction.
    QString text;
    for (int i = 0; i < 20000; ++i) text += QStringLiteral(u"行 %1 — 😀 Zeile\r\n").arg(i);
    for (TextFileFormat format : {TextFileFormat{Encoding::utf8, false}, TextFileFormat{Encoding::utf16BigEndian, true},
                                  TextFileFormat{Encoding::utf32LittleEndian, true}}) {
        SCOPED_TRACE(format.encoding);
        const auto written = TextFileCodec::write(text, format);
        ASSERT_TRUE(written.ok());
        const auto read = TextFileCodec::read(written->bytes, Encoding::utf8);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(read->format, format);
        EXPECT_TRUE(read->text == text);
    }
}

// A preference for a single-byte encoding (chosen once in a save dialog)
// decodes any bytes, so it must never read a UTF-8 file: "Café" would come
// out as "CafÃ©" and be saved that way. Valid UTF-8 with any non-ASCII byte,
// and a file with a byte-order mark, read the same under every encoding the
// chooser offers; the preference decides only for the rest.
TEST(TextFileCodec, ValidUtf8IsReadAsUtf8WhateverThePreference)
{
    const QString text = QStringLiteral(u"Café, naïve “quotes” — 5 € 😀\r\nzweite Zeile\n");
    const QByteArray utf8 = encoded(text, Encoding::utf8);
    const QByteArray markedUtf8 = marked(Encoding::utf8, text);
    const QByteArray markedUtf16 = marked(Encoding::utf16LittleEndian, text);
    int narrow = 0;
    for (StringEncoding preference : Encodings::available()) {
        SCOPED_TRACE(Encodings::displayName(preference).toStdString());
        const auto read = TextFileCodec::read(utf8, preference);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(read->text, text);
        EXPECT_EQ(read->format, (TextFileFormat{Encoding::utf8, false}));
        const auto withMark = TextFileCodec::read(markedUtf8, preference);
        ASSERT_TRUE(withMark.ok());
        EXPECT_EQ(withMark->format, (TextFileFormat{Encoding::utf8, true}));
        const auto wide = TextFileCodec::read(markedUtf16, preference);
        ASSERT_TRUE(wide.ok());
        EXPECT_EQ(wide->text, text);
        if (Encodings::isWideUnicode(preference) || preference == Encoding::utf8) continue;
        ++narrow;
        // Plain ASCII is in the preferred encoding, so that what is typed
        // later is saved in it.
        const auto ascii = TextFileCodec::read("plain words\n", preference);
        ASSERT_TRUE(ascii.ok());
        EXPECT_EQ(ascii->format.encoding, preference);
    }
    EXPECT_GT(narrow, 10);

    // Bytes that are not UTF-8 are read in the preference.
    const QByteArray latin = encoded(u"Café à côté\n", Encoding::isoLatin1);
    for (StringEncoding preference : {Encoding::isoLatin1, Encoding::windowsCP1252, Encoding::macOSRoman}) {
        const auto read = TextFileCodec::read(latin, preference);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(read->format.encoding, preference);
        EXPECT_EQ(read->text, *Encodings::decode(latin, preference));
    }
}
