#include "platform/text/TextMirror.h"

#include "platform/foundation/CharacterSet.h"
#include "platform/text/EditorLayout.h"

#include <QAbstractTextDocumentLayout>
#include <QDebug>
#include <QHash>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTimer>

#include <algorithm>
#include <array>
#include <optional>
#include <cmath>

namespace lumora {

namespace {

constexpr char16_t kBlockSeparator = 0x2029;
constexpr char16_t kZeroWidthSpace = 0x200B;
constexpr char16_t kReplacementCharacter = 0xFFFD;

// The keys that change what a run of characters looks like in the document.
constexpr std::array<AttributeKey, 7> kCharKeys{
    AttributeKey::Font,           AttributeKey::ForegroundColor,    AttributeKey::BackgroundColor,
    AttributeKey::UnderlineStyle, AttributeKey::UnderlineColor,     AttributeKey::StrikethroughStyle,
    AttributeKey::Kern,
};

constexpr std::uint32_t drawnKeyMask()
{
    std::uint32_t mask = TextStorage::keyBit(AttributeKey::ParagraphStyle);
    for (AttributeKey key : kCharKeys) mask |= TextStorage::keyBit(key);
    return mask;
}
constexpr std::uint32_t kDrawnKeys = drawnKeyMask();
// The keys whose values move glyphs and break lines.
constexpr std::uint32_t kLineBreakingKeys =
    TextStorage::keyBit(AttributeKey::Font) | TextStorage::keyBit(AttributeKey::Kern);
constexpr std::uint32_t kColourAlphaKeys =
    TextStorage::keyBit(AttributeKey::ForegroundColor) | TextStorage::keyBit(AttributeKey::HighlightColor);

// Changes of characters at least this long, covering half the text or
// more, rebuild the document: one insertion of the whole text.
constexpr qsizetype kRebuildThreshold = 64 * 1024;

int g_colourAlphaPasses = 0;
#ifdef QT_DEBUG
bool g_assertOnUnexpected = true;
#else
bool g_assertOnUnexpected = false;
#endif

// Characters the document would not keep one to one: line breaks and Qt's
// frame markers.
bool needsMapping(char16_t c)
{
    return text::isNewline(c) || c == 0xFDD0 || c == 0xFDD1;
}

// The document character that stands for text[i].
char16_t mirrored(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    if (!needsMapping(c)) return c;
    if (c == 0xFDD0 || c == 0xFDD1) return kReplacementCharacter;
    const bool crBeforeLf = c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n';
    return crBeforeLf ? kZeroWidthSpace : kBlockSeparator;
}

// The stand-ins of text[from, to), looking one character past `to` for "\r\n".
QString mirroredSlice(QStringView text, qsizetype from, qsizetype to)
{
    QString result = text.mid(from, to - from).toString();
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    for (qsizetype i = from; i < to; ++i)
        if (needsMapping(text[i].unicode())) out[i - from] = mirrored(text, i);
    return result;
}

QColor opaque(const Color& c)
{
    QColor q = c.toQColor();
    q.setAlphaF(1.0);
    return q;
}

std::int64_t integerOf(const AttributeValue& v)
{
    if (const std::int64_t* i = v.integer()) return *i;
    if (const double* d = v.number()) return std::int64_t(*d);
    return 0;
}

double numberOf(const AttributeValue& v)
{
    if (const double* d = v.number()) return *d;
    if (const std::int64_t* i = v.integer()) return double(*i);
    return 0.0;
}

} // namespace

// The drawn values of a run, as a hashable key of the format cache.
struct TextMirror::CharKey {
    QFont font;
    bool hasFont = false;
    QRgba64 foreground{};
    bool hasForeground = false;
    QRgba64 background{};
    bool hasBackground = false;
    std::int64_t underline = 0;
    QRgba64 underlineColor{};
    bool hasUnderlineColor = false;
    std::int64_t strikethrough = 0;
    double kern = 0.0;

