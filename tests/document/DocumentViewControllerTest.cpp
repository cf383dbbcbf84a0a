#include "document/DocumentViewController.h"

#include "document/Document.h"
#include "document/InfoView.h"
#include "document/TextView.h"
#include "platform/text/TextMirror.h"
#include "settings/Settings.h"
#include "widgets/ViewUtilities.h"

#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace lumora;

namespace {

QString statistics(const DocumentViewController& pane) { return pane.infoView()->infoLabel()->text(); }

} // namespace

TEST(DocumentViewControllerTest, PanesEditTheirDocumentTogether)
{
    Document document;
    ASSERT_TRUE(document.data().readDocument(QByteArrayView("# Title\n\nfirst words")).ok());
    DocumentViewController first;
    DocumentViewController second;
    first.resize(900, 600);
    first.show();
    first.setDocument(&document);
    second.setDocument(&document);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&first));
    ASSERT_EQ(document.editors().size(), 2u);
    // Attaching styled the text read from disk.
    EXPECT_TRUE(document.data().textStorage().attribute(AttributeKey::FullLineMarkdown, 0).object());

    first.textView()->setSelectedRange(Range(document.data().textStorage().length(), 0));
    QTest::keyClicks(first.textView(), QStringLiteral(" more"));
    EXPECT_EQ(document.data().textStorage().string(), QStringLiteral("# Title\n\nfirst words more"));
    EXPECT_EQ(second.textView()->document()->toRawText(), QStringLiteral("# Title\u2029\u2029first words more"));
    EXPECT_TRUE(document.isDocumentEdited());
    // Undo goes through whichever window asks.
    second.textView()->undo();
    EXPECT_EQ(document.data().textStorage().string(), QStringLiteral("# Title\n\nfirst words"));
    EXPECT_EQ(first.textView()->document()->toRawText(), QStringLiteral("# Title\u2029\u2029first words"));
    EXPECT_FALSE(document.isDocumentEdited());

    second.setDocument(nullptr);
    EXPECT_EQ(document.editors().size(), 1u);
}

TEST(DocumentViewControllerTest, StatisticsLineFollowsPreferenceAndSelection)
{
    Settings& settings = Settings::shared();
    const bool saved = settings.isInfoViewVisible();
    Document document;
    ASSERT_TRUE(document.data().readDocument(QByteArrayView("one two three")).ok());
    DocumentViewController pane;
    pane.show();
    pane.setDocument(&document);
    if (settings.isInfoViewVisible()) settings.toggleInfoViewVisible();
    EXPECT_FALSE(pane.infoView()->isVisible());
    const int textHeight = pane.textView()->height();

    settings.toggleInfoViewVisible();
    EXPECT_TRUE(pane.infoView()->isVisible());
    EXPECT_TRUE(statistics(pane).contains(QStringLiteral("Words: 3")));
    pane.textView()->setSelectedRange(Range(4, 3));
    EXPECT_TRUE(statistics(pane).contains(QStringLiteral("Words: 1")));
    // Back to a caret: the whole text again.
    pane.textView()->setSelectedRange(Range(0, 0));
    EXPECT_TRUE(statistics(pane).contains(QStringLiteral("Words: 3")));
    QApplication::processEvents();
    EXPECT_LT(pane.textView()->height(), textHeight);
    // The line is its label's height plus 12 points above and below, under
    // a separator along its top edge.
    InfoView* info = pane.infoView();
    EXPECT_EQ(info->height(), info->infoLabel()->sizeHint().height() + 24);
    QImage image(info->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    info->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_GT(qAlpha(image.pixel(info->width() / 2, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(info->width() / 2, 1)), 0);
    // Typing counts again once the writer pauses.
    pane.textView()->setSelectedRange(Range(13, 0));
    QTest::keyClicks(pane.textView(), QStringLiteral(" four"));
    EXPECT_TRUE(statistics(pane).contains(QStringLiteral("Words: 3")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return statistics(pane).contains(QStringLiteral("Words: 4")); }, test::patience))
        << statistics(pane).toStdString();

    if (settings.isInfoViewVisible() != saved) settings.toggleInfoViewVisible();
}

TEST(DocumentViewControllerTest, OneSoundPerKeystrokeAndNoneLeftBehind)
{
    Settings& settings = Settings::shared();
    if (!settings.isTypewriterSoundsEnabled()) settings.toggleTypewriterSounds();
    Document document;
    ASSERT_TRUE(document.data().readDocument(QByteArrayView("- item")).ok());
    DocumentViewController pane;
    pane.show();
    pane.setDocument(&document);
    pane.textView()->setSelectedRange(Range(6, 0));
    // Return makes two edits (the line break and the list continuation).
    QTest::keyClick(pane.textView(), Qt::Key_Return);
    EXPECT_EQ(document.data().textStorage().string(), QStringLiteral("- item\n- "));
    EXPECT_EQ(settings.typingSounds().playingSounds().size(), 1);
    // Without an audio output a player finishes on a later turn.
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings.typingSounds().playingSounds().isEmpty(); }, test::patience));
    settings.toggleTypewriterSounds();
}

