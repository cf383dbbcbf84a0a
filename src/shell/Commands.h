#pragma once

#include "platform/application/CommandTable.h"

namespace lumora {

// Lumora's command table: every command of its menus with its title, key,
// alternate flag and tag. The main menu is built from it.
const CommandTable& commandTable();

} // namespace lumora
