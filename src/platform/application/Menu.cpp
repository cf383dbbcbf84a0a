#include "platform/application/Menu.h"

#include "platform/application/ActionDispatcher.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QSet>

namespace lumora {

namespace {

std::optional<Qt::Key> keyForCharacter(char16_t c, bool& impliesShift)
{
    impliesShift = false;
    switch (c) {
    case KeyEquivalent::backspace: return Qt::Key_Backspace;
    case KeyEquivalent::tab: return Qt::Key_Tab;
    case KeyEquivalent::lineFeed:
    case u'\r': return Qt::Key_Return;
    case KeyEquivalent::upArrow: return Qt::Key_Up;
    case KeyEquivalent::downArrow: return Qt::Key_Down;
    case KeyEquivalent::leftArrow: return Qt::Key_Left;
    case KeyEquivalent::rightArrow: return Qt::Key_Right;
    case 0x1B: return Qt::Key_Escape;
    case 0x7F: return Qt::Key_Delete;
    default: break;
    }
    if (c >= KeyEquivalent::f1 && c <= KeyEquivalent::f35) return Qt::Key(Qt::Key_F1 + (c - KeyEquivalent::f1));
    if (c >= u'a' && c <= u'z') return Qt::Key(Qt::Key_A + (c - u'a'));
    if (c >= u'A' && c <= u'Z') {
        // An upper-case key equivalent means the letter with Shift.
        impliesShift = true;
        return Qt::Key(Qt::Key_A + (c - u'A'));
    }
    // Qt names the printable Latin-1 keys by their character code.
    if (c > 0x20 && c < 0x7F) return Qt::Key(c);
    return std::nullopt;
}

std::optional<QKeyCombination> displayCombination(const QString& keyEquivalent, KeyModifierMask mask)
{
    if (keyEquivalent.size() != 1) return std::nullopt;
    bool shift = false;
    const auto key = keyForCharacter(keyEquivalent.at(0).unicode(), shift);
    if (!key) return std::nullopt;
    Qt::KeyboardModifiers mods = qtModifiers(mask);
    if (shift) mods |= Qt::ShiftModifier;
    return QKeyCombination(mods, *key);
}

constexpr Qt::KeyboardModifiers kRelevantModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

} // namespace

Qt::KeyboardModifiers qtModifiers(KeyModifierMask mask)
{
    Qt::KeyboardModifiers mods;
    if (mask & commandKey) mods |= Qt::ControlModifier;
    if (mask & optionKey) mods |= Qt::AltModifier;
    if (mask & shiftKey) mods |= Qt::ShiftModifier;
    if (mask & controlKey) mods |= Qt::MetaModifier;
    return mods;
}

std::optional<QKeyCombination> menuShortcut(const QString& keyEquivalent, KeyModifierMask mask)
{
    const auto combination = displayCombination(keyEquivalent, mask);
    if (!combination) return std::nullopt;
    const Qt::Key key = combination->key();
    const bool typingKey = key == Qt::Key_Backspace || key == Qt::Key_Tab;
    if (typingKey && (combination->keyboardModifiers() & ~Qt::ShiftModifier) == Qt::NoModifier)
        return std::nullopt;
    return combination;
}

bool keyEventMatches(const QKeyEvent& event, QKeyCombination shortcut)
{
    int key = event.key();
    if (key == Qt::Key_Backtab) key = Qt::Key_Tab;
    if (key == Qt::Key_Enter) key = Qt::Key_Return;
    if (key != shortcut.key()) return false;
    const Qt::KeyboardModifiers held = event.modifiers() & kRelevantModifiers;
    const Qt::KeyboardModifiers wanted = shortcut.keyboardModifiers();
    if (held == wanted) return true;
    const bool letterOrDigit = (key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9);
    const bool symbol = key > 0x20 && key < 0x7F && !letterOrDigit;
    return symbol && !(wanted & Qt::ShiftModifier) && (held & ~Qt::ShiftModifier) == wanted;
}

// MenuItem ---------------------------------------------------------------

MenuItem::MenuItem(QString title, Command command, QString keyEquivalent, KeyModifierMask modifierMask,
                   bool isAlternate, qint64 tag)
    : m_title(std::move(title)), m_command(command), m_keyEquivalent(std::move(keyEquivalent)),
      m_modifierMask(modifierMask), m_alternate(isAlternate), m_tag(tag)
{
}

std::unique_ptr<MenuItem> MenuItem::make(QString title, Command command, QString keyEquivalent,
                                         KeyModifierMask modifierMask, bool isAlternate, qint64 tag)
{
    return std::make_unique<MenuItem>(std::move(title), command, std::move(keyEquivalent), modifierMask, isAlternate,
                                      tag);
}

std::unique_ptr<MenuItem> MenuItem::withSubmenu(std::unique_ptr<Menu> submenu)
{
    auto item = std::make_unique<MenuItem>(submenu->title());
    item->setSubmenu(std::move(submenu));
    return item;
}

std::unique_ptr<MenuItem> MenuItem::separator()
{
    auto item = std::make_unique<MenuItem>();
    item->m_separator = true;
    return item;
}

MenuItem::~MenuItem()
{
    // A submenu item's action belongs to the submenu's QMenu.
    if (m_qaction && !m_submenu) {
        QObject::disconnect(m_qaction, nullptr, nullptr, nullptr);
        m_qaction->deleteLater();
    }
}

void MenuItem::setTitle(const QString& title)
{
    if (m_title == title) return;
    m_title = title;
    // A new title gets its mnemonic when its menu next opens.
    m_mnemonic = -1;
    if (m_submenu) {
        m_submenu->m_title = title;
        m_submenu->updateViewTitle();
    }
    sync();
}

void MenuItem::setMnemonicIndex(int index)
{
    if (index < -1 || index >= m_title.size()) index = -1;
    if (m_mnemonic == index) return;
    m_mnemonic = index;
    if (m_submenu) m_submenu->updateViewTitle();
    sync();
}

QString MenuItem::displayTitle() const
{
    QString text;
    text.reserve(m_title.size() + 4);
    for (qsizetype i = 0; i < m_title.size(); ++i) {
        if (i == m_mnemonic) text += QLatin1Char('&');
        if (m_title.at(i) == QLatin1Char('&')) text += QLatin1Char('&');
        text += m_title.at(i);
    }
    return text;
}

void MenuItem::setTitleFont(const std::optional<QFont>& font)
{
    m_font = font;
    sync();
}

void MenuItem::setKeyEquivalent(const QString& keyEquivalent, KeyModifierMask modifierMask)
{
    m_keyEquivalent = keyEquivalent;
    m_modifierMask = modifierMask;
    sync();
}

void MenuItem::setAlternate(bool alternate)
{
    m_alternate = alternate;
    m_standsBack = alternate;
    sync();
}

void MenuItem::setState(State state)
{
    if (m_state == state) return;
    m_state = state;
    sync();
}

void MenuItem::setHidden(bool hidden)
{
    if (m_hidden == hidden) return;
    m_hidden = hidden;
    sync();
}

void MenuItem::setEnabled(bool enabled)
{
    if (m_enabled == enabled) return;
    m_enabled = enabled;
    sync();
}

void MenuItem::setSubmenu(std::unique_ptr<Menu> submenu)
{
    // The view of an item with a submenu is the submenu's own action, so an
    // item that is already shown cannot change between the two.
    Q_ASSERT(!m_qaction);
    m_submenu = std::move(submenu);
    if (m_submenu) {
        m_submenu->m_supermenuItem = this;
        m_submenu->m_title = m_title;
    }
}

bool MenuItem::isShown() const { return !m_hidden && !m_standsBack; }

QAction* MenuItem::qAction()
{
    if (m_submenu) {
        QAction* action = m_submenu->qMenu()->menuAction();
        if (!m_qaction) {
            m_qaction = action;
            sync();
        }
        return action;
    }
    if (!m_qaction) {
        m_qaction = new QAction();
        QObject::connect(m_qaction, &QAction::triggered, m_qaction,
                         [this] { ActionDispatcher::instance().performMenuItem(*this); });
        sync();
    }
    return m_qaction;
}

void MenuItem::sync()
{
    QAction* a = m_qaction;
    if (!a) return;
    a->setSeparator(m_separator);
    if (!m_separator) {
        QString text = displayTitle();
        // The key shows after a tab, where menus show shortcuts; Qt never
        // registers it, so only the dispatcher acts on it.
        if (const auto shown = displayCombination(m_keyEquivalent, m_modifierMask))
            text += QLatin1Char('\t') + QKeySequence(*shown).toString(QKeySequence::NativeText);
        a->setText(text);
        if (m_font) a->setFont(*m_font);
        a->setCheckable(m_state != State::off);
        a->setChecked(m_state != State::off);
        a->setEnabled(m_enabled);
    }
    a->setVisible(isShown());
}

void MenuItem::setShowsAsAlternatePair(bool showAlternate)
{
    const bool standsBack = m_alternate ? !showAlternate : showAlternate;
    if (m_standsBack == standsBack) return;
    m_standsBack = standsBack;
    sync();
}

// Menu -------------------------------------------------------------------

Menu::Menu(QString title) : m_title(std::move(title)) {}

std::unique_ptr<Menu> Menu::withItems(QString title, std::vector<std::unique_ptr<MenuItem>> items)
{
    auto menu = std::make_unique<Menu>(std::move(title));
    for (auto& item : items) menu->addItem(std::move(item));
    return menu;
}

Menu::~Menu()
{
    ActionDispatcher::instance().menuDestroyed(this);
    m_items.clear();
    if (m_qmenu) {
        QObject::disconnect(m_qmenu, nullptr, nullptr, nullptr);
        m_qmenu->deleteLater();
    }
}

void Menu::setTitle(const QString& title)
{
    if (m_supermenuItem) {
        m_supermenuItem->setTitle(title);
        return;
    }
    m_title = title;
    updateViewTitle();
}

void Menu::updateViewTitle()
{
    if (!m_qmenu) return;
    if (m_supermenuItem) {
        m_qmenu->setTitle(m_supermenuItem->displayTitle());
    } else {
        QString text = m_title;
        text.replace(QLatin1Char('&'), QLatin1String("&&"));
        m_qmenu->setTitle(text);
    }
}

namespace {

bool canBeMnemonic(QChar c) { return c.isLetterOrNumber(); }

// Where each word of a title starts.
std::vector<int> wordStarts(const QString& title)
{
    std::vector<int> starts;
    for (int i = 0; i < title.size(); ++i)
        if (canBeMnemonic(title.at(i)) && (i == 0 || !title.at(i - 1).isLetterOrNumber())) starts.push_back(i);
    return starts;
}

} // namespace

void Menu::assignMnemonics()
{
    // Headings (no action, no submenu) cannot be chosen: they get none.
    std::vector<MenuItem*> items;
    for (const auto& item : m_items) {
        const bool choosable = item->command() != Command::none || item->submenu();
        if (!item->isSeparator() && !item->isHidden() && !item->title().isEmpty() && choosable)
            items.push_back(item.get());
        else
            item->setMnemonicIndex(-1);
    }

    if (m_mnemonicStyle == MnemonicStyle::firstLetters) {
        for (MenuItem* item : items) {
            const std::vector<int> starts = wordStarts(item->title());
            item->setMnemonicIndex(starts.empty() ? -1 : starts.front());
        }
        return;
    }

    // Submenus first (a letter is the keyboard's only way into them), then
    // items without a key of their own, then the rest; in menu order within
    // each. Each item takes the first letter of its title, else the first
    // letter of another word, else any letter or digit; each letter once.
    const auto rank = [](const MenuItem* item) {
        if (item->submenu()) return 0;
        return item->shortcut() ? 2 : 1;
    };
    std::stable_sort(items.begin(), items.end(),
                     [&](const MenuItem* a, const MenuItem* b) { return rank(a) < rank(b); });
    QSet<QChar> taken;
    for (MenuItem* item : items) {
        const QString& title = item->title();
        std::vector<int> candidates = wordStarts(title);
        for (int at = 0; at < title.size(); ++at)
            if (canBeMnemonic(title.at(at))) candidates.push_back(at);
        int chosen = -1;
        for (int at : candidates) {
            const QChar key = title.at(at).toLower();
            if (taken.contains(key)) continue;
            taken.insert(key);
            chosen = at;
            break;
        }
        item->setMnemonicIndex(chosen);
    }
}

MenuItem* Menu::itemAt(int index) const
{
    return index >= 0 && index < count() ? m_items[size_t(index)].get() : nullptr;
}

int Menu::indexOfItem(const MenuItem* item) const
{
    for (int i = 0; i < count(); ++i)
        if (m_items[size_t(i)].get() == item) return i;
    return -1;
}

MenuItem* Menu::itemWithCommand(Command command) const
{
    for (const auto& item : m_items)
        if (item->command() == command) return item.get();
    return nullptr;
}

MenuItem* Menu::addItem(std::unique_ptr<MenuItem> item) { return insertItem(std::move(item), count()); }

MenuItem* Menu::insertItem(std::unique_ptr<MenuItem> item, int index)
{
    index = std::clamp(index, 0, count());
    MenuItem* raw = item.get();
    m_items.insert(m_items.begin() + index, std::move(item));
    attach(raw, index);
    return raw;
}

void Menu::removeItemAt(int index)
{
    if (index < 0 || index >= count()) return;
    detach(m_items[size_t(index)].get());
    m_items.erase(m_items.begin() + index);
}

void Menu::removeAllItems()
{
    while (count() > 0) removeItemAt(count() - 1);
}

void Menu::forEachItem(const std::function<void(MenuItem&)>& visit) const
{
    for (const auto& item : m_items) {
        visit(*item);
        if (item->submenu()) item->submenu()->forEachItem(visit);
    }
}

void Menu::attach(MenuItem* item, int index)
{
    item->m_menu = this;
    item->m_standsBack = item->m_alternate;
    const bool hasViews = m_qmenu || !m_bars.isEmpty();
    if (!hasViews) return;
    QAction* before = index + 1 < count() ? m_items[size_t(index + 1)]->qAction() : nullptr;
    QAction* action = item->qAction();
    if (m_qmenu) m_qmenu->insertAction(before, action);
    for (const auto& bar : m_bars)
        if (bar) bar->insertAction(before, action);
}

void Menu::detach(MenuItem* item)
{
    if (item->m_qaction) {
        if (m_qmenu) m_qmenu->removeAction(item->m_qaction);
        for (const auto& bar : m_bars)
            if (bar) bar->removeAction(item->m_qaction);
    }
    item->m_menu = nullptr;
}

QMenu* Menu::qMenu()
{
    if (!m_qmenu) {
        m_qmenu = new QMenu();
        m_qmenu->setSeparatorsCollapsible(true);
        updateViewTitle();
        QObject::connect(m_qmenu, &QMenu::aboutToShow, m_qmenu,
                         [this] { ActionDispatcher::instance().menuWillOpen(*this); });
        QObject::connect(m_qmenu, &QMenu::aboutToHide, m_qmenu,
                         [this] { ActionDispatcher::instance().menuDidClose(*this); });
        for (const auto& item : m_items) m_qmenu->addAction(item->qAction());
    }
    return m_qmenu;
}

QMenuBar* Menu::makeMenuBar(QWidget* parent)
{
    assignMnemonics();
    auto* bar = new QMenuBar(parent);
    for (const auto& item : m_items) bar->addAction(item->qAction());
    m_bars.removeAll(nullptr);
    m_bars.append(bar);
    return bar;
}

bool Menu::isOpen() const { return m_qmenu && m_qmenu->isVisible(); }

void Menu::updateAlternates(Qt::KeyboardModifiers held)
{
    for (int i = 0; i + 1 < count(); ++i) {
        MenuItem* item = m_items[size_t(i)].get();
        MenuItem* alternate = m_items[size_t(i + 1)].get();
        if (item->isAlternate() || !alternate->isAlternate()) continue;
        const Qt::KeyboardModifiers extra =
            qtModifiers(alternate->keyEquivalentModifierMask()) & ~qtModifiers(item->keyEquivalentModifierMask());
        const bool showAlternate = extra != Qt::NoModifier && (held & extra) == extra;
        item->setShowsAsAlternatePair(showAlternate);
        alternate->setShowsAsAlternatePair(showAlternate);
    }
}

} // namespace lumora
