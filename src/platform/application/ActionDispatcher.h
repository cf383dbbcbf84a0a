#pragma once

#include "platform/application/Command.h"

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

class CommandTable;
struct CommandBinding;
class Menu;
class MenuItem;

// The application's own commands: quitting, bringing every window to the
// front, and bringing one window forward from the windows menu (the window
// in the item's represented object). The first of the application's targets
// (see ActionDispatcher).
class ApplicationCommands : public QObject {
    Q_OBJECT

public:
    // Asked before quitting (the document controller saves its state and
    // closes its documents); false keeps the application running.
    std::function<bool()> shouldTerminate;
    // Closes every window and quits once none refused. While a modal
    // window (an alert) is open, brings it forward and quits nothing.
    void terminate();
    void arrangeInFront();
    // The windows menu's items: the window in value comes forward; the key
    // window's item is checked.
    void orderFront(const QVariant& window);
    bool validateWindowItem(MenuItem& item) const;
    // Hiding this application or the others and showing them all again:
    // no desktop here groups windows by application, so these commands do
    // nothing and their items stay hidden.
    bool canHideApplications() const { return false; }
    void hide() {}
    void hideOtherApplications() {}
    void unhideAllApplications() {}
};

// The standard edit commands for Qt's own line and text edits (search
// fields, dialogs), so that they keep their keys while the main menu routes
// them.
struct QtEditCommands {
    // A QLineEdit, QTextEdit or QPlainTextEdit.
    static bool isEdit(const QWidget& widget);
    static void undo(QWidget& edit);
    static void redo(QWidget& edit);
    static void cut(QWidget& edit);
    static void copy(QWidget& edit);
    static void paste(QWidget& edit);
    static void deleteSelection(QWidget& edit);
    static void selectAll(QWidget& edit);
    static bool canUndo(const QWidget& edit);
    static bool canRedo(const QWidget& edit);
    // Cut and delete.
    static bool canCut(const QWidget& edit);
    static bool canCopy(const QWidget& edit);
    static bool canPaste(const QWidget& edit);
};

// The object that carries a command out, and the binding it does it by.
struct CommandTarget {
    const CommandBinding* binding = nullptr;
    void* object = nullptr;
    explicit operator bool() const { return binding != nullptr; }
};

// Sends the commands of menu items to the first object that carries them
// out, as the command table says.
//
// The responder chain starts at the key window's focused widget (while a
// menu bar has the focus for keyboard navigation, the widget that had it
// before) and goes up through its parents; after each widget come the
// controllers registered for it (setViewController); then the
// application's own commands and the application's targets (the document
// controller, the main menu). A command goes to the first object of the
// chain that one of its bindings serves. A text field drawn inside a text
// editor (a find bar over the text) is no part of that editor: the chain
// from the field leaves the editor out, so that the editor's commands never
// act on its text from there.
//
// Items are validated when their menu is about to open and again when they
// are chosen or their key is pressed: an item whose command nothing carries
// out is disabled (or hidden, when it hidesWhenUnhandled()); otherwise its
// binding's validation decides. Key equivalents of the main menu are
// routed by one event filter on the application, before the focused widget
// sees the key, so that hidden items that allow it keep their keys; a key
// whose command nothing carries out goes on to the focused widget. Keys
// typed in a modal window (an alert) are that window's own, and a window
// that a modal window blocks gets none: an alert over one window leaves
// the keys of the others working.
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

    // The table the commands are sent by (not owned); none sends nothing.
    void setCommandTable(const CommandTable* table) { m_table = table; }
    const CommandTable* commandTable() const { return m_table; }

    ApplicationCommands& applicationCommands() { return *m_application; }
    // Objects tried after the application's own commands, the one added
    // last first (a new document controller stands in for an old one): the
    // last links of the chain. Not owned; forgotten when destroyed.
    void addApplicationTarget(QObject* target);
    void removeApplicationTarget(QObject* target);

    // A controller that comes right after its view in the chain (a view
    // controller, a window's controller). Forgotten when either goes away.
    void setViewController(QWidget* view, QObject* controller);
    void removeViewController(QWidget* view, QObject* controller);

    // The window that receives keys: the active window, or the last one that
    // was active while a popup or no window is.
    QWidget* keyWindow() const;
    // The chain from start, by default the key window's focused widget.
    std::vector<QObject*> responderChain(QWidget* start = nullptr) const;
    CommandTarget targetFor(Command command, QWidget* start = nullptr) const;
    bool canSend(Command command, QWidget* start = nullptr) const { return bool(targetFor(command, start)); }
    // Sends a command down the chain, unvalidated; false when nothing
    // carries it out.
    bool send(Command command, MenuItem* sender = nullptr, QWidget* start = nullptr);

    // Validates one item, or a menu (its delegate first, then every item).
    bool validateItem(MenuItem& item, QWidget* start = nullptr);
    void validateMenu(Menu& menu, QWidget* start = nullptr);

    // What the application's event filter does with a key press; true when
    // a menu item took it.
    bool handleKeyPress(QKeyEvent& event, QWidget* receiver);

    // The title the platform gives an item of a standard command that the
    // menu leaves untitled (Undo); empty for other commands.
    static QString standardTitle(Command command);

    // Called by menus and responders.
    void menuWillOpen(Menu& menu);
    void menuDidClose(Menu& menu);
    void menuDestroyed(Menu* menu);
    void performMenuItem(MenuItem& item);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ActionDispatcher();
    QWidget* focusStart() const;
    CommandTarget validate(MenuItem& item, QWidget* start, bool& enabled);
    MenuItem* findKeyItem(Menu& menu, QKeyEvent& event, QWidget* start, bool& consumed);
    void updateWindowsMenu();
    void watchApplication();

    Menu* m_mainMenu = nullptr;
    Menu* m_windowsMenu = nullptr;
    std::vector<MenuItem*> m_windowItems; // what updateWindowsMenu added
    QList<QPointer<QWidget>> m_shownWindows; // in the order first shown
    const CommandTable* m_table = nullptr;
    std::unique_ptr<ApplicationCommands> m_application;
    std::vector<QPointer<QObject>> m_applicationTargets;
    QHash<QWidget*, std::vector<QPointer<QObject>>> m_controllers;
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
