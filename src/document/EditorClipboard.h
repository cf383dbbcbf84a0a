#pragma once

#include "platform/foundation/Range.h"

#include <QString>

class QDropEvent;
class QMenu;
class QMimeData;
class QPoint;

namespace lumora {

class TextView;

// Text in and out of one editor: cut, copy and paste, drag and drop, and
// the context menu's edit items. Only plain text travels: what comes in
// (text, HTML read without its resources, file names) is given the
// document's line endings and goes through the edit gate like typing, with
// smart paste's spaces; what goes out is the selection's characters.
class EditorClipboard {
public:
    explicit EditorClipboard(TextView& view) : m_view(view) {}

    // The plain text a transfer carries, and whether it carries any.
    static QString plainText(const QMimeData* source);
    static bool canInsert(const QMimeData* source);

    // Pasted (or middle-clicked) data replaces the selection.
    void insert(const QMimeData* source);
    QMimeData* mimeDataFromSelection() const;
    void copy();
    void cut();
    void paste();
    // A drop on the view (see TextView::dropText).
    void drop(QDropEvent* event);
    void dropText(const QString& text, qsizetype position, bool moveSelection);
    // Qt's standard context menu with its edit actions wired to the gate
    // and validated as the Edit menu is, and the spelling's guesses.
    QMenu* contextMenu(const QPoint& position);

private:
    TextView& m_view;
};

} // namespace lumora
