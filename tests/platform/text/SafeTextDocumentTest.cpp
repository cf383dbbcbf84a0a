// HTML read into a text document loads nothing on its own: an image, a style
// sheet or a background that names a pipe or a device is never opened, and
// only what the loader answers shows.
#include "platform/text/SafeTextDocument.h"

#include "platform/text/RichText.h"
#include "support/HostileFiles.h"
#include "support/TestEnvironment.h"

#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTextBlock>
#include <QTextFragment>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

// A page that names the pipe in every way Qt's reader and layout load
// something: images, a style sheet linked and imported, backgrounds.
QString hostilePage(const QString& pipe)
{
    const QString url = QUrl::fromLocalFile(pipe).toString();
    return QStringLiteral("<html><head><link rel=\"stylesheet\" type=\"text/css\" href=\"%1\">"
                          "<style>@import url(%1); p { color: black; }</style></head>"
                          "<body background=\"%1\"><p>Before <img src=\"%1\"> <img src=\"%2\"> after</p>"
                          "<table background=\"%1\"><tr><td background=\"%1\">cell</td></tr></table>"
                          "<p style=\"background-image: url(%1)\">last</p></body></html>")
        .arg(url, pipe);
}

// Lays the document out and draws it, as printing does.
void layOutAndDraw(QTextDocument& document)
{
    document.setPageSize(QSizeF(400, 600));
    const QSizeF size = document.documentLayout()->documentSize();
    QImage canvas(400, int(std::min(size.height(), 2000.0)) + 1, QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    document.drawContents(&painter);
}

} // namespace

TEST(SafeTextDocument, NothingTheHTMLNamesIsReadWithoutALoader)
{
    const QString dir = freshDirectory(QStringLiteral("safe"));
    WatchedPipe pipe(dir + "/pipe.png");
    QElapsedTimer timer;
    timer.start();
    SafeTextDocument document;
    document.setHtml(hostilePage(pipe.path()));
    layOutAndDraw(document);
    EXPECT_LT(timer.elapsed(), test::patience);
    EXPECT_FALSE(pipe.opened()) << "the document opened the pipe";
    EXPECT_TRUE(document.toPlainText().contains("Before")) << document.toPlainText().toStdString();
    EXPECT_TRUE(document.toPlainText().contains("last"));
    // A missing image keeps a place, the size of the placeholder.
    const QVariant image = document.resource(QTextDocument::ImageResource, QUrl::fromLocalFile(pipe.path()));
    ASSERT_TRUE(image.isValid());
    EXPECT_FALSE(SafeTextDocument::missingImage().isNull());
}

TEST(SafeTextDocument, OnlyWhatTheLoaderAnswersShows)
{
    const QString dir = freshDirectory(QStringLiteral("safe-loader"));
    WatchedPipe pipe(dir + "/pipe.png");
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QStringList asked;
    SafeTextDocument document;
    document.setLoader([&](int type, const QUrl& name) -> QVariant {
        asked << QStringLiteral("%1 %2").arg(type).arg(name.fileName());
        if (type == QTextDocument::ImageResource && name.fileName() == QLatin1String("picture.png")) return picture;
        if (type == QTextDocument::StyleSheetResource && name.fileName() == QLatin1String("style.css"))
            return QStringLiteral("p { font-weight: bold; }");
        return {};
    });
    document.setHtml(QStringLiteral("<html><head><link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\"></head>"
                                    "<body><p>A <img src=\"picture.png\"> and <img src=\"%1\"></p></body></html>")
                         .arg(pipe.path()));
    layOutAndDraw(document);
    EXPECT_FALSE(pipe.opened());
    EXPECT_TRUE(asked.contains(QStringLiteral("%1 style.css").arg(QTextDocument::StyleSheetResource)));
    EXPECT_TRUE(asked.contains(QStringLiteral("%1 picture.png").arg(QTextDocument::ImageResource)));
    EXPECT_TRUE(asked.contains(QStringLiteral("%1 pipe.png").arg(QTextDocument::ImageResource)));
    // The style sheet the loader gave applies.
    EXPECT_TRUE(document.begin().begin().fragment().charFormat().font().bold());
    // Each asked once: the answers are kept.
    const qsizetype count = asked.size();
    layOutAndDraw(document);
    EXPECT_EQ(asked.size(), count);
    const QVariant shown = document.resource(QTextDocument::ImageResource, QUrl(QStringLiteral("picture.png")));
    EXPECT_EQ(shown.value<QPixmap>().size(), QSize(40, 30));
}

// Pasted HTML comes from any program, or a web page's script.
TEST(SafeTextDocument, PastedHTMLReadsNoFile)
{
    const QString dir = freshDirectory(QStringLiteral("safe-paste"));
    WatchedPipe pipe(dir + "/pipe.png");
    QElapsedTimer timer;
    timer.start();
    const TextStorage text = attributedStringFromHTML(hostilePage(pipe.path()));
    EXPECT_LT(timer.elapsed(), test::patience);
    EXPECT_FALSE(pipe.opened()) << "pasting opened the pipe";
    EXPECT_TRUE(text.string().startsWith(QStringLiteral("Before"))) << text.string().toStdString();
}