    static CharKey from(const std::array<const AttributeValue*, kCharKeys.size()>& values, bool textAlpha)
    {
        CharKey k;
        if (const QFont* f = values[0]->font()) {
            k.font = *f;
            k.hasFont = true;
        }
        if (const Color* c = values[1]->color()) {
            k.foreground = (textAlpha ? c->toQColor() : opaque(*c)).rgba64();
            k.hasForeground = true;
        }
        if (const Color* c = values[2]->color()) {
            k.background = c->toQColor().rgba64();
            k.hasBackground = true;
        }
        k.underline = integerOf(*values[3]);
        if (const Color* c = values[4]->color()) {
            k.underlineColor = c->toQColor().rgba64();
            k.hasUnderlineColor = true;
        }
        k.strikethrough = integerOf(*values[5]);
        k.kern = numberOf(*values[6]);
        return k;
    }

    friend bool operator==(const CharKey& a, const CharKey& b)
    {
        return a.hasFont == b.hasFont && a.hasForeground == b.hasForeground && a.foreground == b.foreground
            && a.hasBackground == b.hasBackground && a.background == b.background && a.underline == b.underline
            && a.hasUnderlineColor == b.hasUnderlineColor && a.underlineColor == b.underlineColor
            && a.strikethrough == b.strikethrough && a.kern == b.kern && (!a.hasFont || a.font == b.font);
    }
    friend size_t qHash(const CharKey& k, size_t seed = 0)
    {
        size_t h = seed ^ (k.hasFont ? ::qHash(k.font) : 0);
        h = h * 31 + size_t(k.foreground.toArgb32());
        h = h * 31 + size_t(k.background.toArgb32());
        h = h * 31 + size_t(k.underline) + size_t(k.strikethrough) * 7;
        h = h * 31 + ::qHash(k.kern);
        return h;
    }

