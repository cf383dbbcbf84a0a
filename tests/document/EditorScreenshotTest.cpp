#include "document/DocumentViewController.h"
#include "document/TextView.h"

#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "support/TestEnvironment.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace lumora;

namespace {

const char* kSample = R"(# A calm place to write

Lumora styles *Markdown* as you type. Headings grow, **strong words** stand out, and the syntax itself stays quietly in view, so that nothing is hidden from the writer.

## A short list

- Write the first draft
- Read it aloud
- Cut what does not belong

> A quotation sits a little apart from the text around it.

Links such as [the notes](https://example.org) keep their address close by.
)";

// The rows of the image between top and bottom that hold anything but the
// background colour.
int inkRows(const QImage& image, int top, int bottom, QRgb background)
{
    int rows = 0;
    for (int y = std::max(0, top); y < std::min(image.height(), bottom); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != background) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

} // namespace

TEST(EditorScreenshotTest, SampleDocumentLooksStyledAndCentred)
{
    Settings& settings = Settings::shared();
    const double savedSize = settings.editorSize();
    const bool savedTypewriter = settings.isTypewriterScrollingEnabled();
    settings.setEditorSize(712);
    settings.setTypewriterScrollingEnabled(false);

    TextStorage storage(QString::fromUtf8(kSample), settings.parsedStylesheet()->base);
    restyleParagraphs(storage, *settings.parsedStylesheet(), Range(0, storage.length()), true);
    UndoManager undo;
    DocumentViewController pane;
    pane.resize(1100, 760);
    TextView* view = pane.textView();
    view->setTextStorage(&storage, &undo);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    view->updateHighlightAttributes();

    const QImage image = pane.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QString path = test::freshDirectory(QStringLiteral("screenshot")) + QStringLiteral("/editor.png");
    ASSERT_TRUE(image.save(path));
    if (const QByteArray dir = qgetenv("LUMORA_SCREENSHOT_DIR"); !dir.isEmpty())
        image.save(QDir(QString::fromLocal8Bit(dir)).filePath(QStringLiteral("editor.png")));

    // The theme's background, and nothing drawn outside the column.
    const QRgb background = settings.theme()->backgroundColor.toQColor().rgb();
    EXPECT_EQ(image.pixel(5, 5), background);
    const int margin = int(view->mirror().rootFrameMargins().left());
    EXPECT_GT(margin, 100);
    QImage left = image.copy(0, 0, margin, image.height());
    EXPECT_EQ(inkRows(left, 0, left.height(), background), 0);

    // Text is there, and the first heading's letters are taller than the
    // body's.
    QTextDocument* doc = view->document();
    auto* layout = doc->documentLayout();
    const int offset = view->verticalScrollBar()->value();
    const QRectF heading = layout->blockBoundingRect(doc->findBlock(0)).translated(0, -offset);
    const QRectF body = layout->blockBoundingRect(doc->findBlock(30)).translated(0, -offset);
    const int headingInk = inkRows(image, int(heading.top()), int(heading.top()) + 40, background);
    QTextLine firstBodyLine = doc->findBlock(30).layout()->lineAt(0);
    const int bodyTop = int(body.top() + firstBodyLine.y());
    const int bodyInk = inkRows(image, bodyTop, bodyTop + int(firstBodyLine.height()), background);
    EXPECT_GT(bodyInk, 8);
    EXPECT_GT(headingInk, bodyInk + 4);

    // Focus highlighting: the sentence at the caret keeps its strength, the
    // list further down is drawn faint.
    auto darkPixels = [&](const QImage& shot, const QRectF& area) {
        int dark = 0;
        for (int y = int(area.top()); y < int(area.bottom()); ++y)
            for (int x = int(area.left()); x < int(area.right()); ++x)
                if (qGray(shot.pixel(x, y)) < 100) ++dark;
        return dark;
    };
    const QTextBlock list = doc->findBlock(int(storage.string().indexOf(QStringLiteral("- Read"))));
    const QRectF listRect = layout->blockBoundingRect(list).translated(0, -offset);
    EXPECT_GT(darkPixels(image, listRect), 50);
    const Settings::Highlighting savedHighlighting = settings.highlighting();
    settings.setHighlighting(Settings::Highlighting::sentence);
    view->setSelectedRange(Range(40, 0));
    view->updateHighlightAttributes();
    const QImage focused = pane.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(darkPixels(focused, listRect), 0);
    EXPECT_GT(darkPixels(focused, body), 50);
    settings.setHighlighting(savedHighlighting);
    view->updateHighlightAttributes();

    // A selection covers whole lines, the spacing between them included,
    // in the selection colour; the text in it keeps its own colours.
    const int from = int(storage.string().indexOf(QStringLiteral("Headings grow")));
    const int to = int(storage.string().indexOf(QStringLiteral("close by")));
    view->setSelectedRange(Range(from, to - from));
    const QImage selected = pane.grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (const QByteArray dir = qgetenv("LUMORA_SCREENSHOT_DIR"); !dir.isEmpty()) {
        focused.save(QDir(QString::fromLocal8Bit(dir)).filePath(QStringLiteral("editor-focus.png")));
        selected.save(QDir(QString::fromLocal8Bit(dir)).filePath(QStringLiteral("editor-selection.png")));
    }
    const QTextBlock paragraph = doc->findBlock(from);
    const QRectF paragraphRect = layout->blockBoundingRect(paragraph).translated(0, -offset);
    const QTextLayout* lines = paragraph.layout();
    ASSERT_GE(lines->lineCount(), 2);
    // Each row between the first line's top and the last line's bottom, near
    // the column's right edge (the selection starts halfway along the first
    // line), is the selection colour or text over it; none is the bare
    // background.
    const int middle = int(paragraphRect.right() - 100);
    const int firstRow = int(std::ceil(paragraphRect.top() + lines->lineAt(0).y()));
    const int lastRow = int(paragraphRect.top() + lines->lineAt(lines->lineCount() - 1).y() + lines->lineAt(lines->lineCount() - 1).height()) - 1;
    int bareRows = 0;
    for (int y = firstRow; y < lastRow; ++y) bareRows += selected.pixel(middle, y) == background;
    EXPECT_EQ(bareRows, 0);
    // The link keeps its colour: its letters stay bluer than they are grey.
    const int link = int(storage.string().indexOf(QStringLiteral("the notes")));
    const QTextBlock linkBlock = doc->findBlock(link);
    const QRectF linkRect = layout->blockBoundingRect(linkBlock).translated(0, -offset);
    int blue = 0;
    for (int y = int(linkRect.top()); y < int(linkRect.bottom()); ++y)
        for (int x = int(linkRect.left()); x < int(linkRect.right()); ++x) {
            const QColor c = selected.pixelColor(x, y);
            if (c.blue() > c.red() + 40) ++blue;
        }
    EXPECT_GT(blue, 20);

    settings.setEditorSize(savedSize);
    settings.setTypewriterScrollingEnabled(savedTypewriter);
}
