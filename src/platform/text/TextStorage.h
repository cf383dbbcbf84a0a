#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/AttributeRuns.h"
#include "platform/text/Attributes.h"
#include "platform/text/TextBoundaries.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace lumora {

// The text of a document with its attributes: a UTF-16 string plus, for each
// attribute key, the runs of that key's values. All offsets are UTF-16 code
// units into string().
//
// The characters live in a gap buffer: the free space of the buffer stands
// where the text was last edited, so an edit moves only the characters
// between the previous edit and this one, never the whole text after it.
// Reading the whole text as one string closes the gap (it moves everything
// after the last edit to the back once); readers on the typing path read
// characters, copies of short stretches and views of the text up to a point
// instead (characterAt, substring, stringBefore), which move at most what
// lies between the gap and the point asked for.
//
// Attribute semantics are those of a mutable attributed string: set, add
// (merge) and remove over a range; the value at an index with the longest
// run that carries it; enumerations over a sub-range that re-read the runs
// after each step, so callers may change attributes as they go; character
// replacement with inherited attributes.
//
// Changes are gathered between beginEditing() and endEditing() (brackets
// nest; every change outside a bracket is a bracket of its own) and reported
// once, at the outermost endEditing(), as one Change: whether characters
// and/or attributes changed, the edited range in the new text, the change in
// length and the keys whose values changed. Setting a value that a range
// already carries is no change and is not reported.
class TextStorage {
public:
    struct Change {
        bool characters = false;     // characters were replaced
        bool attributes = false;     // attribute values changed
        Range editedRange;           // what changed, in the text after the change
        qsizetype changeInLength = 0;
        std::uint32_t keys = 0;      // bit (1 << key) for each key whose values changed
        // Many replacements made at once and alone in their bracket (replace
        // all): where each was in the text before the change (in order, with
        // text between them) and how long its new text is; empty for every
        // other change. A view can follow them one by one instead of
        // redrawing everything between the first and the last.
        struct Part {
            Range replaced;
            qsizetype newLength = 0;
        };
        std::vector<Part> parts;
        // Made by background work (see BackgroundEditing): nobody waits for
        // it, and views lay out at once only what of it they show.
        bool background = false;

        // The stretch of the text before the change that editedRange replaced.
        Range replacedRange() const { return Range(editedRange.location, editedRange.length - changeInLength); }
        bool touches(AttributeKey key) const { return keys & keyBit(key); }
        bool isEmpty() const { return !characters && !attributes; }
    };
    using Observer = std::function<void(const Change&)>;

    static constexpr std::uint32_t keyBit(AttributeKey key) { return std::uint32_t(1) << unsigned(key); }
    static constexpr std::uint32_t kAllKeys = (std::uint32_t(1) << kAttributeKeyCount) - 1;

    TextStorage();
    explicit TextStorage(const QString& text, const Attributes& attributes = {});
    ~TextStorage();
    TextStorage(const TextStorage&) = delete;
    TextStorage& operator=(const TextStorage&) = delete;
    // Moves text and attributes; observers stay with neither.
    TextStorage(TextStorage&& other) noexcept;
    TextStorage& operator=(TextStorage&& other) noexcept;

    // The whole text as one string. Do not keep a copy across edits: a
    // shared copy makes the next edit copy the whole string. Cheap when the
    // text was not edited since the last call; otherwise it moves the
    // characters after the last edit once.
    const QString& string() const;
    qsizetype length() const { return m_buffer.size() - m_gapLength; }

    // The character at index (a null character outside the text).
    QChar characterAt(qsizetype index) const
    {
        if (index < 0 || index >= length()) return QChar();
        return m_buffer.at(index < m_gapStart ? index : index + m_gapLength);
    }
    // A copy of a stretch of the text (clipped to it).
    QString substring(Range range) const;
    // The text from its start to end (clipped) as one view, without a copy.
    // Valid until the characters next change; asking for another view or
    // for string() leaves it valid.
    QStringView stringBefore(qsizetype end) const;
    // The whole text as two views, one after the other, that move nothing:
    // for readers that go through all of it once (counting, scanning).
    // Valid until the characters next change.
    std::pair<QStringView, QStringView> pieces() const
    {
        return {QStringView(m_buffer.constData(), m_gapStart),
                QStringView(m_buffer.constData() + m_gapStart + m_gapLength, length() - m_gapStart)};
    }
    // The paragraphs that range touches (see text::paragraphBounds), found
    // without reading the whole text.
    text::ParagraphBounds paragraphBounds(Range range) const;
    // UTF-16 units moved inside the buffer so far: what edits and reads
    // cost in copying (for tests and benchmarks).
    std::uint64_t charactersMoved() const { return m_charactersMoved; }
    // Makes the characters this storage's own (a text read whole shares
    // them with the string it came from) with free space at `at`, where
    // the writer is about to type: done while nothing waits, it spares
    // the first key of a long text a copy of all of it. Changes nothing
    // that can be read.
    void prepareForEditing(qsizetype at);