    QTextCharFormat format() const
    {
        QTextCharFormat f;
        if (hasFont) f.setFont(font, QTextCharFormat::FontPropertiesAll);
        if (kern != 0.0) {
            f.setFontLetterSpacingType(QFont::AbsoluteSpacing);
            f.setFontLetterSpacing(kern);
        }
        if (hasForeground) f.setForeground(QColor::fromRgba64(foreground));
        if (hasBackground) f.setBackground(QColor::fromRgba64(background));
        if (underline != 0) {
            // The style's pattern bits: 0x100 dot, 0x200 dash, 0x300 dash-dot,
            // 0x400 dash-dot-dot. Thick and double lines draw as single ones.
            switch (underline & 0x700) {
            case 0x100: f.setUnderlineStyle(QTextCharFormat::DotLine); break;
            case 0x200: f.setUnderlineStyle(QTextCharFormat::DashUnderline); break;
            case 0x300: f.setUnderlineStyle(QTextCharFormat::DashDotLine); break;
            case 0x400: f.setUnderlineStyle(QTextCharFormat::DashDotDotLine); break;
            default: f.setUnderlineStyle(QTextCharFormat::SingleUnderline); break;
            }
            if (hasUnderlineColor) f.setUnderlineColor(QColor::fromRgba64(underlineColor));
        }
        if (strikethrough != 0) f.setFontStrikeOut(true);
        return f;
    }
};

// Formats by drawn values: converting fonts and colours once per distinct run.
class TextMirror::FormatCache {
public:
    const QTextCharFormat& format(const CharKey& key)
    {
        auto it = m_formats.constFind(key);
        if (it != m_formats.constEnd()) return it.value();
        if (m_formats.size() > 4096) m_formats.clear();
        return m_formats.insert(key, key.format()).value();
    }

private:
    QHash<CharKey, QTextCharFormat> m_formats;
};

// ---- Life cycle ---------------------------------------------------------------

TextMirror::TextMirror(QObject* parent)
    : QObject(parent), m_document(new QTextDocument(this)), m_cache(std::make_unique<FormatCache>())
{
    m_document->setUndoRedoEnabled(false);
    m_document->setDocumentMargin(0);
    // Our own layout (QTextDocument also reports changes only once it has one).
    m_layout = new EditorLayout(m_document);
    m_layout->setFormatSource(this);
    m_document->setDocumentLayout(m_layout);
    connect(m_document, &QTextDocument::contentsChange, this, &TextMirror::documentContentsChanged);
}

TextMirror::~TextMirror()
{
    if (m_storage) m_storage->removeObserver(m_observer);
    // The layout asks for looks until it goes: it must not outlive them.
    m_layout->setFormatSource(nullptr);
}

void TextMirror::setStorage(TextStorage* storage)
{
    if (m_storage) m_storage->removeObserver(m_observer);
    m_storage = storage;
    m_observer = 0;
    if (m_storage) m_observer = m_storage->addObserver([this](const TextStorage::Change& c) { storageChanged(c); });
    resynchronize();
}

void TextMirror::setAssertsOnUnexpectedChange(bool on)
{
    g_assertOnUnexpected = on;
}

TextMirror::ColourAlphaPass::ColourAlphaPass()
{
    ++g_colourAlphaPasses;
}

TextMirror::ColourAlphaPass::~ColourAlphaPass()
{
    --g_colourAlphaPasses;
}

void TextMirror::setDefaultAttributes(const Attributes& attributes)
{
    m_defaultAttributes = attributes;
    ++m_updating;
    if (const ParagraphStyle* style = attributes.paragraphStyle(); style && style->defaultTabInterval > 0) {
        QTextOption option = m_document->defaultTextOption();
        if (option.tabStopDistance() != style->defaultTabInterval) {
            option.setTabStopDistance(style->defaultTabInterval);
            m_document->setDefaultTextOption(option);
        }
    }
    // Empty lines are as high as the document's default font.
    if (const QFont* font = attributes.font(); font && m_document->defaultFont() != *font)
        m_document->setDefaultFont(*font);
    --m_updating;
    // The empty last line and an empty document take these attributes.
    if (m_storage && (m_storage->length() == 0 || text::isNewline(m_storage->characterAt(m_storage->length() - 1).unicode())))
        refreshFormats(Range(m_storage->length(), 0));
}

void TextMirror::setRootFrameMargins(const QMarginsF& margins)
{
    if (rootFrameMargins() == margins) return;
    QTextFrame* root = m_document->rootFrame();
    QTextFrameFormat format = root->frameFormat();
    format.setLeftMargin(margins.left());
    format.setTopMargin(margins.top());
    format.setRightMargin(margins.right());
    format.setBottomMargin(margins.bottom());
    ++m_updating;
    // The layout keeps the heights it has as estimates and lays out again
    // only what is shown before the next paint.
    root->setFrameFormat(format);
    --m_updating;
}

QMarginsF TextMirror::rootFrameMargins() const
{
    const QTextFrameFormat f = m_document->rootFrame()->frameFormat();
    return QMarginsF(f.leftMargin(), f.topMargin(), f.rightMargin(), f.bottomMargin());
}

// ---- Conversions --------------------------------------------------------------

QString TextMirror::mirroredText(QStringView text)
{
    return mirroredSlice(text, 0, text.size());
}

QTextCharFormat TextMirror::charFormat(const Attributes& attributes) const
{
    static const AttributeValue none;
    std::array<const AttributeValue*, kCharKeys.size()> values;
    for (size_t i = 0; i < kCharKeys.size(); ++i) {
        const AttributeValue* v = attributes.get(kCharKeys[i]);
        values[i] = v ? v : &none;
    }
    return m_cache->format(CharKey::from(values, !m_drawsTextAlpha || m_drawsTextAlpha()));
}

QTextBlockFormat TextMirror::blockFormat(const ParagraphStyle* style, double spacingAfterPrevious)
{
    QTextBlockFormat f;
    // Qt collapses neighbouring margins (it takes the larger); the text
    // system adds them. So a block's top margin carries the space after the
    // previous paragraph plus its own space before, and no bottom margin.
    f.setTopMargin(spacingAfterPrevious + (style ? style->paragraphSpacingBefore : 0.0));
    f.setBottomMargin(0.0);
    if (!style) return f;
    f.setLeftMargin(style->headIndent);
    f.setTextIndent(style->firstLineHeadIndent - style->headIndent);
    // A negative tail indent counts from the right edge; a positive one (a
    // fixed line length) has no block-format counterpart and is left out.
    f.setRightMargin(style->tailIndent < 0 ? -style->tailIndent : 0.0);
    if (style->lineHeightMultiple > 0) {
        f.setLineHeight(style->lineHeightMultiple * 100.0, QTextBlockFormat::ProportionalHeight);
    } else if (style->maximumLineHeight > 0 && style->maximumLineHeight <= style->minimumLineHeight) {
        // A fixed line box plus the spacing between lines. Qt puts the
        // baseline at 80% of a fixed line height, close to where the text
        // system puts it (at the bottom of the box, above the line spacing).
        f.setLineHeight(style->maximumLineHeight + style->lineSpacing, QTextBlockFormat::FixedHeight);
    } else if (style->minimumLineHeight > 0) {
        f.setLineHeight(style->minimumLineHeight + style->lineSpacing, QTextBlockFormat::MinimumHeight);
    } else if (style->lineSpacing > 0) {
        f.setLineHeight(style->lineSpacing, QTextBlockFormat::LineDistanceHeight);
    }
    switch (style->alignment) {
    case ParagraphStyle::Alignment::Right: f.setAlignment(Qt::AlignRight); break;
    case ParagraphStyle::Alignment::Center: f.setAlignment(Qt::AlignHCenter); break;
    case ParagraphStyle::Alignment::Justified: f.setAlignment(Qt::AlignJustify); break;
    case ParagraphStyle::Alignment::Left: f.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute); break;
    case ParagraphStyle::Alignment::Natural: break;
    }
    if (!style->tabStops.isEmpty()) {
        // Qt counts tab positions from the start of the line; the first line
        // starts at the first-line head indent.
        QList<QTextOption::Tab> tabs;
        tabs.reserve(style->tabStops.size());
        for (double x : style->tabStops) {
            const double at = x - style->firstLineHeadIndent;
            if (at > 0) tabs.append(QTextOption::Tab(at, QTextOption::LeftTab));
        }
        f.setTabPositions(tabs);
    }
    return f;
}

