#include "document/OutlineViewController.h"

#include "document/Document.h"
#include "document/DocumentViewController.h"
#include "document/OutlineModel.h"
#include "document/TextView.h"
#include "markdown/AttributeSequence.h"
#include "markdown/Outline.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "settings/URLExtensions.h"
#include "widgets/ViewUtilities.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

namespace lumora {

namespace {

// Posted after an edit, and then behind the repaint it asked for: the rows
// follow the edits noted since.
const QEvent::Type kAfterEditEvent = QEvent::Type(QEvent::registerEventType());
const QEvent::Type kApplyEditsEvent = QEvent::Type(QEvent::registerEventType());

// Every row is this high, whatever its text.
constexpr int kRowHeight = 24;
constexpr int kPlaceholderFontSize = 16;
// How strongly the pane's text shows on its background: the heading text,
// the "#" marks before it, the file name and the placeholder.
constexpr double kLabelAlpha = 0.85;
constexpr double kSecondaryAlpha = 0.45;

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

// A heading row: its "#" marks in the secondary colour, its text in the
// label colour, cut with "…" when the pane is narrow. Rows are drawn from
// text shaped once (a row that comes in moves all those below it, and an
// outline of thousands of headings is scrolled through): only a new title,
// width or font is cut and shaped again.
class OutlineRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Every row is as high as the others, and as wide as the column (the
    // tree never scrolls sideways): nothing needs measuring.
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return QSize(1, kRowHeight); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QPalette& palette = option.palette;
        const QRect text = option.rect.adjusted(2, 0, -6, 0);
        const Shaped& shaped = shapedRow(index.data(Qt::DisplayRole).toString(),
                                         index.data(OutlineModel::levelRole).toInt(), text.width(), option.font);
        const qreal y = text.top() + (text.height() - shaped.height) / 2.0;
        painter->save();
        painter->setFont(option.font);
        painter->setPen(palette.color(QPalette::PlaceholderText));
        painter->drawStaticText(QPointF(text.left(), y), shaped.marker);
        painter->setPen(palette.color(QPalette::Text));
        painter->drawStaticText(QPointF(text.left() + shaped.markerWidth, y), shaped.rest);
        painter->restore();
    }

private:
    struct Shaped {
        QStaticText marker;
        QStaticText rest;
        qreal markerWidth = 0;
        qreal height = 0;
    };

    const Shaped& shapedRow(const QString& title, int level, int width, const QFont& font) const
    {
        if (font != m_font || m_shaped.size() > 2000) {
            m_shaped.clear();
            m_font = font;
        }
        const QString key = QString::number(width) + u'/' + QString::number(level) + u'/' + title;
        if (auto it = m_shaped.constFind(key); it != m_shaped.constEnd()) return *it;
        const QFontMetricsF metrics(font);
        const QString shown = metrics.elidedText(title, Qt::ElideRight, width);
        const qsizetype markerLength = std::clamp<qsizetype>(level + 1, 0, shown.size());
        Shaped shaped;
        const auto prepare = [&](QStaticText& text, const QString& s) {
            text.setTextFormat(Qt::PlainText);
            text.setPerformanceHint(QStaticText::AggressiveCaching);
            text.setText(s);
            text.prepare(QTransform(), font);
        };
        prepare(shaped.marker, shown.left(markerLength));
        prepare(shaped.rest, shown.mid(markerLength));
        shaped.markerWidth = metrics.horizontalAdvance(shown.left(markerLength));
        shaped.height = metrics.height();
        return *m_shaped.insert(key, std::move(shaped));
    }

    mutable QHash<QString, Shaped> m_shaped;
    mutable QFont m_font;
};

// The tree of headings. The chosen row is drawn in one quiet colour across
// its whole width, whether or not the tree has the focus (the focus belongs
// in the editor), and a click on it goes to its heading again.
class OutlineTreeView : public QTreeView {
public:
    explicit OutlineTreeView(QWidget* parent) : QTreeView(parent) {}