TEST(DocumentViewControllerTest, DocumentGoneBeforeItsWindow)
{
    auto document = std::make_unique<Document>();
    ASSERT_TRUE(document->data().readDocument(QByteArrayView("text")).ok());
    DocumentViewController pane;
    pane.setDocument(document.get());
    document.reset();
    EXPECT_EQ(pane.document(), nullptr);
    QTest::keyClicks(pane.textView(), QStringLiteral("x")); // nothing to edit, nothing breaks
    EXPECT_EQ(pane.textView()->textStorage(), nullptr);
}

TEST(DocumentViewControllerTest, StatisticsAreCountedOnlyWhileShownAndFollowTyping)
{
    // A hidden statistics line counts nothing; shown, it follows typing a
    // moment after the writer pauses, in a titled document that is not
    // saved as much as in an untitled one.
    Settings& settings = Settings::shared();
    const bool saved = settings.isInfoViewVisible();
    if (settings.isInfoViewVisible()) settings.toggleInfoViewVisible();
    const QString path = test::freshDirectory(QStringLiteral("statistics")) + QStringLiteral("/notes.txt");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("one two three");
    }
    Document document;
    ASSERT_TRUE(document.readFromFile(path, QStringLiteral("text/plain")).ok());
    DocumentViewController pane;
    pane.show();
    pane.setDocument(&document);
    QTest::keyClicks(pane.textView(), QStringLiteral("zero "));
    QTest::qWait(700);
    EXPECT_TRUE(statistics(pane).isEmpty()) << "hidden, nothing was counted";

    settings.toggleInfoViewVisible();
    EXPECT_TRUE(statistics(pane).contains(QStringLiteral("Words: 4")));
    pane.textView()->setSelectedRange(Range(document.data().textStorage().length(), 0));
    QTest::keyClicks(pane.textView(), QStringLiteral(" four five"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return statistics(pane).contains(QStringLiteral("Words: 6")); }, test::patience))
        << statistics(pane).toStdString();
    EXPECT_TRUE(document.isDocumentEdited());

    if (settings.isInfoViewVisible() != saved) settings.toggleInfoViewVisible();
}

TEST(DocumentViewControllerTest, ALongTextIsCountedAwayFromTheEditor)
{
    Settings& settings = Settings::shared();
    const bool saved = settings.isInfoViewVisible();
    if (!settings.isInfoViewVisible()) settings.toggleInfoViewVisible();
    QByteArray text;
    while (text.size() < 300'000) text += "Some words to count here.\n";
    Document document;
    ASSERT_TRUE(document.data().readDocument(text).ok());
    DocumentViewController pane;
    pane.show();
    pane.setDocument(&document);
    const QString expected = document.data().documentStatistics(Range());
    ASSERT_TRUE(QTest::qWaitFor([&] { return statistics(pane) == expected; }, test::patience))
        << statistics(pane).toStdString();
    // A selection of it, too.
    pane.textView()->setSelectedRange(Range(0, 200'000));
    const QString selected = document.data().documentStatistics(Range(0, 200'000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return statistics(pane) == selected; }, test::patience))
        << statistics(pane).toStdString();
    if (settings.isInfoViewVisible() != saved) settings.toggleInfoViewVisible();
}

TEST(DocumentViewControllerTest, APaneGoesQuietlyWithTextSelected)
{
    Document document;
    ASSERT_TRUE(document.data().readDocument(QByteArrayView("some selected words")).ok());
    auto pane = std::make_unique<DocumentViewController>();
    pane->show();
    pane->setDocument(&document);
    pane->textView()->setSelectedRange(Range(5, 8));
    pane.reset(); // the editor's selection goes as the pane is destroyed
    EXPECT_TRUE(document.editors().empty());
}

TEST(DocumentViewControllerTest, ShowingTheStatisticsLineKeepsTheCaretLineInSight)
{
    Settings& settings = Settings::shared();
    const bool saved = settings.isInfoViewVisible();
    if (settings.isInfoViewVisible()) settings.toggleInfoViewVisible();
    QByteArray text;
    for (int i = 0; i < 200; ++i) text += "Line " + QByteArray::number(i) + "\n";
    Document document;
    ASSERT_TRUE(document.data().readDocument(text).ok());
    DocumentViewController pane;
    pane.resize(700, 400);
    pane.show();
    pane.setDocument(&document);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    TextView* editor = pane.textView();
    const auto lineOfCaret = [&] { return editor->cursorRect(); };
    // The caret on the last line wholly in sight.
    qsizetype last = 0;
    for (qsizetype position = 0; position < text.size(); position = text.indexOf('\n', position) + 1) {
        QTextCursor c(editor->document());
        c.setPosition(int(position));
        if (editor->cursorRect(c).bottom() >= editor->viewport()->height()) break;
        last = position;
    }
    ASSERT_GT(last, 0);
    editor->setSelectedRange(Range(last, 0));
    const int scrolled = editor->verticalScrollBar()->value();
    ASSERT_LT(lineOfCaret().bottom(), editor->viewport()->height());

    const int height = editor->height();
    settings.toggleInfoViewVisible();
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor->height() < height; }, test::patience));
    // The text moved up: the caret's line stands above the statistics line.
    EXPECT_LT(lineOfCaret().bottom(), editor->viewport()->height());
    EXPECT_GE(lineOfCaret().top(), 0);
    EXPECT_GT(editor->verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(editor->selectedRange(), Range(last, 0));

    if (settings.isInfoViewVisible() != saved) settings.toggleInfoViewVisible();
}
