#include "document/EditorSpelling.h"

#include "document/ShownText.h"
#include "document/TextServices.h"
#include "document/TextView.h"
#include "markdown/SyntaxRanges.h"
#include "platform/foundation/Localization.h"
#include "platform/text/SpellChecker.h"
#include "platform/text/TextBoundaries.h"
#include "platform/text/TextStorage.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace lumora {

namespace {

// Paragraphs remembered with their misspellings before starting afresh.
constexpr int kSpellingCacheLimit = 5000;
// Paragraphs above and below the shown text checked after a paint.
constexpr int kPrecheckBlocks = 30;
constexpr int kPrecheckDelayMs = 60;

using shown_text::kLongParagraph;

} // namespace

SpellingWords& SpellingWords::shared()
{
    static SpellingWords* words = new SpellingWords; // lives as long as the process
    return *words;
}

EditorSpelling::EditorSpelling(TextView& view, TextServices& services) : m_view(view), m_services(services)
{
    m_precheckTimer.setSingleShot(true);
    m_precheckTimer.setInterval(kPrecheckDelayMs);
    connect(&m_precheckTimer, &QTimer::timeout, this, &EditorSpelling::precheckAroundShownText);
    connect(&SpellingWords::shared(), &SpellingWords::changed, this, [this] {
        m_spellingCache.clear();
        m_view.viewport()->update();
    });
}

EditorSpelling::~EditorSpelling()
{
    if (SpellingPanel* panel = SpellingPanel::existing(); panel && panel->serves(this)) panel->setClient(nullptr, nullptr);
}

bool EditorSpelling::isContinuousSpellCheckingOn() const
{
    return m_view.textOption(TextServices::optionKey(TextServices::Switch::continuousSpellChecking))
        && SpellChecker::shared().isAvailable();
}

// ---- Underlines -----------------------------------------------------------------------

void EditorSpelling::paintMisspellings(QPainter& painter, const QRect& exposed, std::optional<qsizetype> typingEnd)
{
    m_paintedMisspellings.clear();
    if (!m_services.storage() || !isContinuousSpellCheckingOn()) return;
    const Range selection = m_view.selectedRange();
    // The word being typed is not marked until the writer leaves it.
    const std::optional<qsizetype> typing =
        selection.isEmpty() && typingEnd == selection.location ? typingEnd : std::nullopt;
    m_firstShownBlock = -1;
    shown_text::forEachBlock(m_view, exposed, [&](const QTextBlock& block) {
        if (m_firstShownBlock < 0) m_firstShownBlock = block.blockNumber();
        m_lastShownBlock = block.blockNumber();
        const Range paragraph(block.position(), std::max(0, block.length() - 1));
        std::vector<Range> found =
            paragraph.length > kLongParagraph
                ? misspellingsIn(shown_text::partOf(m_view, *m_services.storage(), block, exposed))
                : misspellings(paragraph);
        if (typing) found.erase(std::remove_if(found.begin(), found.end(), [&](Range r) { return r.end() == *typing; }),
                                found.end());
        shown_text::drawMarks(painter, m_view, block, found, shown_text::Mark::wave);
        m_paintedMisspellings.insert(m_paintedMisspellings.end(), found.begin(), found.end());
    });
    if (m_firstShownBlock >= 0) m_precheckTimer.start();
}

void EditorSpelling::precheckAroundShownText()
{
    if (!m_services.storage() || !isContinuousSpellCheckingOn() || m_firstShownBlock < 0) return;
    QTextDocument* document = m_view.document();
    const int from = std::max(0, m_firstShownBlock - kPrecheckBlocks);
    const int to = std::min(document->blockCount() - 1, m_lastShownBlock + kPrecheckBlocks);
    for (QTextBlock block = document->findBlockByNumber(from); block.isValid() && block.blockNumber() <= to;
         block = block.next())
        if (block.length() - 1 <= kLongParagraph) misspellings(Range(block.position(), std::max(0, block.length() - 1)));
}

// ---- Checking -------------------------------------------------------------------------

std::vector<Range> EditorSpelling::misspellings(Range paragraph)
{
    std::vector<Range> found;
    const TextStorage* storage = m_services.storage();
    if (!storage) return found;
    paragraph = paragraph.intersection(Range(0, storage->length()));
    if (paragraph.isEmpty() || m_services.isInCode(paragraph.location)) return found;
    const QString key = storage->substring(paragraph);
    auto it = m_spellingCache.constFind(key);
    if (it == m_spellingCache.constEnd()) {
        if (m_spellingCache.size() >= kSpellingCacheLimit) m_spellingCache.clear();
        // Checked as a text of its own, so the cache holds offsets from
        // the paragraph's start.
        const std::vector<Range> skipped = syntaxRanges(key, Range(0, key.size()));
        it = m_spellingCache.insert(key, SpellChecker::shared().misspellings(key, Range(0, key.size()), skipped));
    }
    for (const Range& r : it.value()) found.emplace_back(r.location + paragraph.location, r.length);
    return found;
}

std::vector<Range> EditorSpelling::misspellingsIn(Range stretch)
{
    const TextStorage* storage = m_services.storage();
    if (!storage || stretch.isEmpty() || m_services.isInCode(stretch.location)) return {};
    // The stretch and the line break after it, which is all either reads.
    const QStringView text = storage->stringBefore(std::min<qsizetype>(storage->length(), stretch.end() + 2));
    return SpellChecker::shared().misspellings(text, stretch, syntaxRanges(text, stretch));
}

