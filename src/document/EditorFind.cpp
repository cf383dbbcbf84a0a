#include "document/EditorFind.h"

#include "document/FindBar.h"
#include "document/ShownText.h"
#include "document/TextServices.h"
#include "document/TextView.h"
#include "platform/foundation/Localization.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "settings/Theme.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QTextBlock>

#include <algorithm>

namespace lumora {

namespace {

// Typing in the find field looks this far from the caret at once; the rest
// of a long text is searched on the background pool.
constexpr qsizetype kQuickSearchLength = 256 * 1024;
// After an edit the count waits for a pause in typing.
constexpr int kRecountDelayMs = 200;

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

} // namespace

EditorFind::EditorFind(TextView& view, TextServices& services) : m_view(view), m_services(services)
{
    m_countTimer.setSingleShot(true);
    m_countTimer.setInterval(kRecountDelayMs);
    connect(&m_countTimer, &QTimer::timeout, this, &EditorFind::startCount);
    connect(&m_view, &QTextEdit::cursorPositionChanged, this, [this] {
        // The writer moved: typing in the find field searches from there.
        if (!m_selectingMatch) m_findAnchor.reset();
        if (isFindBarVisible()) updateFindStatus();
    });
}

EditorFind::~EditorFind() { m_counter.cancel(); }

QString EditorFind::sharedFindString() { return sharedFind().string; }
void EditorFind::setSharedFindString(const QString& text) { sharedFind().string = text; }
FindOptions EditorFind::sharedFindOptions() { return sharedFind().options; }
void EditorFind::setSharedFindOptions(FindOptions options) { sharedFind().options = options; }

TextFinder EditorFind::currentFinder() const { return TextFinder(sharedFindString(), sharedFindOptions()); }

bool EditorFind::isFindBarVisible() const { return m_findBar && !m_findBar->isHidden(); }

void EditorFind::textReplaced()
{
    m_count.reset();
    m_counter.cancel();
    if (isFindBarVisible()) startCount();
}

void EditorFind::textGone()
{
    m_counter.cancel();
    m_count.reset();
}

void EditorFind::textChanged()
{
    m_countStale = true;
    m_replacedStatus.clear();
    if (isFindBarVisible()) m_countTimer.start();
}

void EditorFind::applyTheme()
{
    if (m_findBar) m_findBar->applyTheme(*Settings::shared().theme());
}

void EditorFind::showFindBar(bool withReplace)
{
    const bool wasVisible = isFindBarVisible();
    if (!m_findBar) {
        m_findBar = new FindBar(&m_view);
        m_findBar->hide();
        m_findBar->applyTheme(*Settings::shared().theme());
        connect(m_findBar, &FindBar::findStringEdited, this, &EditorFind::findStringEdited);
        connect(m_findBar, &FindBar::optionsChanged, this, &EditorFind::findOptionsChanged);
        connect(m_findBar, &FindBar::nextRequested, this, [this] { findNext(false); });
        connect(m_findBar, &FindBar::previousRequested, this, [this] { findNext(true); });
        connect(m_findBar, &FindBar::replaceRequested, this, &EditorFind::replaceCurrent);
        connect(m_findBar, &FindBar::replaceAllRequested, this, &EditorFind::replaceAll);
        connect(m_findBar, &FindBar::closeRequested, this, &EditorFind::closeFindBar);
    }
    m_findBar->setFindString(sharedFindString());
    m_findBar->setOptions(sharedFindOptions());
    m_findBar->setReplaceVisible(withReplace);
    m_findBar->show();
    m_services.layoutFindBar();
    m_findBar->focusFindField();
    m_findAnchor = m_view.selectedRange().location;
    m_replacedStatus.clear();
    if (!wasVisible || m_countStale || !m_count) startCount();
    updateFindStatus();
    m_view.viewport()->update();
    if (!wasVisible) emit findBarVisibilityChanged(true);
}

void EditorFind::closeFindBar()
{
    if (!isFindBarVisible()) return;
    m_findBar->hide();
    m_counter.cancel();
    m_countTimer.stop();
    m_services.layoutFindBar();
    m_view.setFocus(Qt::OtherFocusReason);
    m_paintedMatches.clear();
    m_view.viewport()->update();
    emit findBarVisibilityChanged(false);
}

int EditorFind::placeFindBar()
{
    const int height = isFindBarVisible() ? m_findBar->sizeHint().height() : 0;
    if (height > 0) m_findBar->setGeometry(0, 0, m_view.width(), height);
    return height;
}

void EditorFind::findStringEdited(const QString& text)
{
    setSharedFindString(text);
    m_replacedStatus.clear();
    const TextStorage* storage = m_services.storage();
    if (!storage) return;
    const TextFinder finder = currentFinder();
    const qsizetype anchor = m_findAnchor.value_or(m_view.selectedRange().location);
    m_findAnchor = anchor;
    bool found = false;
    if (!finder.isEmpty()) {
        // Near the caret at once; the rest of a long text when the count comes.
        const QString& string = storage->string();
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

void EditorFind::findOptionsChanged()
{
    if (!m_findBar) return;
    setSharedFindOptions(m_findBar->options());
    findStringEdited(m_findBar->findString());
}

void EditorFind::startCount()
{
    m_countTimer.stop();
    const TextFinder finder = currentFinder();
    const TextStorage* storage = m_services.storage();
    if (!storage || finder.isEmpty()) {
        m_counter.cancel();
        m_count.reset();
        m_countStale = false;
        updateFindStatus();
        return;
    }
    m_countStale = true;
    m_counter.start(storage->string(), finder,
                    [this](std::shared_ptr<const BackgroundFinder::Result> result) { countFinished(std::move(result)); });
}

void EditorFind::countFinished(std::shared_ptr<const BackgroundFinder::Result> result)
{
    const TextStorage* storage = m_services.storage();
    if (!storage || result->textLength != storage->length()) {
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

void EditorFind::updateFindStatus()
{
    if (!m_findBar) return;
    m_findBar->setReplaceEnabled(m_services.canEdit());
    if (!m_replacedStatus.isEmpty()) {
        m_findBar->setStatus(m_replacedStatus);
        return;
    }
    const TextFinder finder = currentFinder();
    if (finder.isEmpty() || !m_services.storage()) {
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

void EditorFind::selectMatch(Range range)
{
    m_selectingMatch = true;
    m_view.setSelectedRange(range);
    m_view.ensureCursorVisible();
    m_selectingMatch = false;
}

QString EditorFind::findStatus() const { return m_findBar ? m_findBar->status() : QString(); }

bool EditorFind::findNext(bool backwards)
{
    const TextFinder finder = currentFinder();
    const TextStorage* storage = m_services.storage();
    if (!storage || finder.isEmpty()) {
        QApplication::beep();
        return false;
    }
    const Range selection = m_view.selectedRange();
    const auto found = finder.find(storage->string(), backwards ? selection.location : selection.end(), backwards, true);
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

void EditorFind::useSelectionForFind()
{
    const Range selection = m_view.selectedRange();
    const TextStorage* storage = m_services.storage();
    if (!storage || selection.isEmpty()) return;
    setSharedFindString(storage->string().mid(selection.location, selection.length));
    m_replacedStatus.clear();
    if (m_findBar) m_findBar->setFindString(sharedFindString());
    m_findAnchor = selection.location;
    if (isFindBarVisible()) startCount();
    updateFindStatus();
    m_view.viewport()->update();
}

void EditorFind::replaceCurrent()
{
    const TextFinder finder = currentFinder();
    const TextStorage* storage = m_services.storage();
    if (!storage || finder.isEmpty()) return;
    if (!m_services.canEdit()) {
        QApplication::beep();
        return;
    }
    const Range selection = m_view.selectedRange();
    const auto match = finder.next(storage->string(), selection.location);
    if (match && *match == selection) {
        const QString replacement = m_findBar ? m_findBar->replaceString() : QString();
        TextView::EditOptions options;
        options.selection = Range(selection.location + replacement.size(), 0);
        if (!m_view.replaceCharacters(selection, replacement, options)) return;
    }
    findNext(false);
}

int EditorFind::replaceAll()
{
    const TextFinder finder = currentFinder();
    const TextStorage* storage = m_services.storage();
    if (!storage || finder.isEmpty()) return 0;
    if (!m_services.canEdit()) {
        QApplication::beep();
        return 0;
    }
    const std::vector<Range> matches = finder.matches(storage->string(), Range(0, storage->length()));
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

void EditorFind::paintMatches(QPainter& painter, const QRect& exposed)
{
    m_paintedMatches.clear();
    const TextStorage* storage = m_services.storage();
    if (!storage || !isFindBarVisible()) return;
    const TextFinder finder = currentFinder();
    if (finder.isEmpty()) return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(matchColour(*Settings::shared().theme()));
    // Only the text that is shown is searched for highlights.
    shown_text::forEachBlock(m_view, exposed, [&](const QTextBlock& block) {
        Range shown = shown_text::partOf(m_view, *storage, block, exposed);
        // A match may begin before the shown lines and end in them.
        shown = Range(std::max<qsizetype>(block.position(), shown.location - finder.pattern().size()),
                      shown.length + finder.pattern().size());
        // The text up to the paragraph's line break, which a whole-word
        // match looks at.
        const QStringView text =
            storage->stringBefore(std::min<qsizetype>(storage->length(), block.position() + block.length()));
        std::vector<Range> found = finder.matches(text, shown.intersection(Range(block.position(), block.length() - 1)));
        shown_text::drawMarks(painter, m_view, block, found, shown_text::Mark::highlight);
        m_paintedMatches.insert(m_paintedMatches.end(), found.begin(), found.end());
    });
}

} // namespace lumora
