#pragma once

#include <QColor>
#include <QStyledItemDelegate>

namespace lumora {

class File;
class LibraryOutlineModel;

// Draws the rows of a library outline and edits their names.
//
// A folder row is its name in bold, 4 points above and below: 25 points
// high. A document row is its name in bold with, beside it, the date of the
// library's order (none for the name order, and none for a document without
// that date), then up to summaryLines lines of the start of its text in the
// quieter colour, the last line cut with "…" when more follows: 6 points
// above, the name line, 2 points, 17 points a summary line, 6 points below
// (34 points without a summary). Heights depend only on the kind of row, so
// a long library is laid out without reading a file.
//
// Selected rows are filled with the theme's selection colour; the row a
// drag would drop into is outlined.
class FileRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int folderRowHeight = 25;
    static constexpr int summaryLineHeight = 17;
    static constexpr int documentRowBaseHeight = 34;
    static constexpr int documentRowHeight(int summaryLines)
    {
        return documentRowBaseHeight + summaryLineHeight * summaryLines;
    }

    FileRowDelegate(LibraryOutlineModel& model, QObject* parent = nullptr);

    // The lines of summary a document row shows (kept within 0...3).
    int summaryLines() const { return m_summaryLines; }
    void setSummaryLines(int lines);
    // Whether document rows show their date (not for the name order).
    void setShowsDates(bool shows) { m_showsDates = shows; }

    // Colours from the theme: text, the quieter text, the selection fill and
    // the outline of a drop target.
    void setColors(const QColor& text, const QColor& secondary, const QColor& selection, const QColor& accent);

    // The row a drag hovers over (invalid for none, or the top folder).
    void setDropTarget(const QModelIndex& index) { m_dropTarget = index; }

    // The summary as it is shown: its lines, wrapped to width, at most
    // lines of them; the last cut with "…" when more follows.
    static QStringList summaryLayout(const QString& summary, const QFont& font, int width, int lines);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;
    // The row whose name is being edited (invalid for none).
    QModelIndex editingRow() const { return m_editing; }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

private:
    QFont nameFont(const QFont& base) const;
    QFont dateFont(const QFont& base) const;
    QRect nameRect(const QRect& row, bool folder, const QFont& base) const;

    LibraryOutlineModel& m_model;
    int m_summaryLines = 3;
    bool m_showsDates = false;
    QColor m_text, m_secondary, m_selection, m_accent;
    QPersistentModelIndex m_dropTarget;
    mutable QPersistentModelIndex m_editing;
};

} // namespace lumora
