#pragma once

#include <QColor>
#include <QColorDialog>
#include <QKeySequence>
#include <QLabel>
#include <QList>
#include <QMargins>
#include <QModelIndex>
#include <QPointer>
#include <QSplitter>
#include <QString>
#include <QToolButton>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <optional>

class QAbstractItemView;
class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollBar;
class QTimer;

// The builders every pane uses to make its views in code: stacks, labels,
// buttons, pop-ups, the split view with its saved state, the window-frame
// restore step. Sizes are points, drawn as pixels at 96 dpi.
namespace lumora {

// Insets in the order the panes state them: top, left, bottom, right.
inline QMargins edgeInsets(int top, int left, int bottom, int right)
{
    return QMargins(left, top, right, bottom);
}

// A one-line label: its text in one line, cut with "…" at the end when the
// label is too narrow, the whole text then shown as its tool tip.
class OneLineLabel : public QLabel {
    Q_OBJECT

public:
    explicit OneLineLabel(const QString& text = {}, QWidget* parent = nullptr);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A horizontal form row: the leading views, then the trailing views. Rows in
// one vertical stack line up where the two groups meet.
class PivotedStackView : public QWidget {
    Q_OBJECT

public:
    PivotedStackView(const QList<QWidget*>& leading, const QList<QWidget*>& trailing, QWidget* parent = nullptr);

    const QList<QWidget*>& leading() const { return m_leading; }
    const QList<QWidget*>& trailing() const { return m_trailing; }
    // The box holding the leading views; its width is shared by the rows of
    // a stack.
    QWidget* leadingBox() const { return m_leadingBox; }

private:
    QList<QWidget*> m_leading;
    QList<QWidget*> m_trailing;
    QWidget* m_leadingBox = nullptr;
};

// A colour swatch that opens the colour chooser (with opacity) when
// clicked. The chooser stays open beside the window while the user works:
// each colour it shows is chosen at once, so the change can be seen live;
// its Cancel shows the colour it started from again and says so, for the
// owner to put back what it had before.
class ColorWell : public QToolButton {
    Q_OBJECT

public:
    explicit ColorWell(QWidget* parent = nullptr);
    ~ColorWell() override;
    QColor color() const { return m_color; }
    // Shows the colour; emits nothing.
    void setColor(const QColor& color);

    // The open chooser, or none.
    QColorDialog* chooser() const { return m_chooser; }
    // Closes the chooser, keeping the colour chosen last.
    void finishChoosing();

signals:
    // The user chose a colour.
    void colorChosen(const QColor& color);
    // A chooser opened, and one was cancelled.
    void choosingStarted();
    void choosingCancelled();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void choose();
    QColor m_color = Qt::black;
    QColor m_colorBeforeChoosing;
    QPointer<QColorDialog> m_chooser;
};

// A split view of panes side by side with collapsible panes, remembering the
// panes' widths and which are collapsed under its autosave name in the user
// defaults ("NSSplitView Subview Frames <name>").
class SplitView : public QSplitter {
    Q_OBJECT

public:
    struct Item {
        QWidget* widget = nullptr;
        bool collapsed = false;     // when nothing is saved yet
        bool canCollapse = true;
        // The pane with the lowest priority takes the window's growth and
        // gives the width of a pane that is shown again.
        int holdingPriority = 250;
    };

    SplitView(const QList<Item>& items, const QString& autosaveName, QWidget* parent = nullptr);
    ~SplitView() override;

    // Whether anything is saved under the name.
    static bool hasSavedState(const QString& autosaveName);

    QString autosaveName() const { return m_autosaveName; }
    bool isItemCollapsed(int index) const;
    // Hides or shows a pane; a pane shown again gets its width back.
    void setItemCollapsed(int index, bool collapsed);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void restoreState();
    void scheduleSave();
    void save();
    int growingItem() const;

