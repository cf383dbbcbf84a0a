#include "document/TextServices.h"

#include "document/FindBar.h"
#include "document/SubstitutionsPanel.h"
#include "document/TextView.h"
#include "platform/application/Menu.h"
#include "platform/application/SpeechSynthesizer.h"
#include "platform/foundation/Localization.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/SpellChecker.h"
#include "platform/text/TextBoundaries.h"
#include "platform/text/TextStorage.h"
#include "platform/text/TextSubstitutions.h"
#include "settings/Settings.h"
#include "settings/Theme.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

namespace lumora {

namespace {

const char* const kContinuous = "continuousSpellCheckingEnabled";
const char* const kCorrection = "automaticSpellingCorrectionEnabled";
const char* const kSmartInsert = "smartInsertDeleteEnabled";
const char* const kQuotes = "automaticQuoteSubstitutionEnabled";
const char* const kDashes = "automaticDashSubstitutionEnabled";
const char* const kReplacement = "automaticTextReplacementEnabled";

// The text option each switch is kept as.
const char* optionOf(TextServices::Switch which)
{
    switch (which) {
    case TextServices::Switch::continuousSpellChecking: return kContinuous;
    case TextServices::Switch::spellingCorrection: return kCorrection;
    case TextServices::Switch::smartInsertDelete: return kSmartInsert;
    case TextServices::Switch::quoteSubstitution: return kQuotes;
    case TextServices::Switch::dashSubstitution: return kDashes;
    case TextServices::Switch::linkDetection: return "automaticLinkDetectionEnabled";
    case TextServices::Switch::dataDetection: return "automaticDataDetectionEnabled";
    case TextServices::Switch::textReplacement: return kReplacement;
    }
    return kContinuous;
}

// Typing in the find field looks this far from the caret at once; the rest
// of a long text is searched on the background pool.
constexpr qsizetype kQuickSearchLength = 256 * 1024;
// After an edit the count waits for a pause in typing.
constexpr int kRecountDelayMs = 200;
// Paragraphs remembered with their misspellings before starting afresh.
constexpr int kSpellingCacheLimit = 5000;
// A paragraph longer than this is checked and searched only where it is
// shown, never whole at every paint.
constexpr int kLongParagraph = 8000;
// Paragraphs above and below the shown text checked after a paint.
constexpr int kPrecheckBlocks = 30;
constexpr int kPrecheckDelayMs = 60;

struct SharedFind {
    QString string;
    FindOptions options;
};

SharedFind& sharedFind()
{
    static SharedFind find;
    return find;
}

QColor matchColour(const Theme& theme)
{
    return theme.isDark ? QColor(255, 214, 10, 80) : QColor(255, 200, 0, 110);
}

const QColor kMisspellingColour(224, 58, 58);
constexpr qreal kWaveWidth = 4;
constexpr qreal kWaveHeight = 3;

// One period of the misspelling wave, drawn once: tiling it under a word is
// far cheaper than stroking a path at every paint.
const QPixmap& waveTile(qreal ratio)
{
    static QPixmap tile;
    if (tile.isNull() || tile.devicePixelRatio() != ratio) {
        tile = QPixmap(QSize(int(kWaveWidth * ratio), int(kWaveHeight * ratio)));
        tile.setDevicePixelRatio(ratio);
        tile.fill(Qt::transparent);
        QPainter p(&tile);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(kMisspellingColour, 1.1));
        QPainterPath path(QPointF(0, kWaveHeight - 0.8));
        path.quadTo(QPointF(kWaveWidth / 4, 0.2), QPointF(kWaveWidth / 2, 0.8));
        path.quadTo(QPointF(kWaveWidth * 3 / 4, kWaveHeight), QPointF(kWaveWidth, kWaveHeight - 0.8));
        p.drawPath(path);
    }
    return tile;
}

} // namespace

SpellingWords& SpellingWords::shared()
{
    static SpellingWords* words = new SpellingWords; // lives as long as the process
    return *words;
}

