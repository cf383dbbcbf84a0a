#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/Attributes.h"
#include "platform/text/EditorLayout.h"
#include "platform/text/TextStorage.h"

#include <QMarginsF>
#include <QObject>
#include <QTextBlockFormat>
#include <QTextCharFormat>

#include <functional>
#include <memory>

class QTextCursor;
class QTextDocument;
class QTextBlock;

namespace lumora {

// What one editor window draws: a QTextDocument kept equal to a text storage
// character for character, so that a position in the document is the same
// offset in the storage. The storage is the truth; the document holds its
// characters only and is never edited by anything but this class. The looks
// stay in the storage: the mirror hands them to its layout, block by block,
// as the blocks are laid out (fonts, colours, underline, strikethrough, kern
// as letter spacing, and paragraph styles as block formats). So a change of
// looks (a restyle, a theme) costs the document nothing; the layout lays out
// again what is shown at once and the rest lazily, and a long text builds
// its document in one insertion.
//
// Characters that QTextDocument would not keep one to one are shown as
// stand-ins of the same length: every line break (a "\r" on its own, U+000B,
// U+000C, U+0085, U+2028, U+2029) is a block separator, the "\r" of "\r\n" a
// zero-width space at the end of its line, and U+FDD0/U+FDD1 (Qt's frame
// markers) a replacement character. Read the document back with
// toRawText(), never toPlainText(); save from the storage, never from here.
//
// The mirror follows the storage's change records: a change of characters
// replaces only what differs in the edited range; the blocks it touched,
// and the one after (whose spacing depends on the paragraph before), are
// laid out again once, for the new text and looks together. Changes that
// draw nothing new (the engine's own keys, the alpha of text colours while
// focus highlighting moves) leave everything alone. Text colours are drawn
// with their alpha, unless drawsTextAlpha says not to: focus dimming is
// painted over the text by the editor, not carried by colours.
//
// Formats hold only small values (fonts, colours, numbers), never pointers
// or per-paragraph unique values: Qt interns formats in a collection that it
// never shrinks.
//
// Paragraph spacing: Qt collapses the bottom margin of a block with the top
// margin of the next (it takes the larger), where the text system adds the
// space after one paragraph to the space before the next. So a block's top
// margin carries both and its bottom margin is 0.
//
// Anything else that changes the document (Qt's own editing, should a path
// be missed) is counted, reported and undone by resynchronising from the
// storage on the next turn of the event loop.
class TextMirror : public QObject, public EditorLayout::FormatSource {
    Q_OBJECT

public:
    explicit TextMirror(QObject* parent = nullptr);
    ~TextMirror() override;

    // Shows storage (not owned; it must outlive the mirror or be detached
    // first with setStorage(nullptr)). Rebuilds the whole document.
    void setStorage(TextStorage* storage);
    TextStorage* storage() const { return m_storage; }
    // Drops the storage without touching it (it was destroyed); the
    // document keeps what it shows.
    void forgetStorage()
    {
        m_storage = nullptr;
        m_observer = 0;
    }

    QTextDocument* document() const { return m_document; }
    EditorLayout* layout() const { return m_layout; }

    // The attributes of an empty document and of the empty line after a
    // final line break (the editor's base style). Changing them refreshes
    // those places and the document's default tab interval.
    void setDefaultAttributes(const Attributes& attributes);

    // Whether text colours are drawn with their alpha (asked each time
    // looks are converted; by default they are). The editor says no while
    // focus highlighting is on: the colours' alphas then belong to the
    // focus, which it paints itself.
    void setDrawsTextAlpha(std::function<bool()> drawsTextAlpha) { m_drawsTextAlpha = std::move(drawsTextAlpha); }

    // Rebuilds the whole document from the storage.
    void resynchronize();
    // Gets the document ready for the writer's first key, while nothing
    // waits: a long text is built into a buffer without room to spare, and
    // the first insertion would otherwise copy all of it.
    void prepareForEditing();
    // A document of its own with the storage's text and its looks as Qt's
    // formats, for output that lays itself out (printing): the mirror's own
    // document holds no looks.
    std::unique_ptr<QTextDocument> formattedDocument() const;
    // Shows the storage's looks over range (storage offsets) again.
    void refreshFormats(Range range);

    // The document text a storage text is shown as (same length).
    static QString mirroredText(QStringView text);

    // True while the mirror itself changes the document.
    bool isUpdating() const { return m_updating > 0; }
    // Changes of the document that did not come from the mirror.
    int unexpectedChangeCount() const { return m_unexpectedChanges; }
    // Document updates made for storage changes, and rebuilds of the whole
    // document (for tests and benchmarks).
    int updateCount() const { return m_updateCount; }
    int rebuildCount() const { return m_rebuildCount; }

