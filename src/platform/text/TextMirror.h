#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/Attributes.h"
#include "platform/text/TextStorage.h"

#include <QMarginsF>
#include <QObject>
#include <QTextBlockFormat>
#include <QTextCharFormat>

#include <memory>

class QTextCursor;
class QTextDocument;
class QTextBlock;

namespace lumora {

// What one editor window draws: a QTextDocument kept equal to a text storage
// character for character, so that a position in the document is the same
// offset in the storage. The storage is the truth; the document holds only
// what Qt draws (fonts, colours, underline, strikethrough, kern as letter
// spacing, and paragraph styles as block formats) and is never edited by
// anything but this class.
//
// Characters that QTextDocument would not keep one to one are shown as
// stand-ins of the same length: every line break (a "\r" on its own, U+000B,
// U+000C, U+0085, U+2028, U+2029) is a block separator, the "\r" of "\r\n" a
// zero-width space at the end of its line, and U+FDD0/U+FDD1 (Qt's frame
// markers) a replacement character. Read the document back with
// toRawText(), never toPlainText(); save from the storage, never from here.
//
// The mirror follows the storage's change records: a change of characters
// replaces only what differs in the edited range, and the new formats of that
// range are applied in the same edit block, so the layout is updated once.
// Formats are compared before they are set: a change that draws nothing new
// (the engine's own keys, the alpha of a text colour) leaves the document
// alone. Text colours are drawn opaque: focus dimming is painted over the
// text by the editor, not carried by formats.
//
// Formats hold only small values (fonts, colours, numbers), never pointers
// or per-paragraph unique values: QTextDocument interns formats in a
// collection that it never shrinks.
//
// Paragraph spacing: Qt collapses the bottom margin of a block with the top
// margin of the next (it takes the larger), where the text system adds the
// space after one paragraph to the space before the next. So a block's top
// margin carries both and its bottom margin is 0.
//
// Anything else that changes the document (Qt's own editing, should a path
// be missed) is counted, reported and undone by resynchronising from the
// storage on the next turn of the event loop.
class TextMirror : public QObject {
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

    // The attributes of an empty document and of the empty line after a
    // final line break (the editor's base style). Changing them refreshes
    // those places and the document's default tab interval.
    void setDefaultAttributes(const Attributes& attributes);

    // Rebuilds the whole document from the storage.
    void resynchronize();
    // Applies the storage's formats again over range (storage offsets).
    void refreshFormats(Range range);

    // The document text a storage text is shown as (same length).
    static QString mirroredText(QStringView text);

    // True while the mirror itself changes the document.
    bool isUpdating() const { return m_updating > 0; }
    // Changes of the document that did not come from the mirror.
    int unexpectedChangeCount() const { return m_unexpectedChanges; }
    // Document updates made for storage changes (for tests and benchmarks).
    int updateCount() const { return m_updateCount; }

    // In debug builds an unexpected change stops the program; tests of the
    // safety net turn that off.
    static void setAssertsOnUnexpectedChange(bool on);

    // While one of these lives, storage changes that touch nothing but text
    // colours and the focus mark are ignored by every mirror: the focus
    // highlight pass only changes the alpha of text colours, which mirrors
    // draw opaque.
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
    // space above and below the text). A frame format change makes Qt lay
    // out the whole document at once; this setter makes it lazy, like a
    // width change: only what is shown is laid out before the next paint.
    void setRootFrameMargins(const QMarginsF& margins);
    QMarginsF rootFrameMargins() const;

    // The formats a run or paragraph is drawn with.
    QTextCharFormat charFormat(const Attributes& attributes) const;
    static QTextBlockFormat blockFormat(const ParagraphStyle* style, double spacingAfterPrevious);

signals:
    // The document changed behind the mirror's back (position and lengths
    // as QTextDocument reports them); a resynchronisation is on its way.
    void unexpectedChange(int position, int charsRemoved, int charsAdded);
    // The document was rebuilt or changed for a storage change.
    void updated();
    // Around a rebuild of the whole document (a new storage, a
    // resynchronisation): views keep their selection across it. rebuilt()
    // comes before the layout starts again: a cursor that the new text
    // pushed to the end would otherwise make Qt lay everything out to
    // repaint it.
    void aboutToRebuild();
    void rebuilt();

private:
    struct CharKey;
    class FormatCache;

    void storageChanged(const TextStorage::Change& change);
    void followParts(const TextStorage::Change& change);
    void documentContentsChanged(int position, int charsRemoved, int charsAdded);
    void replaceText(QTextCursor& cursor, Range newRange, qsizetype changeInLength);
    void applyFormats(QTextCursor& cursor, Range range);
    void applyBlock(QTextCursor& cursor, const QTextBlock& block, Range range);
    void setCharFormatIfNeeded(QTextCursor& cursor, const QTextBlock& block, qsizetype from, qsizetype to,
                               const QTextCharFormat& format);
    QTextCharFormat charFormatAt(qsizetype index) const;
    QTextCharFormat separatorFormatBefore(qsizetype blockPosition) const;
    QTextBlockFormat blockFormatAt(qsizetype blockPosition) const;
    QTextBlockFormat blockFormatAt(qsizetype blockPosition, qsizetype previousStart) const;
    const ParagraphStyle* paragraphStyleAt(qsizetype index) const;
    // Calls block for each stretch of [from, to) over which no drawn
    // attribute changes, with its format.
    template <typename Block>
    void forEachDrawnRun(qsizetype from, qsizetype to, Block&& block) const;

    TextStorage* m_storage = nullptr;
    int m_observer = 0;
    QTextDocument* m_document = nullptr;
    Attributes m_defaultAttributes;
    std::unique_ptr<FormatCache> m_cache;
    mutable QTextBlockFormat m_lastBlockFormat;
    mutable std::shared_ptr<const ParagraphStyle> m_lastBlockStyle;
    mutable double m_lastSpacingAfter = 0.0;
    int m_updating = 0;
    int m_layoutOnly = 0;
    bool m_deferringLayout = false;
    int m_unexpectedChanges = 0;
    int m_updateCount = 0;
    bool m_resyncQueued = false;
    bool m_formatsOnlyResync = true;
    Range m_resyncRange;
};

} // namespace lumora
