#include "document/EditorScrolling.h"

#include "document/TextView.h"

#include "platform/text/EditorLayout.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"

#include <QAbstractTextDocumentLayout>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace lumora {

void EditorScrolling::updateInsets(bool keepPlace)
{
    double h = Settings::windowedVerticalInset;
    if (m_view.window()->isFullScreen()) {
        const QScreen* screen = m_view.window()->screen();
        h = std::round((screen ? screen->geometry().height() : 0) * Settings::fullscreenVerticalInsetFraction);
    }
    // Typewriter scrolling needs room below the text so that the last line,
    // where most writing happens, can rise to the middle. The top keeps the
    // plain inset: a document opens with its first lines at the top, and a
    // caret near the start simply stays above the middle.
    const double bottom = Settings::shared().isTypewriterScrollingEnabled()
        ? std::max(h, std::round(m_view.viewport()->height() * 0.5))
        : h;
    const double w = m_view.viewport()->width();
    const double s = Settings::shared().editorSize();
    const double padding = s == 0 ? 0.0 : std::max(0.0, std::round(w - s) * 0.5);
    const QMarginsF margins(padding, h, padding, bottom);
    if (margins == m_view.mirror().rootFrameMargins()) return;
    // New insets (entering or leaving full screen) leave the text where it
    // stood in the view.
    const ViewAnchor anchor = viewAnchor();
    m_view.mirror().setRootFrameMargins(margins);
    if (keepPlace) restoreViewAnchor(anchor);
}

// A line scrolled out of sight counts as standing at the nearest edge, so
// that the edit brings it into view there.
void EditorScrolling::noteInsertionLine(bool typewriter)
{
    if (!typewriter) {
        m_oldInsertionOrigin.reset();
        return;
    }
    const int bottom = insertionBottom();
    const int height = std::max(1, m_view.cursorRect().height());
    const int viewHeight = m_view.viewport()->height();
    m_oldInsertionOrigin = std::clamp(bottom, std::min(height, viewHeight), viewHeight);
}

int EditorScrolling::insertionBottom() const
{
    const Range s = m_view.selectedRange();
    // The line of the last selected character, or of the caret.
    QTextCursor c(m_view.document());
    c.setPosition(int(s.isEmpty() ? s.location : s.end() - 1));
    const QRect line = m_view.cursorRect(c);
    return line.y() + line.height();
}

// After an edit the line of the selection stands at the height of the view
// where it stood before (see noteInsertionLine), as far as the text can
// scroll: a typewriter keeps the writer's line in one place.
void EditorScrolling::keepInsertionLineInPlace()
{
    if (!m_oldInsertionOrigin) return;
    QScrollBar* bar = m_view.verticalScrollBar();
    const int inDocument = insertionBottom() + bar->value();
    bar->setValue(std::clamp(inDocument - *m_oldInsertionOrigin, 0, std::max(0, bar->maximum())));
}

EditorScrolling::ViewAnchor EditorScrolling::viewAnchor() const
{
    const QRect caret = m_view.cursorRect();
    if (caret.bottom() >= 0 && caret.top() < m_view.viewport()->height())
        return {m_view.textCursor().position(), caret.top(), true};
    const QTextCursor top = m_view.cursorForPosition(QPoint(m_view.viewport()->width() / 2, 0));
    return {top.position(), m_view.cursorRect(top).top(), false};
}

void EditorScrolling::restoreViewAnchor(const ViewAnchor& anchor)
{
    // A new width or inset leaves the text above only estimated: measured
    // first, it cannot move the anchor's line again when it is painted.
    measureShownAround(anchor.position, anchor.y);
    QTextCursor c(m_view.document());
    c.setPosition(int(std::clamp<qsizetype>(anchor.position, 0, m_view.document()->characterCount() - 1)));
    QScrollBar* bar = m_view.verticalScrollBar();
    bar->setValue(bar->value() + m_view.cursorRect(c).top() - anchor.y);
    if (!anchor.isCaret) return;
    const QRect line = m_view.cursorRect(c);
    const int height = m_view.viewport()->height();
    if (line.bottom() >= height) bar->setValue(bar->value() + std::min(line.top(), line.bottom() - height + 1));
}

void EditorScrolling::centerSelection()
{
    if (!m_view.textStorage()) return;
    const Range selection = m_view.selectedRange();
    measureShownAround(selection.location, m_view.viewport()->height() / 2);
    QTextCursor start(m_view.document());
    start.setPosition(int(selection.location));
    QTextCursor end(m_view.document());
    end.setPosition(int(selection.end()));
    const int middle = (m_view.cursorRect(start).top() + m_view.cursorRect(end).bottom()) / 2;
    QScrollBar* bar = m_view.verticalScrollBar();
    bar->setValue(bar->value() + middle - m_view.viewport()->height() / 2);
}

Range EditorScrolling::shownRange() const
{
    if (!m_view.textStorage()) return Range();
    const qsizetype length = m_view.textStorage()->length();
    const EditorLayout* layout = m_view.mirror().layout();
    const double height = m_view.viewport()->height();
    const double top = m_view.verticalScrollBar()->value();
    const QTextBlock first = layout->blockAt(top - height);
    const QTextBlock last = layout->blockAt(top + 2 * height);
    const qsizetype from = std::min<qsizetype>(first.position(), length);
    const qsizetype to = std::clamp<qsizetype>(last.position() + last.length() - 1, from, length);
    return Range(from, to - from);
}

int EditorScrolling::selectionDistanceFromTop() const
{
    QTextDocument* document = m_view.document();
    QTextCursor start(document);
    start.setPosition(int(std::clamp<qsizetype>(m_view.selectedRange().location, 0, document->characterCount() - 1)));
    return m_view.cursorRect(start).top();
}

void EditorScrolling::scrollPositionToDistanceFromTop(qsizetype position, int distance)
{
    position = std::clamp<qsizetype>(position, 0, m_view.document()->characterCount() - 1);
    measureShownAround(position, distance);
    QTextCursor at(m_view.document());
    at.setPosition(int(position));
    QScrollBar* bar = m_view.verticalScrollBar();
    bar->setValue(bar->value() + m_view.cursorRect(at).top() - distance);
}

// The paragraphs that will stand in the view once position is `distance`
// below its top are measured first: the layout only estimates text it has
// not shown, and measuring them when they are painted would move position
// away from where it was put. Those below count too: near the end of a text
// estimated too short, the view's range would not reach the place.
void EditorScrolling::measureShownAround(qsizetype position, int distance)
{
    const QTextDocument* document = m_view.document();
    QAbstractTextDocumentLayout* layout = document->documentLayout();
    const QTextBlock at = document->findBlock(int(std::clamp<qsizetype>(position, 0, document->characterCount() - 1)));
    double covered = -layout->blockBoundingRect(at).height();
    for (QTextBlock b = at; b.isValid() && covered <= distance; b = b.previous())
        covered += layout->blockBoundingRect(b).height();
    covered = 0;
    const int below = m_view.viewport()->height() - distance;
    for (QTextBlock b = at.next(); b.isValid() && covered <= below; b = b.next())
        covered += layout->blockBoundingRect(b).height();
    // Finding them measured more of the text: the scroll range must know
    // that before it can reach down there.
    if (const auto* editorLayout = qobject_cast<const EditorLayout*>(layout)) editorLayout->updateDocumentSize();
}

} // namespace lumora
