#include "shell/ThemesTableViewController.h"

#include "platform/foundation/Localization.h"
#include "settings/LumoraError.h"
#include "settings/Settings.h"
#include "shell/Dialogs.h"
#include "shell/ThemeViewController.h"
#include "widgets/ViewUtilities.h"

#include <QAbstractListModel>
#include <QAction>
#include <QBoxLayout>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>

namespace lumora {

namespace {

constexpr int kRowHeight = 28;
constexpr int kCellInset = 4;
constexpr int kTextInset = 6;
const char* const kEditedTheme = "lumoraEditedTheme";

const ThemeList& themes() { return Settings::shared().themes(); }

std::shared_ptr<Theme> themeAt(int row)
{
    return row >= 0 && row < int(themes().size()) ? themes()[size_t(row)] : nullptr;
}

int rowOf(const std::shared_ptr<Theme>& theme)
{
    if (!theme) return -1;
    const auto found = std::find(themes().begin(), themes().end(), theme);
    return found == themes().end() ? -1 : int(found - themes().begin());
}

// The rows of a drag payload, when it is one: distinct rows of the list.
std::optional<QList<int>> rowsIn(const QMimeData* data)
{
    if (!data || !data->hasFormat(ThemesTableViewController::themeIndicesType)) return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(data->data(ThemesTableViewController::themeIndicesType));
    if (!document.isArray() || document.array().isEmpty()) return std::nullopt;
    QList<int> rows;
    for (const QJsonValue& value : document.array()) {
        const double number = value.toDouble(-1);
        if (!value.isDouble() || number != double(int(number))) return std::nullopt;
        const int row = int(number);
        if (row < 0 || row >= int(themes().size()) || rows.contains(row)) return std::nullopt;
        rows << row;
    }
    return rows;
}

} // namespace

const QString ThemesTableViewController::themeIndicesType = QStringLiteral("org.kelvarin.themeIndices");

// The model: the settings' list itself. It remembers only how many rows it
// last announced, so that the view never hears of rows it was not told of.
class ThemeListModel : public QAbstractListModel {
public:
    explicit ThemeListModel(QObject* parent) : QAbstractListModel(parent), m_count(int(themes().size())) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_count; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto theme = index.isValid() ? themeAt(index.row()) : nullptr;
        if (!theme) return {};
        if (role == Qt::DisplayRole || role == Qt::EditRole) return theme->displayName();
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid()) return Qt::ItemIsDropEnabled; // a drop below the last row
        const auto theme = themeAt(index.row());
        if (!theme) return Qt::NoItemFlags;
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
        if (!theme->isBuiltIn()) flags |= Qt::ItemIsEditable;
        return flags;
    }

    QStringList mimeTypes() const override { return {ThemesTableViewController::themeIndicesType}; }
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

    QMimeData* mimeData(const QModelIndexList& indexes) const override
    {
        QList<int> rows;
        for (const QModelIndex& index : indexes)
            if (index.isValid() && !rows.contains(index.row())) rows << index.row();
        std::sort(rows.begin(), rows.end());
        return ThemesTableViewController::mimeDataForRows(rows);
    }

    bool canDropMimeData(const QMimeData* data, Qt::DropAction, int, int, const QModelIndex&) const override
    {
        return data && data->hasFormat(ThemesTableViewController::themeIndicesType);
    }

    // The list changed: a new row count resets the view, the same count
    // redraws every row (and keeps an inline editor open).
    void reload()
    {
        const int count = int(themes().size());
        if (count != m_count) {
            beginResetModel();
            m_count = count;
            endResetModel();
        } else if (count > 0) {
            emit dataChanged(index(0), index(count - 1), {Qt::DisplayRole, Qt::EditRole});
        }
    }

    bool isStale() const { return m_count != int(themes().size()); }

private:
    int m_count = 0;
};

