#include "platform/application/ActionDispatcher.h"

#include "platform/application/CommandTable.h"
#include "platform/application/Menu.h"
#include "platform/foundation/PlatformError.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

#include <algorithm>

namespace lumora {

namespace {

ActionDispatcher* s_instance = nullptr;

bool isTransientWindow(const QWidget* w)
{
    const Qt::WindowType type = w->windowType();
    return type == Qt::Popup || type == Qt::ToolTip || type == Qt::SplashScreen;
}

Qt::KeyboardModifier modifierOfKey(int key)
{
    switch (key) {
    case Qt::Key_Shift: return Qt::ShiftModifier;
    case Qt::Key_Control: return Qt::ControlModifier;
    case Qt::Key_Alt: return Qt::AltModifier;
    case Qt::Key_Meta: return Qt::MetaModifier;
    default: return Qt::NoModifier;
    }
}

// A window of the application's own that the windows menu may list.
bool isListableWindow(const QWidget* w)
{
    return w && w->isWindow() && w->windowType() == Qt::Window;
}

QString plainTitle(const QWidget* w)
{
    QString title = w->windowTitle();
    title.remove(QStringLiteral("[*]"));
    return title;
}

bool clipboardHasText()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasText();
}

template <typename Edit>
bool canChangeText(const Edit& edit, bool needsSelection)
{
    return !edit.isReadOnly() && (!needsSelection || edit.textCursor().hasSelection());
}

// A text editor that holds start inside it (a find bar over the text, its
// field or its buttons): what is typed there is not the editor's, so the
// editor is no part of start's chain. The editor's viewport is the editor.
bool holdsAnotherField(const QWidget& ancestor, const QWidget& start)
{
    if (&ancestor == &start || !QtEditCommands::isEdit(ancestor)) return false;
    const auto* area = qobject_cast<const QAbstractScrollArea*>(&ancestor);
    return !area || area->viewport() != &start;
}

// A window and the windows it was opened over, nearest first.
std::vector<const QWidget*> windowLineage(const QWidget& window)
{
    std::vector<const QWidget*> lineage;
    for (const QWidget* w = &window; w; w = w->parentWidget() ? w->parentWidget()->window() : nullptr)
        lineage.push_back(w);
    return lineage;
}

// Whether a shown modal window keeps input from window, as Qt decides it:
// an application-modal one blocks every window but itself and those opened
// over it; a window-modal one blocks the windows it was opened over and
// those opened over them, and no other.
bool blocks(const QWidget& modal, const QWidget& window)
{
    const std::vector<const QWidget*> lineage = windowLineage(window);
    if (std::find(lineage.begin(), lineage.end(), &modal) != lineage.end()) return false;
    switch (modal.windowModality()) {
    case Qt::ApplicationModal: return true;
    case Qt::WindowModal:
        for (const QWidget* w : windowLineage(modal))
            if (std::find(lineage.begin(), lineage.end(), w) != lineage.end()) return true;
        return false;
    case Qt::NonModal: break;
    }
    return false;
}

// Whether keys typed in window may reach the menu: not while a modal window
// blocks it, nor in a modal window itself (an alert's keys are the alert's).
bool acceptsMenuKeys(const QWidget* window)
{
    if (!window) return false;
    if (window->windowModality() != Qt::NonModal) return false;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowModality() != Qt::NonModal && blocks(*w, *window)) return false;
    return true;
}

} // namespace

// QtEditCommands ----------------------------------------------------------

bool QtEditCommands::isEdit(const QWidget& widget)
{
    return qobject_cast<const QLineEdit*>(&widget) || qobject_cast<const QTextEdit*>(&widget)
           || qobject_cast<const QPlainTextEdit*>(&widget);
}

namespace {

// Runs the matching one of three calls for a line edit, a text edit or a
// plain text edit.
template <typename Line, typename Text>
void onEdit(QWidget& widget, Line line, Text text)
{
    if (auto* l = qobject_cast<QLineEdit*>(&widget)) line(*l);
    else if (auto* t = qobject_cast<QTextEdit*>(&widget)) text(*t);
    else if (auto* p = qobject_cast<QPlainTextEdit*>(&widget)) text(*p);
}

template <typename Line, typename Text>
bool testEdit(const QWidget& widget, Line line, Text text)
{
    if (auto* l = qobject_cast<const QLineEdit*>(&widget)) return line(*l);
    if (auto* t = qobject_cast<const QTextEdit*>(&widget)) return text(*t);
    if (auto* p = qobject_cast<const QPlainTextEdit*>(&widget)) return text(*p);
    return false;
}

} // namespace

