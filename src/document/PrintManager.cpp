#include "document/PrintManager.h"

#include "document/Document.h"
#include "document/PageResources.h"
#include "markdown/Markdown.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/files/NativePath.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"

#include <QAbstractTextDocumentLayout>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextLayout>

#include <algorithm>

namespace lumora {

namespace {

// The body size of the rendered form; headings scale from it.
constexpr int kRenderedFontSize = 12;

// The head indent the source form's own stylesheet lays markers out in.
constexpr double kPrintHeadIndent = 60.0;

// Qt keeps <pre> lines whole; on paper they wrap like the rest.
const char* const kRenderedStyleSheet = "pre { white-space: pre-wrap; }";

// Element ids and anchor names mean nothing on paper, and Qt's HTML import
// slows down with the number of distinct ones (it files the names of every
// anchor under one hash value): 1 MB of Markdown with footnotes takes four
// times as long with them.
QString withoutAnchorNames(QString html)
{
    static const QRegularExpression names(QStringLiteral("(<[a-zA-Z][^<>]*?)\\s(?:id|name)\\s*=\\s*\"[^\"<>]*\""));
    // Each pass takes one name from each tag.
    for (qsizetype before = -1; before != html.size();) {
        before = html.size();
        html.replace(names, QStringLiteral("\\1"));
    }
    return html;
}

// Qt's HTML reader knows no figure, caption or section: their contents
// would run into the paragraph before them, an image and its caption on one
// line with the paragraph's last words. As divisions they stay blocks of
// their own.
QString withBlocksQtKnows(QString html)
{
    static const QRegularExpression blocks(
        QStringLiteral("<(/?)(?:figure|figcaption|section|article|aside|header|footer|nav|main)\\b([^<>]*)>"),
        QRegularExpression::CaseInsensitiveOption);
    return html.replace(blocks, QStringLiteral("<\\1div\\2>"));
}

// The size Qt draws an image at: the width and height the page gives, the
// image's own where it gives none, the other side in proportion where it
// gives one.
QSizeF drawnImageSize(const QTextDocument& text, const QTextImageFormat& format)
{
    const bool hasWidth = format.hasProperty(QTextFormat::ImageWidth);
    const bool hasHeight = format.hasProperty(QTextFormat::ImageHeight);
    double width = format.width(), height = format.height();
    if (hasWidth && hasHeight) return QSizeF(width, height);
    const QVariant resource = text.resource(QTextDocument::ImageResource, QUrl(format.name()));
    QSizeF own;
    if (resource.userType() == QMetaType::QPixmap) {
        const QPixmap pixmap = resource.value<QPixmap>();
        own = QSizeF(pixmap.size()) / pixmap.devicePixelRatio();
    } else if (resource.userType() == QMetaType::QImage) {
        const QImage image = resource.value<QImage>();
        own = QSizeF(image.size()) / image.devicePixelRatio();
    }
    if (own.isEmpty()) return QSizeF(hasWidth ? width : 0, hasHeight ? height : 0);
    if (hasWidth) return QSizeF(width, width * own.height() / own.width());
    if (hasHeight) return QSizeF(height * own.width() / own.height(), height);
    return own;
}

// Images larger than the text area are drawn smaller, in proportion, so
// that each prints whole on one page: never cut at the right margin, and
// never on a line of its own that pushes the words before it down the page.
void fitImages(QTextDocument& text, QSizeF area)
{
    struct Fitted {
        int position, length;
        QTextImageFormat format;
    };
    std::vector<Fitted> fitted;
    for (QTextBlock block = text.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat()) continue;
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            const QSizeF size = drawnImageSize(text, format);
            if (size.isEmpty()) continue;
            // The line an image stands on reaches below it by the text's
            // descent: room for a line of text keeps that line on the page.
            const double height = area.height() - QFontMetricsF(format.font()).height();
            const double scale = std::min({area.width() / size.width(), height / size.height()});
            if (scale >= 1.0) continue;
            format.setWidth(size.width() * scale);
            format.setHeight(size.height() * scale);
            fitted.push_back({fragment.position(), fragment.length(), format});
        }
    }
    // Changed once the walk is over: a new format changes the fragments.
    QTextCursor cursor(&text);
    for (const Fitted& image : fitted) {
        cursor.setPosition(image.position);
        cursor.setPosition(image.position + image.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(image.format);
    }
}

// Page size, margins and line breaking for paper: every page the paper's
// size, the text inside the margins on each of them, long words broken
// where they must be, and glyph advances that do not depend on hinting.
void prepareForPaper(QTextDocument& text, QSizeF paperSize, QMarginsF margins)
{
    text.setDocumentMargin(0);
    QTextFrameFormat frame = text.rootFrame()->frameFormat();
    frame.setTopMargin(margins.top());
    frame.setBottomMargin(margins.bottom());
    frame.setLeftMargin(margins.left());
    frame.setRightMargin(margins.right());
    text.rootFrame()->setFrameFormat(frame);
    QTextOption option = text.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setUseDesignMetrics(true);
    text.setDefaultTextOption(option);
    text.setPageSize(paperSize);
}

// Whether a paragraph prints nothing: only spaces and line ends (the "\r"
// of "\r\n" is a zero-width space in a print document), and no rule.
bool printsNothing(const QTextBlock& block)
{
    if (block.blockFormat().hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth)) return false;
    const QString text = block.text();
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace() || c == QChar(0x200B); });
}