template <typename Block>
void TextMirror::forEachDrawnRun(qsizetype from, qsizetype to, Block&& block) const
{
    static const AttributeValue none;
    const bool textAlpha = !m_drawsTextAlpha || m_drawsTextAlpha();
    std::array<AttributeRuns::Cursor, kCharKeys.size()> cursors;
    for (size_t i = 0; i < kCharKeys.size(); ++i) cursors[i] = m_storage->runs(kCharKeys[i]).cursorAt(from);
    qsizetype pos = from;
    while (pos < to) {
        std::array<const AttributeValue*, kCharKeys.size()> values;
        qsizetype end = to;
        for (size_t i = 0; i < kCharKeys.size(); ++i) {
            AttributeRuns::Cursor& c = cursors[i];
            while (!c.atEnd() && c.run().end() <= pos) c.next();
            if (c.atEnd()) {
                values[i] = &none;
                continue;
            }
            values[i] = &c.value();
            end = std::min(end, c.run().end());
        }
        block(pos, end, m_cache->format(CharKey::from(values, textAlpha)));
        pos = end;
    }
}

QList<QTextLayout::FormatRange> TextMirror::charFormats(const QTextBlock& block) const
{
    QList<QTextLayout::FormatRange> ranges;
    if (!m_storage) return ranges;
    const qsizetype start = block.position();
    const qsizetype to = std::min<qsizetype>(start + block.length() - 1, m_storage->length());
    if (to <= start) return ranges;
    forEachDrawnRun(start, to, [&](qsizetype a, qsizetype b, const QTextCharFormat& f) {
        // Runs that differ only in what is not drawn are one.
        if (!ranges.isEmpty() && ranges.back().format == f) ranges.back().length += int(b - a);
        else ranges.append(QTextLayout::FormatRange{int(a - start), int(b - a), f});
    });
    return ranges;
}

