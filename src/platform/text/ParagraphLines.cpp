#include "platform/text/ParagraphLines.h"

#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextFrame>

#include <algorithm>
#include <utility>
#include <vector>

namespace lumora {

namespace {

// Paragraphs longer than this have their break opportunities listed before
// their lines are laid out.
constexpr int kLongParagraph = 4096;

Qt::Alignment visualAlignment(Qt::LayoutDirection direction, Qt::Alignment alignment)
{
    if (!(alignment & Qt::AlignHorizontal_Mask)) alignment |= Qt::AlignLeft;
    if (!(alignment & Qt::AlignAbsolute) && (alignment & (Qt::AlignLeft | Qt::AlignRight))) {
        if (direction == Qt::RightToLeft) alignment ^= (Qt::AlignLeft | Qt::AlignRight);
        alignment |= Qt::AlignAbsolute;
    }
    return alignment;
}

} // namespace

void PageGeometry::read(const QTextDocument* doc)
{
    width = doc->pageSize().width();
    const QTextFrameFormat f = doc->rootFrame()->frameFormat();
    const double edge = f.border() + f.padding();
    left = f.leftMargin() + edge;
    top = f.topMargin() + edge;
    right = f.rightMargin() + edge;
    bottom = f.bottomMargin() + edge;
    const QFontMetricsF metrics(doc->defaultFont());
    estimatedLineHeight = std::max(1.0, metrics.lineSpacing());
    estimatedCharWidth = std::max(1.0, metrics.averageCharWidth());
}

bool PageGeometry::differsFrom(const QTextDocument* doc) const
{
    const QTextFrameFormat f = doc->rootFrame()->frameFormat();
    const double edge = f.border() + f.padding();
    return doc->pageSize().width() != width || f.leftMargin() + edge != left || f.topMargin() + edge != top
        || f.rightMargin() + edge != right || f.bottomMargin() + edge != bottom;
}

double PageGeometry::estimate(const QTextBlock& block, const QTextBlockFormat& bf) const
{
    const double lineHeight =
        bf.lineHeightType() == QTextBlockFormat::FixedHeight ? bf.lineHeight() : estimatedLineHeight;
    const double columns = std::max(1.0, width - left - right - bf.leftMargin() - bf.rightMargin());
    const double perLine = std::max(1.0, std::floor(columns / estimatedCharWidth));
    const double lines = std::max(1.0, std::ceil((block.length() - 1) / perLine));
    return (block.blockNumber() > 0 ? bf.topMargin() : 0.0) + lines * lineHeight;
}

double layoutParagraphLines(QTextLayout* tl, const QTextBlock& block, const QTextBlockFormat& bf, QTextOption option,
                            const PageGeometry& page)
{
    const Qt::LayoutDirection direction = block.textDirection();
    option.setTextDirection(direction);
    option.setTabs(bf.tabPositions());
    Qt::Alignment alignment = option.alignment();
    if (bf.hasProperty(QTextFormat::BlockAlignment)) alignment = bf.alignment();
    option.setAlignment(visualAlignment(direction, alignment));
    if (bf.nonBreakableLines() || page.width < 0) option.setWrapMode(QTextOption::ManualWrap);
    tl->setTextOption(option);

    const double contentWidth = page.contentWidth();
    const double indent = bf.textIndent();

    // Qt looks for the end of a word before it breaks one that does not fit
    // a line, and does so again for each line of it: a word as long as the
    // paragraph costs quadratic time. Where the next break opportunity lies
    // beyond what any line can hold, the line breaks anywhere instead, as Qt
    // would end up doing.
    const QTextOption::WrapMode wrap = option.wrapMode();
    std::vector<int> breaks;
    qsizetype textLength = 0;
    // Further than four lines of average characters: no line holds that much.
    const double reach = std::max(256.0, 4.0 * contentWidth / page.estimatedCharWidth);
    if (wrap == QTextOption::WrapAtWordBoundaryOrAnywhere && block.length() > kLongParagraph) {
        const QString text = block.text();
        textLength = text.size();
        QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
        for (qsizetype p = finder.toNextBoundary(); p > 0; p = finder.toNextBoundary()) breaks.push_back(int(p));
    }
    bool anywhere = false;
    int lineStart = 0;

    double y = 0.0;
    bool first = true;
    tl->beginLayout();
    for (;;) {
        if (textLength > 0) {
            const auto next = std::upper_bound(breaks.begin(), breaks.end(), lineStart);
            const qsizetype to = next == breaks.end() ? textLength : *next;
            const bool far = double(to - lineStart) > reach;
            if (far != anywhere) {
                option.setWrapMode(far ? QTextOption::WrapAnywhere : wrap);
                tl->setTextOption(option);
                anywhere = far;
            }
        }
        QTextLine line = tl->createLine();
        if (!line.isValid()) break;
        line.setLeadingIncluded(true);
        double left = bf.leftMargin();
        double right = bf.rightMargin();
        if (first) (direction == Qt::RightToLeft ? right : left) += indent;
        line.setLineWidth(std::max(0.0, contentWidth - left - right));
        const LineBox box = lineBox(bf, line);
        line.setPosition(QPointF(left, y - box.adjustment));
        y += box.height;
        first = false;
        lineStart = line.textStart() + line.textLength();
    }
    tl->endLayout();
    return y;
}

std::uint32_t lineBreakingKey(const QTextBlockFormat& f, std::optional<std::uint32_t> charactersDigest)
{
    size_t h = qHashMulti(0, f.leftMargin(), f.rightMargin(), f.textIndent(), f.lineHeight(), f.lineHeightType(),
                          int(f.alignment()), f.nonBreakableLines(), f.indent());
    for (const QTextOption::Tab& tab : f.tabPositions()) h = qHashMulti(h, tab.position, int(tab.type), tab.delimiter);
    if (charactersDigest) h = qHashMulti(h, *charactersDigest);
    const std::uint64_t x = std::uint64_t(h);
    return std::uint32_t((x ^ (x >> 24) ^ (x >> 48)) & 0xFFFFFFu);
}

void mergePreeditFormats(QList<QTextLayout::FormatRange>& formats, const QTextLayout& layout)
{
    const QString preedit = layout.preeditAreaText();
    if (preedit.isEmpty()) return;
    const int at = layout.preeditAreaPosition();
    const int n = int(preedit.size());
    QList<QTextLayout::FormatRange> merged;
    for (const QTextLayout::FormatRange& own : layout.formats())
        if (own.start >= at && own.start < at + n) merged.append(own);
    for (QTextLayout::FormatRange range : std::as_const(formats)) {
        if (range.start + range.length <= at) {
            merged.append(range);
        } else if (range.start >= at) {
            range.start += n;
            merged.append(range);
        } else {
            QTextLayout::FormatRange after = range;
            range.length = at - range.start;
            after.start = at + n;
            after.length -= range.length;
            merged.append(range);
            merged.append(after);
        }
    }
    std::sort(merged.begin(), merged.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
    formats = merged;
}

} // namespace lumora
