#include "platform/application/DocumentWindowBase.h"

#include "platform/application/Menu.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/PlatformError.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace lumora {

namespace {

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

Qt::CursorShape cursorForEdges(Qt::Edges edges)
{
    const bool left = edges & Qt::LeftEdge, right = edges & Qt::RightEdge;
    const bool top = edges & Qt::TopEdge, bottom = edges & Qt::BottomEdge;
    if ((left && top) || (right && bottom)) return Qt::SizeFDiagCursor;
    if ((right && top) || (left && bottom)) return Qt::SizeBDiagCursor;
    if (left || right) return Qt::SizeHorCursor;
    return Qt::SizeVerCursor;
}

} // namespace

// TitleStripButton --------------------------------------------------------

TitleStripButton::TitleStripButton(Kind kind, QWidget* parent) : QAbstractButton(parent), m_kind(kind)
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setKind(kind);
}

void TitleStripButton::setKind(Kind kind)
{
    m_kind = kind;
    switch (kind) {
    case Kind::close: setToolTip(platformText("window.close", "Close")); break;
    case Kind::minimize: setToolTip(platformText("window.minimize", "Minimize")); break;
    case Kind::maximize: setToolTip(platformText("window.maximize", "Maximize")); break;
    case Kind::restore: setToolTip(platformText("window.restore", "Restore")); break;
    }
    update();
}

void TitleStripButton::setForeground(const QColor& color)
{
    m_foreground = color;
    update();
}

QSize TitleStripButton::sizeHint() const { return {22, 22}; }

void TitleStripButton::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TitleStripButton::leaveEvent(QEvent* event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void TitleStripButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    const bool pressed = isDown();
    QColor glyph = withAlpha(m_foreground, m_hovered ? 0.85 : 0.55);
    if (m_hovered || pressed) {
        const QColor hover = m_kind == Kind::close ? QColor(0xd9, 0x5c, 0x50) : withAlpha(m_foreground, pressed ? 0.18 : 0.10);
        p.setPen(Qt::NoPen);
        p.setBrush(hover);
        p.drawEllipse(area);
        if (m_kind == Kind::close) glyph = Qt::white;
    }
    QPen pen(glyph, 1.2);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QPointF c = area.center();
    const double r = 3.5;
    switch (m_kind) {
    case Kind::close:
        p.drawLine(QPointF(c.x() - r, c.y() - r), QPointF(c.x() + r, c.y() + r));
        p.drawLine(QPointF(c.x() - r, c.y() + r), QPointF(c.x() + r, c.y() - r));
        break;
    case Kind::minimize: p.drawLine(QPointF(c.x() - r, c.y()), QPointF(c.x() + r, c.y())); break;
    case Kind::maximize: p.drawRect(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r)); break;
    case Kind::restore:
        p.drawRect(QRectF(c.x() - r, c.y() - r + 1.5, 2 * r - 1.5, 2 * r - 1.5));
        p.drawPolyline(QPolygonF{QPointF(c.x() - r + 1.5, c.y() - r + 1.5), QPointF(c.x() - r + 1.5, c.y() - r),
                                 QPointF(c.x() + r, c.y() - r), QPointF(c.x() + r, c.y() + r - 1.5),
                                 QPointF(c.x() + r - 1.5, c.y() + r - 1.5)});
        break;
    }
}

// TitleStrip --------------------------------------------------------------

TitleStrip::TitleStrip(QWidget* window) : QWidget(window)
{
    setFixedHeight(stripHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 0);
    layout->setSpacing(2);
    m_menuHolder = new QWidget(this);
    auto* holderLayout = new QHBoxLayout(m_menuHolder);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_menuHolder, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    m_minimize = new TitleStripButton(TitleStripButton::Kind::minimize, this);
    m_maximize = new TitleStripButton(TitleStripButton::Kind::maximize, this);
    m_close = new TitleStripButton(TitleStripButton::Kind::close, this);
    for (QWidget* button : {static_cast<QWidget*>(m_minimize), static_cast<QWidget*>(m_maximize),
                            static_cast<QWidget*>(m_close)})
        layout->addWidget(button, 0, Qt::AlignVCenter);
    connect(m_close, &QAbstractButton::clicked, this, &TitleStrip::closeRequested);
    connect(m_minimize, &QAbstractButton::clicked, this, &TitleStrip::minimizeRequested);
    connect(m_maximize, &QAbstractButton::clicked, this, &TitleStrip::maximizeRequested);
    setColors(palette().window().color(), palette().windowText().color());
}

