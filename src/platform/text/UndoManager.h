#pragma once

#include "platform/foundation/Range.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <variant>
#include <vector>

namespace lumora {

// One change of the text: the characters of `range` (in the text before the
// change), which read `oldText`, became `newText`. The selections are the
// ones to restore: `selectionBefore` after undoing, `selectionAfter` after
// redoing.
struct TextReplacement {
    Range range;
    QString oldText;
    QString newText;
    Range selectionBefore;
    Range selectionAfter;
};

// Many replacements made at once (replace all): newTexts[i] took the place
// of oldTexts[i] at ranges[i]; the ranges are in the text before the change,
// in order and apart.
struct TextReplacementBatch {
    std::vector<Range> ranges;
    QStringList oldTexts;
    QStringList newTexts;
    Range selectionBefore;
    Range selectionAfter;
};

// How a replacement may merge with the step before it.
enum class UndoCoalescing {
    none,           // a step of its own (paste, commands, drops)
    typing,         // text typed at the caret
    deleteBackward, // Backspace and the other deletions leftwards
    deleteForward,  // Delete and the other deletions rightwards
};

// The undo stack of one document, shared by all its windows. Each step is a
// group of text replacements and other actions, undone in reverse order and
// redone in order, with the selection to restore.
//
// Recording: a replacement or action recorded outside a group is a step of
// its own; everything recorded between the outermost beginGroup() and
// endGroup() is one step. Typing coalesces: consecutive insertions at the
// caret, or consecutive deletions in one direction, extend the last step
// until the caret jumps, a line break is typed or deleted, a pause longer
// than three seconds passes, another kind of change comes, the document
// is marked clean, or breakCoalescing() is called.
//
// Undoing and redoing apply the stored replacements through the text applier
// (the editor's one replace operation); whatever that operation records
// meanwhile is ignored, since each step already knows both directions.
//
// The clean state is the document's saved state: isClean() is true exactly
// when the stack stands where setClean() last marked it. No limit on the
// number of steps.
class UndoManager : public QObject {
    Q_OBJECT

public:
    using TextApplier = std::function<void(Range range, const QString& replacement)>;
    // Replaces each of ranges (in order and apart) by the text of the same
    // index, as one change.
    using BatchApplier = std::function<void(const std::vector<Range>& ranges, const QStringList& texts)>;
    using Clock = std::function<qint64()>; // milliseconds

    explicit UndoManager(QObject* parent = nullptr);
    ~UndoManager() override;

    // How undo and redo change the text.
    void setTextApplier(TextApplier applier) { m_applier = std::move(applier); }
    // How a batch is undone and redone; without one, range by range through
    // the text applier.
    void setBatchApplier(BatchApplier applier) { m_batchApplier = std::move(applier); }

    // Grouping; groups nest, the outermost pair makes one step. An empty
    // group leaves no step. endGroup() without beginGroup() does nothing.
    void beginGroup();
    void endGroup();

    void recordReplacement(const TextReplacement& replacement, UndoCoalescing coalescing = UndoCoalescing::none);
    // A batch is always a step of its own, or part of the open group.
    void recordReplacements(TextReplacementBatch batch);
    // Any other reversible change, as a pair of closures.
    void registerAction(std::function<void()> undo, std::function<void()> redo);

    // Ends the typing step in progress (the caret moved, the window lost focus).
    void breakCoalescing();
    // For tests: the clock that measures the typing pause.
    void setClock(Clock clock);

    // The name of the step being recorded, or else of the last step; shown
    // as "Undo <name>".
    void setActionName(const QString& name);
    QString undoActionName() const;
    QString redoActionName() const;

    bool canUndo() const;
    bool canRedo() const;
    // Undoes or redoes one step and returns the selection to restore (none
    // when the step had no text replacement or nothing could be done). An
    // open group is closed first.
    std::optional<Range> undo();
    std::optional<Range> redo();
    bool isUndoing() const { return m_undoing; }
    bool isRedoing() const { return m_redoing; }

    void setClean();
    // No state of the stack is the saved one any more (the file went away):
    // the document stays edited until it is saved.
    void forgetCleanState();
    bool isClean() const;
    // Forgets every step (revert, reload); the empty stack is clean.
    void removeAll();

    int count() const { return int(m_steps.size()); }
    int index() const { return m_index; }

signals:
    // Something was recorded (also when it merged into the last step).
    void changeRecorded();
    void didUndo();
    void didRedo();
    void cleanChanged(bool clean);
    // Any change of what canUndo/canRedo/the action names answer.
    void stateChanged();

private:
    struct Action {
        std::function<void()> undo;
        std::function<void()> redo;
    };
    using Entry = std::variant<TextReplacement, Action, TextReplacementBatch>;
    struct Step {
        std::vector<Entry> entries;
        QString name;
        std::optional<Range> selectionBefore;
        std::optional<Range> selectionAfter;
        UndoCoalescing coalescing = UndoCoalescing::none;
        bool open = false; // typing may still extend it
        qint64 lastTime = 0;
    };

    void addEntry(Entry entry, const TextReplacement* replacement, UndoCoalescing coalescing);
    void applyBatch(const TextReplacementBatch& batch, bool undoing);
    bool tryCoalesce(const TextReplacement& r, UndoCoalescing coalescing, qint64 now);
    void pushStep(Step step);
    void closeOpenStep();
    void notify(bool recorded);
    void emitCleanIfChanged();
    qint64 now() const;

    std::vector<Step> m_steps;
    int m_index = 0;      // steps [0, m_index) are done
    int m_cleanIndex = 0; // -1: the clean state can no longer be reached
    int m_groupDepth = 0;
    std::optional<Step> m_group; // the step being grouped
    bool m_undoing = false;
    bool m_redoing = false;
    bool m_lastClean = true;
    static constexpr qint64 kPauseMs = 3000; // a longer pause ends a typing step
    TextApplier m_applier;
    BatchApplier m_batchApplier;
    Clock m_clock;
};

} // namespace lumora