void QtEditCommands::undo(QWidget& edit)
{
    onEdit(edit, [](QLineEdit& l) { l.undo(); }, [](auto& t) { t.undo(); });
}

void QtEditCommands::redo(QWidget& edit)
{
    onEdit(edit, [](QLineEdit& l) { l.redo(); }, [](auto& t) { t.redo(); });
}

void QtEditCommands::cut(QWidget& edit)
{
    onEdit(edit, [](QLineEdit& l) { l.cut(); }, [](auto& t) { t.cut(); });
}

void QtEditCommands::copy(QWidget& edit)
{
    onEdit(edit, [](QLineEdit& l) { l.copy(); }, [](auto& t) { t.copy(); });
}

void QtEditCommands::paste(QWidget& edit)
{
    onEdit(edit, [](QLineEdit& l) { l.paste(); }, [](auto& t) { t.paste(); });
}

void QtEditCommands::deleteSelection(QWidget& edit)
{
    onEdit(edit, [](QLineEdit& l) { l.del(); }, [](auto& t) { t.textCursor().removeSelectedText(); });
}

void QtEditCommands::selectAll(QWidget& edit)
{
    onEdit(edit, [](QLineEdit& l) { l.selectAll(); }, [](auto& t) { t.selectAll(); });
}

bool QtEditCommands::canUndo(const QWidget& edit)
{
    return testEdit(
        edit, [](const QLineEdit& l) { return !l.isReadOnly() && l.isUndoAvailable(); },
        [](const auto& t) { return !t.isReadOnly() && t.document()->isUndoAvailable(); });
}

bool QtEditCommands::canRedo(const QWidget& edit)
{
    return testEdit(
        edit, [](const QLineEdit& l) { return !l.isReadOnly() && l.isRedoAvailable(); },
        [](const auto& t) { return !t.isReadOnly() && t.document()->isRedoAvailable(); });
}

bool QtEditCommands::canCut(const QWidget& edit)
{
    return testEdit(
        edit, [](const QLineEdit& l) { return !l.isReadOnly() && l.hasSelectedText(); },
        [](const auto& t) { return canChangeText(t, true); });
}

bool QtEditCommands::canCopy(const QWidget& edit)
{
    return testEdit(
        edit, [](const QLineEdit& l) { return l.hasSelectedText() && l.echoMode() == QLineEdit::Normal; },
        [](const auto& t) { return t.textCursor().hasSelection(); });
}

bool QtEditCommands::canPaste(const QWidget& edit)
{
    return testEdit(
        edit, [](const QLineEdit& l) { return !l.isReadOnly() && clipboardHasText(); },
        [](const auto& t) { return canChangeText(t, false) && t.canPaste(); });
}

// ApplicationCommands -----------------------------------------------------

void ApplicationCommands::orderFront(const QVariant& value)
{
    QWidget* window = value.value<QPointer<QWidget>>().data();
    if (!window) return;
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
}

void ApplicationCommands::arrangeInFront()
{
    QWidget* key = ActionDispatcher::instance().keyWindow();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !isTransientWindow(w) && w != key) w->raise();
    if (key) key->raise();
}

bool ApplicationCommands::validateWindowItem(MenuItem& item) const
{
    const QWidget* window = item.representedObject().value<QPointer<QWidget>>();
    // A dialog in front of a window leaves that window the one checked.
    const QWidget* key = ActionDispatcher::instance().keyWindow();
    while (key && !isListableWindow(key) && key->parentWidget()) key = key->parentWidget()->window();
    item.setState(window && window == key ? MenuItem::State::on : MenuItem::State::off);
    return window != nullptr;
}

void ApplicationCommands::terminate()
{
    // A question open in front of a window is answered first: quitting now
    // would close that window under it. It comes forward instead.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
        return;
    }
    if (shouldTerminate && !shouldTerminate()) return;
    QApplication::closeAllWindows();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !isTransientWindow(w)) return; // a window refused to close
    QCoreApplication::quit();
}

// ActionDispatcher --------------------------------------------------------