void TitleStrip::setTitle(const QString& title)
{
    if (m_title == title) return;
    m_title = title;
    update();
}

void TitleStrip::setMenuBar(QMenuBar* menuBar)
{
    if (m_menuBar) m_menuBar->hide();
    m_menuBar = menuBar;
    if (menuBar) {
        menuBar->setParent(m_menuHolder);
        menuBar->setNativeMenuBar(false);
        static_cast<QHBoxLayout*>(m_menuHolder->layout())->addWidget(menuBar, 0, Qt::AlignVCenter);
        applyMenuBarColors();
        menuBar->show();
    }
}

void TitleStrip::setColors(const QColor& background, const QColor& foreground)
{
    m_background = background;
    m_foreground = foreground;
    for (TitleStripButton* button : {m_minimize, m_maximize, m_close}) button->setForeground(foreground);
    applyMenuBarColors();
    update();
}

void TitleStrip::applyMenuBarColors()
{
    if (!m_menuBar) return;
    const QColor text = withAlpha(m_foreground, 0.75);
    const QColor selected = withAlpha(m_foreground, 0.10);
    m_menuBar->setStyleSheet(
        QStringLiteral("QMenuBar { background: transparent; border: none; }"
                       "QMenuBar::item { background: transparent; color: %1; padding: 2px 8px; border-radius: 4px; }"
                       "QMenuBar::item:selected, QMenuBar::item:pressed { background: %2; }")
            .arg(text.name(QColor::HexArgb), selected.name(QColor::HexArgb)));
}

void TitleStrip::setMaximized(bool maximized)
{
    m_maximize->setKind(maximized ? TitleStripButton::Kind::restore : TitleStripButton::Kind::maximize);
}

namespace {

QFont titleFont(const QWidget* strip)
{
    QFont font = strip->font();
    font.setPointSizeF(font.pointSizeF() * 0.95);
    return font;
}

constexpr int kChevronRoom = 14;

} // namespace

void TitleStrip::setTitleClickable(bool clickable)
{
    m_titleClickable = clickable;
    setMouseTracking(clickable);
    if (!clickable) setTitleHovered(false);
    update();
}

void TitleStrip::setTitleHovered(bool hovered)
{
    if (hovered == m_titleHovered) return;
    m_titleHovered = hovered;
    update();
}

QRect TitleStrip::titleRect() const
{
    if (m_title.isEmpty()) return {};
    // In the middle of the room between the menus and the window buttons,
    // whatever its length: the name stands in the same place in every
    // window and at every moment, and is shortened in the middle where the
    // room is too small.
    const QFontMetrics metrics(titleFont(this));
    const int left = (m_menuBar && !m_menuBar->isHidden() ? m_menuHolder->geometry().right() : 0) + 16;
    const int right = m_minimize->geometry().left() - 16;
    if (right - left < 40) return {};
    // Two pixels to spare: whole-pixel advances round fractional glyph
    // widths down, and an exact fit would be elided.
    const int wanted = metrics.horizontalAdvance(m_title) + 2 + (m_titleClickable ? kChevronRoom : 0);
    const int textWidth = std::min(wanted, right - left);
    return QRect((left + right) / 2 - textWidth / 2, 4, textWidth, height() - 8);
}

void TitleStrip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), m_background);
    p.setPen(withAlpha(m_foreground, 0.09));
    p.drawLine(0, height() - 1, width(), height() - 1);

    const QRect area = titleRect();
    if (area.isEmpty()) return;
    const QFont font = titleFont(this);
    const QFontMetrics metrics(font);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_titleHovered) {
        p.setPen(Qt::NoPen);
        p.setBrush(withAlpha(m_foreground, 0.08));
        p.drawRoundedRect(QRectF(area).adjusted(-8, 0, 6, 0), 5, 5);
    }
    const int chevron = m_titleClickable ? kChevronRoom : 0;
    const QRect text(area.left(), 0, area.width() - chevron, height());
    p.setFont(font);
    p.setPen(withAlpha(m_foreground, 0.62));
    p.drawText(text, Qt::AlignCenter, metrics.elidedText(m_title, Qt::ElideMiddle, text.width()));
    if (m_titleClickable && m_titleHovered) {
        // A small chevron: the title opens a menu.
        QPen pen(withAlpha(m_foreground, 0.55), 1.2);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        const QPointF c(text.right() + chevron / 2.0 + 1, height() / 2.0 + 0.5);
        p.drawPolyline(QPolygonF{c + QPointF(-3, -1.5), c + QPointF(0, 1.5), c + QPointF(3, -1.5)});
    }
}