std::uint32_t TextMirror::lineBreakingDigest(const QTextBlock& block) const
{
    if (!m_storage) return 0;
    const qsizetype start = block.position();
    const qsizetype to = std::min<qsizetype>(start + block.length() - 1, m_storage->length());
    size_t h = 1;
    for (AttributeKey key : {AttributeKey::Font, AttributeKey::Kern}) {
        // Where each run of the key ends within the block, and what it holds.
        for (AttributeRuns::Cursor c = m_storage->runs(key).cursorAt(start); !c.atEnd(); c.next()) {
            const Range run = c.run();
            const AttributeValue& value = c.value();
            h = qHashMulti(h, std::min(run.end(), to) - start);
            if (const QFont* f = value.font()) h = qHashMulti(h, *f, f->letterSpacing(), f->wordSpacing());
            else h = qHashMulti(h, numberOf(value));
            if (run.end() >= to) break;
        }
    }
    return std::uint32_t(h ^ (h >> 32));
}

QTextBlockFormat TextMirror::blockFormat(const QTextBlock& block) const
{
    const QTextBlock previous = block.previous();
    return blockFormatAt(block.position(), previous.isValid() ? previous.position() : -1);
}

const ParagraphStyle* TextMirror::paragraphStyleAt(qsizetype index) const
{
    if (!m_storage || index < 0 || index >= m_storage->length()) return m_defaultAttributes.paragraphStyle();
    return m_storage->attribute(AttributeKey::ParagraphStyle, index).paragraphStyle();
}

// previousStart: where the paragraph before begins (-1 for none); its style
// gives the space after it.
QTextBlockFormat TextMirror::blockFormatAt(qsizetype blockPosition, qsizetype previousStart) const
{
    const ParagraphStyle* style = paragraphStyleAt(blockPosition);
    double after = 0.0;
    if (previousStart >= 0)
        if (const ParagraphStyle* s = paragraphStyleAt(previousStart)) after = s->paragraphSpacing;
    // Neighbouring paragraphs mostly share one style: convert it once.
    if (m_lastBlockStyle && style && *style == *m_lastBlockStyle && after == m_lastSpacingAfter)
        return m_lastBlockFormat;
    m_lastBlockFormat = blockFormat(style, after);
    m_lastBlockStyle = style ? std::make_shared<const ParagraphStyle>(*style) : nullptr;
    m_lastSpacingAfter = after;
    return m_lastBlockFormat;
}

// ---- Building and updating ------------------------------------------------------

void TextMirror::resynchronize()
{
    emit aboutToRebuild();
    ++m_updating;
    {
        // One insertion of plain text: the looks come from the storage as
        // blocks are laid out.
        QTextCursor cursor(m_document);
        cursor.beginEditBlock();
        cursor.select(QTextCursor::Document);
        const QString text = m_storage ? mirroredText(m_storage->string()) : QString();
        if (text.isEmpty()) cursor.removeSelectedText();
        else cursor.insertText(text, QTextCharFormat());
        if (m_fresh) compactText(cursor, text);
        m_roomToEdit = false;
        cursor.setBlockFormat(QTextBlockFormat());
        cursor.endEditBlock();
        m_fresh = false;
    }
    // Views put their cursors back.
    emit rebuilt();
    --m_updating;
    ++m_updateCount;
    ++m_rebuildCount;
    emit updated();
}

