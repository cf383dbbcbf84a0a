// Printing: pages and their numbering in a PDF, both forms of the text, the
// margins of each form, images and page breaks of the rendered form, empty
// jobs, the print panel and Page Setup.
#include "document/PrintOperation.h"

#include "DocumentTestSupport.h"
#include "document/Document.h"
#include "document/PrintAccessoryViewController.h"
#include "document/PrintView.h"
#include "platform/text/SafeTextDocument.h"
#include "platform/files/UserDefaults.h"
#include "support/HostileFiles.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPushButton>
#include <QProcess>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace lumora;
using namespace lumora::test;

namespace {

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(test::patience) || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

int pdfPageCount(const QString& pdf)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(run(QStringLiteral("pdfinfo"), {pdf}));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The text of page n, line by line, as a reader of the PDF sees it.
QStringList pdfPageLines(const QString& pdf, int n)
{
    const QString text = run(QStringLiteral("pdftotext"),
                             {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(n), QStringLiteral("-l"),
                              QString::number(n), pdf, QStringLiteral("-")});
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty() && line.trimmed() != QStringLiteral("\f")) lines << line.trimmed();
    return lines;
}

// "- 2 -" (pdftotext reads its narrow gaps as no gaps at all).
bool isFooter(const QString& line, int number)
{
    return QString(line).remove(QLatin1Char(' ')) == QStringLiteral("-%1-").arg(number);
}

// Where the first word of page 1 starts, in points from the paper's left edge.
double firstWordLeft(const QString& pdf)
{
    const QString html = run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), QStringLiteral("-f"),
                                                           QStringLiteral("1"), QStringLiteral("-l"),
                                                           QStringLiteral("1"), pdf, QStringLiteral("-")});
    // The header comes first; the body's first word is the one named.
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("<word xMin=\"([0-9.]+)\"[^>]*>Opening</word>")).match(html);
    return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
}

// The pixel sizes of the images a PDF holds ("40x30"), in order.
QStringList pdfImageSizes(const QString& pdf)
{
    QStringList sizes;
    const QStringList lines = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}).split(QLatin1Char('\n'));
    // page num type width height ...; the first two lines are the heading.
    for (const QString& line : lines.mid(2)) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (fields.size() > 4 && fields[2] == QLatin1String("image")) sizes << fields[3] + QLatin1Char('x') + fields[4];
    }
    return sizes;
}

// Each image of a PDF as printed: its page and its width in points.
struct PrintedImage {
    int page;
    double width, height;
};
std::vector<PrintedImage> pdfImagePlacements(const QString& pdf)
{
    std::vector<PrintedImage> images;
    const QStringList lines = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}).split(QLatin1Char('\n'));
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi ...
    for (const QString& line : lines.mid(2)) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        if (f.size() > 13 && f[2] == QLatin1String("image"))
            images.push_back({f[0].toInt(), f[3].toDouble() * 72 / f[12].toDouble(), f[4].toDouble() * 72 / f[13].toDouble()});
    }
    return images;
}

// The bands of page n (from 1) between top and bottom (points from the
// paper's top) that hold ink, top to bottom, as the eye sees the page.
QList<std::pair<int, int>> inkBands(const QString& pdf, int n, int top, int bottom)
{
    const QString image = pdf + QStringLiteral("-page");
    run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-gray"),
                                     QStringLiteral("-png"), QStringLiteral("-singlefile"), QStringLiteral("-f"),
                                     QString::number(n), QStringLiteral("-l"), QString::number(n), pdf, image});
    const QImage page(image + QStringLiteral(".png"));
    QList<std::pair<int, int>> bands;
    for (int y = top; y < std::min(bottom, page.height()); ++y) {
        bool ink = false;
        for (int x = 0; x < page.width() && !ink; ++x) ink = qGray(page.pixel(x, y)) < 160;
        if (!ink) continue;
        if (!bands.isEmpty() && bands.last().second == y) bands.last().second = y + 1;
        else bands.append({y, y + 1});
    }
    return bands;
}

// A word of a PDF page and its box, in points from the paper's top-left.
struct PrintedWord {
    QString text;
    QRectF box;
};
std::vector<PrintedWord> pdfWords(const QString& pdf, int n)
{
    const QString html = run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), QStringLiteral("-f"),
                                                           QString::number(n), QStringLiteral("-l"),
                                                           QString::number(n), pdf, QStringLiteral("-")});
    static const QRegularExpression word(QStringLiteral(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>"));
    std::vector<PrintedWord> words;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        words.push_back({m.captured(5), QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                                               QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()))});
    }
    return words;
}