void TitleStrip::leaveEvent(QEvent* event)
{
    setTitleHovered(false);
    QWidget::leaveEvent(event);
}

void TitleStrip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) m_pressPosition = event->globalPosition().toPoint();
    event->accept();
}

void TitleStrip::mouseMoveEvent(QMouseEvent* event)
{
    QWidget* win = window();
    const QPoint global = event->globalPosition().toPoint();
    if (m_titleClickable && event->buttons() == Qt::NoButton)
        setTitleHovered(titleRect().contains(event->position().toPoint()));
    if (m_manualDragOffset) {
        win->move(global - *m_manualDragOffset);
        return;
    }
    if (!m_pressPosition || (global - *m_pressPosition).manhattanLength() < QApplication::startDragDistance()) return;
    // A drag, not a click: the window system moves the window where it can.
    const QPoint pressed = *m_pressPosition;
    m_pressPosition.reset();
    if (win->windowHandle() && win->windowHandle()->startSystemMove()) return;
    if (!win->isMaximized() && !win->isFullScreen()) m_manualDragOffset = pressed - win->pos();
}

void TitleStrip::mouseReleaseEvent(QMouseEvent* event)
{
    // A click (no drag) on the title.
    const bool clicked = m_pressPosition && event->button() == Qt::LeftButton && m_titleClickable
                         && titleRect().contains(event->position().toPoint());
    m_pressPosition.reset();
    m_manualDragOffset.reset();
    if (clicked) {
        const QRect title = titleRect();
        emit titleClicked(mapToGlobal(QPoint(title.left() - 8, height())));
    }
}

void TitleStrip::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) emit maximizeRequested();
}

// DocumentWindowBase ------------------------------------------------------

DocumentWindowBase::DocumentWindowBase(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setWindowIcon(applicationIcon());
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_strip = new TitleStrip(this);
    m_layout->addWidget(m_strip);
    m_layout->addStretch(1);
    connect(m_strip, &TitleStrip::closeRequested, this, &QWidget::close);
    connect(m_strip, &TitleStrip::minimizeRequested, this, &QWidget::showMinimized);
    connect(m_strip, &TitleStrip::maximizeRequested, this, &DocumentWindowBase::toggleMaximized);

    updateBorder();
}

DocumentWindowBase::~DocumentWindowBase()
{
    emit destroying();
    setEdgeCursor({});
}

QIcon DocumentWindowBase::applicationIcon()
{
    static const QIcon icon(Bundle::resourcePath(QStringLiteral("lumora"), QStringLiteral("svg")));
    return icon;
}

void DocumentWindowBase::setCentralWidget(QWidget* widget)
{
    if (m_central == widget) return;
    if (m_central) {
        m_layout->removeWidget(m_central);
        m_central->deleteLater();
    } else {
        // The stretch that stands in for it.
        for (int i = 0; i < m_layout->count(); ++i) {
            if (m_layout->itemAt(i)->spacerItem()) {
                delete m_layout->takeAt(i);
                break;
            }
        }
    }
    m_central = widget;
    if (widget) m_layout->addWidget(widget, 1);
    else m_layout->addStretch(1);
}

void DocumentWindowBase::setDocumentMenuEnabled(bool enabled)
{
    m_strip->setTitleClickable(enabled);
    disconnect(m_strip, &TitleStrip::titleClicked, this, nullptr);
    if (enabled) connect(m_strip, &TitleStrip::titleClicked, this, [this] { showDocumentMenu(); });
}

Menu& DocumentWindowBase::documentMenu()
{
    if (!m_documentMenu) {
        std::vector<std::unique_ptr<MenuItem>> items;
        items.push_back(MenuItem::make(platformText("menu.document.rename", "Rename…"), Command::renameDocument));
        items.push_back(MenuItem::make(platformText("menu.document.move", "Move To…"), Command::moveDocument));
        items.push_back(MenuItem::make(platformText("menu.document.duplicate", "Duplicate"), Command::duplicateDocument));
        items.push_back(MenuItem::separator());
        items.push_back(MenuItem::make(platformText("menu.document.locked", "Locked"), Command::toggleDocumentLocked));
        m_documentMenu = Menu::withItems(QString(), std::move(items));
    }
    return *m_documentMenu;
}

