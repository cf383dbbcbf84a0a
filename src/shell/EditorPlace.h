#pragma once

#include <QByteArray>

namespace lumora {

class TextView;

// Where the writer was in an editor, to come back to: the selection, and
// the character at the top of the editor with how far above or below the
// top its line starts. Kept as bytes (a version, then the numbers) in a
// window's restorable state and in the library's record of each file.
class EditorPlace {
public:
    static QByteArray of(const TextView& view);
    // Puts the editor back at the place; bytes that hold none (empty, or of
    // another version) put the caret at the start.
    static void restore(TextView& view, const QByteArray& place);
};

} // namespace lumora
