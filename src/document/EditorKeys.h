#pragma once

class QKeyEvent;

namespace lumora {

// What a key press means to the editor. Qt's text editor has key bindings
// of its own, and on Linux desktops more of them than the menu shows
// (Ctrl+K deletes to the end of the line, Ctrl+U the whole line, Insert
// switches to overwriting). The editor lets Qt see only the keys that move
// the caret or the selection; every key that changes the text becomes one of
// these commands and goes through the editor's one edit gate, and the
// bindings the menu does not offer and that would surprise a writer are
// switched off.
enum class EditorKey {
    other,           // not the editor's: typed text or nothing
    navigation,      // moves the caret or the selection (Qt's own handling)
    undo,            // Ctrl+Z, Undo (F14)
    redo,            // Ctrl+Shift+Z, Ctrl+Y
    cut,             // Ctrl+X, Shift+Delete, Cut (F20)
    copy,            // Ctrl+C, Ctrl+Insert, Copy (F16)
    paste,           // Ctrl+V, Shift+Insert, Paste (F18)
    pasteSelection,  // Ctrl+Shift+Insert: the text selected elsewhere (X11)
    deleteForward,   // Delete, Ctrl+D
    deleteBackward,  // Backspace, Shift+Backspace
    deleteWordBackward, // Ctrl+Backspace
    deleteWordForward,  // Ctrl+Delete
    newline,         // Return, Enter, with or without Shift
    switchedOff,     // Ctrl+K, Ctrl+U, Insert, the direction keys
};

EditorKey editorKey(const QKeyEvent& event);

} // namespace lumora
