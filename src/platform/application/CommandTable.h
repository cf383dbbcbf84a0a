#pragma once

#include "platform/application/Command.h"
#include "platform/application/CommandBinding.h"
#include "platform/application/Menu.h"

#include <QString>

#include <array>
#include <memory>
#include <vector>

namespace lumora {

// One command as the menus show it: the title, the key equivalent with its
// modifier mask, the alternate flag and tag, and whether the item starts
// hidden. The name is the action's name in the menus' tables (copy: for
// Copy); it only names the command in messages and test output, never to
// find or send one.
struct CommandRow {
    Command command = Command::none;
    const char* name = "";
    // The title's localisation key; none where validation or the menu that
    // lists the command titles the item.
    const char* titleKey = nullptr;
    QString keyEquivalent;
    KeyModifierMask modifierMask = 0;
    bool isAlternate = false;
    qint64 tag = 0;
    // Hidden from the start; keepsKeyWhenHidden lets its key work anyway.
    bool isHidden = false;
    bool keepsKeyWhenHidden = false;
    // Shown only while something carries the command out (see
    // MenuItem::hidesWhenUnhandled()).
    bool hidesWhenUnhandled = false;

    // Setters for building a table row by row.
    CommandRow& title(const char* key)
    {
        titleKey = key;
        return *this;
    }
    CommandRow& key(QString equivalent, KeyModifierMask mask = 0)
    {
        keyEquivalent = std::move(equivalent);
        modifierMask = mask;
        return *this;
    }
    CommandRow& key(char16_t equivalent, KeyModifierMask mask = 0) { return key(QString(QChar(equivalent)), mask); }
    CommandRow& alternate()
    {
        isAlternate = true;
        return *this;
    }
    CommandRow& withTag(qint64 value)
    {
        tag = value;
        return *this;
    }
    CommandRow& hidden(bool keepsKey)
    {
        isHidden = true;
        keepsKeyWhenHidden = keepsKey;
        return *this;
    }
    CommandRow& shownWhenHandled()
    {
        hidesWhenUnhandled = true;
        return *this;
    }

    // The objects that carry the command out, each with the validation of
    // its items. The first object of the responder chain that one of them
    // serves carries it out (the focused one first); for one object, the
    // bindings are tried in the order given.
    std::vector<CommandBinding> bindings;
    CommandRow& handledBy(CommandBinding binding)
    {
        bindings.push_back(std::move(binding));
        return *this;
    }
};

// The application's commands, one row per command: how the menus show it,
// and which objects carry it out. The menus are built from it and the
// ActionDispatcher sends each item's command by it.
class CommandTable {
public:
    CommandTable();

    // Starts the row of a command (replacing any earlier one).
    CommandRow& add(Command command, const char* name);
    const CommandRow& row(Command command) const;
    // More bindings for a command, tried after its row's own (tests bind
    // stand-ins this way).
    void bind(Command command, CommandBinding binding);

    // A menu item for the command, shaped as its row says: titled with the
    // row's key (or title, when given), with its key, alternate flag, tag
    // and hidden state.
    std::unique_ptr<MenuItem> makeItem(Command command, const QString& title = {}) const;
    std::unique_ptr<MenuItem> makeItem(Command command, const char* titleKey) const;

private:
    std::array<CommandRow, commandCount> m_rows;
};

} // namespace lumora
