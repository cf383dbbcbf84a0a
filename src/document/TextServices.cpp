#include "document/TextServices.h"

#include "document/SubstitutionsPanel.h"
#include "document/TextView.h"
#include "platform/application/Menu.h"
#include "platform/application/SpeechSynthesizer.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/SpellChecker.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QKeyEvent>

namespace lumora {

TextServices::TextServices(TextView& view)
    : m_view(view),
      m_find(std::make_unique<EditorFind>(view, *this)),
      m_spelling(std::make_unique<EditorSpelling>(view, *this)),
      m_substitutions(std::make_unique<EditorSubstitutions>(view, *this))
{
    connect(m_find.get(), &EditorFind::findBarVisibilityChanged, this, &TextServices::findBarVisibilityChanged);
    connect(&Settings::shared(), &Settings::themeChanged, this, [this] { themeChanged(); });
}

TextServices::~TextServices()
{
    if (m_storage && m_observer) m_storage->removeObserver(m_observer);
}

bool TextServices::canEdit() const
{
    return m_storage && m_view.isEditable() && !Settings::shared().isNoEditingEnabled();
}

// ---- Menu ---------------------------------------------------------------------------

void TextServices::showFindInterface()
{
    if (m_storage) m_find->showFindBar(false);
}

void TextServices::showReplaceInterface()
{
    if (m_storage) m_find->showFindBar(true);
}

void TextServices::findNextMatch()
{
    if (m_storage) m_find->findNext(false);
}

void TextServices::findPreviousMatch()
{
    if (m_storage) m_find->findNext(true);
}

bool TextServices::canFindAgain() const { return m_storage && !EditorFind::sharedFindString().isEmpty(); }

void TextServices::useSelectionAsFindString()
{
    if (m_storage) m_find->useSelectionForFind();
}

bool TextServices::canUseSelectionForFind() const { return m_storage && !m_view.selectedRange().isEmpty(); }

void TextServices::centerSelection()
{
    if (m_storage) m_view.centerSelectionInVisibleArea();
}

void TextServices::showGuessPanel()
{
    if (m_storage) m_spelling->showSpellingPanel();
}

void TextServices::checkSpellingNow()
{
    if (m_storage) m_spelling->checkDocument();
}

bool TextServices::canCheckSpelling() const { return m_storage && SpellChecker::shared().isAvailable(); }

bool TextServices::validateGrammarChecking(MenuItem& item) const
{
    if (m_storage) item.setState(MenuItem::State::off);
    return false;
}

void TextServices::uppercaseWord()
{
    if (m_storage) changeCase(int(text::CaseChange::upper));
}

void TextServices::lowercaseWord()
{
    if (m_storage) changeCase(int(text::CaseChange::lower));
}

void TextServices::capitalizeWord()
{
    if (m_storage) changeCase(int(text::CaseChange::capitalize));
}

void TextServices::startSpeaking()
{
    if (!m_storage) return;
    const Range selection = m_view.selectedRange();
    const QString& text = m_storage->string();
    SpeechSynthesizer::shared().speak(selection.isEmpty() ? text : text.mid(selection.location, selection.length));
}

void TextServices::stopSpeaking()
{
    if (m_storage) SpeechSynthesizer::shared().stop();
}

bool TextServices::canStartSpeaking() const
{
    return m_storage && m_storage->length() > 0 && SpeechSynthesizer::shared().isAvailable();
}

bool TextServices::canStopSpeaking() const
{
    return m_storage && SpeechSynthesizer::shared().isAvailable() && SpeechSynthesizer::shared().isSpeaking();
}

void TextServices::orderFrontSubstitutionsPanel()
{
    if (m_storage) m_substitutions->showSubstitutionsPanel();
}

QString TextServices::optionKey(Switch which)
{
    switch (which) {
    case Switch::continuousSpellChecking: return QStringLiteral("continuousSpellCheckingEnabled");
    case Switch::spellingCorrection: return QStringLiteral("automaticSpellingCorrectionEnabled");
    case Switch::smartInsertDelete: return QStringLiteral("smartInsertDeleteEnabled");
    case Switch::quoteSubstitution: return QStringLiteral("automaticQuoteSubstitutionEnabled");
    case Switch::dashSubstitution: return QStringLiteral("automaticDashSubstitutionEnabled");
    case Switch::linkDetection: return QStringLiteral("automaticLinkDetectionEnabled");
    case Switch::dataDetection: return QStringLiteral("automaticDataDetectionEnabled");
    case Switch::textReplacement: return QStringLiteral("automaticTextReplacementEnabled");
    }
    return QStringLiteral("continuousSpellCheckingEnabled");
}

void TextServices::toggle(Switch which)
{
    if (!m_storage) return;
    const QString option = optionKey(which);
    m_view.setTextOption(option, !m_view.textOption(option));
}

bool TextServices::validateSwitch(Switch which, MenuItem& item) const
{
    if (!m_storage) return false;
    item.setState(m_view.textOption(optionKey(which)) ? MenuItem::State::on : MenuItem::State::off);
    if (which == Switch::continuousSpellChecking || which == Switch::spellingCorrection)
        return SpellChecker::shared().isAvailable();
    return true;
}

// ---- Hooks from the editor -----------------------------------------------------------------

void TextServices::textOptionsChanged()
{
    if (SubstitutionsPanel* panel = SubstitutionsPanel::existing()) panel->refresh();
    m_view.viewport()->update();
}

void TextServices::themeChanged()
{
    m_find->applyTheme();
    m_view.viewport()->update();
}

void TextServices::layoutFindBar()
{
    const int height = m_find->placeFindBar();
    if (m_view.viewportMargins().top() != height) m_view.setViewportMargins(0, height, 0, 0);
}

bool TextServices::handleKeyPress(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && m_find->isFindBarVisible()) {
        m_find->closeFindBar();
        return true;
    }
    return false;
}

