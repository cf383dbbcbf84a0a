#include "document/EditorKeys.h"

#include <QKeyEvent>
#include <QKeySequence>

#include <array>

namespace lumora {

namespace {

struct Binding {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    EditorKey command;
};

constexpr Qt::KeyboardModifiers none = Qt::NoModifier;
constexpr Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
constexpr Qt::KeyboardModifiers shift = Qt::ShiftModifier;
const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;

// The edit bindings of Linux desktops (Qt's X11, GNOME and KDE schemes
// together), whichever scheme the running desktop reports, so that the
// editor behaves the same everywhere.
const std::array<Binding, 30>& bindings()
{
    static const std::array<Binding, 30> table{{
        {Qt::Key_Z, ctrl, EditorKey::undo},
        {Qt::Key_F14, none, EditorKey::undo},
        {Qt::Key_Undo, none, EditorKey::undo},
        {Qt::Key_Z, ctrlShift, EditorKey::redo},
        {Qt::Key_Y, ctrl, EditorKey::redo},
        {Qt::Key_Redo, none, EditorKey::redo},
        {Qt::Key_X, ctrl, EditorKey::cut},
        {Qt::Key_Delete, shift, EditorKey::cut},
        {Qt::Key_F20, none, EditorKey::cut},
        {Qt::Key_Cut, none, EditorKey::cut},
        {Qt::Key_C, ctrl, EditorKey::copy},
        {Qt::Key_Insert, ctrl, EditorKey::copy},
        {Qt::Key_F16, none, EditorKey::copy},
        {Qt::Key_Copy, none, EditorKey::copy},
        {Qt::Key_V, ctrl, EditorKey::paste},
        {Qt::Key_Insert, shift, EditorKey::paste},
        {Qt::Key_F18, none, EditorKey::paste},
        {Qt::Key_Paste, none, EditorKey::paste},
        {Qt::Key_Insert, ctrlShift, EditorKey::pasteSelection},
        {Qt::Key_Delete, none, EditorKey::deleteForward},
        {Qt::Key_D, ctrl, EditorKey::deleteForward},
        {Qt::Key_Backspace, none, EditorKey::deleteBackward},
        {Qt::Key_Backspace, shift, EditorKey::deleteBackward},
        {Qt::Key_Backspace, ctrl, EditorKey::deleteWordBackward},
        {Qt::Key_Delete, ctrl, EditorKey::deleteWordForward},
        // Qt's "delete to the end of the line" and "delete the line": the
        // menu gives Ctrl+K to Add Link, and nothing else to Ctrl+U.
        {Qt::Key_K, ctrl, EditorKey::switchedOff},
        {Qt::Key_U, ctrl, EditorKey::switchedOff},
        // Overwrite mode and the paragraph direction keys change the text
        // or its formats behind the edit gate.
        {Qt::Key_Insert, none, EditorKey::switchedOff},
        {Qt::Key_Direction_L, none, EditorKey::switchedOff},
        {Qt::Key_Direction_R, none, EditorKey::switchedOff},
    }};
    return table;
}

bool isNavigationKey(int key)
{
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return true;
    default:
        return false;
    }
}

bool matchesNavigation(const QKeyEvent& e)
{
    static const QKeySequence::StandardKey keys[] = {
        QKeySequence::SelectAll,           QKeySequence::Deselect,
        QKeySequence::MoveToNextChar,      QKeySequence::MoveToPreviousChar,
        QKeySequence::MoveToNextWord,      QKeySequence::MoveToPreviousWord,
        QKeySequence::MoveToNextLine,      QKeySequence::MoveToPreviousLine,
        QKeySequence::MoveToNextPage,      QKeySequence::MoveToPreviousPage,
        QKeySequence::MoveToStartOfLine,   QKeySequence::MoveToEndOfLine,
        QKeySequence::MoveToStartOfBlock,  QKeySequence::MoveToEndOfBlock,
        QKeySequence::MoveToStartOfDocument, QKeySequence::MoveToEndOfDocument,
        QKeySequence::SelectNextChar,      QKeySequence::SelectPreviousChar,
        QKeySequence::SelectNextWord,      QKeySequence::SelectPreviousWord,
        QKeySequence::SelectNextLine,      QKeySequence::SelectPreviousLine,
        QKeySequence::SelectNextPage,      QKeySequence::SelectPreviousPage,
        QKeySequence::SelectStartOfLine,   QKeySequence::SelectEndOfLine,
        QKeySequence::SelectStartOfBlock,  QKeySequence::SelectEndOfBlock,
        QKeySequence::SelectStartOfDocument, QKeySequence::SelectEndOfDocument,
    };
    for (QKeySequence::StandardKey key : keys)
        if (e.matches(key)) return true;
    return false;
}

} // namespace

EditorKey editorKey(const QKeyEvent& e)
{
    const Qt::KeyboardModifiers mods = e.modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    const int key = e.key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (mods == Qt::NoModifier || mods == Qt::ShiftModifier) return EditorKey::newline;
    }
    for (const Binding& b : bindings())
        if (b.key == key && b.modifiers == mods) return b.command;
    // Other schemes' bindings for the same commands.
    if (e.matches(QKeySequence::Undo)) return EditorKey::undo;
    if (e.matches(QKeySequence::Redo)) return EditorKey::redo;
    if (e.matches(QKeySequence::Cut)) return EditorKey::cut;
    if (e.matches(QKeySequence::Copy)) return EditorKey::copy;
    if (e.matches(QKeySequence::Paste)) return EditorKey::paste;
    if (e.matches(QKeySequence::DeleteStartOfWord)) return EditorKey::deleteWordBackward;
    if (e.matches(QKeySequence::DeleteEndOfWord)) return EditorKey::deleteWordForward;
    if (e.matches(QKeySequence::DeleteEndOfLine) || e.matches(QKeySequence::DeleteCompleteLine))
        return EditorKey::switchedOff;
    if (isNavigationKey(key) || matchesNavigation(e)) return EditorKey::navigation;
    return EditorKey::other;
}

} // namespace lumora
