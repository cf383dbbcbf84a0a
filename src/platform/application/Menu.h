#pragma once

#include "platform/application/Command.h"

#include <QFont>
#include <QKeyCombination>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QKeyEvent;
class QMenu;
class QMenuBar;
class QWidget;

namespace lumora {

// Modifier flags of a key equivalent, as the menu tables write them; OR-ed
// into a mask. Command is Ctrl on this platform, Option is Alt and Control is
// Meta.
enum KeyModifier : quint32 {
    shiftKey = 0x20000,
    controlKey = 0x40000,
    optionKey = 0x80000,
    commandKey = 0x100000,
};
using KeyModifierMask = quint32;

// Key equivalents that are not printable characters.
namespace KeyEquivalent {
inline constexpr char16_t backspace = 0x0008;
inline constexpr char16_t tab = 0x0009;
inline constexpr char16_t lineFeed = 0x000A;
inline constexpr char16_t upArrow = 0xF700;
inline constexpr char16_t downArrow = 0xF701;
inline constexpr char16_t leftArrow = 0xF702;
inline constexpr char16_t rightArrow = 0xF703;
// The function keys F1 to F35 follow on from F1.
inline constexpr char16_t f1 = 0xF704;
inline constexpr char16_t f11 = 0xF70E;
inline constexpr char16_t f35 = 0xF726;
} // namespace KeyEquivalent

Qt::KeyboardModifiers qtModifiers(KeyModifierMask mask);

// The key a menu item's key equivalent stands for, or none: no key
// equivalent, or a typing key the text views need for themselves (Backspace
// and Tab, bare or with Shift alone, are never menu shortcuts: the editor
// would stop deleting characters and indenting).
std::optional<QKeyCombination> menuShortcut(const QString& keyEquivalent, KeyModifierMask mask);

// Whether a key press is that shortcut. Symbols that need Shift on some
// keyboards ("+", "?", ":") match with or without Shift; a letter with
// Shift never matches the letter without it.
bool keyEventMatches(const QKeyEvent& event, QKeyCombination shortcut);

class Menu;

// Fills or refreshes a menu right before it opens.
class MenuDelegate {
public:
    virtual ~MenuDelegate() = default;
    virtual void menuNeedsUpdate(Menu& menu) = 0;
};

// One item of a menu: its shape (title, command, key equivalent, tag,
// represented value, submenu) and what validation sets (enabled, hidden,
// state, title). The Qt action that shows it is made with the menu's view
// and kept in step with every change.
//
// The item sends its command to the first object of the responder chain
// that carries it out (see ActionDispatcher and CommandTable).
class MenuItem {
public:
    enum class State { off, on, mixed };

    // The item builder: title, command, key equivalent with its modifier
    // mask, alternate flag and tag. The command table shapes the items of
    // its commands (CommandTable::makeItem()); an item without a command is
    // a heading.
    explicit MenuItem(QString title = {}, Command command = Command::none, QString keyEquivalent = {},
                      KeyModifierMask modifierMask = 0, bool isAlternate = false, qint64 tag = 0);
    static std::unique_ptr<MenuItem> make(QString title, Command command = Command::none, QString keyEquivalent = {},
                                          KeyModifierMask modifierMask = 0, bool isAlternate = false,
                                          qint64 tag = 0);
    // An item titled like its submenu that opens it.
    static std::unique_ptr<MenuItem> withSubmenu(std::unique_ptr<Menu> submenu);
    static std::unique_ptr<MenuItem> separator();
    ~MenuItem();
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;

    bool isSeparator() const { return m_separator; }

    const QString& title() const { return m_title; }
    void setTitle(const QString& title);
    // A font for the title (a font family shown in its own face).
    const std::optional<QFont>& titleFont() const { return m_font; }
    void setTitleFont(const std::optional<QFont>& font);

    Command command() const { return m_command; }
    void setCommand(Command command) { m_command = command; }

    const QString& keyEquivalent() const { return m_keyEquivalent; }
    KeyModifierMask keyEquivalentModifierMask() const { return m_modifierMask; }
    void setKeyEquivalent(const QString& keyEquivalent, KeyModifierMask modifierMask);
    // The key that triggers the item, or none (see menuShortcut()).
    std::optional<QKeyCombination> shortcut() const { return menuShortcut(m_keyEquivalent, m_modifierMask); }

    // An alternate stands for the item before it and shows instead of it
    // while its extra modifiers are held.
    bool isAlternate() const { return m_alternate; }
    void setAlternate(bool alternate);

    qint64 tag() const { return m_tag; }
    void setTag(qint64 tag) { m_tag = tag; }

    const QVariant& representedObject() const { return m_represented; }
    void setRepresentedObject(const QVariant& value) { m_represented = value; }

    State state() const { return m_state; }
    void setState(State state);

