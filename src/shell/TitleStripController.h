#pragma once

#include <QList>
#include <QMenuBar>
#include <QObject>
#include <QPointer>

#include <optional>

class QKeyEvent;

namespace lumora {

class DocumentWindowBase;
class WindowPanes;

// The title strip of a document window (menus, title, window buttons)
// floats over the top of the panes and is hidden while the writer writes: a
// new window starts without it, it fades out when typing starts and when
// the mouse leaves it, and fades in when the mouse comes to the top of the
// window (over the side panes too: its menus and buttons are there). When
// the mouse goes down into a side pane it goes at once. It stays while one
// of the window's menus or dialogs is open, while the find bar shows (the
// editor then sits below it) and while the keyboard is in the menus (Alt);
// in full screen it stands above the panes for good. Showing and hiding it
// moves nothing in the text: only the editor's scroll bar makes room for
// it.
//
// The window controller makes one for its window and tells it what it sees
// of the window's events (its state, keys typed in the editor, the window
// left behind) and of its panes shown or hidden.
class TitleStripController : public QObject {
    Q_OBJECT

public:
    TitleStripController(DocumentWindowBase& window, WindowPanes& panes, QMenuBar* menuBar,
                         QObject* parent = nullptr);

    // The strip is meant to be hidden; set it to false and call
    // updateTitleBar to show it.
    bool titleBarHidden = true;
    // Whether the strip never hides. A window in a tab group would keep its
    // strip, which holds the tabs; there are no window tabs here, so no
    // window is ever in a tab group and this stays false.
    bool titleBarIsAlwaysVisible = false;
    // Shows or hides the strip as titleBarHidden and the window's state say,
    // and sets the editor's insets to match.
    void updateTitleBar();
    // titleBarHidden from where the mouse is, then updateTitleBar: hidden
    // over a side pane or away from the strip; at the strip shown, except
    // when the mouse has just left a side pane for the strip of the key
    // window (exited).
    void updateTitleBarHidden(bool exited);
    bool isMouseOverSidePane() const;
    // Following the mouse over the strip and the side panes (off in full
    // screen).
    void addTrackingAreas();
    void removeTrackingAreas();
    bool isTrackingMouse() const { return m_tracking; }
    // Where the mouse is, in global coordinates.
    QPoint mouseLocation() const;

    // The strip's menus (its menu bar's, the title's document menu) and the
    // dialogs of this window: while any is open the strip stays; a dialog
    // shows it. (Told by a watcher of the application.)
    void popupWillShow(QWidget* popup);
    void popupDidClose(QWidget* popup);
    void sheetWillBegin(QWidget* dialog);
    void sheetDidEnd(QWidget* dialog);
    int openPopupCount() const;
    bool hasAttachedSheet() const;

    // What the window controller tells it. The window's state may have
    // changed (full screen, zoomed, minimised).
    void windowStateMayHaveChanged();
    // The window was left behind for another.
    void windowDeactivated();
    // A key was pressed in the editor: typing puts the strip away.
    void editorKeyPressed(const QKeyEvent& key);
    // The library pane was shown or hidden; the outline pane was shown.
    void libraryPaneToggled(bool visible);
    void outlinePaneShown();

private:
    void mouseMoved(const QPoint& globalPosition);
    void mouseLeftWindow();
    void mouseEntered();
    void mouseExited();
    void windowStateChanged(Qt::WindowStates oldState);
    bool isFocusOutsideContent() const;
    QRect titleStripScreenArea() const;

    DocumentWindowBase& m_window;
    WindowPanes& m_panes;
    QPointer<QMenuBar> m_menuBar;
    QWidget* m_scrollerInset = nullptr;
    QList<QPointer<QWidget>> m_openPopups;
    QList<QPointer<QWidget>> m_sheets;
    bool m_tracking = false;
    bool m_overStrip = false;
    bool m_overLibrary = false;
    bool m_overOutline = false;
    bool m_hiddenByTyping = false;
    bool m_windowGone = false;
    std::optional<QPoint> m_mouse;
    Qt::WindowStates m_windowState;
};

} // namespace lumora
