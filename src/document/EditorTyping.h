#pragma once

#include "platform/foundation/Range.h"

#include <QString>

#include <optional>

class QInputMethodEvent;
class QKeyEvent;

namespace lumora {

class TextView;
struct IndentationEdit;

// What the writer's keys and input methods do to one editor's text, each
// through the edit gate: typed text (which takes the typing attributes and
// may trigger substitutions), the document's own line break for Return,
// Tab and Shift+Tab on list items, the deletions, and the text an input
// method commits. The view decides which key means what (EditorKeys.h).
class EditorTyping {
public:
    explicit EditorTyping(TextView& view) : m_view(view) {}

    // What Qt accepts as typed text (the rules of its own text widgets).
    static bool isAcceptableInput(const QKeyEvent& event);

    void insertTyped(const QString& text);
    void insertNewline();
    void insertTab();
    void insertBacktab();
    enum class Deletion { backward, forward, wordBackward, wordForward };
    void deleteText(Deletion deletion);
    void deleteSelection();
    // Everything an input method event changes in the text; its preedit is
    // left to Qt to draw.
    void commitInput(const QInputMethodEvent& event);

    // See TextView::lineEnding. Counted when first needed, until the text
    // changes elsewhere (another window, a reload): then it is forgotten.
    QString lineEnding() const;
    QString withDocumentLineEndings(const QString& text) const;
    void forgetLineEnding() { m_lineEnding.reset(); }

private:
    void applyIndentation(const IndentationEdit& edit);

    TextView& m_view;
    mutable std::optional<QString> m_lineEnding;
};

} // namespace lumora