    std::function<void(const QModelIndex&)> rowClicked;
    QColor selectionColor;

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (selectionModel()->isSelected(index)) {
            painter->save();
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            painter->setBrush(selectionColor);
            const QRectF row(0, option.rect.top(), viewport()->width(), option.rect.height());
            painter->drawRoundedRect(row.adjusted(0, 1, -4, -1), 4, 4);
            painter->restore();
        }
        QTreeView::drawRow(painter, option, index);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        const QModelIndex index = indexAt(event->position().toPoint());
        const bool wasSelected = index.isValid() && selectionModel()->isSelected(index);
        QTreeView::mouseReleaseEvent(event);
        // A click on the row already chosen goes there again; a new row
        // goes there through the selection change.
        if (wasSelected && event->button() == Qt::LeftButton && rowClicked
            && visualRect(index).contains(event->position().toPoint()))
            rowClicked(index);
    }
};

} // namespace

OutlineViewController::OutlineViewController(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    setMinimumWidth(100);

    m_titleLabel = views::label(QString());
    QFont small = m_titleLabel->font();
    small.setPixelSize(std::max(9, fontInfo().pixelSize() - 2));
    m_titleLabel->setFont(small);
    m_titleLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    m_model = new OutlineModel(this);
    auto* tree = new OutlineTreeView(this);
    m_outlineView = tree;
    m_outlineView->setModel(m_model);
    m_outlineView->setItemDelegate(new OutlineRowDelegate(m_outlineView));
    m_outlineView->setHeaderHidden(true);
    m_outlineView->header()->setStretchLastSection(true);
    m_outlineView->setUniformRowHeights(true);
    m_outlineView->setFrameShape(QFrame::NoFrame);
    m_outlineView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_outlineView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_outlineView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_outlineView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_outlineView->setFocusPolicy(Qt::ClickFocus);
    m_outlineView->setAutoFillBackground(false);
    m_outlineView->viewport()->setAutoFillBackground(false);
    m_outlineView->setIndentation(14);
    m_outlineView->setAnimated(false);
    m_outlineView->setExpandsOnDoubleClick(true);

    m_emptyLabel = new QLabel(Outline::unavailableText());
    m_emptyLabel->setWordWrap(true);
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    QFont placeholder = m_emptyLabel->font();
    placeholder.setPixelSize(kPlaceholderFontSize);
    m_emptyLabel->setFont(placeholder);
    m_emptyView = views::verticalStack({m_emptyLabel}, Qt::AlignHCenter, 8);
    m_emptyView->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 12, 4, 0);
    layout->setSpacing(8);
    layout->addWidget(m_titleLabel);
    layout->addWidget(m_outlineView, 1);
    layout->addWidget(m_emptyView, 1);

    connect(m_outlineView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &OutlineViewController::selectionDidChange);
    tree->rowClicked = [this](const QModelIndex& index) { selectHeading(m_model->entry(index)); };
    // The writer's expanding and collapsing is remembered by the heading.
    const auto remember = [this](const QModelIndex& index, bool expanded) {
        if (m_updating) return;
        if (const auto entry = m_model->entry(index)) entry->isExpanded = expanded;
    };
    connect(m_outlineView, &QTreeView::expanded, this, [remember](const QModelIndex& i) { remember(i, true); });
    connect(m_outlineView, &QTreeView::collapsed, this, [remember](const QModelIndex& i) { remember(i, false); });

    applyTheme();
}

OutlineViewController::~OutlineViewController() = default;

void OutlineViewController::setEditorPane(DocumentViewController* pane) { m_editorPane = pane; }

void OutlineViewController::updateTitleLabelPosition()
{
    // While the window's title strip floats over the top of the panes (it
    // hides while the writer writes), the title keeps clear of its band; in
    // full screen, and in a window whose strip never hides, the strip stands
    // above the panes and the title goes up to the top.
    const bool stripAbove = titleBarIsAlwaysVisible || window()->isFullScreen();
    setContentsMargins(0, stripAbove ? 0 : TitleStrip::stripHeight, 0, 0);
}

QSize OutlineViewController::sizeHint() const { return {220, 400}; }

