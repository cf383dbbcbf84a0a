#include "shell/TitleStripController.h"

#include "document/Document.h"
#include "document/DocumentViewController.h"
#include "document/OutlineViewController.h"
#include "document/TextView.h"
#include "library/LibraryViewController.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/application/Menu.h"
#include "shell/WindowController.h"
#include "shell/WindowPanes.h"
#include "widgets/ViewUtilities.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QKeyEvent>

#include <algorithm>
#include <array>

namespace lumora {

namespace {

// Tells each document window of the popup menus and dialogs that open in
// front of it. One for the application.
class PopupWatcher : public QObject {
public:
    static void install()
    {
        static QPointer<PopupWatcher> watcher;
        if (watcher || !qApp) return;
        watcher = new PopupWatcher(qApp);
        qApp->installEventFilter(watcher);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if ((type != QEvent::Show && type != QEvent::Hide) || !watched->isWidgetType()) return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (!widget->isWindow()) return false;
        const bool popup = widget->windowType() == Qt::Popup;
        const bool dialog = !popup && qobject_cast<QDialog*>(widget) && widget->isModal();
        if (!popup && !dialog) return false;
        if (type == QEvent::Show) {
            // A menu of the menu bar has no parent: it belongs to the window
            // the writer is in.
            QWidget* parent = widget->parentWidget();
            WindowController* owner = WindowController::of(parent ? parent
                                                                   : ActionDispatcher::instance().keyWindow());
            if (!owner) return false;
            if (popup) owner->titleStrip().popupWillShow(widget);
            else owner->titleStrip().sheetWillBegin(widget);
        } else {
            for (WindowController* controller : WindowController::all()) {
                if (popup) controller->titleStrip().popupDidClose(widget);
                else controller->titleStrip().sheetDidEnd(widget);
            }
        }
        return false;
    }

private:
    using QObject::QObject;
};

} // namespace

TitleStripController::TitleStripController(DocumentWindowBase& window, WindowPanes& panes, QMenuBar* menuBar,
                                           QObject* parent)
    : QObject(parent), m_window(window), m_panes(panes), m_menuBar(menuBar)
{
    PopupWatcher::install();
    // The strip floats over the panes and starts hidden.
    m_window.setTitleStripFloating(true);
    m_window.setTitleStripAlpha(0.0, false);
    TextView* view = m_panes.editor().textView();
    // Room for the strip at the top of the editor's scroll bar while the
    // strip shows.
    m_scrollerInset = new QWidget();
    m_scrollerInset->setFixedHeight(TitleStrip::stripHeight);
    m_scrollerInset->hide();
    view->addScrollBarWidget(m_scrollerInset, Qt::AlignTop);
    connect(view, &TextView::findBarVisibilityChanged, this, [this](bool visible) {
        titleBarHidden = !visible;
        updateTitleBar();
    });
    // What Qt does while it takes the window down (hiding it, moving the
    // focus, closing its menus) no longer concerns the strip.
    connect(&m_window, &DocumentWindowBase::destroying, this, [this] {
        m_windowGone = true;
        disconnect(qApp, nullptr, this, nullptr);
    });
    connect(&m_window, &DocumentWindowBase::mouseMoved, this, &TitleStripController::mouseMoved);
    connect(&m_window, &DocumentWindowBase::mouseLeft, this, &TitleStripController::mouseLeftWindow);
    // The keyboard in the menus (Alt) shows the strip; back in the text, the
    // mouse decides again.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        const auto inStrip = [this](QWidget* w) { return w && m_window.titleStrip()->isAncestorOf(w); };
        if (inStrip(now)) {
            titleBarHidden = false;
            updateTitleBar();
        } else if (inStrip(old)) {
            // Back in the text, or away to another window.
            updateTitleBarHidden(false);
        }
    });
    m_windowState = m_window.windowState();
    addTrackingAreas();
    updateTitleBar();
}

QRect TitleStripController::titleStripScreenArea() const
{
    const QRect area = m_window.titleStripArea();
    return QRect(m_window.mapToGlobal(area.topLeft()), area.size());
}

QPoint TitleStripController::mouseLocation() const
{
    // The last place the window saw the mouse, while it is in the window;
    // otherwise the pointer's own.
    return m_mouse ? *m_mouse : QCursor::pos();
}

bool TitleStripController::isFocusOutsideContent() const
{
    const QWidget* focus = m_window.focusWidget();
    const SplitView* content = m_panes.splitView();
    return focus && focus != content && !content->isAncestorOf(focus);
}

