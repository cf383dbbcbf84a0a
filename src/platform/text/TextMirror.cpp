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
constexpr std::uint32_t kColourAlphaKeys =
    TextStorage::keyBit(AttributeKey::ForegroundColor) | TextStorage::keyBit(AttributeKey::HighlightColor);

// Changes at least this long, covering half the text or more, rebuild the
// document (measured: setting the formats of a whole 5 MB text run by run
// takes 2.4 s, building it afresh 0.7 s).
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
    QRgb foreground = 0;
    bool hasForeground = false;
    QRgba64 background{};
    bool hasBackground = false;
    std::int64_t underline = 0;
    QRgba64 underlineColor{};
    bool hasUnderlineColor = false;
    std::int64_t strikethrough = 0;
    double kern = 0.0;

    static CharKey from(const std::array<const AttributeValue*, kCharKeys.size()>& values)
    {
        CharKey k;
        if (const QFont* f = values[0]->font()) {
            k.font = *f;
            k.hasFont = true;
        }
        if (const Color* c = values[1]->color()) {
            k.foreground = opaque(*c).rgb();
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
        h = h * 31 + k.foreground;
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
        if (hasForeground) f.setForeground(QColor::fromRgb(foreground));
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
    m_document->setDocumentLayout(new EditorLayout(m_document));
    connect(m_document, &QTextDocument::contentsChange, this, &TextMirror::documentContentsChanged);
}

TextMirror::~TextMirror()
{
    if (m_storage) m_storage->removeObserver(m_observer);
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
    if (const ParagraphStyle* style = attributes.paragraphStyle(); style && style->defaultTabInterval > 0) {
        QTextOption option = m_document->defaultTextOption();
        option.setTabStopDistance(style->defaultTabInterval);
        ++m_updating;
        m_document->setDefaultTextOption(option);
        --m_updating;
    }
    if (const QFont* font = attributes.font()) m_document->setDefaultFont(*font);
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
    // The layout does nothing while the page size is null; giving the size
    // back starts a lazy full layout.
    const QSizeF pageSize = m_document->pageSize();
    m_document->setPageSize(QSizeF(0, 0));
    root->setFrameFormat(format);
    m_document->setPageSize(pageSize);
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
    return m_cache->format(CharKey::from(values));
}

QTextBlockFormat TextMirror::blockFormat(const ParagraphStyle* style, double spacingAfterPrevious)
{
    QTextBlockFormat f;
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
        block(pos, end, m_cache->format(CharKey::from(values)));
        pos = end;
    }
}

QTextCharFormat TextMirror::charFormatAt(qsizetype index) const
{
    if (!m_storage || index < 0 || index >= m_storage->length()) return charFormat(m_defaultAttributes);
    QTextCharFormat result;
    forEachDrawnRun(index, index + 1, [&](qsizetype, qsizetype, const QTextCharFormat& f) { result = f; });
    return result;
}

// The separator that opens a block carries the block's own look: Qt sizes an
// empty line by it. That is the look of the block's first character (for an
// empty line, its line break), or the default look for the empty last line.
QTextCharFormat TextMirror::separatorFormatBefore(qsizetype blockPosition) const
{
    return charFormatAt(blockPosition);
}

const ParagraphStyle* TextMirror::paragraphStyleAt(qsizetype index) const
{
    if (!m_storage || index < 0 || index >= m_storage->length()) return m_defaultAttributes.paragraphStyle();
    return m_storage->attribute(AttributeKey::ParagraphStyle, index).paragraphStyle();
}

QTextBlockFormat TextMirror::blockFormatAt(qsizetype blockPosition) const
{
    qsizetype previousStart = -1;
    if (blockPosition > 0) previousStart = m_document->findBlock(int(blockPosition - 1)).position();
    return blockFormatAt(blockPosition, previousStart);
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
    // With a null page size the layout waits; giving the size back lays the
    // new text out lazily, only as far as it is shown.
    const QSizeF pageSize = m_document->pageSize();
    m_document->setPageSize(QSizeF(0, 0));
    QTextCursor cursor(m_document);
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    if (m_storage && m_storage->length() > 0) {
        const QString& text = m_storage->string();
        const qsizetype length = text.size();
        qsizetype blockStart = 0;
        qsizetype previousStart = -1;
        while (blockStart <= length) {
            qsizetype blockEnd = blockStart; // the block's separator, or the end
            while (blockEnd < length && mirrored(text, blockEnd) != kBlockSeparator) ++blockEnd;
            const QTextBlockFormat bf = blockFormatAt(blockStart, previousStart);
            if (previousStart < 0) {
                cursor.setBlockFormat(bf);
                cursor.setBlockCharFormat(separatorFormatBefore(blockStart));
            } else {
                cursor.insertBlock(bf, separatorFormatBefore(blockStart));
            }
            // Runs that differ only in what is not drawn go in as one.
            qsizetype pending = blockStart;
            const QTextCharFormat* pendingFormat = nullptr;
            forEachDrawnRun(blockStart, blockEnd, [&](qsizetype from, qsizetype, const QTextCharFormat& f) {
                if (pendingFormat && !(*pendingFormat == f)) {
                    cursor.insertText(mirroredSlice(text, pending, from), *pendingFormat);
                    pending = from;
                }
                pendingFormat = &f;
            });
            if (pendingFormat) cursor.insertText(mirroredSlice(text, pending, blockEnd), *pendingFormat);
            if (blockEnd >= length) break;
            previousStart = blockStart;
            blockStart = blockEnd + 1;
        }
    } else {
        cursor.setBlockFormat(blockFormatAt(0));
        cursor.setBlockCharFormat(separatorFormatBefore(0));
    }
    cursor.endEditBlock();
    // Views put their cursors back while nothing can be laid out yet.
    emit rebuilt();
    m_document->setPageSize(pageSize);
    --m_updating;
    ++m_updateCount;
    emit updated();
}