TextServices::TextServices(TextView& view) : m_view(view)
{
    m_countTimer.setSingleShot(true);
    m_countTimer.setInterval(kRecountDelayMs);
    connect(&m_countTimer, &QTimer::timeout, this, &TextServices::startCount);
    m_precheckTimer.setSingleShot(true);
    m_precheckTimer.setInterval(kPrecheckDelayMs);
    connect(&m_precheckTimer, &QTimer::timeout, this, &TextServices::precheckAroundShownText);
    connect(&m_view, &QTextEdit::cursorPositionChanged, this, [this] {
        // The writer moved: typing in the find field searches from there.
        if (!m_selectingMatch) m_findAnchor.reset();
        if (isFindBarVisible()) updateFindStatus();
    });
    connect(&SpellingWords::shared(), &SpellingWords::changed, this, [this] {
        m_spellingCache.clear();
        m_view.viewport()->update();
    });
    connect(&Settings::shared(), &Settings::themeChanged, this, [this] { themeChanged(); });
}

TextServices::~TextServices()
{
    m_counter.cancel();
    if (m_storage && m_observer) m_storage->removeObserver(m_observer);
    if (SpellingPanel* panel = SpellingPanel::existing(); panel && panel->serves(this)) panel->setClient(nullptr, nullptr);
}

bool TextServices::canEdit() const
{
    return m_storage && m_view.isEditable() && !Settings::shared().isNoEditingEnabled();
}

// ---- Menu ---------------------------------------------------------------------------

void TextServices::showFindInterface()
{
    if (m_storage) showFindBar(false);
}

void TextServices::showReplaceInterface()
{
    if (m_storage) showFindBar(true);
}

void TextServices::findNextMatch()
{
    if (m_storage) findNext(false);
}

void TextServices::findPreviousMatch()
{
    if (m_storage) findNext(true);
}

bool TextServices::canFindAgain() const { return m_storage && !sharedFindString().isEmpty(); }

void TextServices::useSelectionAsFindString()
{
    if (m_storage) useSelectionForFind();
}

bool TextServices::canUseSelectionForFind() const { return m_storage && !m_view.selectedRange().isEmpty(); }

void TextServices::centerSelection()
{
    if (m_storage) m_view.centerSelectionInVisibleArea();
}

void TextServices::showGuessPanel()
{
    if (m_storage) showSpellingPanel();
}

void TextServices::checkSpellingNow()
{
    if (m_storage) checkDocument();
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
    if (m_storage) speak();
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
    if (m_storage) showSubstitutionsPanel();
}

void TextServices::toggle(Switch which)
{
    if (!m_storage) return;
    const QString option = QString::fromLatin1(optionOf(which));
    m_view.setTextOption(option, !m_view.textOption(option));
}

bool TextServices::validateSwitch(Switch which, MenuItem& item) const
{
    if (!m_storage) return false;
    item.setState(m_view.textOption(QString::fromLatin1(optionOf(which))) ? MenuItem::State::on : MenuItem::State::off);
    if (which == Switch::continuousSpellChecking || which == Switch::spellingCorrection)
        return SpellChecker::shared().isAvailable();
    return true;
}

void TextServices::textOptionsChanged()
{
    if (SubstitutionsPanel* panel = SubstitutionsPanel::existing()) panel->refresh();
    m_view.viewport()->update();
}

void TextServices::themeChanged()
{
    if (m_findBar) m_findBar->applyTheme(*Settings::shared().theme());
    m_view.viewport()->update();
}

// ---- Storage --------------------------------------------------------------------------

void TextServices::setStorage(TextStorage* storage)
{
    if (m_storage && m_observer) m_storage->removeObserver(m_observer);
    m_storage = storage;
    m_observer = 0;
    m_fencesValid = false;
    m_count.reset();
    m_counter.cancel();
    m_typingEnd.reset();
    if (storage) m_observer = storage->addObserver([this](const TextStorage::Change& change) { storageChanged(change); });
    if (isFindBarVisible()) startCount();
}

void TextServices::forgetStorage()
{
    m_storage = nullptr;
    m_observer = 0;
    m_counter.cancel();
    m_count.reset();
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
    m_countStale = true;
    m_replacedStatus.clear();
    if (isFindBarVisible()) m_countTimer.start();
}

