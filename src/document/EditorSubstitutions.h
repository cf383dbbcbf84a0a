#pragma once

#include "platform/foundation/Range.h"

#include <QObject>
#include <QString>

#include <optional>
#include <utility>

namespace lumora {

class TextServices;
class TextView;

// The substitutions the writer's typing triggers in one editor (smart quotes
// and dashes, text replacement, spelling correction), each an undo step of
// its own right after the typed character, never inside code or a link
// address; smart copy and paste; the Substitutions panel. Part of the
// editor's TextServices, which gives it the text.
class EditorSubstitutions : public QObject {
    Q_OBJECT

public:
    EditorSubstitutions(TextView& view, TextServices& services);

    // After the writer typed text (already through the gate) at typed.
    void textWasTyped(Range typed);
    // Where the writer's typing ended: the word there is still being typed.
    std::optional<qsizetype> typingEnd() const { return m_typingEnd; }
    // Another text is shown: nothing is being typed in it.
    void forgetTyping() { m_typingEnd.reset(); }
    // Pasted text with the spaces smart paste adds around it.
    QString smartPasteText(Range range, const QString& text) const;
    // The range a deletion of range takes with smart delete.
    Range smartDeleteRange(Range range) const;
    void showSubstitutionsPanel();

private:
    void applySubstitution(Range range, const QString& replacement);
    std::optional<std::pair<Range, QString>> correctionBefore(qsizetype typedAt);

    TextView& m_view;
    TextServices& m_services;
    std::optional<qsizetype> m_typingEnd;
    bool m_substituting = false;
};

} // namespace lumora