    // In debug builds an unexpected change stops the program; tests of the
    // safety net turn that off.
    static void setAssertsOnUnexpectedChange(bool on);

    // While one of these lives, storage changes that touch nothing but text
    // colours and the focus mark are ignored by every mirror: the focus
    // highlight pass only changes the alpha of text colours, which the
    // editor draws itself while highlighting is on.
    class ColourAlphaPass {
    public:
        ColourAlphaPass();
        ~ColourAlphaPass();
        ColourAlphaPass(const ColourAlphaPass&) = delete;
        ColourAlphaPass& operator=(const ColourAlphaPass&) = delete;
    };

    // While one of these lives, changed paragraphs are laid out again only
    // when they are next shown or measured (many edits spread through a
    // long text: replace all and its undo).
    class DeferredLayout {
    public:
        explicit DeferredLayout(TextMirror& mirror);
        ~DeferredLayout();
        DeferredLayout(const DeferredLayout&) = delete;
        DeferredLayout& operator=(const DeferredLayout&) = delete;

    private:
        TextMirror& m_mirror;
        bool m_wasDeferring;
    };

    // While one of these lives, Qt may touch this mirror's document without
    // changing its characters (drawing a preedit marks its block changed).
    class LayoutOnlyChange {
    public:
        explicit LayoutOnlyChange(TextMirror& mirror) : m_mirror(mirror) { ++m_mirror.m_layoutOnly; }
        ~LayoutOnlyChange() { --m_mirror.m_layoutOnly; }
        LayoutOnlyChange(const LayoutOnlyChange&) = delete;
        LayoutOnlyChange& operator=(const LayoutOnlyChange&) = delete;

    private:
        TextMirror& m_mirror;
    };

    // The margins of the document's root frame (the writing column and the
    // space above and below the text). Like a width change, a change lays
    // out again only what is shown before the next paint.
    void setRootFrameMargins(const QMarginsF& margins);
    QMarginsF rootFrameMargins() const;

    // The formats a run or paragraph is drawn with.
    QTextCharFormat charFormat(const Attributes& attributes) const;
    static QTextBlockFormat blockFormat(const ParagraphStyle* style, double spacingAfterPrevious);

    // The looks of a block of the document, from the storage: its paragraph
    // format and the formats of its characters (positions from the block's
    // start, neighbouring equal formats joined).
    QTextBlockFormat blockFormat(const QTextBlock& block) const override;
    QList<QTextLayout::FormatRange> charFormats(const QTextBlock& block) const override;
    std::uint32_t lineBreakingDigest(const QTextBlock& block) const override;

signals:
    // The document changed behind the mirror's back (position and lengths
    // as QTextDocument reports them); a resynchronisation is on its way.
    void unexpectedChange(int position, int charsRemoved, int charsAdded);
    // The document was rebuilt or changed for a storage change.
    void updated();
    // Around a rebuild of the whole document (a new storage, a
    // resynchronisation): views keep their selection across it.
    void aboutToRebuild();
    void rebuilt();

private:
    struct CharKey;
    class FormatCache;

    void storageChanged(const TextStorage::Change& change);
    void followParts(const TextStorage::Change& change);
    void documentContentsChanged(int position, int charsRemoved, int charsAdded);
    void replaceText(QTextCursor& cursor, Range newRange, qsizetype changeInLength);
    void invalidateLooks(Range range, EditorLayout::LooksChange change = EditorLayout::LooksChange::anything);
    void compactText(QTextCursor& cursor, QStringView text);
    QTextBlockFormat blockFormatAt(qsizetype blockPosition, qsizetype previousStart) const;
    const ParagraphStyle* paragraphStyleAt(qsizetype index) const;
    // Calls block for each stretch of [from, to) over which no drawn
    // attribute changes, with its format.
    template <typename Block>
    void forEachDrawnRun(qsizetype from, qsizetype to, Block&& block) const;

    TextStorage* m_storage = nullptr;
    int m_observer = 0;
    QTextDocument* m_document = nullptr;
    EditorLayout* m_layout = nullptr;
    Attributes m_defaultAttributes;
    std::function<bool()> m_drawsTextAlpha;
    std::unique_ptr<FormatCache> m_cache;
    mutable QTextBlockFormat m_lastBlockFormat;
    mutable std::shared_ptr<const ParagraphStyle> m_lastBlockStyle;
    mutable double m_lastSpacingAfter = 0.0;
    int m_updating = 0;
    int m_layoutOnly = 0;
    bool m_deferringLayout = false;
    int m_unexpectedChanges = 0;
    int m_updateCount = 0;
    int m_rebuildCount = 0;
    bool m_fresh = true; // no text was ever put into the document
    bool m_roomToEdit = false; // the document's buffer has room for typing
    bool m_resyncQueued = false;
    bool m_formatsOnlyResync = true;
    Range m_resyncRange;
};

} // namespace lumora