CodeFences& TextServices::fences()
{
    if (!m_fencesValid && m_storage) {
        m_fences.reset(m_storage->string());
        m_fencesValid = true;
    }
    return m_fences;
}

bool TextServices::isProse(qsizetype index)
{
    if (!m_storage) return false;
    if (fences().contains(index)) return false;
    // Syntax lies within the paragraph of index.
    const qsizetype end = m_storage->paragraphBounds(Range(index, 0)).end;
    return !isInsideSyntax(m_storage->stringBefore(end), index);
}

// ---- Find ----------------------------------------------------------------------------

QString TextServices::sharedFindString() { return sharedFind().string; }
void TextServices::setSharedFindString(const QString& text) { sharedFind().string = text; }
FindOptions TextServices::sharedFindOptions() { return sharedFind().options; }
void TextServices::setSharedFindOptions(FindOptions options) { sharedFind().options = options; }

TextFinder TextServices::currentFinder() const { return TextFinder(sharedFindString(), sharedFindOptions()); }

bool TextServices::isFindBarVisible() const { return m_findBar && !m_findBar->isHidden(); }

void TextServices::showFindBar(bool withReplace)
{
    const bool wasVisible = isFindBarVisible();
    if (!m_findBar) {
        m_findBar = new FindBar(&m_view);
        m_findBar->hide();
        m_findBar->applyTheme(*Settings::shared().theme());
        connect(m_findBar, &FindBar::findStringEdited, this, &TextServices::findStringEdited);
        connect(m_findBar, &FindBar::optionsChanged, this, &TextServices::findOptionsChanged);
        connect(m_findBar, &FindBar::nextRequested, this, [this] { findNext(false); });
        connect(m_findBar, &FindBar::previousRequested, this, [this] { findNext(true); });
        connect(m_findBar, &FindBar::replaceRequested, this, &TextServices::replaceCurrent);
        connect(m_findBar, &FindBar::replaceAllRequested, this, &TextServices::replaceAll);
        connect(m_findBar, &FindBar::closeRequested, this, &TextServices::closeFindBar);
    }
    m_findBar->setFindString(sharedFindString());
    m_findBar->setOptions(sharedFindOptions());
    m_findBar->setReplaceVisible(withReplace);
    m_findBar->show();
    layoutFindBar();
    m_findBar->focusFindField();
    m_findAnchor = m_view.selectedRange().location;
    m_replacedStatus.clear();
    if (!wasVisible || m_countStale || !m_count) startCount();
    updateFindStatus();
    m_view.viewport()->update();
    if (!wasVisible) emit findBarVisibilityChanged(true);
}

void TextServices::closeFindBar()
{
    if (!isFindBarVisible()) return;
    m_findBar->hide();
    m_counter.cancel();
    m_countTimer.stop();
    layoutFindBar();
    m_view.setFocus(Qt::OtherFocusReason);
    m_paintedMatches.clear();
    m_view.viewport()->update();
    emit findBarVisibilityChanged(false);
}

void TextServices::layoutFindBar()
{
    const int height = isFindBarVisible() ? m_findBar->sizeHint().height() : 0;
    if (height > 0) m_findBar->setGeometry(0, 0, m_view.width(), height);
    if (m_view.viewportMargins().top() != height) m_view.setViewportMargins(0, height, 0, 0);
}

bool TextServices::handleKeyPress(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && isFindBarVisible()) {
        closeFindBar();
        return true;
    }
    return false;
}

void TextServices::findStringEdited(const QString& text)
{
    setSharedFindString(text);
    m_replacedStatus.clear();
    if (!m_storage) return;
    const TextFinder finder = currentFinder();
    const qsizetype anchor = m_findAnchor.value_or(m_view.selectedRange().location);
    m_findAnchor = anchor;
    bool found = false;
    if (!finder.isEmpty()) {
        // Near the caret at once; the rest of a long text when the count comes.
        const QString& string = m_storage->string();
        const QStringView near = QStringView(string).first(std::min(string.size(), anchor + kQuickSearchLength));
        if (const auto match = finder.next(near, anchor)) {
            selectMatch(*match);
            found = true;
        }
    }
    if (!found) selectMatch(Range(anchor, 0));
    startCount();
    updateFindStatus();
    m_view.viewport()->update();
}

