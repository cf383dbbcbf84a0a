#include "widgets/ViewUtilities.h"

#include "platform/files/UserDefaults.h"

#include <QAbstractItemView>
#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDataStream>
#include <QEvent>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

constexpr int kSaveDelayMs = 300;
// A pane shown for the first time that states no size of its own.
constexpr int kDefaultPaneWidth = 200;

QString splitViewKey(const QString& name)
{
    return QStringLiteral("NSSplitView Subview Frames ") + name;
}

QString windowFrameKey(const QString& name)
{
    return QStringLiteral("NSWindow Frame ") + name;
}

// The frame a saved geometry records (QWidget::saveGeometry: a magic
// number, its version, then the frame), read before the geometry is put
// back: restoring moves a frame that lies off every screen onto one, so
// afterwards it can no longer tell where the window was.
std::optional<QRect> recordedFrame(const QByteArray& geometry)
{
    QDataStream stream(geometry);
    stream.setVersion(QDataStream::Qt_4_0);
    quint32 magic = 0;
    quint16 major = 0, minor = 0;
    QRect frame;
    stream >> magic >> major >> minor >> frame;
    if (stream.status() != QDataStream::Ok || magic != 0x1D9D0CB || major < 1) return std::nullopt;
    return frame;
}

// Whether a frame can be reached on one of the screens there are now.
bool isOnAScreen(const QRect& frame)
{
    const auto screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [&](QScreen* screen) {
        const QRect shown = screen->availableGeometry().intersected(frame);
        return shown.width() >= 40 && shown.height() >= 20;
    });
}

bool isVerticalStack(QWidget* view)
{
    auto* box = qobject_cast<QBoxLayout*>(view->layout());
    return box && (box->direction() == QBoxLayout::TopToBottom || box->direction() == QBoxLayout::BottomToTop);
}

// Keeps the leading boxes of a column's form rows equally wide, so that the
// trailing views of every row start at the same x.
class PivotAligner : public QObject {
public:
    PivotAligner(QList<PivotedStackView*> rows, QObject* parent) : QObject(parent), m_rows(std::move(rows))
    {
        for (PivotedStackView* row : m_rows) row->leadingBox()->installEventFilter(this);
        align();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show) align();
        return false;
    }

private:
    void align()
    {
        int width = 0;
        for (PivotedStackView* row : m_rows)
            if (!row->leading().isEmpty()) width = std::max(width, row->leadingBox()->sizeHint().width());
        // A row without leading views starts its trailing ones at the pivot too.
        for (PivotedStackView* row : m_rows)
            if (row->leadingBox()->minimumWidth() != width) row->leadingBox()->setMinimumWidth(width);
    }

    QList<PivotedStackView*> m_rows;
};

// Saves a window's frame a moment after it stops moving or resizing, and
// when it is hidden.
// Saves a window's frame as it moves and resizes. Found again by its object
// name: without Q_OBJECT of its own, findChild<FrameSaver*> would take any
// child of the window for one.
class FrameSaver : public QObject {
public:
    static inline const QString name = QStringLiteral("lumora-frame-saver");

    FrameSaver(QWidget* window, QString key) : QObject(window), m_window(window), m_key(std::move(key))
    {
        setObjectName(name);
        m_timer.setSingleShot(true);
        m_timer.setInterval(kSaveDelayMs);
        connect(&m_timer, &QTimer::timeout, this, &FrameSaver::save);
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            if (m_window->isVisible()) m_timer.start();
            break;
        case QEvent::Hide:
        case QEvent::Close:
            if (m_timer.isActive()) save();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void save()
    {
        m_timer.stop();
        UserDefaults::standard().set(m_key, m_window->saveGeometry());
    }

    QWidget* m_window;
    QString m_key;
    QTimer m_timer;
};

QBoxLayout* boxIn(QWidget* container, QBoxLayout::Direction direction, QMargins insets, int spacing)
{
    auto* layout = new QBoxLayout(direction, container);
    layout->setContentsMargins(insets);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace

// OneLineLabel --------------------------------------------------------------

OneLineLabel::OneLineLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

QSize OneLineLabel::minimumSizeHint() const
{
    const QMargins m = contentsMargins();
    return QSize(fontMetrics().horizontalAdvance(QStringLiteral("…")) + m.left() + m.right(),
                 QLabel::minimumSizeHint().height());
}

void OneLineLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect rect = contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin()));
    const QString full = text();
    const QString shown = fontMetrics().elidedText(full, Qt::ElideRight, rect.width());
    // The whole text as tool tip only while it is cut.
    const QString tip = shown == full ? QString() : full;
    if (toolTip() != tip) setToolTip(tip);
    style()->drawItemText(&painter, rect, int(alignment()), palette(), isEnabled(), shown, foregroundRole());
}

