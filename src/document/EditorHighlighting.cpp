#include "document/EditorHighlighting.h"

#include "document/TextView.h"

#include "markdown/FocusHighlighting.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "settings/Theme.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

Settings& settings() { return Settings::shared(); }

} // namespace

void EditorHighlighting::update()
{
    TextStorage* storage = m_view.textStorage();
    if (!storage) return;
    const Range focus = lumora::focusRange(*storage, m_view.selectedRange(), settings().highlighting());
    {
        TextMirror::ColourAlphaPass pass;
        highlightFocus(*storage, focus, false);
    }
    if (focus != m_focusRange) {
        m_focusRange = focus;
        m_view.viewport()->update();
    }
}

void EditorHighlighting::updateAttributes()
{
    applyTheme(*settings().theme());
    TextStorage* storage = m_view.textStorage();
    if (!storage) return;
    if (settings().highlighting() == Settings::Highlighting::off) {
        // Nothing is dimmed: the colours stay as the styling gave them, with
        // the stylesheet's own alphas (a pass would lift them all to full
        // strength, on every character of the text).
        TextMirror::ColourAlphaPass pass;
        storage->removeAttribute(AttributeKey::HighlightColor, Range(0, storage->length()));
        m_focusRange = Range(0, storage->length());
        m_view.viewport()->update();
        return;
    }
    const Range focus = lumora::focusRange(*storage, m_view.selectedRange(), settings().highlighting());
    {
        TextMirror::ColourAlphaPass pass;
        highlightFocus(*storage, focus, true);
    }
    m_focusRange = focus;
    m_view.viewport()->update();
}

void EditorHighlighting::applyTheme(const Theme& theme)
{
    QPalette p = m_view.palette();
    const QColor background = theme.backgroundColor.toQColor();
    const QColor foreground = theme.foregroundColor.toQColor();
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::Window, background);
    // All text carries its own colour, so the text colour of the palette
    // only draws the caret.
    p.setColor(QPalette::Text, theme.cursorColor.toQColor());
    QColor selection = foreground;
    selection.setAlphaF(float(unhighlightedTextAlpha));
    p.setColor(QPalette::Highlight, selection);
    p.setColor(QPalette::HighlightedText, foreground);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Highlight, selection);
        p.setColor(group, QPalette::HighlightedText, foreground);
    }
    m_view.setPalette(p);
    m_view.viewport()->update();
}

// The selection fills whole line boxes, the space between lines included,
// where Qt repaints only the glyphs' rectangles: the blocks the old and the
// new selection cover are repainted whole, so no strip of a selection stays
// behind.
void EditorHighlighting::repaintSelectionBlocks(Range before, Range after)
{
    const QTextDocument* document = m_view.document();
    QAbstractTextDocumentLayout* layout = document->documentLayout();
    const int characters = document->characterCount();
    QRectF area;
    for (const Range r : {before, after}) {
        if (r.isEmpty()) continue;
        const QTextBlock first = document->findBlock(int(std::min<qsizetype>(r.location, characters - 1)));
        const QTextBlock last = document->findBlock(int(std::min<qsizetype>(r.end(), characters - 1)));
        const QRectF top = layout->blockBoundingRect(first);
        const QRectF bottom = layout->blockBoundingRect(last);
        area |= QRectF(0, top.top(), m_view.viewport()->width(), bottom.bottom() - top.top());
    }
    if (area.isEmpty()) return;
    area.translate(0, -m_view.verticalScrollBar()->value());
    m_view.viewport()->update(area.toAlignedRect().adjusted(0, -2, 0, 2) & m_view.viewport()->rect());
}

// Focus highlighting is drawn, not stored in formats: everything outside the
// focus is covered by the background at 70%, which shows the text at 30%.
void EditorHighlighting::paintFocusDimming()
{
    const TextStorage* storage = m_view.textStorage();
    if (!storage || settings().highlighting() == Settings::Highlighting::off) return;
    const Range focus = m_focusRange;
    if (focus.location <= 0 && focus.end() >= storage->length()) return;

    const QRect view = m_view.viewport()->rect();
    const QPointF offset(-m_view.horizontalScrollBar()->value(), -m_view.verticalScrollBar()->value());
    const QTextDocument* document = m_view.document();
    QAbstractTextDocumentLayout* layout = document->documentLayout();
    QRegion lit;
    for (QTextBlock block = document->findBlock(int(focus.location));
         block.isValid() && block.position() <= focus.end(); block = block.next()) {
        const QRectF blockRect = layout->blockBoundingRect(block).translated(offset);
        if (blockRect.top() > view.bottom()) break;
        if (blockRect.bottom() < view.top()) continue;
        const QTextLayout* textLayout = block.layout();
        const QPointF origin = textLayout->position() + offset;
        const qsizetype start = block.position();
        for (int i = 0; i < textLayout->lineCount(); ++i) {
            const QTextLine line = textLayout->lineAt(i);
            const qsizetype from = std::max(start + line.textStart(), focus.location);
            const qsizetype to = std::min(start + line.textStart() + line.textLength(), focus.end());
            if (from >= to) continue;
            const qreal x1 = line.cursorToX(int(from - start));
            const qreal x2 = line.cursorToX(int(to - start));
            lit += QRectF(origin.x() + std::min(x1, x2), origin.y() + line.y(), std::abs(x2 - x1), line.height())
                       .toAlignedRect();
        }
    }
    QPainter painter(m_view.viewport());
    QColor veil = m_view.palette().color(QPalette::Base);
    veil.setAlphaF(float(1.0 - unhighlightedTextAlpha));
    painter.setClipRegion(QRegion(view).subtracted(lit));
    painter.fillRect(view, veil);
}

} // namespace lumora