    QString m_autosaveName;
    QList<int> m_priorities;
    QList<int> m_expandedWidths;
    QList<int> m_restoredSizes;
    QTimer* m_saveTimer = nullptr;
};

namespace views {

// The colour t of the way from a to b (0 gives a, 1 gives b), opaque: the
// shades between a theme's background and its text.
QColor blend(const QColor& a, const QColor& b, double t);
// The window's chrome (title strip, side panes): a touch apart from the
// page, towards the text colour.
QColor chromeColor(const QColor& background, const QColor& foreground);
// The hairlines between panes.
QColor separatorColor(const QColor& background, const QColor& foreground);
// How far apart two colours read, as the WCAG contrast ratio of their
// relative luminances: 1 for the same light, 21 for black on white.
double contrastRatio(const QColor& a, const QColor& b);
// The least contrast a window's edge keeps with the page and the chrome.
inline constexpr double windowEdgeContrast = 1.5;
// The one-pixel edge around a window. Many Linux desktops draw no shadow
// around a window without a frame, so the edge alone tells a window from
// another of the same theme behind it: the nearest shade that keeps
// windowEdgeContrast with both the page and the chrome, towards the text
// colour where that gets there (the edge keeps the theme's hue), else
// towards black or white.
QColor windowEdgeColor(const QColor& background, const QColor& foreground);

// A side pane: its title line at the top, room below, on the chrome colour.
// Returns the title.
OneLineLabel* sidePaneTitle(QWidget* pane, const QString& title);
// The pane's colours from the theme's: the chrome behind, the text colour at
// textAlpha for its title and text.
void applySidePaneColors(QWidget* pane, const QColor& background, const QColor& foreground, double textAlpha);

// A thin vertical scroller that does not draw the eye: a rounded knob of the
// text colour at alpha (a little more under the pointer), no arrows, no
// track.
void applyThinScroller(QScrollBar* scroller, const QColor& foreground, double alpha);

// Stacks: the views in a column (or a row) with spacing between them and
// insets around them. In a column, alignment places each view across it
// (Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight; none stretches views to
// the full width); nested columns always take the full width, and the
// PivotedStackView rows of a column line up their two groups. In a row,
// alignment places each view vertically.
QWidget* verticalStack(const QList<QWidget*>& views, Qt::Alignment alignment = {}, int spacing = 0,
                       QMargins insets = {});
QWidget* horizontalStack(const QList<QWidget*>& views, Qt::Alignment alignment = Qt::AlignVCenter,
                         int spacing = 0, QMargins insets = {});

// view inside container at the insets from its four edges (container gets
// a layout holding only view).
void pin(QWidget* view, QWidget* container, QMargins insets = {});
// view centred across container, the top and bottom insets exact, at least
// the side insets from the sides; centreVertically the other way round.
void centerHorizontally(QWidget* view, QWidget* container, QMargins insets = {});
void centerVertically(QWidget* view, QWidget* container, QMargins insets = {});

// Fixed (or minimum) width and height; an absent value leaves that
// dimension alone. Return the view.
QWidget* constrain(QWidget* view, std::optional<int> width, std::optional<int> height = std::nullopt);
QWidget* constrainMinimum(QWidget* view, std::optional<int> minWidth, std::optional<int> minHeight = std::nullopt);

// Controls in the system font.
QLineEdit* textField(const QString& text);
OneLineLabel* label(const QString& text);
// Wraps words; gives up width before anything else in its row.
QLabel* wrappingLabel(const QString& text);
// A wrapping label of rich text (Qt's HTML subset).
QLabel* richTextLabel(const QString& html);
// A push button; keeps its height.
QPushButton* button(const QString& title, const QIcon& icon, std::function<void()> action,
                    const QKeySequence& shortcut = {});
QCheckBox* checkbox(const QString& title, std::function<void(bool checked)> action);
// 40 points wide.
ColorWell* colorWell(std::function<void(const QColor&)> action);

// A pop-up of items, each a title and the value it stands for; action gets
// the chosen index.
struct PopUpItem {
    QString title;
    QVariant representedObject;
};
QComboBox* popUpButton(const QList<PopUpItem>& items, std::function<void(int index)> action = {});
// A menu item carrying a value; action runs when it is chosen.
QAction* menuItem(const QString& title, const QVariant& representedObject, std::function<void()> action,
                  QObject* parent);
QMenu* menu(const QList<QAction*>& items, QWidget* parent = nullptr);

// Restores the window's frame saved under the name ("NSWindow Frame
// <name>") and keeps saving it as the window moves and resizes. Without a
// saved frame the window keeps the size it was given, else its content's
// preferred size, centred on its screen; a saved frame that lies off every
// screen there is now gives its size alone, centred. True when the saved
// frame was restored where it was.
bool restoreFrame(QWidget* window, const QString& autosaveName);

// The rows a context-menu command applies to, in order: the clicked row
// alone when it lies outside the selection, else the selected rows. Indexes
// of column 0.
QModelIndexList rowsToActOn(const QAbstractItemView* view, const QModelIndex& clicked);

} // namespace views

} // namespace lumora
