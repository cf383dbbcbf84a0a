#include "shell/WindowPanes.h"

#include "document/DocumentViewController.h"
#include "document/OutlineViewController.h"
#include "document/TextView.h"
#include "library/LibraryViewController.h"
#include "platform/application/DocumentWindowBase.h"
#include "settings/Settings.h"
#include "widgets/ViewUtilities.h"

#include <QScrollBar>
#include <QSplitterHandle>

namespace lumora {

namespace {

const QString kSplitView = QStringLiteral("mainSplitView");
// The side panes keep their width while the window grows.
constexpr int kSidePanePriority = 251;

bool isOver(const QWidget* pane, bool shown, const QPoint& global)
{
    return shown && QRect(pane->mapToGlobal(QPoint(0, 0)), pane->size()).contains(global);
}

} // namespace

WindowPanes::WindowPanes(DocumentWindowBase& window)
{
    m_library = new LibraryViewController();
    m_editor = new DocumentViewController();
    m_outline = new OutlineViewController();
    m_splitView = new SplitView({{m_library, true, true, kSidePanePriority},
                                 {m_editor, false, false, 250},
                                 {m_outline, true, true, kSidePanePriority}},
                                kSplitView);
    m_splitView->setHandleWidth(1);
    m_splitView->setChildrenCollapsible(false);
    window.setCentralWidget(m_splitView);
}

bool WindowPanes::isLibraryVisible() const { return !m_splitView->isItemCollapsed(libraryItem); }

bool WindowPanes::isOutlineVisible() const { return !m_splitView->isItemCollapsed(outlineItem); }

void WindowPanes::setLibraryCollapsed(bool collapsed) { m_splitView->setItemCollapsed(libraryItem, collapsed); }

void WindowPanes::setOutlineCollapsed(bool collapsed) { m_splitView->setItemCollapsed(outlineItem, collapsed); }

int WindowPanes::sidePanesWidth() const
{
    // A pane of a window not yet shown has no width of its own yet.
    const auto paneWidth = [this](int item, QWidget* pane) {
        const int width = m_splitView->sizes().value(item);
        return (width > 0 ? width : pane->sizeHint().width()) + m_splitView->handleWidth();
    };
    int sides = 0;
    if (isLibraryVisible()) sides += paneWidth(libraryItem, m_library);
    if (isOutlineVisible()) sides += paneWidth(outlineItem, m_outline);
    return sides;
}

bool WindowPanes::isOverLibrary(const QPoint& global) const { return isOver(m_library, isLibraryVisible(), global); }

bool WindowPanes::isOverOutline(const QPoint& global) const { return isOver(m_outline, isOutlineVisible(), global); }

void WindowPanes::applyTheme(const QColor& background, const QColor& foreground)
{
    // A new window palette reaches the panes, and would undo the editor's
    // own colours: they are set again after it. (No style sheets here: one
    // on a parent would override the editor's palette.)
    m_editor->applyTheme();
    // The hairlines between the panes.
    for (int i = 1; i < m_splitView->count(); ++i) {
        QSplitterHandle* handle = m_splitView->handle(i);
        QPalette palette = handle->palette();
        palette.setColor(QPalette::Window, views::separatorColor(background, foreground));
        handle->setPalette(palette);
        handle->setAutoFillBackground(true);
    }
    m_library->applyTheme();
    m_outline->applyTheme();
    // A thin scroller on the page that does not draw the eye.
    views::applyThinScroller(m_editor->textView()->verticalScrollBar(), foreground, Settings::scrollerAlpha);
}

} // namespace lumora
