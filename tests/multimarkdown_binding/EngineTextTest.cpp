// The editor's text as the converter reads it: the same bytes whatever mix
// of plain ASCII (taken sixteen units at a time), other characters, line
// breaks and broken surrogates a text holds, wherever they fall.
#include "multimarkdown_binding/EngineText.h"

#include <gtest/gtest.h>

#include <QString>

#include <random>
#include <string>

namespace lumora {
namespace {

// One unit at a time, as the rules say.
std::string expectedEngineText(const QString& text)
{
    auto put = [](std::string& out, char32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    };
    std::string out;
    qsizetype i = !text.isEmpty() && text.at(0).unicode() == 0xFEFF ? 1 : 0;
    for (; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (u == u'\r') {
            out += '\n';
            if (i + 1 < text.size() && text.at(i + 1) == u'\n') ++i;
        } else if (u < 0x20 && u != u'\t' && u != u'\n' && u != 0x0B && u != 0x0C) {
            put(out, 0xFFFD);
        } else if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            put(out, QChar::surrogateToUcs4(u, text.at(i + 1).unicode()));
            ++i;
        } else if (QChar::isSurrogate(u)) {
            put(out, 0xFFFD);
        } else {
            put(out, u);
        }
    }
    return out;
}

TEST(EngineText, EveryMixOfUnitsComesOutAsOneUnitAtATimeWouldWriteIt)
{
    // Runs of each kind of unit, of lengths around the sixteen units taken
    // at once, in random order: the buffer grows where the text turns out
    // to need more than a byte a unit.
    const char16_t pieces[] = {u'a', u' ', u'\n', u'\t', u'\r', 0x01, 0x00, 0x7F, 0xE9, 0x4E2D,
                               0xD83D, 0xDE00, 0xFEFF, 0xFFFD};
    std::mt19937 random(26);
    for (int round = 0; round < 400; ++round) {
        QString text;
        const int runs = 1 + int(random() % 12);
        for (int r = 0; r < runs; ++r) {
            const char16_t unit = pieces[random() % std::size(pieces)];
            const int length = int(random() % 40);
            for (int k = 0; k < length; ++k) text += QChar(unit);
            // A pair, as text holds them.
            if (random() % 4 == 0) text += QString::fromUtf16(u"\U0001F600");
        }
        ASSERT_EQ(engineTextFromString(text), expectedEngineText(text)) << "round " << round;
    }
    // Long texts of three-byte characters after a long ASCII start.
    const QString long3 = QString(5000, QChar(u'x')) + QString(20000, QChar(char16_t(0x4E2D)));
    EXPECT_EQ(engineTextFromString(long3), expectedEngineText(long3));
    EXPECT_EQ(engineTextFromString(QString()), std::string());
    EXPECT_EQ(engineTextFromString(QString(QChar(char16_t(0xFEFF)))), std::string());
}

} // namespace
} // namespace lumora