// PivotedStackView ------------------------------------------------------------

PivotedStackView::PivotedStackView(const QList<QWidget*>& leading, const QList<QWidget*>& trailing, QWidget* parent)
    : QWidget(parent), m_leading(leading), m_trailing(trailing)
{
    auto* row = boxIn(this, QBoxLayout::LeftToRight, {}, 8);
    m_leadingBox = new QWidget(this);
    auto* leadingLayout = boxIn(m_leadingBox, QBoxLayout::LeftToRight, {}, 8);
    leadingLayout->addStretch(1); // the leading views sit against the pivot
    for (QWidget* view : leading) leadingLayout->addWidget(view, 0, Qt::AlignVCenter);
    auto* trailingBox = new QWidget(this);
    auto* trailingLayout = boxIn(trailingBox, QBoxLayout::LeftToRight, {}, 8);
    for (QWidget* view : trailing) trailingLayout->addWidget(view, 0, Qt::AlignVCenter);
    row->addWidget(m_leadingBox);
    row->addWidget(trailingBox);
    row->addStretch(1);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

// ColorWell --------------------------------------------------------------------

ColorWell::ColorWell(QWidget* parent) : QToolButton(parent)
{
    setFixedWidth(40);
    connect(this, &QToolButton::clicked, this, &ColorWell::choose);
}

void ColorWell::setColor(const QColor& color)
{
    if (color == m_color) return;
    m_color = color;
    update();
}

void ColorWell::paintEvent(QPaintEvent* event)
{
    QToolButton::paintEvent(event);
    QPainter painter(this);
    const QRect swatch = rect().adjusted(5, 5, -5, -5);
    if (m_color.alpha() < 255) { // a checkerboard shows through a translucent colour
        painter.fillRect(swatch, Qt::white);
        const int cell = 4;
        for (int y = swatch.top(); y <= swatch.bottom(); y += cell)
            for (int x = swatch.left() + ((y - swatch.top()) / cell % 2) * cell; x <= swatch.right(); x += 2 * cell)
                painter.fillRect(QRect(x, y, cell, cell).intersected(swatch), Qt::lightGray);
    }
    painter.fillRect(swatch, m_color);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(swatch.adjusted(0, 0, -1, -1));
}

ColorWell::~ColorWell()
{
    // The chooser stands on its own; it goes with its well.
    delete m_chooser;
}

void ColorWell::choose()
{
    if (m_chooser) {
        m_chooser->raise();
        m_chooser->activateWindow();
        return;
    }
    m_colorBeforeChoosing = m_color;
    emit choosingStarted();
    auto* chooser = new QColorDialog(m_color, window());
    m_chooser = chooser;
    chooser->setOptions(QColorDialog::ShowAlphaChannel | QColorDialog::DontUseNativeDialog);
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    chooser->setModal(false);
    // Every colour the chooser shows is chosen at once; Cancel (or closing
    // the chooser) shows the colour it started from again.
    connect(chooser, &QColorDialog::currentColorChanged, this, [this](const QColor& color) {
        if (!color.isValid() || color == m_color) return;
        setColor(color);
        emit colorChosen(color);
    });
    connect(chooser, &QDialog::rejected, this, [this] {
        setColor(m_colorBeforeChoosing);
        emit choosingCancelled();
    });
    connect(chooser, &QColorDialog::colorSelected, this, [this](const QColor& color) {
        if (!color.isValid() || color == m_color) return;
        setColor(color);
        emit colorChosen(color);
    });
    chooser->show();
}

void ColorWell::finishChoosing()
{
    if (!m_chooser) return;
    QColorDialog* chooser = m_chooser;
    m_chooser = nullptr;
    chooser->disconnect(this);
    chooser->close();
}

// SplitView ----------------------------------------------------------------------

SplitView::SplitView(const QList<Item>& items, const QString& autosaveName, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent), m_autosaveName(autosaveName)
{
    setChildrenCollapsible(false);
    int lowest = INT_MAX;
    for (const Item& item : items) lowest = std::min(lowest, item.holdingPriority);
    for (int i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        addWidget(item.widget);
        setCollapsible(i, item.canCollapse);
        setStretchFactor(i, item.holdingPriority == lowest ? 1 : 0);
        item.widget->setHidden(item.collapsed);
        m_priorities << item.holdingPriority;
        m_expandedWidths << 0;
    }
    m_saveTimer = new QTimer(this);
    m_saveTimer->setSingleShot(true);
    m_saveTimer->setInterval(kSaveDelayMs);
    connect(m_saveTimer, &QTimer::timeout, this, &SplitView::save);
    connect(this, &QSplitter::splitterMoved, this, &SplitView::scheduleSave);
    restoreState();
}

SplitView::~SplitView()
{
    if (m_saveTimer->isActive()) save();
}

bool SplitView::hasSavedState(const QString& autosaveName)
{
    return !autosaveName.isEmpty() && UserDefaults::standard().contains(splitViewKey(autosaveName));
}

bool SplitView::isItemCollapsed(int index) const
{
    if (index < 0 || index >= count()) return false;
    if (widget(index)->isHidden()) return true;
    return isVisible() && sizes().value(index) == 0;
}

void SplitView::setItemCollapsed(int index, bool collapsed)
{
    if (index < 0 || index >= count() || collapsed == isItemCollapsed(index)) return;
    QWidget* pane = widget(index);
    if (collapsed) {
        const int width = sizes().value(index);
        if (width > 0) m_expandedWidths[index] = width;
        pane->hide();
        refresh(); // the others take the room now, not on a later turn
    } else {
        pane->show();
        refresh();
        QList<int> widths = sizes();
        int wanted = m_expandedWidths[index];
        if (wanted <= 0) wanted = std::max(pane->sizeHint().width(), pane->minimumSizeHint().width());
        if (wanted <= 0) wanted = kDefaultPaneWidth;
        const int growing = growingItem();
        if (growing != index && growing >= 0) widths[growing] = std::max(0, widths[growing] - (wanted - widths[index]));
        widths[index] = wanted;
        setSizes(widths);
    }
    save();
}

void SplitView::showEvent(QShowEvent* event)
{
    QSplitter::showEvent(event);
    if (!m_restoredSizes.isEmpty()) {
        setSizes(m_restoredSizes);
        m_restoredSizes.clear();
    }
}

int SplitView::growingItem() const
{
    const auto it = std::min_element(m_priorities.begin(), m_priorities.end());
    return it == m_priorities.end() ? -1 : int(it - m_priorities.begin());
}

void SplitView::restoreState()
{
    if (m_autosaveName.isEmpty()) return;
    const auto saved = UserDefaults::standard().dictionaryValue(splitViewKey(m_autosaveName));
    if (!saved) return;
    const QVariantList widths = saved->value(QStringLiteral("widths")).toList();
    const QVariantList collapsed = saved->value(QStringLiteral("collapsed")).toList();
    if (widths.size() != count() || collapsed.size() != count()) return; // another layout: ignore it
    for (int i = 0; i < count(); ++i) {
        m_expandedWidths[i] = std::max(0, widths[i].toInt());
        widget(i)->setHidden(collapsed[i].toBool());
        m_restoredSizes << (collapsed[i].toBool() ? 0 : m_expandedWidths[i]);
    }
    setSizes(m_restoredSizes);
}

void SplitView::scheduleSave()
{
    if (!m_autosaveName.isEmpty()) m_saveTimer->start();
}

void SplitView::save()
{
    m_saveTimer->stop();
    if (m_autosaveName.isEmpty() || !isVisible()) return;
    QVariantList widths, collapsed;
    const QList<int> current = sizes();
    for (int i = 0; i < count(); ++i) {
        const bool isCollapsed = isItemCollapsed(i);
        if (!isCollapsed && current[i] > 0) m_expandedWidths[i] = current[i];
        widths << m_expandedWidths[i];
        collapsed << isCollapsed;
    }
    UserDefaults::standard().set(splitViewKey(m_autosaveName),
                                 QVariantMap{{QStringLiteral("widths"), widths},
                                             {QStringLiteral("collapsed"), collapsed}});
}

// Builders ------------------------------------------------------------------------

namespace views {

QColor blend(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

QColor chromeColor(const QColor& background, const QColor& foreground)
{
    return blend(background, foreground, 0.035);
}

QColor separatorColor(const QColor& background, const QColor& foreground)
{
    return blend(background, foreground, 0.12);
}

namespace {

double relativeLuminance(const QColor& color)
{
    const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b)
{
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor windowEdgeColor(const QColor& background, const QColor& foreground)
{
    const QColor chrome = chromeColor(background, foreground);
    const auto apart = [&](const QColor& edge) {
        return std::min(contrastRatio(edge, background), contrastRatio(edge, chrome)) >= windowEdgeContrast;
    };
    // No fainter than the panes' hairlines.
    for (int step = 12; step <= 100; ++step)
        if (const QColor edge = blend(background, foreground, step / 100.0); apart(edge)) return edge;
    // A text colour too close to the page: the way that has more room.
    const QColor away = relativeLuminance(background) > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 1; step <= 100; ++step)
        if (const QColor edge = blend(background, away, step / 100.0); apart(edge)) return edge;
    return away;
}

void applyThinScroller(QScrollBar* scroller, const QColor& foreground, double alpha)
{
    QColor knob = foreground;
    knob.setAlphaF(float(alpha));
    QColor hover = foreground;
    hover.setAlphaF(float(alpha + 0.2));
    scroller->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 11px; margin: 0; border: none; }"
                       "QScrollBar::handle:vertical { background: %1; min-height: 36px; margin: 2px 3px 2px 2px;"
                       " border-radius: 3px; }"
                       "QScrollBar::handle:vertical:hover { background: %2; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; border: none; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
            .arg(knob.name(QColor::HexArgb), hover.name(QColor::HexArgb)));
}

OneLineLabel* sidePaneTitle(QWidget* pane, const QString& title)
{
    pane->setMinimumWidth(160);
    pane->setAutoFillBackground(true);
    auto* label = views::label(title);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* layout = boxIn(pane, QBoxLayout::TopToBottom, edgeInsets(18, 18, 18, 14), 0);
    layout->addWidget(label);
    layout->addStretch(1);
    return label;
}

void applySidePaneColors(QWidget* pane, const QColor& background, const QColor& foreground, double textAlpha)
{
    QPalette p = pane->palette();
    p.setColor(QPalette::Window, chromeColor(background, foreground));
    QColor text = foreground;
    text.setAlphaF(float(textAlpha));
    p.setColor(QPalette::WindowText, text);
    pane->setPalette(p);
}

QWidget* verticalStack(const QList<QWidget*>& views, Qt::Alignment alignment, int spacing, QMargins insets)
{
    auto* stack = new QWidget;
    auto* layout = boxIn(stack, QBoxLayout::TopToBottom, insets, spacing);
    QList<PivotedStackView*> rows;
    for (QWidget* view : views) {
        if (auto* row = qobject_cast<PivotedStackView*>(view)) {
            rows << row;
            layout->addWidget(view); // rows span the column, so their pivots can line up
        } else if (isVerticalStack(view)) {
            layout->addWidget(view);
        } else {
            layout->addWidget(view, 0, alignment & Qt::AlignHorizontal_Mask);
        }
    }
    if (rows.size() > 1) new PivotAligner(rows, stack);
    return stack;
}

QWidget* horizontalStack(const QList<QWidget*>& views, Qt::Alignment alignment, int spacing, QMargins insets)
{
    auto* stack = new QWidget;
    auto* layout = boxIn(stack, QBoxLayout::LeftToRight, insets, spacing);
    for (QWidget* view : views) layout->addWidget(view, 0, alignment & Qt::AlignVertical_Mask);
    return stack;
}

void pin(QWidget* view, QWidget* container, QMargins insets)
{
    boxIn(container, QBoxLayout::TopToBottom, insets, 0)->addWidget(view);
}

void centerHorizontally(QWidget* view, QWidget* container, QMargins insets)
{
    auto* layout = boxIn(container, QBoxLayout::LeftToRight, insets, 0);
    layout->addStretch(1);
    layout->addWidget(view);
    layout->addStretch(1);
}

void centerVertically(QWidget* view, QWidget* container, QMargins insets)
{
    auto* layout = boxIn(container, QBoxLayout::TopToBottom, insets, 0);
    layout->addStretch(1);
    layout->addWidget(view);
    layout->addStretch(1);
}

QWidget* constrain(QWidget* view, std::optional<int> width, std::optional<int> height)
{
    if (width) view->setFixedWidth(*width);
    if (height) view->setFixedHeight(*height);
    return view;
}

QWidget* constrainMinimum(QWidget* view, std::optional<int> minWidth, std::optional<int> minHeight)
{
    if (minWidth) view->setMinimumWidth(*minWidth);
    if (minHeight) view->setMinimumHeight(*minHeight);
    return view;
}

QLineEdit* textField(const QString& text)
{
    return new QLineEdit(text);
}

OneLineLabel* label(const QString& text)
{
    return new OneLineLabel(text);
}

QLabel* wrappingLabel(const QString& text)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    return label;
}

QLabel* richTextLabel(const QString& html)
{
    auto* label = new QLabel(html);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

QPushButton* button(const QString& title, const QIcon& icon, std::function<void()> action,
                    const QKeySequence& shortcut)
{
    auto* button = new QPushButton(icon, title);
    button->setSizePolicy(button->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    if (shortcut == QKeySequence(Qt::Key_Return) || shortcut == QKeySequence(Qt::Key_Enter)) {
        button->setDefault(true); // Return presses the dialog's default button
    } else if (!shortcut.isEmpty()) {
        button->setShortcut(shortcut);
    }
    if (action) QObject::connect(button, &QPushButton::clicked, button, [action = std::move(action)] { action(); });
    return button;
}

QCheckBox* checkbox(const QString& title, std::function<void(bool)> action)
{
    auto* box = new QCheckBox(title);
    box->setSizePolicy(box->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    // Only the user's clicks act, not a program setting the state.
    if (action) QObject::connect(box, &QCheckBox::clicked, box, std::move(action));
    return box;
}

ColorWell* colorWell(std::function<void(const QColor&)> action)
{
    auto* well = new ColorWell;
    if (action) QObject::connect(well, &ColorWell::colorChosen, well, std::move(action));
    return well;
}

QComboBox* popUpButton(const QList<PopUpItem>& items, std::function<void(int)> action)
{
    auto* popUp = new QComboBox;
    for (const PopUpItem& item : items) popUp->addItem(item.title, item.representedObject);
    if (action) QObject::connect(popUp, &QComboBox::activated, popUp, std::move(action));
    return popUp;
}

QAction* menuItem(const QString& title, const QVariant& representedObject, std::function<void()> action,
                  QObject* parent)
{
    auto* item = new QAction(title, parent);
    item->setData(representedObject);
    if (action) QObject::connect(item, &QAction::triggered, item, [action = std::move(action)] { action(); });
    return item;
}

QMenu* menu(const QList<QAction*>& items, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->addActions(items);
    return menu;
}

bool restoreFrame(QWidget* window, const QString& autosaveName)
{
    const QString key = windowFrameKey(autosaveName);
    bool restored = false;
    if (const auto saved = UserDefaults::standard().dataValue(key)) {
        // A frame on a screen that is gone would put the window out of
        // reach: it keeps its size only.
        const std::optional<QRect> recorded = recordedFrame(*saved);
        const bool reachable = !recorded || isOnAScreen(*recorded);
        if (window->restoreGeometry(*saved)) restored = reachable && isOnAScreen(window->frameGeometry());
    }
    if (!restored) {
        QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
        QSize size = window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint();
        if (screen) {
            const QRect area = screen->availableGeometry();
            size = size.boundedTo(area.size());
            window->resize(size);
            window->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
        } else {
            window->resize(size);
        }
    }
    if (!window->findChild<QObject*>(FrameSaver::name, Qt::FindDirectChildrenOnly)) new FrameSaver(window, key);
    return restored;
}

QModelIndexList rowsToActOn(const QAbstractItemView* view, const QModelIndex& clicked)
{
    const QItemSelectionModel* selection = view->selectionModel();
    if (clicked.isValid()) {
        const QModelIndex row = clicked.siblingAtColumn(0);
        if (!selection || !selection->isRowSelected(row.row(), row.parent())) return {row};
    }
    if (!selection) return {};
    QModelIndexList rows = selection->selectedRows(0);
    // In the order of the view: by the path of row numbers from the root.
    const auto path = [](QModelIndex index) {
        QList<int> rows;
        for (; index.isValid(); index = index.parent()) rows.prepend(index.row());
        return rows;
    };
    std::sort(rows.begin(), rows.end(), [&](const QModelIndex& a, const QModelIndex& b) { return path(a) < path(b); });
    return rows;
}

} // namespace views

} // namespace lumora
