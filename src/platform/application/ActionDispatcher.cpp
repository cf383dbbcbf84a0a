#include "platform/application/ActionDispatcher.h"

#include "platform/application/Menu.h"
#include "platform/foundation/PlatformError.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

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

const QString kUndo = QStringLiteral("undo:");
const QString kRedo = QStringLiteral("redo:");
const QString kCut = QStringLiteral("cut:");
const QString kCopy = QStringLiteral("copy:");
const QString kPaste = QStringLiteral("paste:");
const QString kDelete = QStringLiteral("delete:");
const QString kSelectAll = QStringLiteral("selectAll:");
const QString kOrderFront = QStringLiteral("makeKeyAndOrderFront:");

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

// The standard edit actions for Qt's own line and text edits (search
// fields, dialogs), so that they keep their keys while the main menu routes
// them.
class StandardEditResponder : public Responder {
public:
    QPointer<QWidget> target;

    static bool canHandle(const QWidget* w)
    {
        return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QTextEdit*>(w) ||
               qobject_cast<const QPlainTextEdit*>(w);
    }

    bool respondsTo(const QString& action) const override
    {
        return target && (action == kUndo || action == kRedo || action == kCut || action == kCopy ||
                          action == kPaste || action == kDelete || action == kSelectAll);
    }

    void perform(const QString& action, MenuItem*) override
    {
        if (auto* line = qobject_cast<QLineEdit*>(target)) {
            if (action == kUndo) line->undo();
            else if (action == kRedo) line->redo();
            else if (action == kCut) line->cut();
            else if (action == kCopy) line->copy();
            else if (action == kPaste) line->paste();
            else if (action == kDelete) line->del();
            else if (action == kSelectAll) line->selectAll();
        } else if (auto* text = qobject_cast<QTextEdit*>(target)) {
            performOnText(*text, action);
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(target)) {
            performOnText(*plain, action);
        }
    }

    std::optional<bool> validate(MenuItem& item) override
    {
        const QString& action = item.action();
        if (auto* line = qobject_cast<QLineEdit*>(target)) {
            const bool writable = !line->isReadOnly();
            if (action == kUndo) return writable && line->isUndoAvailable();
            if (action == kRedo) return writable && line->isRedoAvailable();
            if (action == kCut || action == kDelete) return writable && line->hasSelectedText();
            if (action == kCopy) return line->hasSelectedText() && line->echoMode() == QLineEdit::Normal;
            if (action == kPaste) return writable && clipboardHasText();
            return true;
        }
        if (auto* text = qobject_cast<QTextEdit*>(target)) return validateText(*text, action);
        if (auto* plain = qobject_cast<QPlainTextEdit*>(target)) return validateText(*plain, action);
        return false;
    }

private:
    static bool clipboardHasText()
    {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        return data && data->hasText();
    }

    template <typename Edit>
    static void performOnText(Edit& edit, const QString& action)
    {
        if (action == kUndo) edit.undo();
        else if (action == kRedo) edit.redo();
        else if (action == kCut) edit.cut();
        else if (action == kCopy) edit.copy();
        else if (action == kPaste) edit.paste();
        else if (action == kDelete) edit.textCursor().removeSelectedText();
        else if (action == kSelectAll) edit.selectAll();
    }

    template <typename Edit>
    static bool validateText(Edit& edit, const QString& action)
    {
        const bool writable = !edit.isReadOnly();
        const bool selection = edit.textCursor().hasSelection();
        if (action == kUndo) return writable && edit.document()->isUndoAvailable();
        if (action == kRedo) return writable && edit.document()->isRedoAvailable();
        if (action == kCut || action == kDelete) return writable && selection;
        if (action == kCopy) return selection;
        if (action == kPaste) return writable && edit.canPaste();
        return true;
    }
};

} // namespace

// Responder -------------------------------------------------------------

Responder::~Responder() { ActionDispatcher::responderDestroyed(this); }