void TextServices::findOptionsChanged()
{
    if (!m_findBar) return;
    setSharedFindOptions(m_findBar->options());
    findStringEdited(m_findBar->findString());
}

void TextServices::startCount()
{
    m_countTimer.stop();
    const TextFinder finder = currentFinder();
    if (!m_storage || finder.isEmpty()) {
        m_counter.cancel();
        m_count.reset();
        m_countStale = false;
        updateFindStatus();
        return;
    }
    m_countStale = true;
    m_counter.start(m_storage->string(), finder,
                    [this](std::shared_ptr<const BackgroundFinder::Result> result) { countFinished(std::move(result)); });
}

void TextServices::countFinished(std::shared_ptr<const BackgroundFinder::Result> result)
{
    if (!m_storage || result->textLength != m_storage->length()) {
        // The text changed meanwhile; a new count follows the change.
        return;
    }
    m_count = std::move(result);
    m_countStale = false;
    // Typing in the field found nothing near the caret: the first match
    // after it, or else the first of all.
    const Range selection = m_view.selectedRange();
    const QString pattern = m_count->finder.pattern();
    if (!m_count->starts.empty() && m_findAnchor && selection.length != pattern.size() && m_findBar
        && m_findBar->findField()->hasFocus()) {
        const auto& starts = m_count->starts;
        auto it = std::lower_bound(starts.begin(), starts.end(), *m_findAnchor);
        if (it == starts.end()) it = starts.begin();
        selectMatch(Range(*it, pattern.size()));
    }
    updateFindStatus();
}

void TextServices::updateFindStatus()
{
    if (!m_findBar) return;
    m_findBar->setReplaceEnabled(canEdit());
    if (!m_replacedStatus.isEmpty()) {
        m_findBar->setStatus(m_replacedStatus);
        return;
    }
    const TextFinder finder = currentFinder();
    if (finder.isEmpty() || !m_storage) {
        m_findBar->setStatus(QString());
        return;
    }
    if (!m_count || m_count->finder.pattern() != finder.pattern() || !(m_count->finder.options() == finder.options()))
        return; // still counting: the last count stays until the new one comes
    const auto& starts = m_count->starts;
    const qsizetype total = qsizetype(starts.size());
    if (total == 0) {
        m_findBar->setStatus(localized("find.status.notFound"));
        return;
    }
    const Range selection = m_view.selectedRange();
    const auto it = std::lower_bound(starts.begin(), starts.end(), selection.location);
    if (!m_countStale && selection.length == finder.pattern().size() && it != starts.end() && *it == selection.location) {
        m_findBar->setStatus(localizedFormat(QStringLiteral("find.status.position"),
                                             {QLocale().toString(qsizetype(it - starts.begin()) + 1),
                                              QLocale().toString(total)}));
        return;
    }
    m_findBar->setStatus(total == 1 ? localized("find.status.one")
                                    : localizedFormat(QStringLiteral("find.status.count"), {QLocale().toString(total)}));
}

void TextServices::selectMatch(Range range)
{
    m_selectingMatch = true;
    m_view.setSelectedRange(range);
    m_view.ensureCursorVisible();
    m_selectingMatch = false;
}

QString TextServices::findStatus() const { return m_findBar ? m_findBar->status() : QString(); }

bool TextServices::findNext(bool backwards)
{
    const TextFinder finder = currentFinder();
    if (!m_storage || finder.isEmpty()) {
        QApplication::beep();
        return false;
    }
    const Range selection = m_view.selectedRange();
    const auto found =
        finder.find(m_storage->string(), backwards ? selection.location : selection.end(), backwards, true);
    if (!found) {
        QApplication::beep();
        if (m_findBar) m_findBar->setStatus(localized("find.status.notFound"));
        return false;
    }
    m_replacedStatus.clear();
    selectMatch(*found);
    m_findAnchor = found->location;
    updateFindStatus();
    m_view.viewport()->update();
    return true;
}

