#pragma once

#include "platform/application/Responder.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>
#include <memory>
#include <vector>

class QKeyEvent;
class QWidget;

namespace lumora {

class Menu;
class MenuItem;

// The application's own part of the responder chain: quitting, bringing
// every window to the front, and bringing one window forward from the
// windows menu ("makeKeyAndOrderFront:", the window in the item's
// represented object).
class ApplicationResponder : public Responder {
public:
    ApplicationResponder();
    std::optional<bool> validate(MenuItem& item) override;
    // Asked before quitting (the document controller saves its state and
    // closes its documents); false keeps the application running.
    std::function<bool()> shouldTerminate;
    // Closes every window and quits once none refused.
    void terminate();
};

// Sends the actions of menu items to the first responder that handles them.
//
// The chain starts at the key window's focused widget (while a menu bar has
// the focus for keyboard navigation, the widget that had it before) and goes
// up through its parents; after each widget come the controllers registered for it
// (setViewController) and their nextResponder()s; then the application and
// the document controller. A focused line or text edit of Qt's own handles
// the standard edit actions (undo:, cut:, copy:, paste:, delete:,
// selectAll:) before anything else.
//
// Items are validated when their menu is about to open and again when they
// are chosen or their key is pressed: an item whose action nobody handles is
// disabled (or hidden, when it hidesWhenUnhandled()); otherwise its
// responder's validate() decides. Key equivalents of the main menu are
// routed by one event filter on the application, before the focused widget
// sees the key, so that hidden items that allow it keep their keys; a key
// whose action nobody handles goes on to the focused widget.
//
// One per process; main thread only.
class ActionDispatcher : public QObject {
    Q_OBJECT

public:
    static ActionDispatcher& instance();

    // The menu whose key equivalents are routed (not owned); none stops routing.
    void setMainMenu(Menu* menu);
    Menu* mainMenu() const { return m_mainMenu; }
    // The menu that lists the application's windows (not owned): each time
    // it opens, its items are followed by a separator and one item per
    // window, in the order the windows were first shown, the key window
    // checked.
    void setWindowsMenu(Menu* menu);
    Menu* windowsMenu() const { return m_windowsMenu; }
    // The windows that menu lists: shown top-level windows (not dialogs,
    // popups or tool windows) with a title, minimised ones included.
    QList<QWidget*> listedWindows() const;

    // The application's responder (a built-in one when none is set) and the
    // document controller, the last two links of the chain. Not owned.
    void setApplicationResponder(Responder* responder);
    Responder* applicationResponder() const;
    ApplicationResponder& defaultApplicationResponder() { return *m_defaultApplication; }
    void setDocumentController(Responder* responder) { m_documentController = responder; }
    Responder* documentController() const { return m_documentController; }

    // A controller that comes right after its view in the chain (a view
    // controller, a window's controller). Forgotten when either goes away.
    void setViewController(QWidget* view, Responder* controller);
    void removeViewController(QWidget* view, Responder* controller);

    // The window that receives keys: the active window, or the last one that
    // was active while a popup or no window is.
    QWidget* keyWindow() const;
    // The chain from start, by default the key window's focused widget.
    std::vector<Responder*> responderChain(QWidget* start = nullptr) const;
    Responder* targetForAction(const QString& action, QWidget* start = nullptr) const;
    // Sends an action down the chain; false when nothing handles it.
    bool sendAction(const QString& action, MenuItem* sender = nullptr, QWidget* start = nullptr);

    // Validates one item, or a menu (its delegate first, then every item).
    bool validateItem(MenuItem& item, QWidget* start = nullptr);
    void validateMenu(Menu& menu, QWidget* start = nullptr);

    // What the application's event filter does with a key press; true when
    // a menu item took it.
    bool handleKeyPress(QKeyEvent& event, QWidget* receiver);

    // The title the platform gives an item of a standard action that the
    // menu leaves untitled ("undo:" is "Undo"); empty for other actions.
    static QString standardTitle(const QString& action);

    // Called by menus and responders.
    void menuWillOpen(Menu& menu);
    void menuDidClose(Menu& menu);
    void menuDestroyed(Menu* menu);
    void performMenuItem(MenuItem& item);
    static void responderDestroyed(Responder* responder);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ActionDispatcher();
    void forget(Responder* responder);
    QWidget* focusStart() const;
    Responder* validate(MenuItem& item, QWidget* start, bool& enabled);
    MenuItem* findKeyItem(Menu& menu, QKeyEvent& event, QWidget* start, bool& consumed);
    void updateWindowsMenu();
    void watchApplication();

    Menu* m_mainMenu = nullptr;
    Menu* m_windowsMenu = nullptr;
    std::vector<MenuItem*> m_windowItems; // what updateWindowsMenu added
    QList<QPointer<QWidget>> m_shownWindows; // in the order first shown
    Responder* m_application = nullptr;
    Responder* m_documentController = nullptr;
    std::unique_ptr<ApplicationResponder> m_defaultApplication;
    std::unique_ptr<Responder> m_editAdapter;
    QHash<QWidget*, std::vector<Responder*>> m_controllers;
    QPointer<QWidget> m_keyWindow;
    // What had the focus before a menu bar took it for keyboard navigation.
    QPointer<QWidget> m_focusBehindMenuBar;
    QSet<Menu*> m_openMenus;
    bool m_filterInstalled = false;
    // The key press being propagated to the parents of its first receiver.
    const QEvent* m_keyEventSeen = nullptr;
    QPointer<QWidget> m_keyReceiverSeen;
};

} // namespace lumora