// The list view: its drops are the controller's, and only drags that began
// in it are taken.
class ThemesListView : public QListView {
public:
    explicit ThemesListView(ThemesTableViewController* controller) : m_controller(controller)
    {
        // A little room above the first row and below the last.
        setViewportMargins(0, 6, 0, 6);
        setBackgroundRole(QPalette::Base);
        setAutoFillBackground(true);
    }

protected:
    bool takes(const QDropEvent* event) const
    {
        return event->source() == this && event->mimeData()->hasFormat(ThemesTableViewController::themeIndicesType);
    }
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (takes(event)) QListView::dragEnterEvent(event);
        else event->ignore();
    }
    void dragMoveEvent(QDragMoveEvent* event) override
    {
        if (takes(event)) QListView::dragMoveEvent(event);
        else event->ignore();
    }
    void dropEvent(QDropEvent* event) override
    {
        const bool fromHere = takes(event);
        int row = model()->rowCount();
        const QPoint position = event->position().toPoint();
        if (const QModelIndex index = indexAt(position); index.isValid())
            row = index.row() + (position.y() >= visualRect(index).center().y() ? 1 : 0);
        stopAutoScroll();
        setState(NoState);
        viewport()->update();
        if (m_controller->acceptDrop(event->mimeData(), row, fromHere)) {
            event->setDropAction(Qt::MoveAction);
            event->accept();
        } else {
            event->ignore();
        }
    }

private:
    ThemesTableViewController* m_controller;
};

// Names are edited in place. A name that cannot be taken keeps the field
// open with the reason shown; Escape gives up and keeps the old name.
class ThemeNameDelegate : public QStyledItemDelegate {
public:
    explicit ThemeNameDelegate(ThemesTableViewController* controller)
        : QStyledItemDelegate(controller), m_controller(controller)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index).expandedTo(QSize(0, kRowHeight));
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        // The theme, not the row: rows may move while the name is edited.
        editor->setProperty(kEditedTheme, QVariant::fromValue(themeAt(index.row())));
        return editor;
    }

    // A row: its name, and behind it, when selected, a rounded highlight a
    // little in from the sides.
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QRect box = cell.rect.adjusted(kCellInset, 1, -kCellInset, -1);
        const bool selected = cell.state & QStyle::State_Selected;
        painter->save();
        if (selected) {
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            painter->setBrush(cell.palette.color(QPalette::Highlight));
            painter->drawRoundedRect(QRectF(box), 5, 5);
        }
        const QRect text = box.adjusted(kTextInset, 0, -kTextInset, 0);
        painter->setFont(cell.font);
        painter->setPen(cell.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                          cell.fontMetrics.elidedText(cell.text, Qt::ElideRight, text.width()));
        painter->restore();
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        editor->setGeometry(option.rect.adjusted(kCellInset + kTextInset - 3, 2, -kCellInset, -2));
    }

    // The rename is applied when editing ends, not through the model.
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* editor = qobject_cast<QLineEdit*>(object);
        if (!editor) return QStyledItemDelegate::eventFilter(object, event);
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab || key == Qt::Key_Backtab) {
                finishEditing(editor);
                return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            if (m_presenting) return true; // the reason for a refusal is on screen
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            // Another window or a menu for a moment: the field stays as it is.
            if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return true;
            // Clicked elsewhere: the name is taken once the click is done.
            QPointer<QLineEdit> field(editor);
            QTimer::singleShot(0, this, [this, field] {
                if (field && !field->hasFocus()) finishEditing(field);
            });
            return true;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    void finishEditing(QLineEdit* editor)
    {
        const auto theme = editor->property(kEditedTheme).value<std::shared_ptr<Theme>>();
        if (!theme || rowOf(theme) < 0) {
            emit closeEditor(editor, RevertModelCache);
            return;
        }
        QPointer<QLineEdit> field(editor);
        m_presenting = true;
        const bool taken = m_controller->textShouldEndEditing(theme, editor->text());
        m_presenting = false;
        if (!field) return;
        if (taken) {
            emit closeEditor(field, NoHint);
        } else {
            field->setFocus();
            field->selectAll();
        }
    }

    ThemesTableViewController* m_controller;
    bool m_presenting = false;
};

// The window -------------------------------------------------------------------------

ThemesWindow::ThemesWindow() : QWidget(nullptr, Qt::Window) {}

QWidget* ThemesTableViewController::makeThemesWindow(QWidget* over)
{
    auto* window = new ThemesWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    // Named in the window list and the task bar like any other window.
    window->setWindowTitle(localized("themes.window.title"));
    auto* list = new ThemesTableViewController;
    auto* detail = new ThemeViewController;
    auto* split = new QSplitter(Qt::Horizontal);
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    split->addWidget(list);
    split->addWidget(detail);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    views::pin(split, window);
    window->layout()->setSizeConstraint(QLayout::SetFixedSize); // not resizable
    // Over the middle of the window it was asked from, on its screen: placed
    // before it shows, and once more when the window system has put a frame
    // around it.
    const auto centre = [window, owner = QPointer<QWidget>(over ? over->window() : nullptr)] {
        if (!owner) return;
        QRect frame = window->frameGeometry();
        frame.moveCenter(owner->frameGeometry().center());
        if (const QScreen* screen = owner->screen()) {
            const QRect area = screen->availableGeometry();
            frame.moveLeft(std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() + 1 - frame.width())));
            frame.moveTop(std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height())));
        }
        if (frame.topLeft() != window->frameGeometry().topLeft()) window->move(frame.topLeft());
    };
    window->adjustSize();
    centre();
    window->show();
    centre();
    window->raise();
    window->activateWindow();
    return window;
}

