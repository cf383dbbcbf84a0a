#pragma once

#include "document/SpellingPanel.h"
#include "platform/foundation/Range.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <optional>
#include <vector>

class QMenu;
class QPainter;
class QPoint;
class QRect;

namespace lumora {

class TextServices;
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

// Spelling in one editor: misspelt words underlined as they are drawn (the
// paragraphs on screen and a margin around them, remembered per paragraph
// text), never inside Markdown or HTML syntax or code; suggestions, Ignore
// and Learn in the context menu; Check Document Now and the Spelling panel.
// Part of the editor's TextServices, which gives it the text.
class EditorSpelling : public QObject, public SpellingPanelClient {
    Q_OBJECT

public:
    EditorSpelling(TextView& view, TextServices& services);
    ~EditorSpelling() override;

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
    // Shows the Spelling panel for this editor, with the misspelt word
    // selected or else the next one.
    void showSpellingPanel();
    // The underlines drawn at the last paint (tests).
    const std::vector<Range>& paintedMisspellings() const { return m_paintedMisspellings; }

    // ---- From the text services

    // Underlines the misspelt words shown, but for the word the writer is
    // still typing (the one that ends at typingEnd).
    void paintMisspellings(QPainter& painter, const QRect& exposed, std::optional<qsizetype> typingEnd);
    // The guesses, Ignore and Learn for the misspelt word at position, put
    // at the top of menu.
    void addContextMenuItems(QMenu* menu, const QPoint& position);

    // SpellingPanelClient
    void changeMisspelling(const QString& replacement) override;
    void findNextMisspelling() override;
    void ignoreMisspelling(const QString& word) override;
    void learnMisspelling(const QString& word) override;

private:
    void precheckAroundShownText();

    TextView& m_view;
    TextServices& m_services;
    // Misspellings by paragraph text, offsets from the paragraph's start.
    QHash<QString, std::vector<Range>> m_spellingCache;
    std::vector<Range> m_paintedMisspellings;
    // The paragraphs shown at the last paint; those around them are checked
    // a moment later, so that scrolling finds them done.
    int m_firstShownBlock = -1;
    int m_lastShownBlock = -1;
    QTimer m_precheckTimer;
};

} // namespace lumora