std::vector<QRectF> boxesOf(const std::vector<PrintedWord>& words, const QString& text)
{
    std::vector<QRectF> boxes;
    for (const PrintedWord& word : words)
        if (word.text == text) boxes.push_back(word.box);
    return boxes;
}

// Page n (from 1) as the eye sees it, dpi pixels to the inch.
QImage pdfPage(const QString& pdf, int n, int dpi)
{
    const QString image = pdf + QStringLiteral("-picture");
    run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"),
                                     QStringLiteral("-singlefile"), QStringLiteral("-f"), QString::number(n),
                                     QStringLiteral("-l"), QString::number(n), pdf, image});
    return QImage(image + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
}

QString pngDataURL(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(buffer.data().toBase64());
}

class PrintTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserDefaults::standard().remove(QStringLiteral("applyMarkdown"));
        installHTMLConverter();
        dir = freshDirectory(QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageSize(QPageSize(QPageSize::Letter));
        printer.setPageOrientation(QPageLayout::Portrait);
        printer.setOutputFileName(dir + QStringLiteral("/out.pdf"));
    }
    void TearDown() override
    {
        Document::setHTMLConverter({});
        UserDefaults::standard().remove(QStringLiteral("applyMarkdown"));
    }

    // A document read from a file of that name in the test's folder.
    std::unique_ptr<Document> document(const QString& name, const QString& text)
    {
        const QString path = dir + QLatin1Char('/') + name;
        writeFile(path, text.toUtf8());
        auto doc = std::make_unique<Document>();
        EXPECT_TRUE(doc->readFromFile(path, QStringLiteral("text/plain")).ok());
        return doc;
    }

    // Source text of exactly the number of pages asked for.
    QString textOfPages(int pages)
    {
        auto probe = std::make_unique<Document>();
        PrintView view;
        view.delegate().documents = {probe.get()};
        QString text;
        int lines = 0;
        while (true) {
            text += QStringLiteral("Line %1 of a long run of words.\n").arg(++lines);
            probe->data().textStorage().replaceCharacters(Range(0, probe->data().textStorage().length()), text, Attributes{});
            const int count = view.knowsPageRange(printer);
            if (count == pages) return text;
            if (count > pages) {
                ADD_FAILURE() << "no text makes " << pages << " pages";
                return text;
            }
        }
    }

    QString dir;
    QPrinter printer{QPrinter::HighResolution};
};

} // namespace

TEST_F(PrintTest, DocumentsPrintedTogetherNumberTheirOwnPagesUnderTheirOwnNames)
{
    auto alpha = document(QStringLiteral("Alpha.txt"), textOfPages(3));
    auto beta = document(QStringLiteral("Beta.md"), textOfPages(2));
    PrintView view;
    view.delegate().documents = {alpha.get(), beta.get()};
    ASSERT_TRUE(view.print(printer).ok());

    const QString pdf = printer.outputFileName();
    ASSERT_EQ(pdfPageCount(pdf), 5);
    const QStringList names{"Alpha.txt", "Alpha.txt", "Alpha.txt", "Beta.md", "Beta.md"};
    const QList<int> numbers{1, 2, 3, 1, 2};
    for (int n = 1; n <= 5; ++n) {
        const QStringList lines = pdfPageLines(pdf, n);
        ASSERT_GE(lines.size(), 3) << "page " << n;
        EXPECT_EQ(lines.first(), names[n - 1]) << "page " << n;
        EXPECT_TRUE(isFooter(lines.last(), numbers[n - 1])) << "page " << n << ": " << lines.last().toStdString();
    }
    // Nothing of the text is lost between pages.
    EXPECT_TRUE(pdfPageLines(pdf, 4).contains("Line 1 of a long run of words."));
    EXPECT_TRUE(pdfPageLines(pdf, 1).contains("Line 1 of a long run of words."));
}