// Qt appends every insertion to its document's character buffer, which a
// long text built whole fills to the last unit (see compactText): the first
// insertion grows it, copying the whole text. One character put in at the
// end and taken out again does that now instead of at the first key.
void TextMirror::prepareForEditing()
{
    if (m_roomToEdit || !m_storage || m_storage->length() < kRebuildThreshold) return;
    m_roomToEdit = true;
    ++m_updating;
    QTextCursor cursor(m_document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    const int end = cursor.position();
    cursor.insertText(QStringLiteral(" "), QTextCharFormat());
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
    --m_updating;
}

// Qt keeps a document's characters in one buffer that it grows to a power
// of two: a text inserted whole into a new document can leave the buffer
// nearly twice as large as the text. Qt gives the spare room back when the
// buffer holds enough removed characters and is nearly full; a filler that
// fills it and is removed again in the same edit block brings that about.
void TextMirror::compactText(QTextCursor& cursor, QStringView text)
{
    const qsizetype length = text.size();
    if (length < kRebuildThreshold) return;
    // The buffer a new document's one paragraph separator grows into.
    QString probe;
    probe.append(QChar(QChar::ParagraphSeparator));
    probe.append(text);
    const qsizetype capacity = probe.capacity();
    probe = QString();
    const qsizetype size = length + 1;
    // Qt compacts beyond 96 KB of removed text in a buffer at least 90% full.
    const qsizetype filler = std::max<qsizetype>(48 * 1024 + 1, qsizetype(std::ceil(double(capacity) * 0.9)) - size);
    if (size + filler > capacity) return;
    cursor.movePosition(QTextCursor::End);
    const int end = cursor.position();
    cursor.insertText(QString(filler, u' '), QTextCharFormat());
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

std::unique_ptr<QTextDocument> TextMirror::formattedDocument() const
{
    auto out = std::make_unique<QTextDocument>();
    out->setUndoRedoEnabled(false);
    out->setDocumentMargin(m_document->documentMargin());
    out->setDefaultFont(m_document->defaultFont());
    out->setDefaultTextOption(m_document->defaultTextOption());
    QTextCursor cursor(out.get());
    cursor.beginEditBlock();
    // An empty line is as high as the look of its own line break.
    auto separatorFormat = [this](qsizetype at) {
        if (!m_storage || at >= m_storage->length()) return charFormat(m_defaultAttributes);
        QTextCharFormat format;
        forEachDrawnRun(at, at + 1, [&](qsizetype, qsizetype, const QTextCharFormat& f) { format = f; });
        return format;
    };
    const qsizetype length = m_storage ? m_storage->length() : 0;
    const QStringView text = m_storage ? m_storage->stringBefore(length) : QStringView();
    qsizetype blockStart = 0;
    qsizetype previousStart = -1;
    for (;;) {
        qsizetype blockEnd = blockStart; // the block's separator, or the end
        while (blockEnd < length && mirrored(text, blockEnd) != kBlockSeparator) ++blockEnd;
        const QTextBlockFormat bf = blockFormatAt(blockStart, previousStart);
        if (previousStart < 0) {
            cursor.setBlockFormat(bf);
            cursor.setBlockCharFormat(separatorFormat(blockStart));
        } else {
            cursor.insertBlock(bf, separatorFormat(blockStart));
        }
        // Runs that differ only in what is not drawn go in as one.
        qsizetype pending = blockStart;
        QTextCharFormat pendingFormat;
        bool pendingSet = false;
        if (m_storage) {
            forEachDrawnRun(blockStart, blockEnd, [&](qsizetype from, qsizetype, const QTextCharFormat& f) {
                if (pendingSet && !(pendingFormat == f)) {
                    cursor.insertText(mirroredSlice(text, pending, from), pendingFormat);
                    pending = from;
                }
                pendingFormat = f;
                pendingSet = true;
            });
        }
        if (pendingSet) cursor.insertText(mirroredSlice(text, pending, blockEnd), pendingFormat);
        if (blockEnd >= length) break;
        previousStart = blockStart;
        blockStart = blockEnd + 1;
    }
    cursor.endEditBlock();
    return out;
}

// The blocks holding range and the one after it (its top margin holds the
// spacing after the range's last paragraph) are shown with their looks again.
void TextMirror::invalidateLooks(Range range, EditorLayout::LooksChange change)
{
    const QTextBlock last = m_document->findBlock(int(std::min<qsizetype>(range.end(), m_document->characterCount() - 1)));
    m_layout->invalidate(int(range.location), int(range.end()), change);
    if (change == EditorLayout::LooksChange::colours) return;
    const QTextBlock after = last.isValid() ? last.next() : QTextBlock();
    if (after.isValid()) m_layout->refreshSpacing(after.position());
}

void TextMirror::refreshFormats(Range range)
{
    if (!m_storage) return;
    invalidateLooks(range);
    emit updated();
}

void TextMirror::storageChanged(const TextStorage::Change& change)
{
    if (!change.characters) {
        if (!(change.keys & kDrawnKeys)) return;
        if (g_colourAlphaPasses > 0 && !(change.keys & ~kColourAlphaKeys)) return;
        // Colours alone move nothing: nothing is measured again. Otherwise
        // the layout finds out, block by block, whose lines stay (a theme
        // restyles fonts to what they were, a spacing moves margins).
        using Looks = EditorLayout::LooksChange;
        const bool moves = change.keys & (kLineBreakingKeys | TextStorage::keyBit(AttributeKey::ParagraphStyle));
        // The background's changes are laid out when they are shown or
        // measured, never all at once.
        std::optional<DeferredLayout> deferred;
        if (change.background) deferred.emplace(*this);
        invalidateLooks(change.editedRange, moves ? Looks::anything : Looks::colours);
        ++m_updateCount;
        emit updated();
        return;
    }
    if (!change.parts.empty()) {
        followParts(change);
        return;
    }
    // Most of a long text replaced: building the document afresh is one
    // insertion.
    const qsizetype length = m_storage->length();
    if (change.editedRange.length >= kRebuildThreshold && change.editedRange.length * 2 >= length) {
        resynchronize();
        return;
    }
    // The text and its looks are laid out once, together.
    EditorLayout::Batch batch(m_layout);
    ++m_updating;
    Range range = change.editedRange;
    {
        QTextCursor cursor(m_document);
        cursor.beginEditBlock();
        // A "\r" just before the edit is shown differently when the edit
        // puts a "\n" after it, or takes one away.
        if (range.location > 0 && m_storage->characterAt(range.location - 1) == u'\r')
            range = Range(range.location - 1, range.length + 1);
        replaceText(cursor, range, change.changeInLength);
        cursor.endEditBlock();
    }
    invalidateLooks(range);
    --m_updating;
    ++m_updateCount;
    emit updated();
}

TextMirror::DeferredLayout::DeferredLayout(TextMirror& mirror)
    : m_mirror(mirror), m_wasDeferring(mirror.m_deferringLayout)
{
    m_mirror.m_deferringLayout = true;
    if (auto* layout = qobject_cast<EditorLayout*>(m_mirror.m_document->documentLayout()))
        layout->setDeferringChanges(true);
}

TextMirror::DeferredLayout::~DeferredLayout()
{
    m_mirror.m_deferringLayout = m_wasDeferring;
    if (auto* layout = qobject_cast<EditorLayout*>(m_mirror.m_document->documentLayout()))
        layout->setDeferringChanges(m_wasDeferring);
}

// Many replacements at once (replace all): each is replaced where it is,
// from the first to the last, and the text between them is left alone
// however far apart they are; their paragraphs are laid out again when they
// are shown or reached by the background layout. Before each one, the
// document already holds the new text of those before it.
void TextMirror::followParts(const TextStorage::Change& change)
{
    const DeferredLayout deferred(*this);
    EditorLayout::Batch batch(m_layout);
    ++m_updating;
    QTextCursor cursor(m_document);
    qsizetype shift = 0;
    for (const TextStorage::Change::Part& part : change.parts) {
        Range range(part.replaced.location + shift, part.newLength);
        // As for one edit: a "\r" just before may be shown differently now.
        if (range.location > 0 && m_storage->characterAt(range.location - 1) == u'\r')
            range = Range(range.location - 1, range.length + 1);
        cursor.beginEditBlock();
        replaceText(cursor, range, part.newLength - part.replaced.length);
        cursor.endEditBlock();
        invalidateLooks(range);
        shift += part.newLength - part.replaced.length;
    }
    --m_updating;
    ++m_updateCount;
    emit updated();
}

// The document still shows the old text of the range; replace only the part
// that differs from the storage's new text.
void TextMirror::replaceText(QTextCursor& cursor, Range newRange, qsizetype changeInLength)
{
    // The stand-ins of the range depend on one character after it ("\r\n").
    const QStringView text = m_storage->stringBefore(newRange.end() + 1);
    const qsizetype oldLength = newRange.length - changeInLength;
    const QString fresh = mirroredSlice(text, newRange.location, newRange.end());
    cursor.setPosition(int(newRange.location));
    cursor.setPosition(int(newRange.location + oldLength), QTextCursor::KeepAnchor);
    const QString old = cursor.selectedText();

    qsizetype prefix = 0;
    const qsizetype shorter = std::min(old.size(), fresh.size());
    while (prefix < shorter && old[prefix] == fresh[prefix]) ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && old[old.size() - 1 - suffix] == fresh[fresh.size() - 1 - suffix]) ++suffix;

    cursor.setPosition(int(newRange.location + prefix));
    cursor.setPosition(int(newRange.location + old.size() - suffix), QTextCursor::KeepAnchor);
    const QString middle = fresh.mid(prefix, fresh.size() - prefix - suffix);
    if (middle.isEmpty()) cursor.removeSelectedText();
    else cursor.insertText(middle, QTextCharFormat());
}

// ---- The safety net ------------------------------------------------------------------

void TextMirror::documentContentsChanged(int position, int charsRemoved, int charsAdded)
{
    if (m_updating > 0) return;
    if (m_layoutOnly > 0 && charsRemoved == charsAdded && m_storage
        && m_document->characterCount() == m_storage->length() + 1)
        return;
    ++m_unexpectedChanges;
    qWarning("The editor's document changed outside the edit path (at %d, %d removed, %d added); "
             "it is being restored from the text.",
             position, charsRemoved, charsAdded);
    Q_ASSERT_X(!g_assertOnUnexpected, "TextMirror", "the document changed outside the edit path");
    emit unexpectedChange(position, charsRemoved, charsAdded);
    const bool formatsOnly = charsRemoved == charsAdded && m_storage
        && m_document->characterCount() == m_storage->length() + 1;
    const Range range(position, charsAdded);
    if (!m_resyncQueued) {
        m_resyncQueued = true;
        m_formatsOnlyResync = formatsOnly;
        m_resyncRange = range;
        QTimer::singleShot(0, this, [this] {
            m_resyncQueued = false;
            if (!m_storage) return;
            // Same length: the characters may still differ; compare them.
            bool formatsOnly = m_formatsOnlyResync && m_document->characterCount() == m_storage->length() + 1;
            QTextCursor c(m_document);
            if (formatsOnly) {
                c.setPosition(int(std::min<qsizetype>(m_resyncRange.location, m_storage->length())));
                c.setPosition(int(std::min<qsizetype>(m_resyncRange.end(), m_storage->length())),
                              QTextCursor::KeepAnchor);
                const Range r(c.selectionStart(), c.selectionEnd() - c.selectionStart());
                formatsOnly = c.selectedText() == mirroredSlice(m_storage->stringBefore(r.end() + 1), r.location, r.end());
            }
            if (!formatsOnly) {
                resynchronize();
                return;
            }
            // The document's own formats stay plain: the looks are the storage's.
            ++m_updating;
            c.beginEditBlock();
            c.setCharFormat(QTextCharFormat());
            c.setBlockFormat(QTextBlockFormat());
            c.endEditBlock();
            --m_updating;
            refreshFormats(m_resyncRange);
        });
    } else {
        m_formatsOnlyResync = m_formatsOnlyResync && formatsOnly;
        m_resyncRange = m_resyncRange.united(range);
    }
}

} // namespace lumora