void DocumentWindowBase::showDocumentMenu()
{
    const QRect title = m_strip->titleRect();
    const QPoint at = m_strip->mapToGlobal(QPoint(title.isEmpty() ? m_strip->width() / 2 : title.left() - 8,
                                                  m_strip->height()));
    // The menu's actions go to this window's document: it is the key window.
    activateWindow();
    documentMenu().qMenu()->popup(at);
}

void DocumentWindowBase::setTitleStripVisible(bool visible) { m_strip->setVisible(visible); }

bool DocumentWindowBase::isTitleStripVisible() const { return !m_strip->isHidden(); }

void DocumentWindowBase::setTitleStripFloating(bool floating)
{
    if (m_stripFloating == floating) return;
    m_stripFloating = floating;
    if (floating) {
        m_layout->removeWidget(m_strip);
        placeFloatingStrip();
    } else {
        m_layout->insertWidget(0, m_strip);
    }
}

void DocumentWindowBase::placeFloatingStrip()
{
    if (!m_stripFloating) return;
    const QMargins border = m_layout->contentsMargins();
    m_strip->setGeometry(border.left(), border.top(), width() - border.left() - border.right(),
                         TitleStrip::stripHeight);
    m_strip->raise();
}

QRect DocumentWindowBase::titleStripArea() const
{
    if (m_stripFloating || !m_strip->isHidden()) return m_strip->geometry();
    const QMargins border = m_layout->contentsMargins();
    return QRect(border.left(), border.top(), width() - border.left() - border.right(), TitleStrip::stripHeight);
}

void DocumentWindowBase::setTitleStripAlpha(double alpha, bool animated)
{
    alpha = std::clamp(alpha, 0.0, 1.0);
    if (!m_stripEffect) {
        m_stripEffect = new QGraphicsOpacityEffect(m_strip);
        m_stripEffect->setEnabled(false);
        m_strip->setGraphicsEffect(m_stripEffect);
        m_stripFade = new QPropertyAnimation(m_stripEffect, "opacity", this);
        m_stripFade->setDuration(180);
        m_stripFade->setEasingCurve(QEasingCurve::InOutQuad);
        // Drawn directly once opaque again: sharper, and cheaper.
        connect(m_stripFade, &QPropertyAnimation::finished, this, [this] {
            if (m_stripAlpha >= 1.0) m_stripEffect->setEnabled(false);
        });
    }
    if (alpha == m_stripAlpha && !isTitleStripFading()) return;
    const double current = m_stripEffect->isEnabled() ? m_stripEffect->opacity() : 1.0;
    m_stripAlpha = alpha;
    m_stripFade->stop();
    if (!animated || !isVisible() || current == alpha) {
        m_stripEffect->setOpacity(alpha);
        m_stripEffect->setEnabled(alpha < 1.0);
        return;
    }
    m_stripEffect->setEnabled(true);
    m_stripFade->setStartValue(current);
    m_stripFade->setEndValue(alpha);
    m_stripFade->start();
}

bool DocumentWindowBase::isTitleStripFading() const
{
    return m_stripFade && m_stripFade->state() == QAbstractAnimation::Running;
}

void DocumentWindowBase::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeFloatingStrip();
}

void DocumentWindowBase::setColors(const QColor& background, const QColor& foreground, const QColor& stripBackground)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, foreground);
    setPalette(palette);
    m_strip->setColors(stripBackground.isValid() ? stripBackground : background, foreground);
}

void DocumentWindowBase::setBorderColor(const QColor& color)
{
    m_borderColor = color;
    update();
}

QColor DocumentWindowBase::borderColor() const
{
    if (m_borderColor.isValid()) return m_borderColor;
    const QColor background = palette().color(QPalette::Window), foreground = palette().color(QPalette::WindowText);
    return QColor::fromRgbF(background.redF() + (foreground.redF() - background.redF()) * 0.1f,
                            background.greenF() + (foreground.greenF() - background.greenF()) * 0.1f,
                            background.blueF() + (foreground.blueF() - background.blueF()) * 0.1f);
}