TEST_F(PrintTest, SourceKeepsTheMarkdownAndRenderedShowsItFormatted)
{
    auto doc = document(QStringLiteral("Notes.txt"),
                        QStringLiteral("# A Heading\n\nSome *emphasis* and a [link](https://example.org).\n\n"
                                       "- one\n- two\n\nA last line without a break"));
    PrintView view;
    view.delegate().documents = {doc.get()};
    ASSERT_TRUE(view.print(printer).ok());
    QString source = pdfPageLines(printer.outputFileName(), 1).join(QLatin1Char('\n'));
    EXPECT_TRUE(source.contains("# A Heading"));
    EXPECT_TRUE(source.contains("*emphasis*"));
    EXPECT_TRUE(source.contains("- two"));
    EXPECT_TRUE(source.contains("A last line without a break"));

    UserDefaults::standard().set(QStringLiteral("applyMarkdown"), true);
    ASSERT_TRUE(view.print(printer).ok());
    const QString rendered = pdfPageLines(printer.outputFileName(), 1).join(QLatin1Char('\n'));
    EXPECT_TRUE(rendered.contains("A Heading"));
    EXPECT_FALSE(rendered.contains("# A Heading"));
    EXPECT_TRUE(rendered.contains("Some emphasis and a link."));
    EXPECT_TRUE(rendered.contains("A last line without a break"));
    // The rendered heading is larger than the body text.
    const QTextDocument& text = view.delegate().documentViews().front()->text();
    EXPECT_GT(text.firstBlock().charFormat().font().pixelSize(), text.lastBlock().charFormat().font().pixelSize());
}

TEST_F(PrintTest, MarginsFollowTheMarkdownOptionAtEveryLayout)
{
    auto doc = document(QStringLiteral("Notes.txt"), QStringLiteral("Opening words of a plain paragraph."));
    PrintView view;
    view.delegate().documents = {doc.get()};

    // Source: the text area reaches into the side margins by the head
    // indent, the text itself starts 80 points in.
    ASSERT_EQ(view.knowsPageRange(printer), 1);
    EXPECT_EQ(view.rectForPage(1), QRectF(20, 80, 572, 632));
    ASSERT_TRUE(view.print(printer).ok());
    EXPECT_NEAR(firstWordLeft(printer.outputFileName()), 80.0, 1.0);

    // Rendered, in the same print view: 80 points on every side, and the
    // text starts at the same place, not 60 points to the left of it.
    UserDefaults::standard().set(QStringLiteral("applyMarkdown"), true);
    ASSERT_EQ(view.knowsPageRange(printer), 1);
    EXPECT_EQ(view.rectForPage(1), QRectF(80, 80, 452, 632));
    ASSERT_TRUE(view.print(printer).ok());
    EXPECT_NEAR(firstWordLeft(printer.outputFileName()), 80.0, 1.0);

    // And back, with the paper turned.
    UserDefaults::standard().set(QStringLiteral("applyMarkdown"), false);
    printer.setPageOrientation(QPageLayout::Landscape);
    ASSERT_EQ(view.knowsPageRange(printer), 1);
    EXPECT_EQ(view.rectForPage(1), QRectF(20, 80, 752, 452));
}

TEST_F(PrintTest, SourceFormKeepsTheEditorParagraphLayoutInThePrintFont)
{
    auto doc = document(QStringLiteral("Notes.txt"), QStringLiteral("- item\n\nplain"));
    PrintView view;
    view.delegate().documents = {doc.get()};
    ASSERT_EQ(view.knowsPageRange(printer), 1);
    const QTextDocument& text = view.delegate().documentViews().front()->text();
    const QTextBlock item = text.firstBlock();
    const QTextBlock plain = text.lastBlock();
    EXPECT_EQ(item.charFormat().font().pixelSize(), 10);
    EXPECT_FALSE(item.charFormat().hasProperty(QTextFormat::ForegroundBrush));
    // The list marker hangs left of the text; a plain paragraph starts at
    // the head indent.
    EXPECT_DOUBLE_EQ(plain.blockFormat().leftMargin() + plain.blockFormat().textIndent(), 60.0);
    EXPECT_LT(item.blockFormat().textIndent(), 0.0);

    // Markdown switched off: no Markdown geometry beyond the base paragraph.
    doc->toggleMarkdown();
    ASSERT_EQ(view.knowsPageRange(printer), 1);
    const QTextBlock flat = view.delegate().documentViews().front()->text().firstBlock();
    EXPECT_DOUBLE_EQ(flat.blockFormat().textIndent(), 0.0);
    doc->toggleMarkdown();
}