    // ---- Reading attributes

    // The value of key at index (null when absent or when index is outside
    // the text) and the longest run around index with that value. The
    // reference stays valid until the storage changes.
    const AttributeValue& attribute(AttributeKey key, qsizetype index, Range* effectiveRange = nullptr) const;
    // All attributes at index and the longest run with exactly that dictionary.
    Attributes attributes(qsizetype index, Range* effectiveRange = nullptr) const;

    // Calls block for each run of key inside range that carries a value, in
    // text order, with the run clipped to range; block returns false to stop.
    // The walk continues at the end of the reported run, so block may change
    // the storage.
    void enumerateAttribute(AttributeKey key, Range range,
                            const std::function<bool(const AttributeValue&, Range)>& block) const;
    // The same over runs of whole dictionaries (empty ones included).
    void enumerateAttributes(Range range, const std::function<bool(const Attributes&, Range)>& block) const;

    // A copy of a stretch with its attributes (for measuring and printing).
    TextStorage attributedSubstring(Range range) const;

    // ---- Changing attributes (ranges are clipped to the text)

    // Replaces the whole dictionary over range.
    void setAttributes(const Attributes& attributes, Range range);
    // Keys of attributes replace the same keys over range; other keys stay.
    void addAttributes(const Attributes& attributes, Range range);
    void addAttribute(AttributeKey key, const AttributeValue& value, Range range);
    void removeAttribute(AttributeKey key, Range range);

    // ---- Changing characters

    // Replaces range by text. Replacing characters take the attributes of the
    // first replaced character; inserted text takes those of the character
    // before it (at 0, of the one after it).
    void replaceCharacters(Range range, const QString& text);
    // The same, with the new characters carrying exactly attributes.
    void replaceCharacters(Range range, const QString& text, const Attributes& attributes);
    // Many replacements at once (replace all): texts[i] replaces ranges[i];
    // the ranges are in the text before the change, in order and apart.
    // Each inherits attributes as replaceCharacters() does; the string is
    // rebuilt in one pass and one change is reported.
    void replaceCharacters(const std::vector<Range>& ranges, const QStringList& texts);

    // ---- Editing brackets and observers

    void beginEditing();
    void endEditing();
    // While one lives, the changes reported are the background's (a long
    // text restyled a part at a time): see Change::background.
    class BackgroundEditing {
    public:
        explicit BackgroundEditing(TextStorage& storage) : m_storage(storage) { ++m_storage.m_backgroundEditing; }
        ~BackgroundEditing() { --m_storage.m_backgroundEditing; }
        BackgroundEditing(const BackgroundEditing&) = delete;
        BackgroundEditing& operator=(const BackgroundEditing&) = delete;

    private:
        TextStorage& m_storage;
    };
    bool isEditing() const { return m_editingDepth > 0; }
    // A number, unique in the process, for the outermost bracket now open;
    // 0 outside brackets. Lets a multi-step pass over the text (a restyle)
    // know which of its steps belong together.
    std::uint64_t editingSession() const { return m_editingSession; }

    // Observers are called after the outermost endEditing() with the change
    // record, in the order they were added; an observer may change the
    // storage again (that change is reported after the current one).
    int addObserver(Observer observer);
    void removeObserver(int id);

    // ---- Inspection

    const AttributeRuns& runs(AttributeKey key) const { return m_runs[size_t(key)]; }
    // Bytes held by the attribute runs (not the values they share).
    std::size_t attributeMemoryUsage() const;

private:
    AttributeRuns& runsFor(AttributeKey key) { return m_runs[size_t(key)]; }
    Range clipped(Range range) const;
    void recordChange(bool characters, Range replaced, qsizetype newLength, std::uint32_t keys);
    void replaceCharacters(Range range, const QString& text, const Attributes* attributes);
    void moveGap(qsizetype to) const;
    void makeGap(qsizetype needed);

    // [0, m_gapStart) and [m_gapStart + m_gapLength, size) hold the text;
    // the gap between them is free space. Mutable: reads may move the gap.
    mutable QString m_buffer;
    mutable qsizetype m_gapStart = 0;
    mutable qsizetype m_gapLength = 0;
    mutable std::uint64_t m_charactersMoved = 0;
    std::array<AttributeRuns, kAttributeKeyCount> m_runs;
    int m_editingDepth = 0;
    int m_backgroundEditing = 0;
    std::uint64_t m_editingSession = 0;
    Change m_pending;
    std::vector<std::pair<int, Observer>> m_observers;
    int m_nextObserverId = 1;
};

} // namespace lumora