bool Responder::respondsTo(const QString& action) const { return m_actions.contains(action); }

void Responder::perform(const QString& action, MenuItem* sender)
{
    const auto it = m_actions.constFind(action);
    if (it != m_actions.constEnd() && *it) (*it)(sender);
}

std::optional<bool> Responder::validate(MenuItem&) { return std::nullopt; }

void Responder::addActionHandler(const QString& action, Handler handler) { m_actions.insert(action, std::move(handler)); }

// ApplicationResponder ----------------------------------------------------

ApplicationResponder::ApplicationResponder()
{
    addActionHandler(QStringLiteral("terminate:"), [this](MenuItem*) { terminate(); });
    addActionHandler(kOrderFront, [](MenuItem* sender) {
        QWidget* window = sender ? sender->representedObject().value<QPointer<QWidget>>().data() : nullptr;
        if (!window) return;
        if (window->isMinimized()) window->showNormal();
        window->raise();
        window->activateWindow();
    });
    addActionHandler(QStringLiteral("arrangeInFront:"), [](MenuItem*) {
        QWidget* key = ActionDispatcher::instance().keyWindow();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && !isTransientWindow(w) && w != key) w->raise();
        if (key) key->raise();
    });
}

std::optional<bool> ApplicationResponder::validate(MenuItem& item)
{
    if (item.action() == kOrderFront) {
        const QWidget* window = item.representedObject().value<QPointer<QWidget>>();
        // A dialog in front of a window leaves that window the one checked.
        const QWidget* key = ActionDispatcher::instance().keyWindow();
        while (key && !isListableWindow(key) && key->parentWidget()) key = key->parentWidget()->window();
        item.setState(window && window == key ? MenuItem::State::on : MenuItem::State::off);
        return window != nullptr;
    }
    return std::nullopt;
}

void ApplicationResponder::terminate()
{
    if (shouldTerminate && !shouldTerminate()) return;
    QApplication::closeAllWindows();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !isTransientWindow(w)) return; // a window refused to close
    QCoreApplication::quit();
}

// ActionDispatcher --------------------------------------------------------

ActionDispatcher::ActionDispatcher()
    : m_defaultApplication(std::make_unique<ApplicationResponder>()),
      m_editAdapter(std::make_unique<StandardEditResponder>())
{
}

ActionDispatcher& ActionDispatcher::instance()
{
    // Never destroyed: responders and menus may outlive any static order.
    if (!s_instance) s_instance = new ActionDispatcher();
    return *s_instance;
}

void ActionDispatcher::responderDestroyed(Responder* responder)
{
    if (s_instance) s_instance->forget(responder);
}

void ActionDispatcher::forget(Responder* responder)
{
    if (m_application == responder) m_application = nullptr;
    if (m_documentController == responder) m_documentController = nullptr;
    for (auto it = m_controllers.begin(); it != m_controllers.end();) {
        std::erase(it.value(), responder);
        it = it.value().empty() ? m_controllers.erase(it) : std::next(it);
    }
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
        auto item = MenuItem::make(plainTitle(window), kOrderFront);
        item->setRepresentedObject(QVariant::fromValue(QPointer<QWidget>(window)));
        m_windowItems.push_back(menu.addItem(std::move(item)));
    }
}

void ActionDispatcher::setApplicationResponder(Responder* responder) { m_application = responder; }

Responder* ActionDispatcher::applicationResponder() const
{
    return m_application ? m_application : m_defaultApplication.get();
}

void ActionDispatcher::setViewController(QWidget* view, Responder* controller)
{
    if (!view || !controller) return;
    auto& list = m_controllers[view];
    if (std::find(list.begin(), list.end(), controller) != list.end()) return;
    if (list.empty())
        connect(view, &QObject::destroyed, this, [this, view] { m_controllers.remove(view); });
    list.push_back(controller);
}

