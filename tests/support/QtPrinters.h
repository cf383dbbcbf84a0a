#pragma once

// Readable failure messages for Qt strings in GoogleTest assertions.
#include <QString>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

#include "platform/application/ActionDispatcher.h"
#include "platform/application/Command.h"
#include "platform/application/CommandTable.h"

namespace lumora {

// A command by its action name in the command table installed, else by its
// number (test messages).
inline std::ostream& operator<<(std::ostream& os, Command command)
{
    const CommandTable* table = ActionDispatcher::instance().commandTable();
    const char* name = table ? table->row(command).name : "";
    if (*name) return os << name;
    return os << "command " << int(command);
}

} // namespace lumora
