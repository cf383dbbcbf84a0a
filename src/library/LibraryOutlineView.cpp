#include "library/LibraryOutlineView.h"

#include "library/File.h"
#include "library/FileRowDelegate.h"
#include "library/LibraryOutlineModel.h"
#include "platform/files/FolderListing.h"
#include "platform/files/NativePath.h"

#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

namespace lumora {

namespace {

constexpr int kIndentation = 14;
constexpr int kSelectionInset = 4;
constexpr double kSelectionRadius = 5.0;

} // namespace

LibraryOutlineView::LibraryOutlineView(LibraryOutlineModel& model, FileRowDelegate& delegate, QWidget* parent)
    : QTreeView(parent), m_model(model), m_delegate(delegate)
{
    setModel(&model);
    setItemDelegate(&delegate);
    setHeaderHidden(true);
    setUniformRowHeights(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIndentation(kIndentation);
    setRootIsDecorated(true);
    setAnimated(false);
    setAllColumnsShowFocus(false);
    setExpandsOnDoubleClick(true);
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setAutoExpandDelay(700);
    setTextElideMode(Qt::ElideRight);

    m_onScreenTimer.setSingleShot(true);
    m_onScreenTimer.setInterval(0);
    connect(&m_onScreenTimer, &QTimer::timeout, this, &LibraryOutlineView::updateRowsOnScreen);
    connect(&model, &QAbstractItemModel::modelReset, this, [this] { m_onScreenTimer.start(); });
}

void LibraryOutlineView::setColors(const QColor& selection, const QColor& arrows)
{
    m_selection = selection;
    m_arrows = arrows;
    // The rows draw their own selection.
    QPalette p = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Highlight, Qt::transparent);
        p.setColor(group, QPalette::Base, Qt::transparent);
        p.setColor(group, QPalette::AlternateBase, Qt::transparent);
    }
    setPalette(p);
    viewport()->update();
}

// Rows on screen -------------------------------------------------------------------------

QModelIndexList LibraryOutlineView::rowsOnScreen() const
{
    QModelIndexList rows;
    if (!isVisible()) return rows;
    const int bottom = viewport()->height();
    for (QModelIndex index = indexAt(QPoint(1, 0)); index.isValid(); index = indexBelow(index)) {
        if (visualRect(index).top() >= bottom) break;
        rows << index;
    }
    return rows;
}

void LibraryOutlineView::updateRowsOnScreen()
{
    m_model.setRowsOnScreen(rowsOnScreen());
}

void LibraryOutlineView::paintEvent(QPaintEvent* event)
{
    QTreeView::paintEvent(event);
    // Not while painting: a file that comes on screen may change.
    m_onScreenTimer.start();
}

void LibraryOutlineView::hideEvent(QHideEvent* event)
{
    QTreeView::hideEvent(event);
    m_onScreenTimer.stop();
    m_model.setRowsOnScreen({});
}

// Drawing ----------------------------------------------------------------------------------

void LibraryOutlineView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (selectionModel() && selectionModel()->isSelected(index) && m_selection.isValid()) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(m_selection);
        const QRectF row(kSelectionInset, option.rect.top() + 1, viewport()->width() - 2 * kSelectionInset,
                         option.rect.height() - 2);
        painter->drawRoundedRect(row, kSelectionRadius, kSelectionRadius);
        painter->restore();
    }
    QStyleOptionViewItem plain = option;
    plain.state &= ~QStyle::State_HasFocus;
    QTreeView::drawRow(painter, plain, index);
}

void LibraryOutlineView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const
{
    const File* file = m_model.fileAt(index);
    if (!file || !file->isDirectory()) return;
    // A small chevron in the last step of the indentation, on the name's line.
    const QRectF area(rect.right() - indentation() + 1, rect.top(), indentation(), FileRowDelegate::folderRowHeight);
    const QPointF c = area.center() + QPointF(1, 0);
    const double s = 3.0;
    QPainterPath path;
    if (isExpanded(index)) {
        path.moveTo(c.x() - s, c.y() - s / 2);
        path.lineTo(c.x(), c.y() + s / 2);
        path.lineTo(c.x() + s, c.y() - s / 2);
    } else {
        path.moveTo(c.x() - s / 2, c.y() - s);
        path.lineTo(c.x() + s / 2, c.y());
        path.lineTo(c.x() - s / 2, c.y() + s);
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPen pen(m_arrows.isValid() ? m_arrows : palette().color(QPalette::WindowText), 1.4);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter->setPen(pen);
    painter->drawPath(path);
    painter->restore();
}

// Clicks -------------------------------------------------------------------------------------

void LibraryOutlineView::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    m_pressed = index;
    m_pressOnArrow = index.isValid() && event->position().x() < visualRect(index).left();
    QTreeView::mousePressEvent(event);
}