bool DocumentWindowBase::hasBorder() const { return !isMaximized() && !isFullScreen(); }

void DocumentWindowBase::updateBorder()
{
    const int width = hasBorder() ? 1 : 0;
    m_layout->setContentsMargins(width, width, width, width);
    placeFloatingStrip();
    update();
}

void DocumentWindowBase::paintEvent(QPaintEvent*)
{
    if (!hasBorder()) return;
    QPainter painter(this);
    painter.setPen(borderColor());
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void DocumentWindowBase::toggleMaximized()
{
    if (isFullScreen()) return;
    isMaximized() ? showNormal() : showMaximized();
}

void DocumentWindowBase::toggleFullScreen() { isFullScreen() ? showNormal() : showFullScreen(); }

Qt::Edges DocumentWindowBase::edgesAt(const QPoint& position) const
{
    Qt::Edges edges;
    if (isMaximized() || isFullScreen()) return edges;
    if (position.x() < resizeMargin) edges |= Qt::LeftEdge;
    if (position.x() >= width() - resizeMargin) edges |= Qt::RightEdge;
    if (position.y() < resizeMargin) edges |= Qt::TopEdge;
    if (position.y() >= height() - resizeMargin) edges |= Qt::BottomEdge;
    return edges;
}

void DocumentWindowBase::changeEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowTitleChange:
    case QEvent::ModifiedChange: {
        QString title = windowTitle();
        title.remove(QStringLiteral("[*]"));
        m_strip->setTitle(title);
        break;
    }
    case QEvent::WindowStateChange:
        m_strip->setMaximized(isMaximized());
        updateBorder();
        break;
    default: break;
    }
    QWidget::changeEvent(event);
}

void DocumentWindowBase::showEvent(QShowEvent* event)
{
    // The window's edges are watched before any widget inside sees the mouse.
    if (QWindow* handle = windowHandle()) {
        handle->removeEventFilter(this);
        handle->installEventFilter(this);
    }
    QWidget::showEvent(event);
}

void DocumentWindowBase::setEdgeCursor(Qt::Edges edges)
{
    if (edges == m_cursorEdges && (m_overrideCursor == bool(edges))) return;
    m_cursorEdges = edges;
    if (!edges) {
        if (m_overrideCursor) QGuiApplication::restoreOverrideCursor();
        m_overrideCursor = false;
    } else if (m_overrideCursor) {
        QGuiApplication::changeOverrideCursor(cursorForEdges(edges));
    } else {
        QGuiApplication::setOverrideCursor(cursorForEdges(edges));
        m_overrideCursor = true;
    }
}

bool DocumentWindowBase::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != windowHandle()) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_manualEdges) {
            const QPoint delta = mouse->globalPosition().toPoint() - m_manualStart;
            QRect g = m_manualGeometry;
            const int minWidth = std::max(minimumWidth(), 240), minHeight = std::max(minimumHeight(), 160);
            if (m_manualEdges & Qt::LeftEdge) g.setLeft(std::min(g.left() + delta.x(), g.right() - minWidth));
            if (m_manualEdges & Qt::RightEdge) g.setRight(std::max(g.right() + delta.x(), g.left() + minWidth));
            if (m_manualEdges & Qt::TopEdge) g.setTop(std::min(g.top() + delta.y(), g.bottom() - minHeight));
            if (m_manualEdges & Qt::BottomEdge) g.setBottom(std::max(g.bottom() + delta.y(), g.top() + minHeight));
            setGeometry(g);
            return true;
        }
        if (mouse->buttons() == Qt::NoButton) setEdgeCursor(edgesAt(mouse->position().toPoint()));
        emit mouseMoved(mouse->globalPosition().toPoint());
        break;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const Qt::Edges edges = edgesAt(mouse->position().toPoint());
        if (mouse->button() != Qt::LeftButton || !edges) break;
        if (!windowHandle()->startSystemResize(edges)) {
            m_manualEdges = edges;
            m_manualStart = mouse->globalPosition().toPoint();
            m_manualGeometry = geometry();
        }
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (m_manualEdges) {
            m_manualEdges = {};
            return true;
        }
        break;
    case QEvent::Leave:
        setEdgeCursor({});
        emit mouseLeft();
        break;
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lumora
