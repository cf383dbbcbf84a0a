#pragma once


#include <QAbstractButton>
#include <QColor>
#include <QIcon>
#include <QMenuBar>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class QGraphicsOpacityEffect;
class QMenuBar;
class QPropertyAnimation;
class QVBoxLayout;

namespace lumora {

class Menu;

// A small, flat window button of the title strip.
class TitleStripButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Kind { close, minimize, maximize, restore };
    TitleStripButton(Kind kind, QWidget* parent);
    Kind kind() const { return m_kind; }
    void setKind(Kind kind);
    void setForeground(const QColor& color);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Kind m_kind;
    QColor m_foreground;
    bool m_hovered = false;
};

// The title strip of a document window: the menu bar at the left, the
// window's title in the middle of the room between the menus and the
// window buttons at the right (the same place whatever its length), on the
// theme's colours. Dragging it moves the window, a double click maximises
// it; a click on the title (while it is clickable) asks for the document
// menu, and the title shows so when the mouse is over it.
class TitleStrip : public QWidget {
    Q_OBJECT

public:
    static constexpr int stripHeight = 30;

    explicit TitleStrip(QWidget* window);

    QString title() const { return m_title; }
    void setTitle(const QString& title);
    void setMenuBar(QMenuBar* menuBar);
    QMenuBar* menuBar() const { return m_menuBar; }
    void setColors(const QColor& background, const QColor& foreground);
    QColor background() const { return m_background; }
    QColor foreground() const { return m_foreground; }
    // Shows the maximise or the restore glyph.
    void setMaximized(bool maximized);

    // Whether a click on the title means something (titleClicked).
    void setTitleClickable(bool clickable);
    bool isTitleClickable() const { return m_titleClickable; }
    // Where the title is drawn (empty when there is no room for it).
    QRect titleRect() const;

    TitleStripButton* closeButton() const { return m_close; }
    TitleStripButton* minimizeButton() const { return m_minimize; }
    TitleStripButton* maximizeButton() const { return m_maximize; }

signals:
    void closeRequested();
    void minimizeRequested();
    void maximizeRequested();
    // The title was clicked; at is the point below it, in global coordinates.
    void titleClicked(const QPoint& at);

protected:
    void paintEvent(QPaintEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void applyMenuBarColors();
    void setTitleHovered(bool hovered);

    QString m_title;
    bool m_titleClickable = false;
    bool m_titleHovered = false;
    QColor m_background;
    QColor m_foreground;
    QPointer<QMenuBar> m_menuBar;
    QWidget* m_menuHolder;
    TitleStripButton* m_minimize;
    TitleStripButton* m_maximize;
    TitleStripButton* m_close;
    // A press that may become a drag, and a drag the window system did not take.
    std::optional<QPoint> m_pressPosition;
    std::optional<QPoint> m_manualDragOffset;
};

// A frameless top-level window with a title strip of its own above its
// content. The strip can hide and show; its edges resize the window; the
// window system moves and resizes it where it can, and the window does it
// itself where there is no window manager. A one-pixel border keeps
// overlapping windows apart; it goes while the window is maximised or in
// full screen.
//
// It carries the window commands: close, minimise, zoom (toggleMaximized)
// and full screen.
//
// A window that shows a document offers the document's menu from its title,
// as desktop document windows do: Rename…, Move To…, Duplicate and Locked
// (commands sent along the responder chain and validated like any menu
// item; Locked is checked while the document is).
class DocumentWindowBase : public QWidget {
    Q_OBJECT

public:
    static constexpr int resizeMargin = 4;

    explicit DocumentWindowBase(QWidget* parent = nullptr);
    ~DocumentWindowBase() override;

    // The application's icon, for every window.
    static QIcon applicationIcon();

    TitleStrip* titleStrip() const { return m_strip; }
    void setCentralWidget(QWidget* widget);
    QWidget* centralWidget() const { return m_central; }

    // The strip's hidden flag: a hidden strip takes no room and no clicks.
    void setTitleStripVisible(bool visible);
    bool isTitleStripVisible() const;
    // Where the strip stands: above the content (the default), or floating
    // over the content's top edge while the content fills the whole window,
    // so that showing or hiding it moves nothing inside.
    void setTitleStripFloating(bool floating);
    bool isTitleStripFloating() const { return m_stripFloating; }
    // How opaque the strip is drawn, from 0 (not at all) to 1. Animated, it
    // fades there; the value read is the one set last.
    void setTitleStripAlpha(double alpha, bool animated);
    double titleStripAlpha() const { return m_stripAlpha; }
    bool isTitleStripFading() const;
    // The strip's area in window coordinates, whether shown or not.
    QRect titleStripArea() const;
    // The window's colours; the strip's background is the window's unless
    // given.
    void setColors(const QColor& background, const QColor& foreground, const QColor& stripBackground = QColor());
    // The border's colour; by default the foreground at a tenth of the way
    // from the background.
    void setBorderColor(const QColor& color);
    QColor borderColor() const;
    // Whether the border shows (a normal, not maximised or full-screen window).
    bool hasBorder() const;

    void toggleMaximized();
    void toggleFullScreen();

    // Turns the document menu of the title on or off (off by default).
    void setDocumentMenuEnabled(bool enabled);
    // The menu, made on first use.
    Menu& documentMenu();
    // Opens the document menu below the title, as a click on it does.
    void showDocumentMenu();

    // Which edges of the window a point (in window coordinates) grabs.
    Qt::Edges edgesAt(const QPoint& position) const;

signals:
    // The mouse moved over the window (the global position), seen before
    // any widget inside; and it left the window.
    void mouseMoved(const QPoint& globalPosition);
    void mouseLeft();
    // The window is being destroyed: from now on only its QWidget part
    // answers (Qt still hides it and moves the focus afterwards).
    void destroying();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setEdgeCursor(Qt::Edges edges);
    void updateBorder();
    void placeFloatingStrip();

    TitleStrip* m_strip;
    bool m_stripFloating = false;
    double m_stripAlpha = 1.0;
    QGraphicsOpacityEffect* m_stripEffect = nullptr;
    QPropertyAnimation* m_stripFade = nullptr;
    std::unique_ptr<Menu> m_documentMenu;
    QVBoxLayout* m_layout;
    QPointer<QWidget> m_central;
    QColor m_borderColor;
    Qt::Edges m_cursorEdges;
    bool m_overrideCursor = false;
    // A resize the window system did not take: the edges and where it began.
    Qt::Edges m_manualEdges;
    QPoint m_manualStart;
    QRect m_manualGeometry;
};

} // namespace lumora
