#include "library/LibraryView.h"

#include "platform/files/FolderListing.h"
#include "platform/files/NativePath.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

namespace lumora {

namespace {

constexpr double kHighlightWidth = 6.0;

class HighlightOverlay : public QWidget {
public:
    explicit HighlightOverlay(LibraryView* pane) : QWidget(pane)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        hide();
    }
    QColor color;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor stroke = color.isValid() ? color : palette().color(QPalette::Highlight);
        stroke.setAlphaF(0.5f);
        painter.setPen(QPen(stroke, kHighlightWidth));
        painter.setBrush(Qt::NoBrush);
        const double half = kHighlightWidth / 2;
        painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
    }
};

} // namespace

LibraryView::LibraryView(QWidget* parent) : QWidget(parent)
{
    setAcceptDrops(true);
    setMinimumSize(100, 100);
    m_overlay = new HighlightOverlay(this);
}

void LibraryView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_overlay->setGeometry(rect());
}

QStringList LibraryView::droppableFolders(const QDropEvent* event)
{
    QStringList folders;
    // Rows dragged from the outline (or anything else of Lumora's) are not
    // new libraries.
    if (!event || event->source() || !event->mimeData() || !event->mimeData()->hasUrls()) return folders;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = QDir::cleanPath(QFileInfo(NativePath::fromFileUrl(url)).absoluteFilePath());
        if (NativePath::isFolder(path) && !FolderListing::isHiddenName(QFileInfo(path).fileName())
            && !folders.contains(path))
            folders << path;
    }
    return folders;
}

void LibraryView::setHighlighted(bool highlighted)
{
    if (m_highlighted == highlighted) return;
    m_highlighted = highlighted;
    auto* overlay = static_cast<HighlightOverlay*>(m_overlay);
    overlay->color = m_highlightColor;
    overlay->setGeometry(rect());
    overlay->setVisible(highlighted);
    if (highlighted) overlay->raise();
}

void LibraryView::dragEnterEvent(QDragEnterEvent* event)
{
    const bool folders = !droppableFolders(event).isEmpty();
    setHighlighted(folders);
    if (!folders) {
        event->ignore();
        return;
    }
    if (event->possibleActions() & Qt::LinkAction) event->setDropAction(Qt::LinkAction);
    event->accept();
}

void LibraryView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!m_highlighted) {
        event->ignore();
        return;
    }
    if (event->possibleActions() & Qt::LinkAction) event->setDropAction(Qt::LinkAction);
    event->accept();
}

void LibraryView::dragLeaveEvent(QDragLeaveEvent* event)
{
    setHighlighted(false);
    event->accept();
}

void LibraryView::dropEvent(QDropEvent* event)
{
    // Only a drag this view took, not one a view inside it turned down.
    const bool taken = m_highlighted;
    setHighlighted(false);
    const QStringList folders = taken ? droppableFolders(event) : QStringList();
    if (folders.isEmpty()) {
        event->ignore();
        return;
    }
    if (event->possibleActions() & Qt::LinkAction) event->setDropAction(Qt::LinkAction);
    event->accept();
    if (foldersDropped) foldersDropped(folders);
}

} // namespace lumora
