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
#include <QTextTable>

#include <algorithm>
#include <map>

namespace lumora {

namespace {

// The body size of the rendered form; headings scale from it.
constexpr int kRenderedFontSize = 12;

// The head indent the source form's own stylesheet lays markers out in.
constexpr double kPrintHeadIndent = 60.0;

// The rendered form's own style sheet. Qt keeps <pre> lines whole; on paper
// they wrap like the rest. Tables look as they do in the preview: light
// rules between the cells and around the table, the cells padded by the
// same share of the font size, and the space of a paragraph above the
// table (Qt sets a table right under the line before it otherwise).
QString renderedStyleSheet()
{
    // The preview's rule colour on white paper under black text.
    const QString rule = QColor::fromRgbF(0.85f, 0.85f, 0.85f).name(QColor::HexRgb);
    return QStringLiteral("pre { white-space: pre-wrap; }\n"
                          "table { border-collapse: collapse; margin-top: %1px; }\n"
                          "th, td { border: 1px solid %2; padding: %3px %4px; }\n")
        .arg(kRenderedFontSize)
        .arg(rule)
        .arg(0.3 * kRenderedFontSize)
        .arg(0.7 * kRenderedFontSize);
}

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

// The widths a table's columns want on paper, from the cells that span one
// column: the width of the widest line of text set without a break, and of
// the widest image, each at the size it is drawn.
struct ColumnWants {
    std::vector<double> text, image;
};

// How wide a cell's own content stands when nothing breaks: per paragraph
// the advance of its words plus its images, the widest of them; and its
// widest image. Tables inside it count as nothing: they wrap.
std::pair<double, double> cellWidths(const QTextDocument& text, const QTextTableCell& cell)
{
    double textWidth = 0, imageWidth = 0;
    for (auto it = cell.begin(); !it.atEnd(); ++it) {
        const QTextBlock block = it.currentBlock();
        if (!block.isValid()) continue;
        double line = 0;
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextCharFormat format = fragment.fragment().charFormat();
            if (format.isImageFormat()) {
                const double width = drawnImageSize(text, format.toImageFormat()).width();
                imageWidth = std::max(imageWidth, width);
                line += width;
                continue;
            }
            const QFont font = format.font().resolve(text.defaultFont());
            line += QFontMetricsF(font).horizontalAdvance(fragment.fragment().text());
        }
        textWidth = std::max(textWidth, line);
    }
    // A character's room more: Qt's own measure of the line differs from
    // this one by a little, which would break its last word.
    if (textWidth > 0) textWidth += QFontMetricsF(text.defaultFont()).averageCharWidth();
    return {textWidth, imageWidth};
}

// What a table takes beside its cells' content: its margins, border and
// padding, the spacing between cells and each column's cell padding and
// rules.
double tableOverhead(const QTextTable& table)
{
    const QTextTableFormat format = table.format();
    double overhead = format.leftMargin() + format.rightMargin() + 2 * (format.border() + format.padding())
        + (table.columns() + 1) * format.cellSpacing();
    for (int column = 0; column < table.columns(); ++column) {
        double widest = 0;
        for (int row = 0; row < table.rows(); ++row) {
            const QTextTableCellFormat cell = table.cellAt(row, column).format().toTableCellFormat();
            const auto padding = [&](QTextFormat::Property side) {
                return cell.hasProperty(side) ? cell.doubleProperty(side) : format.cellPadding();
            };
            widest = std::max(widest, padding(QTextFormat::TableCellLeftPadding)
                                          + padding(QTextFormat::TableCellRightPadding) + cell.leftBorder()
                                          + cell.rightBorder());
        }
        overhead += widest;
    }
    return overhead;
}

// The widths the images of each column may take in a table given width
// (its place on the page, which no image exceeds): a column is as wide as
// its widest image would make it only where the whole table still fits.
// Otherwise the columns of text keep their width and the image columns
// share what is left, in proportion to their images; each image column
// keeps at least an even share of the table, so an image never shrinks to
// nothing beside long text (the text then wraps instead). Without this, Qt
// gives an image column its image's whole width and the other columns a
// letter each.
struct ImageColumns {
    std::vector<double> widths;
    // The columns whose images had to be made smaller to fit the table,
    // none where everything fits as it is.
    std::vector<bool> narrowed;
};
ImageColumns imageColumnWidths(const QTextDocument& text, const QTextTable& table, double width)
{
    const int columns = table.columns();
    ColumnWants wants{std::vector<double>(columns, 0.0), std::vector<double>(columns, 0.0)};
    for (int row = 0; row < table.rows(); ++row) {
        for (int column = 0; column < columns; ++column) {
            const QTextTableCell cell = table.cellAt(row, column);
            if (cell.row() != row || cell.column() != column || cell.columnSpan() != 1) continue;
            const auto [textWidth, imageWidth] = cellWidths(text, cell);
            wants.text[column] = std::max(wants.text[column], textWidth);
            wants.image[column] = std::max(wants.image[column], imageWidth);
        }
    }
    const double available = std::max(0.0, width - tableOverhead(table));
    ImageColumns result{std::vector<double>(columns, available), std::vector<bool>(columns, false)};
    std::vector<double>& widths = result.widths;
    double wanted = 0, images = 0, textBeside = 0;
    for (int column = 0; column < columns; ++column) {
        wanted += std::max(wants.text[column], wants.image[column]);
        images += wants.image[column];
        if (wants.image[column] == 0) textBeside += wants.text[column];
    }
    if (wanted <= available || images == 0) return result;
    const double left = std::max(0.0, available - textBeside);
    const double evenShare = available / columns;
    for (int column = 0; column < columns; ++column) {
        if (wants.image[column] == 0) {
            widths[column] = wants.text[column];
            continue;
        }
        const double share = left * wants.image[column] / images;
        widths[column] = std::max(share, std::min(wants.image[column], evenShare));
        result.narrowed[column] = true;
    }
    return result;
}

// The innermost table a paragraph stands in, if any.
QTextTable* tableOf(const QTextBlock& block)
{
    return QTextCursor(block).currentTable();
}

// How wide an image in paragraph block may be: the text's width, or in a
// table the width its columns give it.
class ImageWidths {
public:
    ImageWidths(const QTextDocument& text, double width) : m_text(text), m_width(width) {}