TEST_F(PrintTest, EmptyDocumentsAddNoPagesAndAllEmptyPrintsNothing)
{
    auto empty = document(QStringLiteral("Empty.txt"), QString());
    auto other = document(QStringLiteral("Other.txt"), QString());
    auto text = document(QStringLiteral("Text.txt"), QStringLiteral("Words."));
    PrintView view;
    view.delegate().documents = {empty.get(), text.get(), other.get()};
    ASSERT_TRUE(view.print(printer).ok());
    EXPECT_EQ(pdfPageCount(printer.outputFileName()), 1);
    EXPECT_EQ(pdfPageLines(printer.outputFileName(), 1).first(), "Text.txt");

    // Nothing but empty documents: an error that says so, and no file.
    QFile::remove(printer.outputFileName());
    view.delegate().documents = {empty.get(), other.get()};
    const PlatformStatus all = view.print(printer);
    ASSERT_FALSE(all.ok());
    EXPECT_FALSE(all.error().isCancellation());
    EXPECT_EQ(all.error().errorDescription, "There is nothing to print.");
    EXPECT_FALSE(QFileInfo::exists(printer.outputFileName()));

    // The document's own command says so too, without opening the panel.
    RecordingPrompter prompter;
    DocumentBase::setPrompter(&prompter);
    bool panelOpened = false;
    QTimer watch; // gone with the test, so it never fires in another
    watch.setSingleShot(true);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            panelOpened = true;
            static_cast<QDialog*>(modal)->reject();
        }
    });
    watch.start(0);
    empty->printDocument();
    DocumentBase::setPrompter(nullptr);
    EXPECT_FALSE(panelOpened);
    ASSERT_EQ(prompter.errors.size(), 1);
    EXPECT_EQ(prompter.errors.first().errorDescription, "“Empty.txt” is empty, so there is nothing to print.");
}

TEST_F(PrintTest, PageRangeCopiesAndFailuresOfThePrinter)
{
    auto doc = document(QStringLiteral("Notes.txt"), textOfPages(3));
    PrintView view;
    view.delegate().documents = {doc.get()};
    printer.setPageRanges(QPageRanges::fromString(QStringLiteral("2-3")));
    ASSERT_TRUE(view.print(printer).ok());
    EXPECT_EQ(pdfPageCount(printer.outputFileName()), 2);
    EXPECT_TRUE(isFooter(pdfPageLines(printer.outputFileName(), 1).last(), 2));

    // A range beyond the pages prints nothing and says why.
    printer.setPageRanges(QPageRanges::fromString(QStringLiteral("7-9")));
    const PlatformStatus beyond = view.print(printer);
    ASSERT_FALSE(beyond.ok());
    EXPECT_EQ(beyond.error().recoverySuggestion, "There are 3 pages. Choose pages among them and print again.");

    // A file that cannot be written is an error, never a success.
    printer.setPageRanges({});
    printer.setOutputFileName(dir + QStringLiteral("/no such folder/out.pdf"));
    const PlatformStatus unwritable = view.print(printer);
    ASSERT_FALSE(unwritable.ok());
    EXPECT_EQ(unwritable.error().code, PlatformError::Code::writeFailed);
}

TEST_F(PrintTest, ThePanelPreviewsFollowsTheOptionAndPrintsToAFile)
{
    auto doc = document(QStringLiteral("Notes.txt"), QStringLiteral("# Title\n\nText."));
    PrintOperation operation({doc.get()});
    operation.printer().setOutputFormat(QPrinter::PdfFormat);
    operation.printer().setOutputFileName(dir + QStringLiteral("/panel.pdf"));

    bool checked = false;
    QString pagesBefore;
    whenModal([&](QWidget* widget) {
        auto* panel = qobject_cast<QDialog*>(widget);
        ASSERT_TRUE(panel);
        auto* checkbox = panel->findChild<QCheckBox*>(QStringLiteral("applyMarkdown"));
        ASSERT_TRUE(checkbox);
        EXPECT_FALSE(checkbox->isChecked());
        pagesBefore = panel->findChild<QLabel*>(QStringLiteral("pageCount"))->text();
        checkbox->click();
        checked = UserDefaults::standard().boolValue(QStringLiteral("applyMarkdown"));
        // Print…: the print dialog offers the file, and prints on accept.
        whenModal(
            [](QWidget* widget) {
                auto* dialog = qobject_cast<QPrintDialog*>(widget);
                ASSERT_TRUE(dialog);
                dialog->accept();
            },
            panel);
        for (QPushButton* button : panel->findChildren<QPushButton*>())
            if (button->text() == "Print…") button->click();
    });
    const PlatformStatus status = operation.run(nullptr);
    ASSERT_TRUE(status.ok() || status.error().isCancellation()) << status.error().message().toStdString();
    ASSERT_TRUE(status.ok()) << status.error().message().toStdString();
    EXPECT_EQ(pagesBefore, "1 page");
    EXPECT_TRUE(checked);
    EXPECT_TRUE(operation.printView().delegate().printInfo.applyMarkdown);
    const QStringList lines = pdfPageLines(dir + QStringLiteral("/panel.pdf"), 1);
    EXPECT_TRUE(lines.contains("Title"));

    // Closing the panel is a cancellation.
    whenModal([](QWidget* panel) { static_cast<QDialog*>(panel)->reject(); });
    const PlatformStatus cancelled = operation.run(nullptr);
    ASSERT_FALSE(cancelled.ok());
    EXPECT_TRUE(cancelled.error().isCancellation());
}