std::optional<Range> EditorSpelling::misspellingAt(qsizetype position)
{
    const TextStorage* storage = m_services.storage();
    if (!storage) return std::nullopt;
    const QString& text = storage->string();
    const text::ParagraphBounds bounds = text::paragraphBounds(text, Range(position, 0));
    Range paragraph(bounds.start, bounds.contentsEnd - bounds.start);
    std::vector<Range> found;
    if (paragraph.length > kLongParagraph) {
        // Only the words around position, out to the spaces.
        qsizetype a = std::max(paragraph.location, position - 100), b = std::min(paragraph.end(), position + 100);
        while (a > paragraph.location && !text[a - 1].isSpace()) --a;
        while (b < paragraph.end() && !text[b].isSpace()) ++b;
        found = misspellingsIn(Range(a, b - a));
    } else {
        found = misspellings(paragraph);
    }
    for (const Range& r : found)
        if (r.location <= position && position <= r.end()) return r;
    return std::nullopt;
}

bool EditorSpelling::checkDocument()
{
    SpellChecker& checker = SpellChecker::shared();
    const TextStorage* storage = m_services.storage();
    if (!storage || !checker.isAvailable()) {
        QApplication::beep();
        return false;
    }
    const QString& text = storage->string();
    const qsizetype start = m_view.selectedRange().end();
    const auto scan = [&](qsizetype from, qsizetype to) -> std::optional<Range> {
        qsizetype at = from;
        while (at < to) {
            const text::ParagraphBounds bounds = text::paragraphBounds(text, Range(at, 0));
            for (const Range& r : misspellings(Range(bounds.start, bounds.contentsEnd - bounds.start)))
                if (r.location >= from && r.end() <= to) return r;
            if (bounds.end <= at) break;
            at = bounds.end;
        }
        return std::nullopt;
    };
    std::optional<Range> found = scan(start, text.size());
    if (!found) found = scan(0, start);
    SpellingPanel* panel = SpellingPanel::existing();
    const bool panelShown = panel && panel->serves(this) && panel->isVisible();
    if (!found) {
        if (panelShown) panel->showNoMisspelling();
        else QApplication::beep();
        return false;
    }
    m_view.setSelectedRange(*found);
    m_view.ensureCursorVisible();
    if (panelShown) {
        const QString word = text.mid(found->location, found->length);
        panel->showMisspelling(word, checker.suggestions(word));
    }
    return true;
}

// ---- The Spelling panel and the context menu ----------------------------------------------

void EditorSpelling::showSpellingPanel()
{
    SpellingPanel& panel = SpellingPanel::shared();
    panel.setClient(this, this);
    panel.show();
    panel.raise();
    const Range selection = m_view.selectedRange();
    const auto word = misspellingAt(selection.location);
    if (word && *word == selection) {
        const QString text = m_services.storage()->string().mid(word->location, word->length);
        panel.showMisspelling(text, SpellChecker::shared().suggestions(text));
    } else {
        checkDocument();
    }
}

void EditorSpelling::changeMisspelling(const QString& replacement)
{
    const Range selection = m_view.selectedRange();
    if (!m_services.storage() || selection.isEmpty() || replacement.isEmpty()) return;
    TextView::EditOptions options;
    options.selection = Range(selection.location + replacement.size(), 0);
    m_view.replaceCharacters(selection, replacement, options);
    checkDocument();
}

void EditorSpelling::findNextMisspelling() { checkDocument(); }

void EditorSpelling::ignoreMisspelling(const QString& word)
{
    SpellChecker::shared().ignore(word);
    SpellingWords::announceChange();
    checkDocument();
}

void EditorSpelling::learnMisspelling(const QString& word)
{
    SpellChecker::shared().learn(word);
    SpellingWords::announceChange();
    checkDocument();
}

void EditorSpelling::addContextMenuItems(QMenu* menu, const QPoint& position)
{
    const TextStorage* storage = m_services.storage();
    if (!storage || !SpellChecker::shared().isAvailable()) return;
    const qsizetype at = m_view.cursorForPosition(position).position();
    const auto word = misspellingAt(at);
    if (!word) return;
    const QString misspelt = storage->string().mid(word->location, word->length);
    QAction* before = menu->actions().value(0);
    const auto add = [&](const QString& title) {
        auto* action = new QAction(title, menu);
        menu->insertAction(before, action);
        return action;
    };
    const QStringList guesses = SpellChecker::shared().suggestions(misspelt, 6);
    if (guesses.isEmpty()) add(localized("spelling.menu.noGuesses"))->setEnabled(false);
    const Range range = *word;
    for (const QString& guess : guesses) {
        QAction* action = add(guess);
        QFont bold = action->font();
        bold.setBold(true);
        action->setFont(bold);
        action->setEnabled(m_services.canEdit());
        connect(action, &QAction::triggered, this, [this, range, misspelt, guess] {
            const TextStorage* storage = m_services.storage();
            if (!storage || storage->string().mid(range.location, range.length) != misspelt) return;
            TextView::EditOptions options;
            options.selection = Range(range.location + guess.size(), 0);
            m_view.replaceCharacters(range, guess, options);
        });
    }
    menu->insertSeparator(before);
    connect(add(localized("spelling.menu.ignore")), &QAction::triggered, this, [misspelt] {
        SpellChecker::shared().ignore(misspelt);
        SpellingWords::announceChange();
    });
    connect(add(localized("spelling.menu.learn")), &QAction::triggered, this, [misspelt] {
        SpellChecker::shared().learn(misspelt);
        SpellingWords::announceChange();
    });
    if (before) menu->insertSeparator(before);
}

} // namespace lumora