    bool isHidden() const { return m_hidden; }
    void setHidden(bool hidden);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    // A hidden item's key equivalent still works.
    bool allowsKeyEquivalentWhenHidden() const { return m_keyWhenHidden; }
    void setAllowsKeyEquivalentWhenHidden(bool allows) { m_keyWhenHidden = allows; }
    // Hidden, rather than disabled, while no responder handles the action;
    // a submenu item with this flag is hidden while every item of its
    // submenu is.
    bool hidesWhenUnhandled() const { return m_hidesWhenUnhandled; }
    void setHidesWhenUnhandled(bool hides) { m_hidesWhenUnhandled = hides; }

    Menu* submenu() const { return m_submenu.get(); }
    void setSubmenu(std::unique_ptr<Menu> submenu);
    // The menu holding the item.
    Menu* menu() const { return m_menu; }

    // The letter of the title that chooses the item from the keyboard (its
    // mnemonic, shown underlined), as an index into the title; -1 for none.
    // The menu gives each item one when it opens (Menu::assignMnemonics()).
    int mnemonicIndex() const { return m_mnemonic; }
    void setMnemonicIndex(int index);
    // The title as Qt shows it: "&" doubled, the mnemonic marked.
    QString displayTitle() const;

    // The Qt action showing the item (made on first use).
    QAction* qAction();
    // Whether the item's action is shown (not hidden, and not standing back
    // for its alternate or for the item it is an alternate of).
    bool isShown() const;

private:
    friend class Menu;
    void sync();
    void setShowsAsAlternatePair(bool showAlternate);

    QString m_title;
    int m_mnemonic = -1;
    std::optional<QFont> m_font;
    Command m_command = Command::none;
    QString m_keyEquivalent;
    KeyModifierMask m_modifierMask = 0;
    bool m_alternate = false;
    qint64 m_tag = 0;
    QVariant m_represented;
    State m_state = State::off;
    bool m_hidden = false;
    bool m_enabled = true;
    bool m_keyWhenHidden = false;
    bool m_hidesWhenUnhandled = false;
    bool m_separator = false;
    // Display of an alternate pair: this item stands back for its partner.
    bool m_standsBack = false;
    std::unique_ptr<Menu> m_submenu;
    Menu* m_menu = nullptr;
    QPointer<QAction> m_qaction; // own action; a submenu item shows its submenu's
};

// A menu: a title and items, shown through a QMenu (and, for a main menu,
// any number of QMenuBars). Before it opens, its delegate may fill it and
// the ActionDispatcher validates its items.
class Menu {
public:
    explicit Menu(QString title = {});
    // A menu of the given items, in order.
    static std::unique_ptr<Menu> withItems(QString title, std::vector<std::unique_ptr<MenuItem>> items);
    ~Menu();
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;

    const QString& title() const { return m_title; }
    void setTitle(const QString& title);

    int count() const { return int(m_items.size()); }
    MenuItem* itemAt(int index) const;
    const std::vector<std::unique_ptr<MenuItem>>& items() const { return m_items; }
    int indexOfItem(const MenuItem* item) const;
    // The first item that sends command, searched in this menu only.
    MenuItem* itemWithCommand(Command command) const;

    MenuItem* addItem(std::unique_ptr<MenuItem> item);
    MenuItem* insertItem(std::unique_ptr<MenuItem> item, int index);
    void removeItemAt(int index);
    void removeAllItems();

    MenuDelegate* delegate() const { return m_delegate; }
    void setDelegate(MenuDelegate* delegate) { m_delegate = delegate; }

    // The item whose submenu this is, or none.
    MenuItem* supermenuItem() const { return m_supermenuItem; }

    // Every item of the menu and its submenus, depth first in menu order.
    void forEachItem(const std::function<void(MenuItem&)>& visit) const;

    // The QMenu showing the menu (made on first use, owned by the menu).
    QMenu* qMenu();
    // A menu bar showing the items' submenus, for a main menu (owned by parent).
    QMenuBar* makeMenuBar(QWidget* parent);
    bool isOpen() const;

    // Shows the alternate of each pair instead of its partner while its
    // extra modifiers are among the given ones.
    void updateAlternates(Qt::KeyboardModifiers held);

    // How the menu's items get their mnemonics. Commands: a letter of each
    // item's own, the first letter of a word where it can, so that each
    // letter chooses one item; submenus choose first and items that have a
    // key of their own last. A long list of names (fonts): each item's
    // first letter, so that typing a letter steps through the names that
    // start with it.
    enum class MnemonicStyle { commands, firstLetters };
    void setMnemonicStyle(MnemonicStyle style) { m_mnemonicStyle = style; }
    MnemonicStyle mnemonicStyle() const { return m_mnemonicStyle; }
    // Gives the shown items their mnemonics (done each time the menu opens,
    // after validation has set the titles).
    void assignMnemonics();

private:
    friend class MenuItem;
    void attach(MenuItem* item, int index);
    void detach(MenuItem* item);
    void updateViewTitle();

    QString m_title;
    std::vector<std::unique_ptr<MenuItem>> m_items;
    MenuDelegate* m_delegate = nullptr;
    MenuItem* m_supermenuItem = nullptr;
    MnemonicStyle m_mnemonicStyle = MnemonicStyle::commands;
    QPointer<QMenu> m_qmenu;
    QList<QPointer<QMenuBar>> m_bars;
};

} // namespace lumora