TEST_F(PrintTest, APrintedFileIsOfferedBesideTheDocument)
{
    auto doc = document(QStringLiteral("Notes.txt"), QStringLiteral("Text."));
    PrintOperation operation({doc.get()});
    QString offered;
    whenModal([&](QWidget* panel) {
        whenModal(
            [&](QWidget* widget) {
                auto* field = widget->findChild<QLineEdit*>(QStringLiteral("filename"));
                ASSERT_TRUE(field);
                offered = field->text();
                static_cast<QDialog*>(widget)->reject();
                static_cast<QDialog*>(widget->parentWidget())->reject();
            },
            panel);
        for (QPushButton* button : panel->findChildren<QPushButton*>())
            if (button->text() == "Print…") button->click();
    });
    EXPECT_TRUE(operation.run(nullptr).error().isCancellation());
    EXPECT_EQ(offered, dir + QStringLiteral("/Notes.pdf"));
}

TEST_F(PrintTest, PageSetupChangesThePaperOfTheJobsThatFollow)
{
    const QPageLayout before = PrintOperation::pageLayout();
    whenModal([](QWidget* dialog) {
        auto* paper = dialog->findChild<QComboBox*>(QStringLiteral("paperSize"));
        auto* orientation = dialog->findChild<QComboBox*>(QStringLiteral("orientation"));
        paper->setCurrentIndex(paper->findText(QPageSize(QPageSize::A5).name()));
        orientation->setCurrentIndex(1);
        static_cast<QDialog*>(dialog)->accept();
    });
    ASSERT_TRUE(PrintOperation::runPageLayout(nullptr));
    Document doc;
    PrintOperation operation({&doc});
    EXPECT_TRUE(operation.printer().pageLayout().pageSize().isEquivalentTo(QPageSize(QPageSize::A5)));
    EXPECT_EQ(operation.printer().pageLayout().orientation(), QPageLayout::Landscape);

    whenModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    EXPECT_FALSE(PrintOperation::runPageLayout(nullptr));
    PrintOperation::setPageLayout(before);
}

