#include "platform/application/CommandTable.h"

#include "platform/foundation/Localization.h"

namespace lumora {

CommandTable::CommandTable()
{
    for (int i = 0; i < commandCount; ++i) m_rows[size_t(i)].command = Command(i);
}

CommandRow& CommandTable::add(Command command, const char* name)
{
    CommandRow& row = m_rows[size_t(command)];
    row = CommandRow();
    row.command = command;
    row.name = name;
    return row;
}

const CommandRow& CommandTable::row(Command command) const { return m_rows[size_t(command)]; }

void CommandTable::bind(Command command, CommandBinding binding)
{
    m_rows[size_t(command)].bindings.push_back(std::move(binding));
}

std::unique_ptr<MenuItem> CommandTable::makeItem(Command command, const QString& title) const
{
    const CommandRow& shape = row(command);
    QString shown = title;
    if (shown.isEmpty() && shape.titleKey) shown = localized(shape.titleKey);
    auto item = MenuItem::make(shown, command, shape.keyEquivalent, shape.modifierMask, shape.isAlternate, shape.tag);
    if (shape.isHidden) {
        item->setHidden(true);
        item->setAllowsKeyEquivalentWhenHidden(shape.keepsKeyWhenHidden);
    }
    item->setHidesWhenUnhandled(shape.hidesWhenUnhandled);
    return item;
}

std::unique_ptr<MenuItem> CommandTable::makeItem(Command command, const char* titleKey) const
{
    return makeItem(command, localized(titleKey));
}

} // namespace lumora
