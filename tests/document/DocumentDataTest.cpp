#include "document/DocumentData.h"

#include "DocumentTestSupport.h"
#include "markdown/Markdown.h"
#include "platform/foundation/Dispatch.h"
#include "support/Patience.h"

#include <QLocale>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace lumora;
using namespace lumora::test;

namespace {

QString words(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i) list << QStringLiteral("word");
    return list.join(QLatin1Char(' '));
}

QString statistics(const QString& text, Range range = {})
{
    DocumentData data;
    data.textStorage().replaceCharacters(Range(0, 0), text);
    return data.documentStatistics(range);
}

QString line(qint64 words, qint64 characters, const QString& reading)
{
    return QStringLiteral("Words: %1, Characters: %2, Reading: %3")
        .arg(QLocale().toString(words), QLocale().toString(characters), reading);
}

} // namespace

TEST(DocumentStatistics, CountsWordsCharactersAndReadingTime)
{
    EXPECT_EQ(statistics(QString()), line(0, 0, "0 sec"));
    // An empty selection counts the whole text; a selection only itself.
    EXPECT_EQ(statistics("# One two, three.\n- four", Range(5, 0)), line(4, 24, "0 sec"));
    EXPECT_EQ(statistics("# One two, three.\n- four", Range(2, 7)), line(2, 7, "0 sec"));
    // Characters are UTF-16 units: a character beyond the first plane is two.
    EXPECT_EQ(statistics(QStringLiteral(u"a 😀 b")), line(2, 6, "0 sec"));
    // 250 words a minute.
    EXPECT_EQ(statistics(words(125)), line(125, 624, "30 sec"));
    EXPECT_EQ(statistics(words(500)), line(500, 2499, "2 min"));
    EXPECT_EQ(statistics(words(375)), line(375, 1874, "1 min, 30 sec"));
    // A selection past the end is cut to the text.
    EXPECT_EQ(statistics("one two", Range(4, 50)), line(1, 3, "0 sec"));

    // At most two units.
    EXPECT_EQ(DocumentData::readingTime(1), "0 sec");
    EXPECT_EQ(DocumentData::readingTime(250 * 60), "1 hr");
    EXPECT_EQ(DocumentData::readingTime(250 * 61 + 200), "1 hr, 1 min") << "seconds are left out";
    EXPECT_EQ(DocumentData::readingTime(250 * 60 + 125), "1 hr") << "a zero in the middle ends the text";
}

TEST(DocumentData, ReadingOffTheMainThreadHappensOnIt)
{
    DocumentData data;
    bool changedOnMainThread = false;
    data.textStorage().addObserver([&](const TextStorage::Change&) { changedOnMainThread = dispatch::isMainThread(); });
    PlatformStatus status = PlatformError();
    std::atomic<bool> done{false};
    std::thread reader([&] {
        status = data.readDocument(QByteArrayView("# Read elsewhere\n"));
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, test::patience));
    reader.join();
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(data.textStorage().string(), QStringLiteral("# Read elsewhere\n"));
    EXPECT_TRUE(changedOnMainThread);
}

TEST(DocumentData, ReadingReplacesTheOldTextAndItsMarks)
{
    RecordingEditor editor;
    Document document;
    document.addEditor(editor);
    DocumentData& shown = document.data();
    ASSERT_TRUE(shown.readDocument(QByteArrayView("# Heading\n")).ok());
    EXPECT_FALSE(shown.textStorage().attribute(AttributeKey::FullLineMarkdown, 0).isNull())
        << "with a window attached, the text is styled at once";
    ASSERT_TRUE(shown.readDocument(QByteArrayView("plain words\n")).ok());
    const auto element = Markdown::unboxed(shown.textStorage().attribute(AttributeKey::FullLineMarkdown, 0));
    EXPECT_TRUE(!element || element->kind() != Markdown::Kind::Heading);
    EXPECT_FALSE(shown.textStorageInvalidated);
}