// The pages up to the last one that shows something: blank lines at the end
// of a text never make a page of their own, and a text of blank lines makes
// none.
int pagesShowingText(QTextDocument& text, double pageHeight)
{
    const int laidOut = text.pageCount();
    for (QTextBlock block = text.lastBlock(); block.isValid(); block = block.previous()) {
        if (printsNothing(block) || !block.layout() || block.layout()->lineCount() == 0) continue;
        const QRectF bounds = text.documentLayout()->blockBoundingRect(block);
        const QTextLine last = block.layout()->lineAt(block.layout()->lineCount() - 1);
        return std::min(laidOut, int((bounds.top() + last.y()) / pageHeight) + 1);
    }
    return 0;
}

} // namespace

// Document views ---------------------------------------------------------------

PrintManager::DocumentView::DocumentView(QString name, std::unique_ptr<QTextDocument> text, QSizeF paperSize,
                                         QMarginsF margins)
    : m_name(std::move(name)), m_text(std::move(text)), m_paperSize(paperSize), m_margins(margins)
{
    prepareForPaper(*m_text, m_paperSize, m_margins);
    fitImages(*m_text, textArea().size());
    // Laid out to the end now, so the page count is known before a page is
    // drawn. An empty text has no page at all.
    m_pageCount = pagesShowingText(*m_text, m_paperSize.height());
}

PrintManager::DocumentView::~DocumentView() = default;

QRectF PrintManager::DocumentView::textArea() const
{
    return QRectF(QPointF(0, 0), m_paperSize).marginsRemoved(m_margins);
}

void PrintManager::DocumentView::drawPage(QPainter& painter, int index) const
{
    painter.save();
    painter.setClipRect(textArea(), Qt::IntersectClip);
    const double top = index * m_paperSize.height();
    painter.translate(0, -top);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = QRectF(0, top, m_paperSize.width(), m_paperSize.height());
    context.palette.setColor(QPalette::Text, Qt::black);
    m_text->documentLayout()->draw(&painter, context);
    painter.restore();
}

// The manager ----------------------------------------------------------------------

PrintManager::PrintManager() = default;
PrintManager::~PrintManager() = default;

QMarginsF PrintManager::pageMargins() const
{
    const double h = printInfo.applyMarkdown ? 0.0 : Settings::shared().parsedStylesheet()->markdownHeadIndent;
    return QMarginsF(pageMargin - h, pageMargin, pageMargin - h, pageMargin);
}