void TextServices::useSelectionForFind()
{
    const Range selection = m_view.selectedRange();
    if (!m_storage || selection.isEmpty()) return;
    setSharedFindString(m_storage->string().mid(selection.location, selection.length));
    m_replacedStatus.clear();
    if (m_findBar) m_findBar->setFindString(sharedFindString());
    m_findAnchor = selection.location;
    if (isFindBarVisible()) startCount();
    updateFindStatus();
    m_view.viewport()->update();
}

void TextServices::replaceCurrent()
{
    const TextFinder finder = currentFinder();
    if (!m_storage || finder.isEmpty()) return;
    if (!canEdit()) {
        QApplication::beep();
        return;
    }
    const Range selection = m_view.selectedRange();
    const auto match = finder.next(m_storage->string(), selection.location);
    if (match && *match == selection) {
        const QString replacement = m_findBar ? m_findBar->replaceString() : QString();
        TextView::EditOptions options;
        options.selection = Range(selection.location + replacement.size(), 0);
        if (!m_view.replaceCharacters(selection, replacement, options)) return;
    }
    findNext(false);
}

int TextServices::replaceAll()
{
    const TextFinder finder = currentFinder();
    if (!m_storage || finder.isEmpty()) return 0;
    if (!canEdit()) {
        QApplication::beep();
        return 0;
    }
    const std::vector<Range> matches = finder.matches(m_storage->string(), Range(0, m_storage->length()));
    if (matches.empty()) {
        QApplication::beep();
        if (m_findBar) m_findBar->setStatus(localized("find.status.notFound"));
        return 0;
    }
    const QString replacement = m_findBar ? m_findBar->replaceString() : QString();
    const QStringList texts(qsizetype(matches.size()), replacement);
    if (!m_view.replaceCharacters(matches, texts)) return 0;
    const int count = int(matches.size());
    m_replacedStatus = count == 1 ? localized("find.status.replacedOne")
                                  : localizedFormat(QStringLiteral("find.status.replaced"), {QLocale().toString(count)});
    updateFindStatus();
    m_view.ensureCursorVisible();
    return count;
}

// ---- Drawing ---------------------------------------------------------------------------

void TextServices::forEachVisibleBlock(const QRect& exposed, const std::function<void(const QTextBlock&)>& visit) const
{
    QTextDocument* document = m_view.document();
    QAbstractTextDocumentLayout* layout = document->documentLayout();
    const QPointF offset(-m_view.horizontalScrollBar()->value(), -m_view.verticalScrollBar()->value());
    const int first = m_view.cursorForPosition(exposed.topLeft()).position();
    for (QTextBlock block = document->findBlock(first); block.isValid(); block = block.next()) {
        const QRectF rect = layout->blockBoundingRect(block).translated(offset);
        if (rect.top() > exposed.bottom()) break;
        if (rect.bottom() < exposed.top()) continue;
        visit(block);
    }
}

void TextServices::drawRanges(QPainter& painter, const QTextBlock& block, const std::vector<Range>& ranges,
                              bool underline)
{
    const QTextLayout* layout = block.layout();
    if (!layout || ranges.empty()) return;
    const QPointF offset(-m_view.horizontalScrollBar()->value(), -m_view.verticalScrollBar()->value());
    const QPointF position = layout->position() + offset;
    const qsizetype start = block.position();
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        const qsizetype lineStart = start + line.textStart();
        const qsizetype lineEnd = lineStart + line.textLength();
        for (const Range& r : ranges) {
            const qsizetype from = std::max(r.location, lineStart);
            const qsizetype to = std::min(r.end(), lineEnd);
            if (from >= to) continue;
            const qreal x1 = position.x() + line.cursorToX(int(from - start));
            const qreal x2 = position.x() + line.cursorToX(int(to - start));
            const qreal left = std::min(x1, x2), right = std::max(x1, x2);
            const qreal top = position.y() + line.y();
            if (underline) {
                // A small wave under the word, just below the baseline.
                const qreal y = top + line.ascent() + std::max<qreal>(1.0, line.descent() * 0.35);
                const QPixmap& wave = waveTile(painter.device()->devicePixelRatioF());
                painter.drawTiledPixmap(QRectF(left, y, right - left, kWaveHeight), wave, QPointF(left, 0));
            } else {
                painter.drawRoundedRect(QRectF(left - 1, top, right - left + 2, line.ascent() + line.descent()), 2, 2);
            }
        }
    }
}