// The list --------------------------------------------------------------------------

ThemesTableViewController::ThemesTableViewController(QWidget* parent) : QWidget(parent)
{
    m_model = new ThemeListModel(this);
    m_tableView = new ThemesListView(this);
    m_tableView->setModel(m_model);
    m_tableView->setItemDelegate(new ThemeNameDelegate(this));
    m_tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tableView->setUniformItemSizes(true);
    m_tableView->setFrameShape(QFrame::NoFrame);
    m_tableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_tableView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_tableView->setDragEnabled(true);
    m_tableView->setAcceptDrops(true);
    m_tableView->setDropIndicatorShown(true);
    m_tableView->setDragDropMode(QAbstractItemView::DragDrop);
    m_tableView->setDefaultDropAction(Qt::MoveAction);
    m_tableView->setDragDropOverwriteMode(false);
    m_tableView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tableView, &QWidget::customContextMenuRequested, this, &ThemesTableViewController::showContextMenu);

    m_rename = views::menuItem(localizedMenuTitle(QStringLiteral("menu.edit.rename")), {}, [this] { rename(); }, this);
    m_duplicate =
        views::menuItem(localizedMenuTitle(QStringLiteral("menu.edit.duplicate")), {}, [this] { duplicate(); }, this);
    m_reset = views::menuItem(localizedMenuTitle(QStringLiteral("menu.edit.reset")), {}, [this] { reset(); }, this);
    m_remove = views::menuItem(localizedMenuTitle(QStringLiteral("menu.edit.remove")), {}, [this] { remove(); }, this);
    m_menu = views::menu({m_rename, m_duplicate, m_reset, m_remove}, this);

    views::pin(m_tableView, this);
    setMinimumSize(150, 300);

    // It opens on the current theme.
    m_chosen = Settings::shared().theme();
    m_chosenId = Settings::shared().theme()->id;
    selectRowQuietly(chosenRow());
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ThemesTableViewController::selectionDidChange);
    Settings& settings = Settings::shared();
    connect(&settings, &Settings::themesChanged, this, &ThemesTableViewController::themesDidChange);
    // A theme made current elsewhere may come from a list changed behind
    // this one's back; the selection stays where the writer put it.
    connect(&settings, &Settings::themeChanged, this, [this] {
        if (m_model->isStale()) themesDidChange();
    });
}

ThemesTableViewController::~ThemesTableViewController()
{
    // Nothing reaches a list half taken apart.
    disconnect(&Settings::shared(), nullptr, this, nullptr);
}

QListView* ThemesTableViewController::tableView() const { return m_tableView; }

void ThemesTableViewController::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Every edit made in the editor is written when it closes.
    Settings::shared().saveThemes();
}

int ThemesTableViewController::rowOfCurrentTheme() { return rowOf(Settings::shared().theme()); }

void ThemesTableViewController::themesDidChange()
{
    m_model->reload();
    selectRowQuietly(chosenRow());
}

int ThemesTableViewController::chosenRow() const
{
    if (const int row = rowOf(m_chosen.lock()); row >= 0) return row;
    // A reset replaces a theme with a fresh copy under the same id.
    for (int row = 0; row < int(themes().size()); ++row)
        if (themes()[size_t(row)]->id == m_chosenId) return row;
    return rowOfCurrentTheme();
}

void ThemesTableViewController::selectRowQuietly(int row)
{
    QItemSelectionModel* selection = m_tableView->selectionModel();
    if (row < 0 || row >= m_model->rowCount()) return;
    const QModelIndex index = m_model->index(row);
    if (selection->isSelected(index) && selection->selectedIndexes().size() == 1) return;
    m_selectingQuietly = true;
    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_selectingQuietly = false;
    m_tableView->scrollTo(index);
}