int OutlineViewController::rowChanges() const { return m_model->rowChanges(); }

void OutlineViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    reloadOutline();
}

// ---- Reloading -------------------------------------------------------------------

void OutlineViewController::reloadOutline()
{
    m_pendingChanges.clear();
    m_pendingWholeTree = false;
    m_pendingStorage = nullptr;
    DocumentViewController* pane = m_editorPane;
    if (!pane) return;
    updateTitle();

    const TextStorage* storage = pane->textView()->textStorage();
    if (!storage) return;
    m_outline = outlineTree(*storage);
    ++m_treeBuilds;
    m_updating = true;
    m_model->update(m_outline, [this](const QModelIndex& index) { opened(index); });
    showSelectedItem();
    m_updating = false;
    updatePlaceholder();
}

void OutlineViewController::updateTitle()
{
    DocumentViewController* pane = m_editorPane;
    Document* document = pane ? pane->document() : nullptr;
    m_titleLabel->setText(document && !document->isUntitled() ? url::localizedName(document->filePath()) : QString());
}

void OutlineViewController::reloadOutlineSoon()
{
    DocumentViewController* pane = m_editorPane;
    if (!pane) return;
    const TextStorage* storage = pane->textView()->textStorage();
    const TextView::HeadingChange& change = pane->textView()->headingChange();
    // Changes made in another text (the editor took a new document) cannot
    // be replayed on rows built from the old one.
    if (!m_pendingChanges.empty() && storage != m_pendingStorage) m_pendingWholeTree = true;
    m_pendingStorage = storage;
    if (change.kind == TextView::HeadingChange::Kind::tree) m_pendingWholeTree = true;
    if (m_pendingWholeTree) m_pendingChanges.clear();
    else m_pendingChanges.push_back(change);
    // The rows follow after the paint that shows the key: a row that comes
    // or goes has the tree lay out all its rows again, which would delay the
    // key on the screen. The window's repaint is posted at low priority once
    // the edit is done (after this call); an event posted at normal
    // priority now is handled before it, and posts the update behind it.
    if (!m_applyPosted) {
        m_applyPosted = true;
        QCoreApplication::postEvent(this, new QEvent(kAfterEditEvent));
    }
}

void OutlineViewController::customEvent(QEvent* event)
{
    if (event->type() == kAfterEditEvent) {
        QCoreApplication::postEvent(this, new QEvent(kApplyEditsEvent), Qt::LowEventPriority);
    } else if (event->type() == kApplyEditsEvent) {
        m_applyPosted = false;
        applyPendingEdits();
    } else {
        QWidget::customEvent(event);
    }
}

void OutlineViewController::applyPendingEdits()
{
    const std::vector<TextView::HeadingChange> changes = std::exchange(m_pendingChanges, {});
    const bool wholeTree = std::exchange(m_pendingWholeTree, false);
    const TextStorage* storage = std::exchange(m_pendingStorage, nullptr);
    DocumentViewController* pane = m_editorPane;
    if (!pane || (!wholeTree && changes.empty())) return;
    // An edit that made or unmade one heading, or changed titles and nothing
    // else of the tree, changes those rows alone: a keystroke never walks
    // over every heading of a long text. The changes are replayed in the
    // order they were made, so that each finds the rows as its edit left
    // the text before it.
    if (!wholeTree && m_outline && storage == pane->textView()->textStorage()) {
        const auto opened = [this](const QModelIndex& index) { this->opened(index); };
        bool done = true;
        for (const auto& change : changes) {
            done = applyEdit(change, opened);
            if (!done) break;
        }
        if (done) {
            updateTitle();
            return;
        }
    }
    reloadOutline();
}

// Rows that come in, or get their first rows, open as their headings
// remember; the rows that stay keep what the view already shows.
void OutlineViewController::opened(const QModelIndex& index)
{
    if (const auto entry = m_model->entry(index)) m_outlineView->setExpanded(index, entry->isExpanded);
}