// The rendered form shows the writer's images: relative addresses from the
// document's folder (not the program's working folder), absolute ones and
// data: images. Whatever else a page names prints as a missing image, at
// once: a pipe (it would wait for a writer forever), a device (/dev/zero
// never ends), a socket, a folder, a huge file, a link to one of them, an
// address on the network. Nothing of it is ever opened.
TEST_F(PrintTest, RenderedImagesComeOnlyFromOrdinaryLocalFiles)
{
    const QString other = freshDirectory(QStringLiteral("print-other"));
    HostileImageFolder files(dir, other);
    QTcpServer network;
    ASSERT_TRUE(network.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("http://127.0.0.1:%1").arg(network.serverPort());

    auto doc = document(QStringLiteral("Notes.md"),
                        QStringLiteral("Title: Pictures\nCSS: style.css\n\n"
                                       "Opening words.\n\n"
                                       "![inside](images/inside.png) ![outside](../%1/outside.png) "
                                       "![absolute](%2) ![data](%3)\n\n"
                                       "![pipe](pipe.png) ![zero](/dev/zero) ![zero](file:///dev/zero) "
                                       "![socket](s.png) ![huge](huge.png) ![link](images/to-pipe.png) "
                                       "![folder](folder.png) ![network](%4/picture.png)\n\n"
                                       "Closing words.\n")
                            .arg(QFileInfo(other).fileName(), other + QStringLiteral("/absolute.png"),
                                 pngDataURL(QSize(3, 2)), address));
    UserDefaults::standard().set(QStringLiteral("applyMarkdown"), true);
    PrintView view;
    view.delegate().documents = {doc.get()};
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(view.print(printer).ok());
    EXPECT_LT(timer.elapsed(), test::patience);
    EXPECT_FALSE(files.pipe.opened()) << "the pipe named as an image was opened";
    EXPECT_FALSE(files.style.opened()) << "the pipe named as a style sheet was opened";
    EXPECT_FALSE(network.waitForNewConnection(100)) << "an image was fetched from the network";

    const QString pdf = printer.outputFileName();
    const QString text = pdfPageLines(pdf, 1).join(QLatin1Char('\n'));
    EXPECT_TRUE(text.contains("Opening words.")) << text.toStdString();
    EXPECT_TRUE(text.contains("Closing words.")) << text.toStdString();
    QStringList sizes = pdfImageSizes(pdf);
    for (const char* shown : {"40x30", "50x20", "24x12", "3x2"}) {
        EXPECT_TRUE(sizes.contains(QLatin1String(shown))) << shown << " missing from " << sizes.join(' ').toStdString();
        sizes.removeOne(shown);
    }
    // The eight others show the missing-image sign, nothing of their own.
    const QImage missing = SafeTextDocument::missingImage();
    const QString sign = QStringLiteral("%1x%2").arg(missing.width()).arg(missing.height());
    EXPECT_EQ(sizes, QStringList(8, sign));
}

// A wide image prints whole, scaled to the text's width, as a block of its
// own; and a page ends early only where what comes next does not fit on it.
TEST_F(PrintTest, RenderedImagesFitTheTextWidthAndPagesFillUp)
{
    QImage river(640, 320, QImage::Format_RGB32);
    river.fill(Qt::darkCyan);
    ASSERT_TRUE(river.save(dir + QStringLiteral("/river.png")));
    const QString paragraph = QStringLiteral(
        "The path follows the river for eleven kilometres, from the old mill to the estuary, and most of it is flat "
        "enough for an afternoon, with a wooded bank, allotments and a quay where the barges used to load.\n\n");
    auto doc = document(
        QStringLiteral("River.md"),
        QStringLiteral("# Walking the river\n\n") + paragraph + paragraph
            + QStringLiteral("| Stretch | Length | Surface |\n|---|---|---|\n| Mill to the weir | 2.1 km | gravel |\n"
                             "| Weir to the quay | 4.2 km | packed earth |\n| Quay to the estuary | 4.7 km | grass |\n\n"
                             "Walkers who start at the mill have the light behind them, and on a clear evening the "
                             "water turns to brass and then to copper while the far bank goes dark.\n\n"
                             "![The river at dusk](river.png)\n\n")
            + paragraph + QStringLiteral("## What to bring\n\n") + paragraph.repeated(8));
    printer.setPageSize(QPageSize(QPageSize::A4));
    UserDefaults::standard().set(QStringLiteral("applyMarkdown"), true);
    PrintView view;
    view.delegate().documents = {doc.get()};
    ASSERT_TRUE(view.print(printer).ok());
    const QString pdf = printer.outputFileName();
    const QRectF area = view.rectForPage(1);
    if (const QByteArray shots = qgetenv("LUMORA_SCREENSHOT_DIR"); !shots.isEmpty())
        QFile::copy(pdf, QDir(QString::fromLocal8Bit(shots)).filePath(QStringLiteral("print-rendered.pdf")));

    // The image fills the text's width, in proportion, on the first page,
    // with the words before it and its caption.
    const std::vector<PrintedImage> images = pdfImagePlacements(pdf);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].page, 1);
    EXPECT_NEAR(images[0].width, area.width(), 1.0);
    EXPECT_NEAR(images[0].height, area.width() / 2, 1.0);
    const QString first = pdfPageLines(pdf, 1).join(QLatin1Char(' '));
    EXPECT_TRUE(first.contains("while the far bank goes dark.")) << first.toStdString();
    EXPECT_TRUE(first.contains("The river at dusk")) << first.toStdString();

    // No blank band on a page taller than the space between two blocks,
    // and the blank at a page's foot smaller than what starts the next page.
    const int pages = pdfPageCount(pdf);
    ASSERT_GE(pages, 2);
    const int top = int(area.top()), bottom = int(area.bottom());
    QList<QList<std::pair<int, int>>> bands;
    for (int n = 1; n <= pages; ++n) bands << inkBands(pdf, n, top, bottom);
    for (int n = 1; n <= pages; ++n) {
        const auto& page = bands[n - 1];
        ASSERT_FALSE(page.isEmpty()) << "page " << n;
        for (qsizetype i = 1; i < page.size(); ++i)
            EXPECT_LT(page[i].first - page[i - 1].second, 40) << "page " << n << " is blank from " << page[i - 1].second;
        if (n == pages) continue;
        const auto& next = bands[n].front();
        EXPECT_LT(bottom - page.last().second, next.second - top + 40)
            << "page " << n << " ends at " << page.last().second << " before a block of " << next.second - top;
    }
}


