#pragma once

#include "document/SpellingPanel.h"
#include "markdown/SyntaxRanges.h"
#include "platform/foundation/Range.h"
#include "platform/text/TextFinder.h"
#include "platform/text/TextStorage.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class QKeyEvent;
class QMenu;
class QPainter;
class QPoint;
class QRect;
class QTextBlock;

namespace lumora {

class FindBar;
class MenuItem;
class TextView;

// Tells every editor's text services that the words the spelling checker
// accepts changed (a word learnt or ignored in one of them), so that each
// forgets the misspellings it remembered and draws its marks again.
class SpellingWords : public QObject {
    Q_OBJECT
public:
    static SpellingWords& shared();
    static void announceChange() { emit shared().changed(); }
signals:
    void changed();
};

// The editor's text services, the commands of the Edit menu's Find,
// Spelling and Grammar, Substitutions, Transformations and Speech
// submenus:
//
// - the find bar above the text, with matches highlighted while it is open
//   (drawn, never stored as attributes, and only where the text is shown);
//   a long text is searched on the background pool, so typing in the field
//   never waits for a count;
// - spelling: misspelt words underlined as they are drawn (the paragraphs
//   on screen and a margin around them, remembered per paragraph text),
//   never inside Markdown or HTML syntax or code; suggestions, Ignore and
//   Learn in the context menu; Check Document Now and the Spelling panel;
// - the substitutions the writer's typing triggers (smart quotes and
//   dashes, text replacement, spelling correction), each an undo step of
//   its own right after the typed character, never inside code or a link
//   address; smart copy and paste;
// - upper case, lower case and capitals by the writer's language;
// - reading aloud.
//
// Every change goes through the editor's edit gate, so the no-editing rule,
// restyling and undo apply as to any edit. One per editor.
class TextServices : public QObject, public SpellingPanelClient {
    Q_OBJECT

public:
    explicit TextServices(TextView& view);
    ~TextServices() override;

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

    // ---- Find

    // The find string and options every editor shares (a desktop's find
    // pasteboard in small).
    static QString sharedFindString();
    static void setSharedFindString(const QString& text);
    static FindOptions sharedFindOptions();
    static void setSharedFindOptions(FindOptions options);

    FindBar* findBar() const { return m_findBar; }
    bool isFindBarVisible() const;
    void showFindBar(bool withReplace);
    // Hides the bar and gives the keyboard focus back to the text.
    void closeFindBar();
    // Selects the next (or previous) match, going round the end; false and
    // a beep when there is none.
    bool findNext(bool backwards);
    void useSelectionForFind();
    // Replaces the selected match and selects the next one.
    void replaceCurrent();
    // Replaces every match as one change and one undo step; the number
    // replaced (0 when refused or none).
    int replaceAll();
    // The count beside the find field once it is known.
    QString findStatus() const;
    // Whether the count is still being worked out.
    bool isCounting() const { return m_counter.isRunning() || m_countTimer.isActive(); }
    // The matches drawn at the last paint (tests).
    const std::vector<Range>& paintedMatches() const { return m_paintedMatches; }

    // ---- Spelling

    bool isContinuousSpellCheckingOn() const;
    // The misspelt words of a paragraph (absolute offsets), skipping syntax
    // and code.
    std::vector<Range> misspellings(Range paragraph);
    // The misspelt word at position, if any.
    std::optional<Range> misspellingAt(qsizetype position);
    // The misspelt words of a stretch inside a paragraph (a long one's
    // shown part), not remembered.
    std::vector<Range> misspellingsIn(Range stretch);
    // Check Document Now: selects the next misspelt word after the
    // selection (going round), or beeps.
    bool checkDocument();
    // The underlines drawn at the last paint (tests).
    const std::vector<Range>& paintedMisspellings() const { return m_paintedMisspellings; }
    // Whether index is prose (not Markdown syntax, HTML or code).
    bool isProse(qsizetype index);

    // ---- Hooks from the editor

    void setStorage(TextStorage* storage);
    void forgetStorage();
    // After the writer typed text (already through the gate) at typed.
    void textWasTyped(Range typed);
    // Pasted text with the spaces smart paste adds around it.
    QString smartPasteText(Range range, const QString& text);
    // The range a deletion of range takes with smart delete.
    Range smartDeleteRange(Range range);
    void paintBelowText(QPainter& painter, const QRect& exposed);
    void paintAboveText(QPainter& painter, const QRect& exposed);
    void addContextMenuItems(QMenu* menu, const QPoint& position);
    // Escape closes the find bar; true when the key was taken.
    bool handleKeyPress(QKeyEvent* event);
    void layoutFindBar();
    void textOptionsChanged();
    void themeChanged();

    // SpellingPanelClient
    void changeMisspelling(const QString& replacement) override;
    void findNextMisspelling() override;
    void ignoreMisspelling(const QString& word) override;
    void learnMisspelling(const QString& word) override;

signals:
    void findBarVisibilityChanged(bool visible);

private:
    TextFinder currentFinder() const;
    void findStringEdited(const QString& text);
    void findOptionsChanged();
    void startCount();
    void countFinished(std::shared_ptr<const BackgroundFinder::Result> result);
    void updateFindStatus();
    // Selects a match (or the search's starting point) and shows it.
    void selectMatch(Range range);
    void storageChanged(const TextStorage::Change& change);
    // The part of block drawn in exposed: all of it, but for a paragraph so
    // long that only its shown lines are worth a look.
    Range shownPart(const QTextBlock& block, const QRect& exposed) const;
    void forEachVisibleBlock(const QRect& exposed, const std::function<void(const QTextBlock&)>& block) const;
    void drawRanges(QPainter& painter, const QTextBlock& block, const std::vector<Range>& ranges, bool underline);
    void spellingChanged();
    void precheckAroundShownText();
    void applySubstitution(Range range, const QString& replacement);
    std::optional<std::pair<Range, QString>> correctionBefore(qsizetype typedAt);
    void changeCase(int change);
    void speak();
    void showSpellingPanel();
    void showSubstitutionsPanel();
    CodeFences& fences();

    TextView& m_view;
    TextStorage* m_storage = nullptr;
    int m_observer = 0;
    FindBar* m_findBar = nullptr;
    BackgroundFinder m_counter;
    std::shared_ptr<const BackgroundFinder::Result> m_count;
    bool m_countStale = true;
    QTimer m_countTimer;
    // Where the incremental search started (the selection when the writer
    // began typing in the field).
    std::optional<qsizetype> m_findAnchor;
    bool m_selectingMatch = false;
    std::vector<Range> m_paintedMatches;
    QString m_replacedStatus;

    CodeFences m_fences;
    bool m_fencesValid = false;
    // Misspellings by paragraph text, offsets from the paragraph's start.
    QHash<QString, std::vector<Range>> m_spellingCache;
    std::vector<Range> m_paintedMisspellings;
    // The paragraphs shown at the last paint; those around them are checked
    // a moment later, so that scrolling finds them done.
    int m_firstShownBlock = -1;
    int m_lastShownBlock = -1;
    QTimer m_precheckTimer;
    // Where the writer's typing ended: the word there is still being typed.
    std::optional<qsizetype> m_typingEnd;
    bool m_substituting = false;
};

} // namespace lumora