void TextServices::paintAboveText(QPainter& painter, const QRect& exposed)
{
    m_spelling->paintMisspellings(painter, exposed, m_substitutions->typingEnd());
}

// ---- The shared text ------------------------------------------------------------------------

void TextServices::setStorage(TextStorage* storage)
{
    if (m_storage && m_observer) m_storage->removeObserver(m_observer);
    m_storage = storage;
    m_observer = 0;
    m_fencesValid = false;
    m_substitutions->forgetTyping();
    if (storage) m_observer = storage->addObserver([this](const TextStorage::Change& change) { storageChanged(change); });
    m_find->textReplaced();
}

void TextServices::forgetStorage()
{
    m_storage = nullptr;
    m_observer = 0;
    m_find->textGone();
}

void TextServices::storageChanged(const TextStorage::Change& change)
{
    if (!change.characters) return;
    if (m_fencesValid) {
        // The lines the change touches, and nothing after them.
        const qsizetype end = m_storage->paragraphBounds(Range(change.editedRange.end(), 0)).end;
        if (!m_fences.update(m_storage->stringBefore(end), m_storage->length(), change.editedRange,
                             change.changeInLength))
            m_fencesValid = false;
    }
    m_find->textChanged();
}

CodeFences& TextServices::fences()
{
    // Asked in the middle of a change not yet announced: found again.
    if (m_fencesValid && m_storage && m_fences.textLength() != m_storage->length()) m_fencesValid = false;
    if (!m_fencesValid && m_storage) {
        m_fences.reset(m_storage->string());
        m_fencesValid = true;
    }
    return m_fences;
}

bool TextServices::isInCode(qsizetype index) { return fences().contains(index); }

bool TextServices::isProse(qsizetype index)
{
    if (!m_storage) return false;
    if (fences().contains(index)) return false;
    // Syntax lies within the paragraph of index.
    const qsizetype end = m_storage->paragraphBounds(Range(index, 0)).end;
    return !isInsideSyntax(m_storage->stringBefore(end), index);
}

// ---- Transformations ------------------------------------------------------------------------

void TextServices::changeCase(int change)
{
    if (!canEdit()) return;
    const QString& text = m_storage->string();
    const Range selection = m_view.selectedRange();
    Range target = selection;
    if (target.isEmpty()) {
        const auto word = text::wordAt(text, selection.location);
        if (!word) {
            QApplication::beep();
            return;
        }
        target = *word;
    }
    const QString original = text.mid(target.location, target.length);
    const QString changed = text::changeCase(original, text::CaseChange(change));
    TextView::EditOptions options;
    // A selection stays selected; at a caret, the caret goes after the word.
    options.selection = selection.isEmpty() ? Range(target.location + changed.size(), 0)
                                            : Range(target.location, changed.size());
    if (changed == original) {
        m_view.setSelectedRange(*options.selection);
        return;
    }
    m_view.replaceCharacters(target, changed, options);
}

} // namespace lumora
