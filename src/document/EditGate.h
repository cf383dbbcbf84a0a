#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/UndoManager.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace lumora {

class Outline;
class ProgressiveRestyle;
class TextStorage;
class TextView;

// How one change goes through the edit gate.
struct EditOptions {
    UndoCoalescing coalescing = UndoCoalescing::none;
    // What to select afterwards; by default the caret after the new text.
    std::optional<Range> selection;
    // Text the writer typed or pasted takes the typing attributes.
    bool typed = false;
    // A line break made by this edit may continue a list; the edits of
    // commands (moving lines, links) never do.
    bool continuesLists = true;
    // No typing sound (a substitution made for a key already heard).
    bool silent = false;
};

// What the edit being processed did to the headings, while the outline
// is reloaded after it: found by comparing the headings of the lines it
// touched (and of the line after them) before and after it.
struct HeadingChange {
    enum class Kind {
        tree,   // anything else, or no edit: the tree is built again
        titles, // the same headings at the same levels: at most their titles changed
        made,   // one heading came, the others stayed as they were
        unmade, // one heading went, the others stayed as they were
    };
    Kind kind = Kind::tree;
    // The headings of those lines after the edit (their titles may be new).
    std::vector<std::shared_ptr<Outline>> headings;
    // made, unmade: the one; made: the heading before it in the text
    // (null for the first).
    std::shared_ptr<Outline> heading;
    std::shared_ptr<Outline> previous;
};

// True when index stands inside a character the editor never splits: a
// surrogate pair or a "\r\n".
bool splitsCharacter(const TextStorage& storage, qsizetype index);

// The one road every change of an editor's text takes (see TextView). It
// asks whether the change is allowed (the no-editing rule, a locked
// document), replaces the characters in the storage, restyles the touched
// paragraphs in the same editing bracket (so the mirror and its layout are
// updated once), records the change for undo, sets the selection and then
// does what follows an edit: the outline, focus highlighting, typing
// attributes, typewriter scrolling, list continuation and the typing sound.
class EditGate {
public:
    explicit EditGate(TextView& view);
    ~EditGate();

    // Replaces range by text through the whole road. False when the change
    // was refused (no-editing mode) or there is no storage.
    bool replaceCharacters(Range range, const QString& text, const EditOptions& options);
    // Many replacements as one change and one undo step (see TextView).
    bool replaceCharacters(const std::vector<Range>& ranges, const QStringList& texts, std::optional<Range> selection);

    // The view lets go of its storage: a restyle still going on in the
    // background stops (gone: the storage no longer exists).
    void dropBackgroundRestyle(bool gone);

    // Whether a change may be made; when it may, prepares for it.
    bool shouldChangeText(Range range, const QString& text);
    void prepareForChange(Range range, const QString& text);
    void processChange();

    // A range that neither starts nor ends inside a surrogate pair or a "\r\n".
    Range safeRange(Range range) const;
    // An edit is being made: the selection it moves is no writer's move.
    bool isChangingText() const { return m_textHasChanged; }
    // The storage is being changed by the gate itself.
    bool isInGate() const { return m_inGate; }
    const HeadingChange& headingChange() const { return m_headingChange; }
    // How far the text of the last change moved by the edits that followed
    // it (a fence that closed its block took back indentation before it).
    qsizetype followUpShift() const { return m_followUpShift; }
    int restyleCount() const { return m_restyleCount; }

private:
    // Heading entries with their levels, in text order (see headingChange).
    using Headings = std::vector<std::pair<std::shared_ptr<Outline>, int>>;
    TextStorage* storage() const;
    UndoManager* undoManager() const;
    void restyleAfterChange();
    void restyleLater(qsizetype from);
    std::optional<Headings> headingsAround(Range range) const;
    HeadingChange headingChangeBetween(const std::optional<Headings>& before, const std::optional<Headings>& after) const;

    TextView& m_view;
    // The edit in progress (see prepareForChange and processChange).
    bool m_textHasChanged = false;
    bool m_resetMarkdown = false;
    bool m_resetOutline = false;
    // The headings of the lines the edit in progress touches, and the line
    // after them, with their levels before it (see headingChange).
    std::optional<Headings> m_headingsBefore;
    HeadingChange m_headingChange;
    std::optional<Range> m_affectedCharRange;
    // The edit whose typing sound plays once the keystroke is processed.
    std::optional<std::pair<Range, QString>> m_typewriterSound;
    int m_processDepth = 0;
    bool m_continuesLists = true;
    bool m_inGate = false;
    int m_restyleCount = 0;
    // The edit's restyle went on into the paragraphs after its own.
    bool m_restyleFollowed = false;
    qsizetype m_followUpShift = 0;
    // The restyle that follows a fenced block's change in the background.
    std::unique_ptr<ProgressiveRestyle> m_restyleLater;
};

} // namespace lumora