void TitleStripController::updateTitleBar()
{
    if (m_windowGone) return;
    m_hiddenByTyping = false;
    TextView* view = m_panes.editor().textView();
    const bool fullScreen = m_window.isFullScreen();
    const bool findBar = view->isFindBarVisible();
    // Where the strip stays, the editor makes room for it, as a window's
    // content makes room for a title bar that does not hide.
    const bool automatic = titleBarIsAlwaysVisible || fullScreen || findBar;
    const bool floating = !titleBarIsAlwaysVisible && !fullScreen;
    m_window.setTitleStripFloating(floating);
    const int strip = TitleStrip::stripHeight;
    // Over the side panes the strip's band stays clear of their contents:
    // the outline places its title, and the library pane, until it draws
    // window buttons of its own in that band, keeps it empty.
    m_panes.outline().titleBarIsAlwaysVisible = titleBarIsAlwaysVisible;
    m_panes.outline().updateTitleLabelPosition();
    m_panes.library().setContentsMargins(0, floating ? strip : 0, 0, 0);
    m_panes.editor().setContentsMargins(0, automatic && floating ? strip : 0, 0, 0);
    if (automatic) titleBarHidden = false;
    m_scrollerInset->setVisible(!automatic && !titleBarHidden);
    // Never hidden outright, only transparent: its menus still answer Alt.
    m_window.setTitleStripVisible(true);
    bool fade = true;
    if (titleBarHidden) {
        // Something the writer is using keeps it for now; the next update
        // after that ends hides it.
        // (The keyboard in the menus counts only while the window has it.)
        if (findBar || openPopupCount() > 0 || fullScreen || hasAttachedSheet()
            || (m_window.isActiveWindow() && isFocusOutsideContent()))
            return;
        // Over a side pane it goes at once, without fading.
        fade = !isMouseOverSidePane();
    }
    m_window.setTitleStripAlpha(titleBarHidden ? 0.0 : 1.0, fade);
}

void TitleStripController::updateTitleBarHidden(bool exited)
{
    if (m_windowGone) return;
    if (isMouseOverSidePane()) {
        titleBarHidden = true;
    } else if (!titleStripScreenArea().contains(mouseLocation())) {
        titleBarHidden = true;
    } else {
        titleBarHidden = exited ? m_window.isActiveWindow() : false;
    }
    updateTitleBar();
}

bool TitleStripController::isMouseOverSidePane() const
{
    // Below the strip's band: the band over a pane holds the strip's menus
    // and buttons, which must stay within reach.
    const QPoint mouse = mouseLocation();
    if (titleStripScreenArea().contains(mouse)) return false;
    return m_panes.isOverLibrary(mouse) || m_panes.isOverOutline(mouse);
}

void TitleStripController::addTrackingAreas()
{
    m_tracking = true;
    m_overStrip = m_overLibrary = m_overOutline = false;
}

void TitleStripController::removeTrackingAreas()
{
    m_tracking = false;
    m_overStrip = m_overLibrary = m_overOutline = false;
}

void TitleStripController::mouseMoved(const QPoint& globalPosition)
{
    if (m_windowGone) return;
    m_mouse = globalPosition;
    if (!m_tracking) return;
    const bool strip = titleStripScreenArea().contains(globalPosition);
    const bool library = !strip && m_panes.isOverLibrary(globalPosition);
    const bool outline = !strip && m_panes.isOverOutline(globalPosition);
    // Areas left, then areas entered, as the mouse crossed them.
    const std::array<std::pair<bool*, bool>, 3> areas{
        {{&m_overStrip, strip}, {&m_overLibrary, library}, {&m_overOutline, outline}}};
    bool changed = false;
    for (const auto& [was, now] : areas) {
        if (*was && !now) {
            *was = false;
            changed = true;
            mouseExited();
        }
    }
    for (const auto& [was, now] : areas) {
        if (!*was && now) {
            *was = true;
            changed = true;
            mouseEntered();
        }
    }
    if (changed) return;
    // A mouse that moves over the strip after typing put it away brings it
    // back; one that moves away from it ends a hide that waited for a menu
    // or a dialog.
    if (strip && m_hiddenByTyping && !library && !outline) mouseEntered();
    else if (!strip && titleBarHidden && m_window.titleStripAlpha() > 0.0) updateTitleBar();
}

void TitleStripController::mouseLeftWindow()
{
    if (m_windowGone) return;
    // A menu that opens takes the mouse from the window without it moving.
    if (openPopupCount() > 0) return;
    m_mouse.reset();
    if (!m_tracking) return;
    for (bool* over : {&m_overStrip, &m_overLibrary, &m_overOutline}) {
        if (!*over) continue;
        *over = false;
        mouseExited();
    }
}

void TitleStripController::mouseEntered() { updateTitleBarHidden(false); }

void TitleStripController::mouseExited() { updateTitleBarHidden(true); }