void TextMirror::refreshFormats(Range range)
{
    if (!m_storage) return;
    ++m_updating;
    QTextCursor cursor(m_document);
    cursor.beginEditBlock();
    applyFormats(cursor, range);
    cursor.endEditBlock();
    --m_updating;
    emit updated();
}

void TextMirror::storageChanged(const TextStorage::Change& change)
{
    if (!change.characters) {
        if (!(change.keys & kDrawnKeys)) return;
        if (g_colourAlphaPasses > 0 && !(change.keys & ~kColourAlphaKeys)) return;
    }
    // A change of most of a long text (a restyle of everything, a new text)
    // is quicker to show by building the document afresh than by changing
    // its formats run by run.
    const qsizetype length = m_storage->length();
    if (change.editedRange.length >= kRebuildThreshold && change.editedRange.length * 2 >= length) {
        resynchronize();
        return;
    }
    ++m_updating;
    QTextCursor cursor(m_document);
    cursor.beginEditBlock();
    Range range = change.editedRange;
    if (change.characters) {
        // A "\r" just before the edit is shown differently when the edit
        // puts a "\n" after it, or takes one away.
        if (range.location > 0 && m_storage->characterAt(range.location - 1) == u'\r')
            range = Range(range.location - 1, range.length + 1);
        replaceText(cursor, range, change.changeInLength);
    }
    applyFormats(cursor, range);
    cursor.endEditBlock();
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
    else cursor.insertText(middle);
}

void TextMirror::applyFormats(QTextCursor& cursor, Range range)
{
    if (!m_storage) return;
    QTextBlock block = m_document->findBlock(int(range.location));
    const QTextBlock last = m_document->findBlock(int(range.end()));
    // The block after the range too: its top margin holds the spacing after
    // the last paragraph of the range, and its separator may be new.
    const QTextBlock stop = last.isValid() ? last.next().next() : QTextBlock();
    for (; block.isValid() && block != stop; block = block.next()) applyBlock(cursor, block, range);
}

void TextMirror::applyBlock(QTextCursor& cursor, const QTextBlock& block, Range range)
{
    const qsizetype position = block.position();
    const QTextBlockFormat bf = blockFormatAt(position);
    if (block.blockFormat() != bf) {
        cursor.setPosition(int(position));
        cursor.setBlockFormat(bf);
    }
    if (position > 0) {
        const QTextCharFormat sf = separatorFormatBefore(position);
        if (block.charFormat() != sf) {
            cursor.setPosition(int(position - 1));
            cursor.setPosition(int(position), QTextCursor::KeepAnchor);
            cursor.setCharFormat(sf);
        }
    } else if (block.charFormat() != separatorFormatBefore(0)) {
        cursor.setPosition(0);
        cursor.setBlockCharFormat(separatorFormatBefore(0));
    }
    const qsizetype from = std::max(position, range.location);
    const qsizetype to = std::min(position + block.length() - 1, range.end());
    if (from >= to) return;
    forEachDrawnRun(from, to, [&](qsizetype a, qsizetype b, const QTextCharFormat& f) {
        setCharFormatIfNeeded(cursor, block, a, b, f);
    });
}

void TextMirror::setCharFormatIfNeeded(QTextCursor& cursor, const QTextBlock& block, qsizetype from, qsizetype to,
                                       const QTextCharFormat& format)
{
    bool same = true;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const qsizetype a = fragment.position();
        const qsizetype b = a + fragment.length();
        if (b <= from) continue;
        if (a >= to) break;
        if (fragment.charFormat() != format) {
            same = false;
            break;
        }
    }
    if (same) return;
    cursor.setPosition(int(from));
    cursor.setPosition(int(to), QTextCursor::KeepAnchor);
    cursor.setCharFormat(format);
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
            if (formatsOnly) {
                QTextCursor c(m_document);
                c.setPosition(int(std::min<qsizetype>(m_resyncRange.location, m_storage->length())));
                c.setPosition(int(std::min<qsizetype>(m_resyncRange.end(), m_storage->length())),
                              QTextCursor::KeepAnchor);
                const Range r(c.selectionStart(), c.selectionEnd() - c.selectionStart());
                formatsOnly = c.selectedText() == mirroredSlice(m_storage->stringBefore(r.end() + 1), r.location, r.end());
            }
            if (formatsOnly) refreshFormats(m_resyncRange);
            else resynchronize();
        });
    } else {
        m_formatsOnlyResync = m_formatsOnlyResync && formatsOnly;
        m_resyncRange = m_resyncRange.united(range);
    }
}

} // namespace lumora