void TextServices::paintBelowText(QPainter& painter, const QRect& exposed)
{
    m_paintedMatches.clear();
    if (!m_storage || !isFindBarVisible()) return;
    const TextFinder finder = currentFinder();
    if (finder.isEmpty()) return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(matchColour(*Settings::shared().theme()));
    // Only the text that is shown is searched for highlights.
    forEachVisibleBlock(exposed, [&](const QTextBlock& block) {
        Range shown = shownPart(block, exposed);
        // A match may begin before the shown lines and end in them.
        shown = Range(std::max<qsizetype>(block.position(), shown.location - finder.pattern().size()),
                      shown.length + finder.pattern().size());
        // The text up to the paragraph's line break, which a whole-word
        // match looks at.
        const QStringView text =
            m_storage->stringBefore(std::min<qsizetype>(m_storage->length(), block.position() + block.length()));
        std::vector<Range> found = finder.matches(text, shown.intersection(Range(block.position(), block.length() - 1)));
        drawRanges(painter, block, found, false);
        m_paintedMatches.insert(m_paintedMatches.end(), found.begin(), found.end());
    });
}

void TextServices::paintAboveText(QPainter& painter, const QRect& exposed)
{
    m_paintedMisspellings.clear();
    if (!m_storage || !isContinuousSpellCheckingOn()) return;
    const Range selection = m_view.selectedRange();
    // The word being typed is not marked until the writer leaves it.
    const std::optional<qsizetype> typing =
        selection.isEmpty() && m_typingEnd == selection.location ? m_typingEnd : std::nullopt;
    m_firstShownBlock = -1;
    forEachVisibleBlock(exposed, [&](const QTextBlock& block) {
        if (m_firstShownBlock < 0) m_firstShownBlock = block.blockNumber();
        m_lastShownBlock = block.blockNumber();
        const Range paragraph(block.position(), std::max(0, block.length() - 1));
        std::vector<Range> found = paragraph.length > kLongParagraph ? misspellingsIn(shownPart(block, exposed))
                                                                     : misspellings(paragraph);
        if (typing) found.erase(std::remove_if(found.begin(), found.end(), [&](Range r) { return r.end() == *typing; }),
                                found.end());
        drawRanges(painter, block, found, true);
        m_paintedMisspellings.insert(m_paintedMisspellings.end(), found.begin(), found.end());
    });
    if (m_firstShownBlock >= 0) m_precheckTimer.start();
}

void TextServices::precheckAroundShownText()
{
    if (!m_storage || !isContinuousSpellCheckingOn() || m_firstShownBlock < 0) return;
    QTextDocument* document = m_view.document();
    const int from = std::max(0, m_firstShownBlock - kPrecheckBlocks);
    const int to = std::min(document->blockCount() - 1, m_lastShownBlock + kPrecheckBlocks);
    for (QTextBlock block = document->findBlockByNumber(from); block.isValid() && block.blockNumber() <= to;
         block = block.next())
        if (block.length() - 1 <= kLongParagraph) misspellings(Range(block.position(), std::max(0, block.length() - 1)));
}

// ---- Spelling --------------------------------------------------------------------------

bool TextServices::isContinuousSpellCheckingOn() const
{
    return m_view.textOption(QString::fromLatin1(kContinuous)) && SpellChecker::shared().isAvailable();
}