    double at(const QTextBlock& block) { return widthAt(tableOf(block), block.position()); }

    // The image columns narrowed in each table, once the images are sized:
    // they are made as narrow as their content, the images, lets them be.
    // Qt would widen them by a share of the room the columns of text need,
    // and wrap the text more than it must.
    void narrowColumns()
    {
        for (const auto& [table, columns] : m_columns) {
            if (std::none_of(columns.narrowed.begin(), columns.narrowed.end(), [](bool n) { return n; })) continue;
            QTextTableFormat format = table->format();
            QList<QTextLength> constraints;
            for (const bool narrowed : columns.narrowed)
                constraints << (narrowed ? QTextLength(QTextLength::FixedLength, 0) : QTextLength());
            format.setColumnWidthConstraints(constraints);
            table->setFormat(format);
        }
    }

private:
    double widthAt(QTextTable* table, int position)
    {
        if (!table) return m_width;
        const QTextTableCell cell = table->cellAt(position);
        if (!cell.isValid()) return m_width;
        const std::vector<double>& columns = columnsOf(table).widths;
        double width = 0;
        for (int column = cell.column(); column < cell.column() + cell.columnSpan() && column < int(columns.size());
             ++column)
            width += columns[column];
        return std::min(width, m_width);
    }

    const ImageColumns& columnsOf(QTextTable* table)
    {
        if (const auto found = m_columns.find(table); found != m_columns.end()) return found->second;
        // A table inside another has the width of its cell there.
        QTextTable* outer = nullptr;
        for (QTextFrame* frame = table->parentFrame(); frame && !outer; frame = frame->parentFrame())
            outer = qobject_cast<QTextTable*>(frame);
        const double width = widthAt(outer, table->firstPosition() - 1);
        return m_columns[table] = imageColumnWidths(m_text, *table, width);
    }

    const QTextDocument& m_text;
    double m_width;
    std::map<QTextTable*, ImageColumns> m_columns;
};

// Images larger than the text area are drawn smaller, in proportion, so
// that each prints whole on one page: never cut at the right margin, and
// never on a line of its own that pushes the words before it down the page.
// An image in a table is bounded by its column instead, so that the other
// columns keep room for their words.
void fitImages(QTextDocument& text, QSizeF area)
{
    struct Fitted {
        int position, length;
        QTextImageFormat format;
    };
    std::vector<Fitted> fitted;
    ImageWidths widths(text, area.width());
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
            const double scale = std::min({widths.at(block) / size.width(), height / size.height()});
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
    widths.narrowColumns();
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
        text.setDefaultStyleSheet(renderedStyleSheet());
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