ActionDispatcher::ActionDispatcher() : m_application(std::make_unique<ApplicationCommands>()) {}

ActionDispatcher& ActionDispatcher::instance()
{
    // Never destroyed: responders and menus may outlive any static order.
    if (!s_instance) s_instance = new ActionDispatcher();
    return *s_instance;
}

void ActionDispatcher::setMainMenu(Menu* menu)
{
    m_mainMenu = menu;
    watchApplication();
}

void ActionDispatcher::watchApplication()
{
    if (m_filterInstalled || !qApp) return;
    qApp->installEventFilter(this);
    m_filterInstalled = true;
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if (qobject_cast<QMenuBar*>(now) && old && !qobject_cast<QMenuBar*>(old)) m_focusBehindMenuBar = old;
    });
}

void ActionDispatcher::setWindowsMenu(Menu* menu)
{
    if (m_windowsMenu == menu) return;
    if (m_windowsMenu) {
        for (MenuItem* item : std::exchange(m_windowItems, {}))
            m_windowsMenu->removeItemAt(m_windowsMenu->indexOfItem(item));
    }
    m_windowItems.clear();
    m_windowsMenu = menu;
    watchApplication();
}

QList<QWidget*> ActionDispatcher::listedWindows() const
{
    QList<QWidget*> windows;
    const auto add = [&windows](QWidget* w) {
        if (isListableWindow(w) && w->isVisible() && !plainTitle(w).isEmpty() && !windows.contains(w)) windows << w;
    };
    for (const QPointer<QWidget>& w : m_shownWindows) add(w);
    // Windows shown before anyone watched come last.
    for (QWidget* w : QApplication::topLevelWidgets()) add(w);
    return windows;
}

void ActionDispatcher::updateWindowsMenu()
{
    Menu& menu = *m_windowsMenu;
    for (MenuItem* item : std::exchange(m_windowItems, {})) menu.removeItemAt(menu.indexOfItem(item));
    const QList<QWidget*> windows = listedWindows();
    if (windows.isEmpty()) return;
    m_windowItems.push_back(menu.addItem(MenuItem::separator()));
    for (QWidget* window : windows) {
        auto item = MenuItem::make(plainTitle(window), Command::makeKeyAndOrderFront);
        item->setRepresentedObject(QVariant::fromValue(QPointer<QWidget>(window)));
        m_windowItems.push_back(menu.addItem(std::move(item)));
    }
}

void ActionDispatcher::addApplicationTarget(QObject* target)
{
    std::erase(m_applicationTargets, nullptr);
    if (target && std::find(m_applicationTargets.begin(), m_applicationTargets.end(), target) == m_applicationTargets.end())
        m_applicationTargets.emplace(m_applicationTargets.begin(), target);
}

void ActionDispatcher::removeApplicationTarget(QObject* target)
{
    std::erase_if(m_applicationTargets, [target](const QPointer<QObject>& t) { return !t || t == target; });
}

void ActionDispatcher::setViewController(QWidget* view, QObject* controller)
{
    if (!view || !controller) return;
    auto& list = m_controllers[view];
    std::erase(list, nullptr);
    if (std::find(list.begin(), list.end(), controller) != list.end()) return;
    if (list.empty())
        connect(view, &QObject::destroyed, this, [this, view] { m_controllers.remove(view); });
    list.emplace_back(controller);
}

void ActionDispatcher::removeViewController(QWidget* view, QObject* controller)
{
    const auto it = m_controllers.find(view);
    if (it == m_controllers.end()) return;
    std::erase_if(it.value(), [controller](const QPointer<QObject>& c) { return !c || c == controller; });
    if (it.value().empty()) m_controllers.erase(it);
}

QWidget* ActionDispatcher::keyWindow() const
{
    QWidget* active = QApplication::activeWindow();
    if (active && !isTransientWindow(active)) return active;
    if (m_keyWindow && m_keyWindow->isVisible()) return m_keyWindow;
    // Without a window manager no window ever becomes active: take a shown one.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !isTransientWindow(w) && w->windowType() != Qt::Desktop) return w;
    return nullptr;
}