void LibraryOutlineView::mouseReleaseEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    const bool plainClick = event->button() == Qt::LeftButton
                            && !(event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::MetaModifier));
    const bool onPressedRow = index.isValid() && index == m_pressed && !m_pressOnArrow;
    QTreeView::mouseReleaseEvent(event);
    m_pressed = QModelIndex();
    if (plainClick && onPressedRow && state() != QAbstractItemView::EditingState) emit rowClicked(index);
}

void LibraryOutlineView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex clicked = indexAt(event->pos());
    setFocus(Qt::PopupFocusReason);
    emit contextMenuRequested(clicked, event->globalPos());
    event->accept();
}

// Dragging ----------------------------------------------------------------------------------

void LibraryOutlineView::startDrag(Qt::DropActions)
{
    QModelIndexList rows = selectionModel() ? selectionModel()->selectedRows(0) : QModelIndexList();
    if (rows.isEmpty()) return;
    QMimeData* data = m_model.mimeData(rows);
    if (!data) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const QRect first = visualRect(rows.first()).intersected(viewport()->rect());
    if (!first.isEmpty()) {
        QPixmap pixmap = viewport()->grab(first);
        drag->setPixmap(pixmap);
        drag->setHotSpot(viewport()->mapFromGlobal(QCursor::pos()) - first.topLeft());
    }
    // Other programs may copy, move or link; inside the library it is a move.
    drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::MoveAction);
}

QStringList LibraryOutlineView::acceptablePaths(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        // By the name's bytes (QUrl::toLocalFile loses those that are not UTF-8).
        const QString path = QDir::cleanPath(NativePath::fromFileUrl(url));
        const QString name = QFileInfo(path).fileName();
        if (FolderListing::isHiddenName(name)) continue;
        const auto entry = FolderListing::examine(path);
        const bool folder = entry && entry->kind == FolderListing::Kind::folder;
        const bool document = NativePath::isRegularFile(path) && FolderListing::isDocumentName(name);
        if ((folder || document) && !paths.contains(path)) paths << path;
    }
    return paths;
}

QModelIndex LibraryOutlineView::dropTargetAt(const QPoint& position) const
{
    const QModelIndex index = indexAt(position);
    const File* file = m_model.fileAt(index);
    if (!file) return {};
    if (file->isDirectory()) return index;
    return index.parent();
}

bool LibraryOutlineView::acceptsDrop(QDropEvent* event, QModelIndex* target)
{
    const QStringList paths = acceptablePaths(event->mimeData());
    if (paths.isEmpty() || !m_model.root()) return false;
    *target = dropTargetAt(event->position().toPoint());
    const File* folder = target->isValid() ? m_model.fileAt(*target) : m_model.root();
    if (!folder) return false;
    // A folder never goes into itself or into a folder inside it.
    const QString destination = folder->path();
    for (const QString& path : paths)
        if (destination == path || destination.startsWith(path + QLatin1Char('/'))) return false;
    return true;
}

void LibraryOutlineView::setDropTarget(const QModelIndex& index)
{
    if (QModelIndex(m_dropTarget) == index) return;
    m_dropTarget = index;
    m_delegate.setDropTarget(index);
    viewport()->update();
}

void LibraryOutlineView::dragEnterEvent(QDragEnterEvent* event)
{
    QTreeView::dragEnterEvent(event);
    answerDrag(event);
}

void LibraryOutlineView::dragMoveEvent(QDragMoveEvent* event)
{
    // Scrolling near the edges, and opening a folder hovered over a while.
    QTreeView::dragMoveEvent(event);
    answerDrag(event);
}

void LibraryOutlineView::answerDrag(QDragMoveEvent* event)
{
    QModelIndex target;
    if (acceptsDrop(event, &target)) {
        setDropTarget(target);
        // Files from a file manager are moved into the library, not copied.
        if (event->possibleActions() & Qt::MoveAction) event->setDropAction(Qt::MoveAction);
        event->accept();
        return;
    }
    setDropTarget({});
    if (acceptablePaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    // Files the outline would take, over a place that cannot take them (a
    // folder over itself): no drop here, and none on the pane behind.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
}

void LibraryOutlineView::dragLeaveEvent(QDragLeaveEvent* event)
{
    QTreeView::dragLeaveEvent(event);
    setDropTarget({});
}

void LibraryOutlineView::dropEvent(QDropEvent* event)
{
    QModelIndex target;
    const bool accepted = acceptsDrop(event, &target);
    setDropTarget({});
    setState(QAbstractItemView::NoState);
    if (!accepted) {
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
        return;
    }
    if (event->possibleActions() & Qt::MoveAction) event->setDropAction(Qt::MoveAction);
    event->accept();
    emit filesDropped(acceptablePaths(event->mimeData()), target);
}

} // namespace lumora