std::vector<Range> TextServices::misspellings(Range paragraph)
{
    std::vector<Range> found;
    if (!m_storage) return found;
    paragraph = paragraph.intersection(Range(0, m_storage->length()));
    if (paragraph.isEmpty() || fences().contains(paragraph.location)) return found;
    const QString key = m_storage->substring(paragraph);
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

Range TextServices::shownPart(const QTextBlock& block, const QRect& exposed) const
{
    const Range whole(block.position(), std::max(0, block.length() - 1));
    const QTextLayout* layout = block.layout();
    if (whole.length <= kLongParagraph || !layout || layout->lineCount() == 0) return whole;
    const qreal top = layout->position().y() - m_view.verticalScrollBar()->value();
    qsizetype from = -1, to = -1;
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        if (top + line.y() + line.height() < exposed.top() || top + line.y() > exposed.bottom()) continue;
        if (from < 0) from = line.textStart();
        to = line.textStart() + line.textLength();
    }
    if (from < 0) return Range(whole.location, 0);
    // Out to the spaces around, so that no word is cut.
    const TextStorage& text = *m_storage;
    qsizetype a = whole.location + from, b = whole.location + to;
    for (int n = 0; a > whole.location && n < 64 && !text.characterAt(a - 1).isSpace(); ++n) --a;
    for (int n = 0; b < whole.end() && n < 64 && !text.characterAt(b).isSpace(); ++n) ++b;
    return Range(a, b - a);
}

std::vector<Range> TextServices::misspellingsIn(Range stretch)
{
    if (!m_storage || stretch.isEmpty() || fences().contains(stretch.location)) return {};
    // The stretch and the line break after it, which is all either reads.
    const QStringView text = m_storage->stringBefore(std::min<qsizetype>(m_storage->length(), stretch.end() + 2));
    return SpellChecker::shared().misspellings(text, stretch, syntaxRanges(text, stretch));
}

