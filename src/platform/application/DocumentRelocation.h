#pragma once

#include "platform/foundation/PlatformError.h"

#include <QString>

namespace lumora {

class DocumentBase;

// A document whose file moves: Rename…, Move To…, and the moves, renames
// and trashing the program announces through FileRelocations (a library
// operation), which the document follows by itself. Its edits follow the
// file: pending ones are saved before the file moves, and after a move to
// the Trash they are saved into the trashed file, never at the old path.
//
// A part of DocumentBase, which owns it and forwards to it.
class DocumentRelocation {
public:
    explicit DocumentRelocation(DocumentBase& document);

    // Follows the announcements of FileRelocations from now on.
    void follow();

    PlatformStatus moveTo(const QString& path, bool replace);
    PlatformStatus rename();
    PlatformStatus move();
    void fileWasMoved(const QString& newPath);

private:
    DocumentBase& m_document;
};

} // namespace lumora