void TitleStripController::popupWillShow(QWidget* popup)
{
    if (m_windowGone) return;
    // The strip's own menus: those of its menu bar and the title's document
    // menu, and their submenus. (A context menu over the text leaves the
    // strip where it is.)
    const bool fromStrip = openPopupCount() > 0 || (m_menuBar && m_menuBar->activeAction())
                           || popup == m_window.documentMenu().qMenu();
    if (!fromStrip) return;
    if (!m_openPopups.contains(popup)) m_openPopups.append(popup);
    titleBarHidden = false;
    updateTitleBar();
}

void TitleStripController::popupDidClose(QWidget* popup)
{
    if (m_windowGone) return;
    if (!m_openPopups.removeAll(popup)) return;
    m_openPopups.removeAll(nullptr);
    // The menu held the mouse: the window did not see it leave, so where it
    // is now is the pointer's own word. Away from the window, it is gone.
    const QPoint pointer = QCursor::pos();
    const QWidget* under = QApplication::topLevelAt(pointer);
    const bool inWindow = under == &m_window
                          || (under && under->windowType() == Qt::Popup && m_window.frameGeometry().contains(pointer));
    if (!inWindow) {
        m_mouse.reset();
        m_overStrip = m_overLibrary = m_overOutline = false;
    }
    if (m_tracking && (!inWindow || !titleStripScreenArea().contains(pointer))) {
        titleBarHidden = true;
        updateTitleBar();
    }
}

int TitleStripController::openPopupCount() const
{
    return int(std::count_if(m_openPopups.begin(), m_openPopups.end(),
                             [](const QPointer<QWidget>& p) { return p && p->isVisible(); }));
}

void TitleStripController::sheetWillBegin(QWidget* dialog)
{
    if (m_windowGone) return;
    if (!m_sheets.contains(dialog)) m_sheets.append(dialog);
    if (m_window.isFullScreen()) return;
    titleBarHidden = false;
    updateTitleBar();
}

void TitleStripController::sheetDidEnd(QWidget* dialog)
{
    if (m_windowGone) return;
    if (!m_sheets.removeAll(dialog)) return;
    m_sheets.removeAll(nullptr);
    titleBarHidden = true;
    updateTitleBar();
}

bool TitleStripController::hasAttachedSheet() const
{
    return std::any_of(m_sheets.begin(), m_sheets.end(), [](const QPointer<QWidget>& d) { return d && d->isVisible(); });
}

void TitleStripController::windowStateMayHaveChanged()
{
    const Qt::WindowStates old = m_windowState;
    m_windowState = m_window.windowState();
    if (old != m_windowState) windowStateChanged(old);
}

void TitleStripController::windowStateChanged(Qt::WindowStates oldState)
{
    if (m_windowGone) return;
    const Qt::WindowStates state = m_window.windowState();
    const bool wasFullScreen = oldState & Qt::WindowFullScreen, isFullScreen = state & Qt::WindowFullScreen;
    if (!wasFullScreen && isFullScreen) {
        // In full screen the strip stands above the panes, shown.
        if (!titleBarIsAlwaysVisible) {
            m_window.setTitleStripVisible(true);
            m_window.setTitleStripAlpha(1.0, false);
            m_scrollerInset->hide();
            removeTrackingAreas();
        }
    } else if (wasFullScreen && !isFullScreen) {
        if (!titleBarIsAlwaysVisible) {
            m_window.setTitleStripAlpha(0.0, false);
            addTrackingAreas();
        }
        titleBarHidden = true;
    } else if ((state & Qt::WindowMinimized) && !(oldState & Qt::WindowMinimized)) {
        titleBarHidden = true;
    } else if ((state & Qt::WindowMaximized) != (oldState & Qt::WindowMaximized)) {
        // Zoomed or back: the strip goes until the mouse comes for it.
        titleBarHidden = true;
    }
    updateTitleBar();
}

void TitleStripController::windowDeactivated()
{
    // A window left behind puts away what only the writer's presence held
    // (the keyboard in its menus); the mouse decides as in any window.
    if (!m_windowGone && m_tracking && m_window.titleStripAlpha() > 0.0) updateTitleBarHidden(false);
}

void TitleStripController::editorKeyPressed(const QKeyEvent& key)
{
    const bool typing = !key.text().isEmpty()
                        && !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (typing && !titleBarHidden) {
        titleBarHidden = true;
        updateTitleBar();
        m_hiddenByTyping = true;
    }
}

void TitleStripController::libraryPaneToggled(bool visible)
{
    if (!m_window.isFullScreen()) updateTitleBarHidden(false);
    if (visible) {
        m_panes.library().titleBarIsAlwaysVisible = titleBarIsAlwaysVisible;
        m_panes.library().updateWindowButtons();
    }
}

void TitleStripController::outlinePaneShown()
{
    m_panes.outline().titleBarIsAlwaysVisible = titleBarIsAlwaysVisible;
    m_panes.outline().updateTitleLabelPosition();
}

} // namespace lumora