QWidget* ActionDispatcher::focusStart() const
{
    QWidget* window = keyWindow();
    if (!window) return nullptr;
    QWidget* focus = window->focusWidget();
    // Keyboard navigation of the menu bar acts on what the writer was in.
    if (qobject_cast<QMenuBar*>(focus) && m_focusBehindMenuBar && m_focusBehindMenuBar->window() == window)
        focus = m_focusBehindMenuBar;
    return focus ? focus : window;
}

std::vector<QObject*> ActionDispatcher::responderChain(QWidget* start) const
{
    std::vector<QObject*> chain;
    QSet<const QObject*> seen;
    const auto add = [&](QObject* object) {
        if (!object || seen.contains(object)) return;
        chain.push_back(object);
        seen.insert(object);
    };
    QWidget* first = start ? start : focusStart();
    for (QWidget* w = first; w; w = w->parentWidget()) {
        if (holdsAnotherField(*w, *first)) continue;
        add(w);
        const auto it = m_controllers.constFind(w);
        if (it != m_controllers.constEnd())
            for (const QPointer<QObject>& controller : it.value()) add(controller);
    }
    add(m_application.get());
    for (const QPointer<QObject>& target : m_applicationTargets) add(target);
    return chain;
}

CommandTarget ActionDispatcher::targetFor(Command command, QWidget* start) const
{
    if (command == Command::none || !m_table) return {};
    const std::vector<CommandBinding>& bindings = m_table->row(command).bindings;
    if (bindings.empty()) return {};
    for (QObject* object : responderChain(start))
        for (const CommandBinding& binding : bindings)
            if (void* target = binding.target(object)) return {&binding, target};
    return {};
}

bool ActionDispatcher::send(Command command, MenuItem* sender, QWidget* start)
{
    const CommandTarget target = targetFor(command, start);
    if (!target) return false;
    target.binding->perform(target.object, sender);
    return true;
}

QString ActionDispatcher::standardTitle(Command command)
{
    switch (command) {
    case Command::undo: return platformText("menu.edit.undo", "Undo");
    case Command::redo: return platformText("menu.edit.redo", "Redo");
    case Command::saveDocument: return platformText("menu.file.save", "Save");
    case Command::revertDocumentToSaved: return platformText("menu.file.revert", "Revert to Saved");
    case Command::toggleFullScreen: return platformText("menu.view.fullScreen.enter", "Enter Full Screen");
    default: return {};
    }
}

CommandTarget ActionDispatcher::validate(MenuItem& item, QWidget* start, bool& enabled)
{
    enabled = false;
    if (item.isSeparator()) return {};
    const Command command = item.command();
    if (command == Command::none) {
        // A submenu opens; an item without a command is a heading.
        enabled = item.submenu() != nullptr;
        item.setEnabled(enabled);
        return {};
    }
    if (item.title().isEmpty()) {
        const QString standard = standardTitle(command);
        if (!standard.isEmpty()) item.setTitle(standard);
    }
    const CommandTarget target = targetFor(command, start);
    if (!target) {
        if (item.hidesWhenUnhandled()) item.setHidden(true);
        item.setEnabled(false);
        return {};
    }
    if (item.hidesWhenUnhandled()) item.setHidden(false);
    enabled = target.binding->validate(target.object, item);
    item.setEnabled(enabled);
    return target;
}

bool ActionDispatcher::validateItem(MenuItem& item, QWidget* start)
{
    bool enabled = false;
    validate(item, start, enabled);
    return enabled;
}

void ActionDispatcher::validateMenu(Menu& menu, QWidget* start)
{
    if (menu.delegate()) menu.delegate()->menuNeedsUpdate(menu);
    for (int i = 0; i < menu.count(); ++i) {
        MenuItem& item = *menu.itemAt(i);
        validateItem(item, start);
        Menu* submenu = item.submenu();
        if (submenu && item.hidesWhenUnhandled()) {
            validateMenu(*submenu, start);
            bool anyShown = false;
            for (const auto& child : submenu->items())
                anyShown = anyShown || (!child->isSeparator() && !child->isHidden());
            item.setHidden(!anyShown);
        }
    }
}

void ActionDispatcher::menuWillOpen(Menu& menu)
{
    m_openMenus.insert(&menu);
    if (&menu == m_windowsMenu) updateWindowsMenu();
    validateMenu(menu);
    menu.updateAlternates(QGuiApplication::queryKeyboardModifiers());
    menu.assignMnemonics();
}

void ActionDispatcher::menuDidClose(Menu& menu) { m_openMenus.remove(&menu); }