bool OutlineViewController::applyEdit(const TextView::HeadingChange& change, const OutlineModel::Opened& opened)
{
    using Kind = TextView::HeadingChange::Kind;
    if (change.kind == Kind::tree) return false;
    m_updating = true;
    bool done = true;
    if (change.kind == Kind::made) done = m_model->insert(change.heading, change.previous.get(), opened);
    else if (change.kind == Kind::unmade) done = m_model->remove(change.heading.get(), opened);
    for (const auto& heading : change.headings) done = done && m_model->retitle(heading.get());
    if (done && change.kind != Kind::titles) {
        showSelectedItem();
        updatePlaceholder();
    }
    m_updating = false;
    return done;
}

// The heading chosen last stays highlighted while it has a row.
void OutlineViewController::showSelectedItem()
{
    QItemSelectionModel* selection = m_outlineView->selectionModel();
    const QModelIndex index = m_model->indexOf(m_selectedItem.get());
    if (!index.isValid()) {
        if (selection->hasSelection()) selection->clearSelection();
        return;
    }
    if (!selection->isSelected(index)) selection->select(index, QItemSelectionModel::ClearAndSelect);
}

void OutlineViewController::updatePlaceholder()
{
    const bool empty = !m_outline || m_outline->contents.empty();
    m_emptyView->setVisible(empty);
    m_outlineView->setVisible(!empty);
}

// ---- Choosing a heading ---------------------------------------------------------------

void OutlineViewController::selectionDidChange()
{
    if (m_updating) return;
    const QModelIndexList rows = m_outlineView->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    selectHeading(m_model->entry(rows.first()));
}

void OutlineViewController::selectHeading(const std::shared_ptr<Outline>& item)
{
    DocumentViewController* pane = m_editorPane;
    if (!item || !pane) return;
    TextView* editor = pane->textView();
    const TextStorage* storage = editor->textStorage();
    if (!storage) return;
    const std::optional<Range> range =
        rangeOfOutlineItem(*storage, AttributeKey::MarkdownOutline, Range(0, storage->length()), item.get());
    if (!range) return; // the heading is gone since the tree was built
    m_selectedItem = item;
    editor->setSelectedRange(Range(range->location, 0));
    // The heading's line to the middle of the editor.
    editor->centerSelectionInVisibleArea();
    editor->setFocus(Qt::OtherFocusReason);
}

std::optional<Range> OutlineViewController::rangeOfOutlineItem(const TextStorage& storage, AttributeKey key,
                                                               Range range, const Outline* item)
{
    for (const auto& [value, run] : AttributeSequence(storage, key, range))
        if (Outline::from(value).get() == item) return run;
    return std::nullopt;
}

// ---- Colours ---------------------------------------------------------------------------

void OutlineViewController::applyTheme()
{
    const Theme& theme = *Settings::shared().theme();
    const QColor background = theme.backgroundColor.toQColor();
    const QColor foreground = theme.foregroundColor.toQColor();
    views::applySidePaneColors(this, background, foreground, kSecondaryAlpha);

    QPalette tree = m_outlineView->palette();
    const QColor chrome = views::chromeColor(background, foreground);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        tree.setColor(group, QPalette::Base, chrome);
        tree.setColor(group, QPalette::Window, chrome);
        tree.setColor(group, QPalette::Text, withAlpha(foreground, kLabelAlpha));
        tree.setColor(group, QPalette::WindowText, withAlpha(foreground, kSecondaryAlpha));
        tree.setColor(group, QPalette::ButtonText, withAlpha(foreground, kSecondaryAlpha));
        tree.setColor(group, QPalette::PlaceholderText, withAlpha(foreground, kSecondaryAlpha));
        // The tree draws its chosen row itself.
        tree.setColor(group, QPalette::Highlight, Qt::transparent);
        tree.setColor(group, QPalette::HighlightedText, withAlpha(foreground, kLabelAlpha));
    }
    m_outlineView->setPalette(tree);
    static_cast<OutlineTreeView*>(m_outlineView)->selectionColor = views::blend(chrome, foreground, 0.1);
    m_outlineView->viewport()->update();
}

} // namespace lumora