void ThemesTableViewController::selectionDidChange()
{
    const QModelIndexList selected = m_tableView->selectionModel()->selectedIndexes();
    if (selected.isEmpty()) return;
    const auto theme = themeAt(selected.first().row());
    if (!theme) return;
    m_chosen = theme;
    m_chosenId = theme->id;
    if (m_selectingQuietly) return;
    if (theme != Settings::shared().theme()) Settings::shared().setTheme(theme);
}

// Context menu ------------------------------------------------------------------------

void ThemesTableViewController::showContextMenu(const QPoint& position)
{
    prepareContextMenu(m_tableView->indexAt(position));
    m_menu->popup(m_tableView->viewport()->mapToGlobal(position));
}

void ThemesTableViewController::prepareContextMenu(const QModelIndex& clicked)
{
    const QModelIndexList rows = views::rowsToActOn(m_tableView, clicked);
    int first = -1;
    for (const QModelIndex& index : rows)
        if (first < 0 || index.row() < first) first = index.row();
    const auto theme = themeAt(first);
    m_actedOn = theme;
    if (!theme) {
        for (QAction* item : m_menu->actions()) item->setEnabled(false);
        return;
    }
    const bool builtIn = theme->isBuiltIn();
    m_rename->setEnabled(!builtIn);
    m_duplicate->setEnabled(true);
    m_reset->setVisible(builtIn);
    m_reset->setEnabled(true);
    m_remove->setVisible(!builtIn);
    m_remove->setEnabled(true);
}

int ThemesTableViewController::actedOnRow() const { return rowOf(m_actedOn.lock()); }

void ThemesTableViewController::rename()
{
    const int row = actedOnRow();
    const auto theme = themeAt(row);
    if (!theme || theme->isBuiltIn() || row >= m_model->rowCount()) return;
    const QModelIndex index = m_model->index(row);
    m_tableView->scrollTo(index);
    m_tableView->edit(index);
}

bool ThemesTableViewController::textShouldEndEditing(const std::shared_ptr<Theme>& theme, const QString& name)
{
    if (!theme || rowOf(theme) < 0) return true; // gone: nothing left to name
    try {
        Settings::shared().renameTheme(theme, name);
        return true;
    } catch (const LumoraError& error) {
        presentApplicationError(PlatformError(PlatformError::Code::generic, error.errorDescription.value_or(QString()),
                                              error.recoverySuggestion.value_or(QString())));
        return false;
    }
}

void ThemesTableViewController::duplicate()
{
    const int row = actedOnRow();
    if (row < 0) return;
    Settings::shared().duplicateTheme(row);
    // The copy, right below, is selected and so becomes the current theme.
    if (row + 1 < m_model->rowCount())
        m_tableView->selectionModel()->setCurrentIndex(m_model->index(row + 1), QItemSelectionModel::ClearAndSelect);
}

void ThemesTableViewController::reset()
{
    const int row = actedOnRow();
    const auto theme = themeAt(row);
    if (!theme || !theme->isBuiltIn()) return;
    Settings::shared().resetTheme(row);
}

void ThemesTableViewController::remove()
{
    const int row = actedOnRow();
    Settings& settings = Settings::shared();
    if (!settings.removeTheme(row)) return;
    // The row above takes the selection, and its theme is made current even
    // when that row was selected already.
    const int next = std::max(row - 1, 0);
    if (const auto theme = themeAt(next)) {
        m_chosen = theme;
        m_chosenId = theme->id;
        if (theme != settings.theme()) settings.setTheme(theme);
    }
    selectRowQuietly(next);
}

// Drag and drop -----------------------------------------------------------------------

QMimeData* ThemesTableViewController::mimeDataForRows(const QList<int>& rows)
{
    QJsonArray array;
    for (int row : rows) array.append(row);
    auto* data = new QMimeData;
    data->setData(themeIndicesType, QJsonDocument(array).toJson(QJsonDocument::Compact));
    return data;
}

bool ThemesTableViewController::acceptDrop(const QMimeData* data, int row, bool fromThisList)
{
    if (!fromThisList) return false;
    const auto rows = rowsIn(data);
    if (!rows || row < 0 || row > int(themes().size())) return false;
    // Dropped above row: in the list without the dragged rows, the block
    // lands where row's theme (or the end) is.
    const int before = int(std::count_if(rows->begin(), rows->end(), [row](int r) { return r < row; }));
    Settings::shared().moveThemes(*rows, row - before);
    return true;
}

} // namespace lumora
