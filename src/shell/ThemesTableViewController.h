#pragma once

#include "settings/Theme.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <memory>

class QAction;
class QListView;
class QMenu;
class QMimeData;
class QModelIndex;

namespace lumora {

class ThemeListModel;
class ThemesListView;

// The sidebar of the themes editor: the settings' theme list, one row a
// theme, in list order. Selecting a row makes its theme the current one at
// once, so every window restyles while the writer browses. The list opens
// on the current theme and then keeps the row the writer chose: a theme
// chosen elsewhere (the Theme menu, the appearance switch, another editor
// window, a reset) leaves the selection where it is, while the form beside
// it follows the current theme. A context menu renames (in place),
// duplicates, resets and removes themes; built-in themes can be reset but
// neither renamed nor removed. Rows are reordered by dragging them within
// the list; the selection moves with its theme.
//
// The list reloads whenever the theme list changes, from here or anywhere
// else, and every row and drop position is checked against the list as it
// is, so no stale row reaches it. Every change is saved at once, and the
// whole list again when the editor closes.
// The themes editor's window, closed by File ▸ Close like any other.
class ThemesWindow : public QWidget {
    Q_OBJECT

public:
    ThemesWindow();
};

class ThemesTableViewController : public QWidget {
    Q_OBJECT

public:
    // The private type of a drag of rows: a JSON array of the row numbers.
    static const QString themeIndicesType;

    // A new, independent editor window titled "Themes": this list beside
    // the form of the current theme, centred over the window it was asked
    // from (when there is one) and kept on that window's screen. Shown and
    // brought forward; deleted when closed.
    static QWidget* makeThemesWindow(QWidget* over = nullptr);

    explicit ThemesTableViewController(QWidget* parent = nullptr);
    ~ThemesTableViewController() override;

    QListView* tableView() const;
    QMenu* contextMenu() const { return m_menu; }
    QAction* renameItem() const { return m_rename; }
    QAction* duplicateItem() const { return m_duplicate; }
    QAction* resetItem() const { return m_reset; }
    QAction* removeItem() const { return m_remove; }

    // Readies the context menu for a click on that row (an invalid index
    // for a click beside the rows): the commands act on the clicked row
    // when it lies outside the selection, else on the selected one; the
    // items are enabled, shown and hidden for that theme.
    void prepareContextMenu(const QModelIndex& clicked);

    // The context menu's commands, on the theme it was readied for;
    // nothing when there is none (or it has left the list).
    void rename();
    void duplicate();
    void reset();
    void remove();

    // The end of an inline rename: renames the theme and answers true, or
    // presents why the name cannot be taken and answers false (the field
    // stays in editing).
    bool textShouldEndEditing(const std::shared_ptr<Theme>& theme, const QString& name);

    // Dragging rows: the payload of the rows, and the drop of such a
    // payload above row (0 to the number of themes). Only drags that
    // started in this list are taken; anything else is refused and changes
    // nothing.
    static QMimeData* mimeDataForRows(const QList<int>& rows);
    bool acceptDrop(const QMimeData* data, int row, bool fromThisList);

    // The row of the current theme, or -1.
    static int rowOfCurrentTheme();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    friend class ThemesListView;
    void showContextMenu(const QPoint& position);
    void selectionDidChange();
    void themesDidChange();
    // Selects the row without making its theme current.
    void selectRowQuietly(int row);
    // The row of the theme the writer chose last (a theme reset since is
    // the same theme), else that of the current theme.
    int chosenRow() const;
    int actedOnRow() const;

    ThemeListModel* m_model = nullptr;
    ThemesListView* m_tableView = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_rename = nullptr;
    QAction* m_duplicate = nullptr;
    QAction* m_reset = nullptr;
    QAction* m_remove = nullptr;
    std::weak_ptr<Theme> m_actedOn;
    std::weak_ptr<Theme> m_chosen;
    QString m_chosenId;
    bool m_selectingQuietly = false;
};

} // namespace lumora