void ActionDispatcher::removeViewController(QWidget* view, Responder* controller)
{
    const auto it = m_controllers.find(view);
    if (it == m_controllers.end()) return;
    std::erase(it.value(), controller);
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

std::vector<Responder*> ActionDispatcher::responderChain(QWidget* start) const
{
    std::vector<Responder*> chain;
    QSet<const Responder*> seen;
    const auto add = [&](Responder* r) {
        while (r && !seen.contains(r)) {
            chain.push_back(r);
            seen.insert(r);
            r = r->nextResponder();
        }
    };
    QWidget* w = start ? start : focusStart();
    if (w && !dynamic_cast<Responder*>(w) && StandardEditResponder::canHandle(w)) {
        static_cast<StandardEditResponder&>(*m_editAdapter).target = w;
        add(m_editAdapter.get());
    }
    for (; w; w = w->parentWidget()) {
        add(dynamic_cast<Responder*>(w));
        const auto it = m_controllers.constFind(w);
        if (it != m_controllers.constEnd())
            for (Responder* controller : it.value()) add(controller);
    }
    add(applicationResponder());
    add(m_documentController);
    return chain;
}

Responder* ActionDispatcher::targetForAction(const QString& action, QWidget* start) const
{
    if (action.isEmpty()) return nullptr;
    for (Responder* r : responderChain(start))
        if (r->respondsTo(action)) return r;
    return nullptr;
}

bool ActionDispatcher::sendAction(const QString& action, MenuItem* sender, QWidget* start)
{
    Responder* target = targetForAction(action, start);
    if (!target) return false;
    target->perform(action, sender);
    return true;
}

QString ActionDispatcher::standardTitle(const QString& action)
{
    if (action == kUndo) return platformText("menu.edit.undo", "Undo");
    if (action == kRedo) return platformText("menu.edit.redo", "Redo");
    if (action == QLatin1String("saveDocument:")) return platformText("menu.file.save", "Save");
    if (action == QLatin1String("revertDocumentToSaved:"))
        return platformText("menu.file.revert", "Revert to Saved");
    if (action == QLatin1String("toggleFullScreen:"))
        return platformText("menu.view.fullScreen.enter", "Enter Full Screen");
    return {};
}

Responder* ActionDispatcher::validate(MenuItem& item, QWidget* start, bool& enabled)
{
    enabled = false;
    if (item.isSeparator()) return nullptr;
    if (item.action().isEmpty()) {
        // A submenu opens; an item without an action is a heading.
        enabled = item.submenu() != nullptr;
        item.setEnabled(enabled);
        return nullptr;
    }
    if (item.title().isEmpty()) {
        const QString standard = standardTitle(item.action());
        if (!standard.isEmpty()) item.setTitle(standard);
    }
    Responder* target = targetForAction(item.action(), start);
    if (!target) {
        if (item.hidesWhenUnhandled()) item.setHidden(true);
        item.setEnabled(false);
        return nullptr;
    }
    if (item.hidesWhenUnhandled()) item.setHidden(false);
    enabled = target->validate(item).value_or(true);
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
    Responder* target = validate(item, nullptr, enabled);
    if (target && enabled) target->perform(item.action(), &item);
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
        Responder* target = validate(item, start, enabled);
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
    if (!m_mainMenu || QApplication::activeModalWidget()) return false;
    if (modifierOfKey(event.key()) != Qt::NoModifier) return false;
    QWidget* start = receiver;
    if (!start || isTransientWindow(start->window()) || qobject_cast<QMenuBar*>(start)) start = focusStart();
    bool consumed = false;
    MenuItem* item = findKeyItem(*m_mainMenu, event, start, consumed);
    if (!item) return consumed;
    // A key pressed while a menu is open closes it, as a click would.
    while (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        if (QApplication::activePopupWidget() == popup) break;
    }
    if (Responder* target = targetForAction(item->action(), start)) target->perform(item->action(), item);
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