// A large image in a table cell is bounded by its column: the columns of
// text beside it keep their words whole ("cell" on one line, not a letter
// or two per line) and the image stays between the page's margins, left
// of them.
TEST_F(PrintTest, RenderedImagesInTablesStayInTheirColumn)
{
    QImage wide(1200, 800, QImage::Format_RGB32);
    wide.fill(Qt::blue);
    ASSERT_TRUE(wide.save(dir + QStringLiteral("/wide.png")));
    auto doc = document(QStringLiteral("Tables.md"),
                        QStringLiteral("The line before the table.\n\n"
                                       "| Picture | Name | Note |\n|---|---|---|\n"
                                       "| ![](wide.png) | cell | short note |\n| tiny | cell | cell |\n\n"
                                       "The line after it.\n"));
    UserDefaults::standard().set(QStringLiteral("applyMarkdown"), true);
    PrintView view;
    view.delegate().documents = {doc.get()};
    ASSERT_TRUE(view.print(printer).ok());
    const QString pdf = printer.outputFileName();
    ASSERT_EQ(pdfPageCount(pdf), 1);
    const QRectF area = view.rectForPage(1);

    const std::vector<PrintedWord> words = pdfWords(pdf, 1);
    const std::vector<QRectF> cells = boxesOf(words, QStringLiteral("cell"));
    ASSERT_EQ(cells.size(), 3u) << pdfPageLines(pdf, 1).join(QLatin1Char('|')).toStdString();
    const std::vector<QRectF> shortWord = boxesOf(words, QStringLiteral("short")),
                              note = boxesOf(words, QStringLiteral("note"));
    ASSERT_EQ(shortWord.size(), 1u);
    ASSERT_EQ(note.size(), 1u);
    EXPECT_NEAR(shortWord[0].top(), note[0].top(), 1.0) << "\"short note\" is broken";
    // (The header and footer stand above and below the text.)
    for (const PrintedWord& word : words)
        if (word.box.center().y() > area.top() && word.box.center().y() < area.bottom())
            EXPECT_TRUE(word.box.left() >= area.left() - 1 && word.box.right() <= area.right() + 1)
                << word.text.toStdString() << " lies beside the text area";

    // The image, at its printed place: blue, left of the column of "cell".
    const std::vector<PrintedImage> images = pdfImagePlacements(pdf);
    ASSERT_EQ(images.size(), 1u);
    const QImage page = pdfPage(pdf, 1, 72);
    QRect blue;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            if (c.blue() > 200 && c.red() < 60 && c.green() < 60) blue |= QRect(x, y, 1, 1);
        }
    ASSERT_FALSE(blue.isEmpty());
    EXPECT_NEAR(blue.width(), images[0].width, 2.0);
    EXPECT_GE(blue.left(), area.left() - 1);
    double name = area.right();
    for (const QRectF& cell : cells) name = std::min(name, cell.left());
    EXPECT_LT(blue.right(), name) << "the image reaches into the next column";
    // And it is still a picture, not a stamp.
    EXPECT_GT(images[0].width, area.width() / 3);

    // Beside text too long for one line, the images keep a fair share and
    // their column is no wider than they are: the text has all the rest.
    auto story = document(QStringLiteral("Story.md"),
                          QStringLiteral("| Picture | Story |\n|---|---|\n| ![](wide.png) | Walkers who start at the mill "
                                         "have the light behind them, and on a clear evening the water turns to brass "
                                         "and then to copper while the far bank goes dark. |\n"
                                         "| ![](wide.png) ![](wide.png) | Two. |\n"));
    view.delegate().documents = {story.get()};
    ASSERT_TRUE(view.print(printer).ok());
    const std::vector<PrintedImage> storyImages = pdfImagePlacements(pdf);
    ASSERT_FALSE(storyImages.empty());
    EXPECT_GT(storyImages[0].width, area.width() / 3);
    const std::vector<QRectF> walkers = boxesOf(pdfWords(pdf, 1), QStringLiteral("Walkers"));
    ASSERT_EQ(walkers.size(), 1u);
    const double imageLeft = area.left() + 1; // the table starts at the text's edge
    EXPECT_LT(walkers[0].left() - (imageLeft + storyImages[0].width), 30.0) << "room wasted beside the image";
}

