#pragma once

#include "document/OutlineModel.h"
#include "document/TextView.h"
#include "platform/foundation/Range.h"
#include "platform/text/Attributes.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QTreeView;

namespace lumora {

class DocumentViewController;
class OneLineLabel;
class Outline;
class TextStorage;

// The outline pane of a document window (the right side pane): the
// document's file name over the tree of its Markdown headings, one row per
// heading, nested by level, or a quiet placeholder while there is none.
//
// The headings are not parsed here: each heading paragraph of the editor's
// text carries its own Outline entry, which the styling keeps while the
// heading is edited. A reload nests those entries afresh and brings the tree
// up to date by identity, row by row: a heading whose text changed repaints
// its row, and only headings that came, went or moved to another parent add
// or remove rows, so typing in a long text never rebuilds the tree. Each
// entry remembers whether its row is expanded, so a collapsed heading stays
// collapsed through reloads. The rows follow an edit once the key is
// painted; the edits of a burst of keys are replayed together.
//
// Choosing a heading puts the editor's caret at the start of its line,
// scrolls that line to the middle of the editor and gives the editor the
// keyboard focus. Nothing else moves the caret: a reload keeps the chosen
// heading highlighted and changes nothing in the editor.
class OutlineViewController : public QWidget {
    Q_OBJECT

public:
    explicit OutlineViewController(QWidget* parent = nullptr);
    ~OutlineViewController() override;

    // The editor pane whose document and text the outline shows.
    void setEditorPane(DocumentViewController* pane);

    // Set by the window: the window's title strip never hides while this is
    // on (a window in a tab group).
    bool titleBarIsAlwaysVisible = false;
    // Places the title as the window's title strip allows: below the
    // strip's band while the strip floats over the panes, at the top in full
    // screen and while the strip never hides.
    void updateTitleLabelPosition();
    // Refreshes the title and builds the tree again from the text, at once.
    void reloadOutline();
    // The title alone: the document's file name as it is now (none for an
    // untitled document), as when the document was renamed.
    void updateTitle();
    // What an edit of the text calls: the edit's heading change is noted and
    // the rows follow once the event loop turns, after the key's paint. A
    // run of edits handled before then updates the rows once, change after
    // change in the order they were made.
    void reloadOutlineSoon();
    // The rows brought up to date with the edits noted so far (at once).
    void applyPendingEdits();
    // The pane's colours from the current theme.
    void applyTheme();

    // What a click on the row of item does: when the text still holds the
    // heading, the caret goes to the start of its line, which scrolls to
    // the middle, and the editor takes the focus; otherwise nothing.
    void selectHeading(const std::shared_ptr<Outline>& item);

    // The run of key within range whose value is that very entry.
    static std::optional<Range> rangeOfOutlineItem(const TextStorage& storage, AttributeKey key, Range range,
                                                   const Outline* item);

    // For tests and the window.
    QTreeView* outlineView() const { return m_outlineView; }
    OneLineLabel* titleLabel() const { return m_titleLabel; }
    QWidget* emptyView() const { return m_emptyView; }
    // The root of the tree last built (level 0; its contents are the
    // top-level headings).
    std::shared_ptr<Outline> outline() const { return m_outline; }
    std::shared_ptr<Outline> selectedItem() const { return m_selectedItem; }
    // Rows added and removed by reloads so far.
    int rowChanges() const;
    // Trees built from the whole text by reloads so far.
    int treeBuilds() const { return m_treeBuilds; }
    // Edits whose rows are still to follow.
    bool hasPendingEdits() const { return m_applyPosted || m_pendingWholeTree || !m_pendingChanges.empty(); }

    QSize sizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    // Brings the rows up to date with what one edit did; false when the
    // tree must be built again.
    bool applyEdit(const TextView::HeadingChange& change, const OutlineModel::Opened& opened);
    void opened(const QModelIndex& index);
    void selectionDidChange();
    void showSelectedItem();
    void updatePlaceholder();

    QPointer<DocumentViewController> m_editorPane;
    OneLineLabel* m_titleLabel = nullptr;
    QTreeView* m_outlineView = nullptr;
    QWidget* m_emptyView = nullptr;
    QLabel* m_emptyLabel = nullptr;
    OutlineModel* m_model = nullptr;
    std::shared_ptr<Outline> m_outline;
    int m_treeBuilds = 0;
    // The heading changes of the edits since the rows were last brought up
    // to date, oldest first, and the text they were made in; a change that
    // needs the whole tree stands for all of them.
    bool m_applyPosted = false;
    std::vector<TextView::HeadingChange> m_pendingChanges;
    const TextStorage* m_pendingStorage = nullptr;
    bool m_pendingWholeTree = false;
    std::shared_ptr<Outline> m_selectedItem;
    // A reload or an expansion change of the program's own is under way:
    // the selection and the expanded flags follow the user only.
    bool m_updating = false;
};

} // namespace lumora
