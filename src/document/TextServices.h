#pragma once

#include "document/EditorFind.h"
#include "document/EditorSpelling.h"
#include "document/EditorSubstitutions.h"
#include "markdown/SyntaxRanges.h"
#include "platform/foundation/Range.h"
#include "platform/text/TextStorage.h"

#include <QObject>

#include <memory>

class QKeyEvent;
class QMenu;
class QPainter;
class QPoint;
class QRect;

namespace lumora {

class MenuItem;
class TextView;

// The editor's text services, the commands of the Edit menu's Find,
// Spelling and Grammar, Substitutions, Transformations and Speech
// submenus. One per editor, in three parts and what joins them:
//
// - EditorFind: the find bar, its count, and replacing;
// - EditorSpelling: the underlines, the context menu's guesses, Check
//   Document Now and the Spelling panel;
// - EditorSubstitutions: what typing triggers, smart copy and paste, and
//   the Substitutions panel;
// - here: the menu's commands and the validation of their items, the
//   switches kept as the editor's text options, upper case, lower case and
//   capitals by the writer's language, reading aloud, and the text the
//   parts share (the storage, and where its code lies).
//
// Every change goes through the editor's edit gate, so the no-editing rule,
// restyling and undo apply as to any edit.
class TextServices : public QObject {
    Q_OBJECT

public:
    explicit TextServices(TextView& view);
    ~TextServices() override;

    EditorFind& find() const { return *m_find; }
    EditorSpelling& spelling() const { return *m_spelling; }
    EditorSubstitutions& substitutions() const { return *m_substitutions; }

    // ---- The menu's commands: each does nothing without a text, and says
    // whether it can act now for the validation of its item.

    bool hasText() const { return m_storage != nullptr; }
    // A text that may change (not locked, not in no-editing mode).
    bool canEdit() const;
    void showFindInterface();
    void showReplaceInterface();
    void findNextMatch();
    void findPreviousMatch();
    bool canFindAgain() const;
    void useSelectionAsFindString();
    bool canUseSelectionForFind() const;
    void centerSelection();
    void showGuessPanel();
    void checkSpellingNow();
    bool canCheckSpelling() const;
    // No grammar checker is available here: the switch does nothing and its
    // item stays off and disabled.
    void toggleGrammarChecking() {}
    bool validateGrammarChecking(MenuItem& item) const;
    void uppercaseWord();
    void lowercaseWord();
    void capitalizeWord();
    void startSpeaking();
    void stopSpeaking();
    bool canStartSpeaking() const;
    bool canStopSpeaking() const;
    void orderFrontSubstitutionsPanel();

    // The switches of the Spelling and Substitutions submenus, kept as the
    // editor's text options. Smart links and data detectors turn text into
    // live links, which a plain text file cannot hold: their switches are
    // kept and do nothing else.
    enum class Switch {
        continuousSpellChecking,
        spellingCorrection,
        smartInsertDelete,
        quoteSubstitution,
        dashSubstitution,
        linkDetection,
        dataDetection,
        textReplacement,
    };
    void toggle(Switch which);
    // Checked while on; the spelling switches need a spell checker.
    bool validateSwitch(Switch which, MenuItem& item) const;
    // The text option a switch is kept as.
    static QString optionKey(Switch which);

    // ---- The text the parts share

    TextStorage* storage() const { return m_storage; }
    // Whether index lies in a fenced code block.
    bool isInCode(qsizetype index);
    // Whether index is prose (not Markdown syntax, HTML or code).
    bool isProse(qsizetype index);
    // The fenced code blocks of the text, current after each change.
    const CodeFences& codeFences() { return fences(); }

    // ---- Hooks from the editor

    void setStorage(TextStorage* storage);
    void forgetStorage();
    bool isFindBarVisible() const { return m_find->isFindBarVisible(); }
    // After the writer typed text (already through the gate) at typed.
    void textWasTyped(Range typed) { m_substitutions->textWasTyped(typed); }
    // Pasted text with the spaces smart paste adds around it.
    QString smartPasteText(Range range, const QString& text) const
    {
        return m_substitutions->smartPasteText(range, text);
    }
    // The range a deletion of range takes with smart delete.
    Range smartDeleteRange(Range range) const { return m_substitutions->smartDeleteRange(range); }
    // The find matches behind the text; the misspelt words over it.
    void paintBelowText(QPainter& painter, const QRect& exposed) { m_find->paintMatches(painter, exposed); }
    void paintAboveText(QPainter& painter, const QRect& exposed);
    void addContextMenuItems(QMenu* menu, const QPoint& position) { m_spelling->addContextMenuItems(menu, position); }
    // Escape closes the find bar; true when the key was taken.
    bool handleKeyPress(QKeyEvent* event);
    // The find bar across the top, the text below it.
    void layoutFindBar();
    void textOptionsChanged();
    void themeChanged();

signals:
    void findBarVisibilityChanged(bool visible);

private:
    void storageChanged(const TextStorage::Change& change);
    CodeFences& fences();
    void changeCase(int change);

    TextView& m_view;
    TextStorage* m_storage = nullptr;
    int m_observer = 0;
    CodeFences m_fences;
    bool m_fencesValid = false;
    std::unique_ptr<EditorFind> m_find;
    std::unique_ptr<EditorSpelling> m_spelling;
    std::unique_ptr<EditorSubstitutions> m_substitutions;
};

} // namespace lumora
