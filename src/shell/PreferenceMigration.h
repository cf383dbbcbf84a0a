#pragma once

#include <QtGlobal>

namespace lumora {

class UserDefaults;

// Brings preferences written by older builds into the form this build reads,
// in a fixed cascade of steps keyed by the build number that wrote them:
// each step N runs when last <= N (last is the stored "lastVersion", 0 when
// none is stored), so a first launch runs them all. Everything is written
// at once, when the cascade ends. The caller stores the new build number.
//
// 43: the nine text options move to their "...Enabled" names
// 50: "useCustomFont" goes
// 51: "libraries" keeps only data items ("showLibrariesIntroduction" goes)
// 60: "theme" turns from a dark flag into a theme id
// 79: "sidebarMultiple" goes
// 86: "sidebarWidth" and "outlineWidth" go
// 87: "sentenceHighlighting" turns focus highlighting on by sentence
void migrateUserDefaults(UserDefaults& defaults, qint64 last);

} // namespace lumora