void PrintManager::layoutDocuments()
{
    const ParsedMarkdownStylesheet& parsed = *Settings::shared().parsedStylesheet();
    QFont font = parsed.base.font() ? *parsed.base.font() : QFont();
    // Pixels stand for points on paper.
    font.setPixelSize(int(fontSize));
    m_attributes = Attributes();
    m_attributes.set(AttributeKey::Font, font);
    m_attributes.set(AttributeKey::ParagraphStyle, parsed.paragraphStyle(font));

    m_documentViews.clear();
    for (const QPointer<Document>& document : documents)
        if (document) m_documentViews.push_back(makeDocumentView(*document));
}

std::unique_ptr<PrintManager::DocumentView> PrintManager::makeDocumentView(const Document& document) const
{
    const QString name = document.isUntitled() ? QString() : NativePath::shownNameOf(document.filePath());
    return std::make_unique<DocumentView>(name, makeTextDocument(document), printInfo.paperSize, pageMargins());
}

std::unique_ptr<QTextDocument> PrintManager::makeTextDocument(const Document& document) const
{
    if (printInfo.applyMarkdown) {
        // Without HTML the source prints instead, and nothing is reported.
        if (const auto html = document.htmlOfText()) {
            // Images and style sheets named relatively are the document's.
            const QString folder = document.isUntitled() ? QString() : QFileInfo(document.filePath()).absolutePath();
            return makeRenderedDocument(*html, folder);
        }
    }
    return makeSourceDocument(document);
}

std::unique_ptr<QTextDocument> PrintManager::makeSourceDocument(const Document& document) const
{
    // The editor's colours, focus dimming and element styles do not print:
    // a copy of the text is styled afresh from a stylesheet of the print
    // font alone, which keeps only the Markdown's paragraph geometry.
    ParsedMarkdownStylesheet print;
    print.base = m_attributes;
    print.paragraphSpacing = 0.0;
    print.markdownHeadIndent = kPrintHeadIndent;

    TextStorage storage(document.data().textStorage().string());
    const bool markdown = document.data().enableMarkdown;
    if (markdown) Markdown::prepareCharacterSets();
    restyleParagraphs(storage, print, Range(0, storage.length()), markdown);

    TextMirror mirror;
    mirror.setDefaultAttributes(m_attributes);
    mirror.setStorage(&storage);
    std::unique_ptr<QTextDocument> text = mirror.formattedDocument();
    mirror.setStorage(nullptr);
    return text;
}

std::unique_ptr<QTextDocument> PrintManager::makeRenderedDocument(const QString& html, const QString& folder) const
{
    return PageResources::textDocument(withBlocksQtKnows(withoutAnchorNames(html)), folder, [](QTextDocument& text) {
        QFont font(QStringLiteral("serif"));
        font.setStyleHint(QFont::Serif);
        font.setPixelSize(kRenderedFontSize);
        text.setDefaultFont(font);
        text.setDefaultStyleSheet(QString::fromLatin1(kRenderedStyleSheet));
    });
}

void PrintManager::drawPageHeaderAndFooter(QPainter& painter, int index, const DocumentView& view) const
{
    const double width = printInfo.paperSize.width(), height = printInfo.paperSize.height();
    const QFont font = m_attributes.font() ? *m_attributes.font() : QFont();
    const QFontMetricsF metrics(font);
    painter.save();
    painter.setFont(font);
    painter.setPen(Qt::black);
    // Centred across the paper and in the band above the text.
    const QString header = view.name();
    painter.drawText(QPointF((width - metrics.horizontalAdvance(header)) * 0.5,
                             (pageMargin - metrics.height()) * 0.5 + metrics.ascent()),
                     header);
    const QString footer = QStringLiteral("- %1 -").arg(index + 1);
    painter.drawText(QPointF((width - metrics.horizontalAdvance(footer)) * 0.5,
                             height - (pageMargin - metrics.height()) * 0.5 + metrics.ascent()),
                     footer);
    painter.restore();
}

} // namespace lumora
