#pragma once

#include <QColor>
#include <QPersistentModelIndex>
#include <QTimer>
#include <QTreeView>

#include <functional>

class QMimeData;

namespace lumora {

class FileRowDelegate;
class LibraryOutlineModel;

// The outline of a library sidebar: the folders and documents of the shown
// tree, one column, rows as FileRowDelegate draws them.
//
// - It tells its model which rows are on screen after each paint, so that
//   only those documents read their summaries.
// - A plain click on a row (no Ctrl or Shift) reports the row: the sidebar
//   opens a document in the window.
// - Its context menu is the sidebar's business (the Library menu).
// - Drags carry the rows' files as file URLs (text/uri-list), so that a file
//   manager understands them. Drops of folders and documents from anywhere
//   are offered to the folder under the pointer: a folder row takes them, a
//   document row gives them to its folder, and empty space to the top
//   folder. A folder never takes itself or a folder it is inside.
class LibraryOutlineView : public QTreeView {
    Q_OBJECT

public:
    LibraryOutlineView(LibraryOutlineModel& model, FileRowDelegate& delegate, QWidget* parent = nullptr);

    // Colours from the theme: the selection fill and the disclosure arrows.
    void setColors(const QColor& selection, const QColor& arrows);

    // The local file paths a drag offers that a library takes: folders and
    // documents (by name). Empty when it offers none.
    static QStringList acceptablePaths(const QMimeData* data);
    // The folder row a drop at position goes into: a folder row itself, a
    // document row's folder; invalid for the top folder.
    QModelIndex dropTargetAt(const QPoint& position) const;

    // The rows on screen now, top to bottom.
    QModelIndexList rowsOnScreen() const;
    // Tells the model which rows are on screen, now.
    void updateRowsOnScreen();

signals:
    void rowClicked(const QModelIndex& index);
    void contextMenuRequested(const QModelIndex& clicked, const QPoint& globalPosition);
    // Files dropped into the folder of target (invalid: the top folder).
    void filesDropped(const QStringList& paths, const QModelIndex& target);

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool acceptsDrop(QDropEvent* event, QModelIndex* target);
    void answerDrag(QDragMoveEvent* event);
    void setDropTarget(const QModelIndex& index);

    LibraryOutlineModel& m_model;
    FileRowDelegate& m_delegate;
    QColor m_selection;
    QColor m_arrows;
    QTimer m_onScreenTimer;
    QPersistentModelIndex m_pressed;
    QPersistentModelIndex m_dropTarget;
    bool m_pressOnArrow = false;
};

} // namespace lumora
