#pragma once

#include "markdown/MarkdownEditing.h"
#include "platform/foundation/Range.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace lumora {

class LumoraError;
class TextView;

// The editor's commands beyond typing, for the main menu: moving lines,
// jumping and selecting by sentence and paragraph, Strong, Emphasis, Link,
// Footnote, Copy as HTML and Paste as Markdown, with whether each can act
// now (and Paste, Tab and Shift+Tab) for the validation of their items.
//
// The edits come from the Markdown engine and go through the editor's one
// edit gate. A command's edits are one step: each is checked against the
// no-editing rule and the document's lock before any is made, then all are
// made in one undo group, so one undo takes the whole command back and a
// refused command changes nothing. Program edits never continue a list.
//
// Every command checks again that it can act when it runs, whoever sent it:
// an item validated a while ago may be stale.
class EditorCommands {
public:
    explicit EditorCommands(TextView& view);

    // Whether each command can act now. Nothing acts without a text; in
    // no-editing mode nothing that always takes text away (moving lines,
    // Shift+Tab), nothing that rewrites references across the text (Link,
    // Footnote) and no paste over a selection.
    bool canMoveCaret() const;
    bool canMoveLine() const;
    // Strong, Emphasis and Tab: a Markdown document that may change.
    bool canSetStrong() const;
    // Link, Footnote and Shift+Tab.
    bool canSetLink() const;
    bool canCopyAsHTML() const;
    bool canPaste() const;
    bool canPasteAsMarkdown() const;

    // How a failure reaches the writer (the document's error presentation).
    std::function<void(const LumoraError&)> presentError;

    void moveLine(bool up);
    enum class Motion { previousSentence, nextSentence, previousParagraph, nextParagraph };
    // Moves the caret to the motion's target, or (extend) selects from the
    // far end of the selection up to it.
    void move(Motion motion, bool extend);
    void setStrong();
    void setEmphasis();
    void setLink();
    void setFootnote();
    void copyAsHTML();
    void pasteAsMarkdown();

    // Makes edits, in order, as one undo step; nothing at all when any of
    // them may not be made. Each edit leaves its selection; the last one's
    // stays. False when nothing was made.
    bool applyEdits(const std::vector<MarkdownEdit>& edits);

private:
    bool canEditText() const;
    void selectAndReveal(qsizetype anchor, qsizetype position);

    TextView& m_view;
};

} // namespace lumora
