#pragma once

#include "markdown/MarkdownEditing.h"
#include "platform/foundation/Range.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace lumora {

class LumoraError;
class MenuItem;
class TextView;

// The editor's commands beyond typing, for the main menu: moving lines,
// jumping and selecting by sentence and paragraph, Strong, Emphasis, Link,
// Footnote, Copy as HTML and Paste as Markdown, with the validation of their
// items (and of Paste, Tab and Shift+Tab).
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

    // The actions carried out here, as the menu names them ("moveLineUp:").
    static const QStringList& actions();

    // Whether the action can act now; none for actions validated elsewhere.
    // Also answers for "paste:", "insertTab:" and "insertBacktab:", and
    // disables the case changes in no-editing mode.
    std::optional<bool> isEnabled(const QString& action) const;
    std::optional<bool> validate(MenuItem& item) const;
    // Carries out one of actions(), when it can act.
    void perform(const QString& action);

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