std::optional<Range> TextServices::misspellingAt(qsizetype position)
{
    if (!m_storage) return std::nullopt;
    const QString& text = m_storage->string();
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

bool TextServices::checkDocument()
{
    SpellChecker& checker = SpellChecker::shared();
    if (!m_storage || !checker.isAvailable()) {
        QApplication::beep();
        return false;
    }
    const QString& text = m_storage->string();
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

void TextServices::showSpellingPanel()
{
    SpellingPanel& panel = SpellingPanel::shared();
    panel.setClient(this, this);
    panel.show();
    panel.raise();
    const Range selection = m_view.selectedRange();
    const auto word = misspellingAt(selection.location);
    if (word && *word == selection) {
        const QString text = m_storage->string().mid(word->location, word->length);
        panel.showMisspelling(text, SpellChecker::shared().suggestions(text));
    } else {
        checkDocument();
    }
}

void TextServices::spellingChanged() { SpellingWords::announceChange(); }

void TextServices::changeMisspelling(const QString& replacement)
{
    const Range selection = m_view.selectedRange();
    if (!m_storage || selection.isEmpty() || replacement.isEmpty()) return;
    TextView::EditOptions options;
    options.selection = Range(selection.location + replacement.size(), 0);
    m_view.replaceCharacters(selection, replacement, options);
    checkDocument();
}

void TextServices::findNextMisspelling() { checkDocument(); }

void TextServices::ignoreMisspelling(const QString& word)
{
    SpellChecker::shared().ignore(word);
    spellingChanged();
    checkDocument();
}

void TextServices::learnMisspelling(const QString& word)
{
    SpellChecker::shared().learn(word);
    spellingChanged();
    checkDocument();
}

void TextServices::addContextMenuItems(QMenu* menu, const QPoint& position)
{
    if (!m_storage || !SpellChecker::shared().isAvailable()) return;
    const qsizetype at = m_view.cursorForPosition(position).position();
    const auto word = misspellingAt(at);
    if (!word) return;
    const QString misspelt = m_storage->string().mid(word->location, word->length);
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
        action->setEnabled(canEdit());
        connect(action, &QAction::triggered, this, [this, range, misspelt, guess] {
            if (!m_storage || m_storage->string().mid(range.location, range.length) != misspelt) return;
            TextView::EditOptions options;
            options.selection = Range(range.location + guess.size(), 0);
            m_view.replaceCharacters(range, guess, options);
        });
    }
    menu->insertSeparator(before);
    connect(add(localized("spelling.menu.ignore")), &QAction::triggered, this, [this, misspelt] {
        SpellChecker::shared().ignore(misspelt);
        spellingChanged();
    });
    connect(add(localized("spelling.menu.learn")), &QAction::triggered, this, [this, misspelt] {
        SpellChecker::shared().learn(misspelt);
        spellingChanged();
    });
    if (before) menu->insertSeparator(before);
}

// ---- Substitutions ---------------------------------------------------------------------

void TextServices::textWasTyped(Range typed)
{
    if (m_substituting || !m_storage || typed.isEmpty()) return;
    m_typingEnd = typed.end();
    const qsizetype typedAt = typed.end() - 1;
    // Substitutions look at the paragraph typed in, up to the caret.
    const QStringView text = m_storage->stringBefore(m_storage->paragraphBounds(Range(std::max<qsizetype>(typedAt, 0), 0)).end);
    if (typedAt < 0 || typedAt >= text.size()) return;
    const QChar c = text[typedAt];
    const auto on = [this](const char* key) { return m_view.textOption(QString::fromLatin1(key)); };

    std::optional<text::Substitution> change;
    if (on(kQuotes) && (c == u'"' || c == u'\'')) change = text::smartQuote(text, typedAt);
    if (!change && on(kDashes)) change = text::smartDash(text, typedAt);
    if (!change && on(kReplacement) && text::endsReplacementShortcut(c))
        change = text::textReplacement(text, typedAt, TextReplacements::entries());
    if (change && !isProse(change->range.location)) change.reset();
    if (!change && on(kCorrection) && text::endsReplacementShortcut(c)) {
        if (const auto fix = correctionBefore(typedAt)) change = text::Substitution{fix->first, fix->second};
    }
    if (change) applySubstitution(change->range, change->replacement);
}

std::optional<std::pair<Range, QString>> TextServices::correctionBefore(qsizetype typedAt)
{
    SpellChecker& checker = SpellChecker::shared();
    if (!checker.isAvailable()) return std::nullopt;
    const QStringView text = m_storage->stringBefore(m_storage->paragraphBounds(Range(typedAt, 0)).end);
    const auto word = text::wordAt(text, typedAt);
    if (!word || word->end() != typedAt || !isProse(word->location)) return std::nullopt;
    const auto fix = checker.correction(QStringView(text).sliced(word->location, word->length));
    if (!fix) return std::nullopt;
    return std::make_pair(*word, *fix);
}

void TextServices::applySubstitution(Range range, const QString& replacement)
{
    const Range caret = m_view.selectedRange();
    const qsizetype delta = replacement.size() - range.length;
    TextView::EditOptions options;
    options.selection = Range(caret.location >= range.end() ? caret.location + delta : caret.location, 0);
    options.silent = true;
    m_substituting = true;
    // An undo step of its own: undoing it gives back what was typed.
    if (UndoManager* undo = m_view.undoManager()) undo->breakCoalescing();
    m_view.replaceCharacters(range, replacement, options);
    m_substituting = false;
    if (m_typingEnd && *m_typingEnd >= range.end()) *m_typingEnd += delta;
}

QString TextServices::smartPasteText(Range range, const QString& pasted)
{
    if (!m_storage || !m_view.textOption(QString::fromLatin1(kSmartInsert))) return pasted;
    const auto [before, after] = text::smartInsertPadding(m_storage->string(), range, pasted);
    return before + pasted + after;
}

Range TextServices::smartDeleteRange(Range range)
{
    if (!m_storage || !m_view.textOption(QString::fromLatin1(kSmartInsert))) return range;
    return text::smartDeleteRange(m_storage->string(), range);
}

void TextServices::showSubstitutionsPanel()
{
    SubstitutionsPanel& panel = SubstitutionsPanel::shared();
    panel.setOptions({[this](const QString& key) { return m_view.textOption(key); },
                      [this](const QString& key, bool on) { m_view.setTextOption(key, on); }},
                     this);
    panel.show();
    panel.raise();
}

// ---- Transformations and speech ------------------------------------------------------------

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

void TextServices::speak()
{
    const Range selection = m_view.selectedRange();
    const QString& text = m_storage->string();
    SpeechSynthesizer::shared().speak(selection.isEmpty() ? text : text.mid(selection.location, selection.length));
}

} // namespace lumora