void ActionDispatcher::menuDestroyed(Menu* menu)
{
    m_openMenus.remove(menu);
    if (m_mainMenu == menu) m_mainMenu = nullptr;
    if (m_windowsMenu == menu) {
        m_windowsMenu = nullptr;
        m_windowItems.clear();
    }
}

void ActionDispatcher::performMenuItem(MenuItem& item)
{
    // The item was validated when its menu opened; what it acts on may have
    // changed since (a preference, the selection, another window's focus).
    bool enabled = false;
    const CommandTarget target = validate(item, nullptr, enabled);
    if (target && enabled) target.binding->perform(target.object, &item);
}

MenuItem* ActionDispatcher::findKeyItem(Menu& menu, QKeyEvent& event, QWidget* start, bool& consumed)
{
    for (int i = 0; i < menu.count(); ++i) {
        MenuItem& item = *menu.itemAt(i);
        if (Menu* submenu = item.submenu()) {
            if (MenuItem* found = findKeyItem(*submenu, event, start, consumed)) return found;
            if (consumed) return nullptr;
            continue;
        }
        const auto shortcut = item.shortcut();
        if (!shortcut || !keyEventMatches(event, *shortcut)) continue;
        bool enabled = false;
        const CommandTarget target = validate(item, start, enabled);
        if (item.isHidden() && !item.allowsKeyEquivalentWhenHidden()) continue;
        if (!target) continue; // nobody handles it here: the key goes on to the widget
        if (!enabled) {
            consumed = true; // the command exists but cannot act now
            return nullptr;
        }
        return &item;
    }
    return nullptr;
}

bool ActionDispatcher::handleKeyPress(QKeyEvent& event, QWidget* receiver)
{
    if (!m_mainMenu) return false;
    if (modifierOfKey(event.key()) != Qt::NoModifier) return false;
    QWidget* start = receiver;
    if (!start || isTransientWindow(start->window()) || qobject_cast<QMenuBar*>(start)) start = focusStart();
    if (start && !acceptsMenuKeys(start->window())) return false;
    bool consumed = false;
    MenuItem* item = findKeyItem(*m_mainMenu, event, start, consumed);
    if (!item) return consumed;
    // A key pressed while a menu is open closes it, as a click would.
    while (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        if (QApplication::activePopupWidget() == popup) break;
    }
    send(item->command(), item, start);
    return true;
}

bool ActionDispatcher::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
        if (watched->isWidgetType() && isListableWindow(static_cast<QWidget*>(watched))) {
            auto* w = static_cast<QWidget*>(watched);
            m_shownWindows.removeAll(nullptr);
            if (!m_shownWindows.contains(w)) m_shownWindows.append(w);
        }
        break;
    case QEvent::WindowActivate:
        if (watched->isWidgetType()) {
            auto* w = static_cast<QWidget*>(watched);
            if (w->isWindow() && !isTransientWindow(w)) m_keyWindow = w;
        }
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (const Qt::KeyboardModifier mod = modifierOfKey(key->key()); mod != Qt::NoModifier && !m_openMenus.isEmpty()) {
            Qt::KeyboardModifiers held = key->modifiers();
            if (event->type() == QEvent::KeyPress) held |= mod;
            else held &= ~mod;
            for (Menu* menu : std::as_const(m_openMenus)) menu->updateAlternates(held);
            // Qt's menus close on Alt (keyboard navigation of the menu bar):
            // here Alt only shows the alternates while it is held.
            if (mod == Qt::AltModifier || mod == Qt::MetaModifier) return true;
        }
        if (event->type() == QEvent::KeyRelease) {
            m_keyEventSeen = nullptr;
            break;
        }
        if (!watched->isWidgetType()) break;
        auto* receiver = static_cast<QWidget*>(watched);
        // Qt offers a key that a widget ignored to its parents, as the same
        // event: it was already matched against the menu.
        if (event == m_keyEventSeen && m_keyReceiverSeen && m_keyReceiverSeen->parentWidget() == receiver) {
            m_keyReceiverSeen = receiver;
            break;
        }
        m_keyEventSeen = event;
        m_keyReceiverSeen = receiver;
        if (handleKeyPress(*key, receiver)) {
            m_keyEventSeen = nullptr;
            return true;
        }
        break;
    }
    default: break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lumora