// Printed tables look as the preview's: light rules around the table and
// between its cells, the cells padded, and the table set a paragraph's
// space below the line before it.
TEST_F(PrintTest, RenderedTablesHaveRulesPaddingAndRoomAboveThem)
{
    auto doc = document(QStringLiteral("Tables.md"),
                        QStringLiteral("The line before the table.\n\n"
                                       "| Stretch | Length |\n|---|---|\n| Mill to the weir | 2.1 km |\n"
                                       "| Weir to the quay | 4.2 km |\n\nThe line after it.\n"));
    UserDefaults::standard().set(QStringLiteral("applyMarkdown"), true);
    PrintView view;
    view.delegate().documents = {doc.get()};
    ASSERT_TRUE(view.print(printer).ok());
    const QString pdf = printer.outputFileName();
    if (const QByteArray shots = qgetenv("LUMORA_SCREENSHOT_DIR"); !shots.isEmpty())
        QFile::copy(pdf, QDir(QString::fromLocal8Bit(shots)).filePath(QStringLiteral("print-table.pdf")));
    const std::vector<PrintedWord> words = pdfWords(pdf, 1);
    const std::vector<QRectF> before = boxesOf(words, QStringLiteral("before")),
                              stretch = boxesOf(words, QStringLiteral("Stretch")),
                              mill = boxesOf(words, QStringLiteral("Mill")), after = boxesOf(words, QStringLiteral("after"));
    ASSERT_EQ(before.size(), 1u);
    ASSERT_EQ(stretch.size(), 1u);
    ASSERT_EQ(mill.size(), 1u);
    ASSERT_EQ(after.size(), 1u);

    // Rules: runs of light ink longer than any word, across and down.
    constexpr int dpi = 144;
    constexpr double scale = dpi / 72.0;
    const QImage page = pdfPage(pdf, 1, dpi);
    const auto isRule = [&](int x, int y) {
        const int gray = qGray(page.pixel(x, y));
        return gray < 250 && gray > 120;
    };
    const int top = int(before[0].bottom() * scale), bottom = int(after[0].top() * scale);
    QList<double> across; // in points
    for (int y = top; y < bottom; ++y) {
        int run = 0, longest = 0;
        for (int x = 0; x < page.width(); ++x) {
            run = isRule(x, y) ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        if (longest > 100 * scale && (across.isEmpty() || y / scale - across.last() > 2)) across << y / scale;
    }
    QStringList at;
    for (double y : across) at << QString::number(y);
    ASSERT_EQ(across.size(), 4) << "rules at " << at.join(' ').toStdString();
    // Above the table, under the header, between the rows and below.
    EXPECT_GE(across[0] - before[0].bottom(), 6.0) << "the table touches the line before";
    EXPECT_LT(across[0], stretch[0].top());
    EXPECT_GT(across[1], stretch[0].bottom());
    EXPECT_LT(across[1], mill[0].top());
    EXPECT_LT(across[3], after[0].top());

    // Down: the table's left edge, with the cell's text padded off it.
    double left = -1;
    const int middle = int((mill[0].center().y()) * scale);
    for (int x = 0; x < page.width() && left < 0; ++x) {
        int run = 0;
        for (int y = middle - 8; y <= middle + 8; ++y) run += isRule(x, y) ? 1 : 0;
        if (run == 17) left = x / scale;
    }
    ASSERT_GE(left, 0) << "no rule left of the cells";
    EXPECT_GE(mill[0].left() - left, 6.0);
    EXPECT_LE(mill[0].left() - left, 14.0);
    EXPECT_GE(mill[0].top() - across[1], 2.0);
}
