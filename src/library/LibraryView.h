#pragma once

#include <QColor>
#include <QStringList>
#include <QWidget>

#include <functional>

namespace lumora {

// The root view of a library sidebar, and the place where folders from
// other programs are dropped to become libraries. A drag that comes from
// Lumora itself (the outline's rows) is never taken; one from outside that
// offers folders outlines the pane while it hovers, and dropping it hands
// the folders over.
class LibraryView : public QWidget {
    Q_OBJECT

public:
    explicit LibraryView(QWidget* parent = nullptr);

    // Called with the dropped folders (absolute, clean paths), in order.
    std::function<void(const QStringList& folders)> foldersDropped;

    bool isHighlighted() const { return m_highlighted; }
    void setHighlightColor(const QColor& color) { m_highlightColor = color; }

    // The folders a drag offers; none for a drag from inside Lumora.
    static QStringList droppableFolders(const QDropEvent* event);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setHighlighted(bool highlighted);

    bool m_highlighted = false;
    QColor m_highlightColor;
    // Drawn over the pane's views, letting the mouse through.
    QWidget* m_overlay = nullptr;
};

} // namespace lumora
