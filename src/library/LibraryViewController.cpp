#include "library/LibraryViewController.h"

#include "document/Document.h"
#include "library/FileRowDelegate.h"
#include "library/LibraryOutlineModel.h"
#include "library/LibraryOutlineView.h"
#include "library/LibraryView.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/Menu.h"
#include "platform/application/Workspace.h"
#include "platform/files/Bookmark.h"
#include "platform/files/NativePath.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/Localization.h"
#include "settings/Settings.h"
#include "settings/URLExtensions.h"
#include "widgets/ViewUtilities.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QStylePainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace lumora {

namespace {

const QString kSelectedLibrary = QStringLiteral("selectedLibrary");

// Header and message layout.
constexpr int kHeaderSpacing = 6;
const QMargins kHeaderInsets = edgeInsets(6, 10, 6, 10);
constexpr int kMessageSpacing = 8;
constexpr int kMessageInset = 8;
constexpr int kMessageFontSize = 16;
constexpr int kUnavailableIconSize = 64;
// How long a folder may take to read before the pane shows its progress.
constexpr qint64 kLoadingDelay = 150;
// How far the text of the pane stands from its background.
constexpr double kTextAlpha = 0.88;
constexpr double kSecondaryTextAlpha = 0.5;

LibraryViewController::FolderChooser g_folderChooser;

QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString folderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString joined(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool isAtOrInside(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// A small drawing of size points in color, sharp on the screen: draw gets
// the painter, with a round pen of width 1.4 in the colour.
QPixmap drawing(int size, const QColor& color, const std::function<void(QPainter&, QPen&)>& draw)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, 1.4);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    draw(painter, pen);
    return pixmap;
}

// A small chevron pointing down, for the sort button and the popup.
QIcon chevronIcon(const QColor& color)
{
    return QIcon(drawing(10, color, [](QPainter& painter, QPen&) {
        painter.drawPolyline(QPolygonF{QPointF(2, 3.5), QPointF(5, 6.5), QPointF(8, 3.5)});
    }));
}

// A magnifying glass, for the search field.
QIcon searchIcon(const QColor& color)
{
    return QIcon(drawing(16, color, [](QPainter& painter, QPen&) {
        painter.drawEllipse(QRectF(3, 3, 7, 7));
        painter.drawLine(QPointF(9, 9), QPointF(12.5, 12.5));
    }));
}

// A calm sign for a folder that cannot be found: a rounded triangle with an
// exclamation mark.
QPixmap cautionPixmap(const QColor& color, int size)
{
    return drawing(size, color, [size](QPainter& painter, QPen& pen) {
        const double s = size;
        QPainterPath triangle;
        triangle.moveTo(s / 2, s * 0.12);
        triangle.lineTo(s * 0.92, s * 0.86);
        triangle.lineTo(s * 0.08, s * 0.86);
        triangle.closeSubpath();
        pen.setWidthF(s * 0.06);
        painter.setPen(pen);
        painter.drawPath(triangle);
        pen.setWidthF(s * 0.07);
        painter.setPen(pen);
        painter.drawLine(QPointF(s / 2, s * 0.38), QPointF(s / 2, s * 0.6));
        painter.drawPoint(QPointF(s / 2, s * 0.73));
    });
}

// The name a library goes by: its title, or for a library whose folder is
// gone, the name its folder had.
QString libraryName(const Library& library)
{
    if (!library.displayName.name.isEmpty() || !library.bookmarkData()) return library.displayName.name;
    const auto bookmark = Bookmark::fromData(*library.bookmarkData());
    return bookmark ? url::localizedName(bookmark->path()) : QString();
}

// What follows the name of a library kept for this run only.
QString unlinkedNote()
{
    return localized("library.popup.unlinked");
}

QString popupTitle(const Library& library)
{
    QString title = libraryName(library) + library.displayName.parents;
    if (!library.isLinked()) title += QLatin1Char(' ') + unlinkedNote();
    return title;
}

} // namespace

// The library popup: a borderless pop-up of the libraries. Each title is the
// folder's name, followed by the parent folders that tell it apart in the
// quieter colour; a library kept for this run only says so after its name,
// in the quieter colour too.
class LibraryPopup : public QComboBox {
public:
    explicit LibraryPopup(QWidget* parent) : QComboBox(parent)
    {
        setFrame(false);
        setSizeAdjustPolicy(QComboBox::AdjustToContents);
        setFocusPolicy(Qt::NoFocus);
        setMinimumContentsLength(4);
        QFont small = font();
        small.setPointSizeF(font().pointSizeF() - 0.5);
        small.setWeight(QFont::DemiBold);
        setFont(small);
    }

    // One per item, in the list's order.
    std::vector<std::weak_ptr<Library>> libraries;
    QColor text, secondary;

    void setItem(int index, const std::shared_ptr<Library>& library)
    {
        setItemText(index, popupTitle(*library));
        libraries[size_t(index)] = library;
    }
    void insertLibrary(int index, const std::shared_ptr<Library>& library)
    {
        insertItem(index, popupTitle(*library));
        libraries.insert(libraries.begin() + index, library);
    }
    void removeLibrary(int index)
    {
        removeItem(index);
        libraries.erase(libraries.begin() + index);
    }
    void clearLibraries()
    {
        clear();
        libraries.clear();
    }
    std::shared_ptr<Library> libraryAt(int index) const
    {
        return index >= 0 && index < int(libraries.size()) ? libraries[size_t(index)].lock() : nullptr;
    }

    QSize sizeHint() const override
    {
        const QSize hint = QComboBox::sizeHint();
        return QSize(hint.width() + 6, hint.height());
    }
    // A long title is cut short rather than widen the pane.
    QSize minimumSizeHint() const override { return QSize(60, QComboBox::minimumSizeHint().height()); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRect area = rect().adjusted(2, 0, -2, 0);
        if (underMouse() && isEnabled()) {
            QColor hover = text;
            hover.setAlphaF(0.08f);
            painter.setPen(Qt::NoPen);
            painter.setBrush(hover);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 1.5, -0.5, -1.5), 4, 4);
        }
        const std::shared_ptr<Library> library = libraryAt(currentIndex());
        const QFontMetrics metrics(font());
        // Room for the chevron at the right.
        const int chevron = 14;
        QRect textArea = area.adjusted(4, 0, -chevron, 0);
        if (library) {
            const QString name = libraryName(*library);
            QString rest = library->displayName.parents;
            if (!library->isLinked()) rest += QLatin1Char(' ') + unlinkedNote();
            painter.setFont(font());
            painter.setPen(text);
            const QString shownName = metrics.elidedText(name, Qt::ElideRight, textArea.width());
            painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, shownName);
            const int used = metrics.horizontalAdvance(shownName);
            if (shownName == name && !rest.isEmpty() && used < textArea.width()) {
                QRect restArea = textArea.adjusted(used, 0, 0, 0);
                painter.setPen(secondary);
                painter.drawText(restArea, Qt::AlignLeft | Qt::AlignVCenter,
                                 metrics.elidedText(rest, Qt::ElideRight, restArea.width()));
            }
        }
        const QIcon icon = chevronIcon(isEnabled() ? secondary : secondary.lighter());
        icon.paint(&painter, QRect(area.right() - chevron + 2, area.center().y() - 5, 10, 10));
    }
    void enterEvent(QEnterEvent* event) override
    {
        QComboBox::enterEvent(event);
        update();
    }
    void leaveEvent(QEvent* event) override
    {
        QComboBox::leaveEvent(event);
        update();
    }
};

// The sort button: its title and a chevron, quiet until the pointer is over it.
class SortButton : public QToolButton {
public:
    explicit SortButton(QWidget* parent = nullptr) : QToolButton(parent)
    {
        setAutoRaise(true);
        setPopupMode(QToolButton::InstantPopup);
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
    }
    QColor text, hover;

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return QSize(metrics.horizontalAdvance(this->text_()) + kPadding * 2 + kChevron + 4, metrics.height() + 6);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if ((underMouse() || isDown()) && isEnabled()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(hover);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        }
        QColor color = text;
        if (!isEnabled()) color.setAlphaF(color.alphaF() * 0.5f);
        painter.setPen(color);
        painter.setFont(font());
        const QRect area = rect().adjusted(kPadding, 0, -kPadding, 0);
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, text_());
        const int x = kPadding + QFontMetrics(font()).horizontalAdvance(text_()) + 4;
        chevronIcon(color).paint(&painter, QRect(x, rect().center().y() - 4, kChevron, kChevron));
    }

private:
    static constexpr int kPadding = 4;
    static constexpr int kChevron = 10;
    QString text_() const { return QToolButton::text(); }
};

// Construction -------------------------------------------------------------------------

LibraryViewController::LibraryViewController(QWidget* parent) : QWidget(parent)
{
    buildViews();
    showState();
}

LibraryViewController::~LibraryViewController()
{
    windowWillClose();
}

void LibraryViewController::setFolderChooser(FolderChooser chooser) { g_folderChooser = std::move(chooser); }

QComboBox* LibraryViewController::librariesPopup() const { return m_librariesPopup; }

void LibraryViewController::buildViews()
{
    setMinimumWidth(160);
    setAutoFillBackground(true);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    m_rootView = new LibraryView(this);
    outer->addWidget(m_rootView);
    m_rootView->foldersDropped = [this](const QStringList& folders) { addDroppedLibraries(folders); };

    // The message when there is no library, with a way to add one.
    m_emptyLabel = views::wrappingLabel(localized("library.none.mac"));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_addFolderButton = views::button(localized("library.addFolder"), QIcon(), [this] {
        QString folder;
        if (g_folderChooser) folder = g_folderChooser(this);
        else folder = QFileDialog::getExistingDirectory(window(), localized("library.addFolder.title"));
        if (!folder.isEmpty()) addDroppedLibraries({QDir::cleanPath(QFileInfo(folder).absoluteFilePath())});
    });
    m_emptyView = new QWidget;
    {
        auto* layout = new QVBoxLayout(m_emptyView);
        layout->setContentsMargins(kMessageInset, kMessageInset, kMessageInset, kMessageInset);
        layout->setSpacing(kMessageSpacing * 2);
        layout->addStretch(1);
        layout->addWidget(m_emptyLabel);
        layout->addWidget(m_addFolderButton, 0, Qt::AlignHCenter);
        layout->addStretch(1);
    }

    // The header: library popup, search field, sort button.
    m_librariesPopup = new LibraryPopup(nullptr);
    connect(m_librariesPopup, &QComboBox::activated, this, [this](int index) { openLibraryAt(index); });
    m_searchField = new QLineEdit;
    m_searchField->setPlaceholderText(localized("library.search"));
    m_searchField->setClearButtonEnabled(true);
    m_searchField->setAccessibleName(localized("library.search"));
    connect(m_searchField, &QLineEdit::textEdited, this, [this](const QString& text) { setFilter(text); });
    // The clear button changes the text without an edit.
    connect(m_searchField, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text != m_filter) setFilter(text);
    });
    connect(m_searchField, &QLineEdit::returnPressed, this, [this] { searchFieldAction(); });
    m_sortMenu = new QMenu(this);
    auto* sortGroup = new QActionGroup(m_sortMenu);
    for (Library::SortKey key : Library::allSortKeys) {
        QAction* action = m_sortMenu->addAction(Library::title(key));
        action->setCheckable(true);
        action->setData(Library::rawValue(key));
        sortGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, key] { chooseSortKey(key); });
    }
    connect(m_sortMenu, &QMenu::aboutToShow, this, [this] {
        // The check mark on the shown library's order (name without one).
        const Library::SortKey shown = m_library ? m_library->sortKey : Library::SortKey::name;
        for (QAction* action : m_sortMenu->actions())
            action->setChecked(action->data().toString() == Library::rawValue(shown));
    });
    m_sortButton = new SortButton;
    m_sortButton->setMenu(m_sortMenu);
    {
        QFont font = m_sortButton->font();
        font.setPointSizeF(font.pointSizeF() - 0.5);
        font.setWeight(QFont::DemiBold);
        m_sortButton->setFont(font);
    }
    m_header = new QWidget;
    {
        auto* layout = new QVBoxLayout(m_header);
        layout->setContentsMargins(kHeaderInsets);
        layout->setSpacing(kHeaderSpacing);
        layout->addWidget(m_librariesPopup, 0, Qt::AlignLeft);
        layout->addWidget(m_searchField);
        layout->addWidget(m_sortButton, 0, Qt::AlignLeft);
    }
    auto* separator = new QFrame;
    separator->setFrameShape(QFrame::NoFrame);
    separator->setFixedHeight(1);
    separator->setAutoFillBackground(true);
    m_separator = separator;

    // The outline, or the message for a folder that cannot be read.
    m_model = new LibraryOutlineModel(this);
    m_delegate = new FileRowDelegate(*m_model, this);
    m_delegate->setSummaryLines(Settings::shared().librarySummaryLines());
    m_fileView = new LibraryOutlineView(*m_model, *m_delegate);
    m_model->renameHandler = [this](File& file, const QString& typed) { approveRename(file, typed); };
    connect(m_fileView, &LibraryOutlineView::rowClicked, this, [this] { openSelectedFile(); });
    connect(m_fileView, &LibraryOutlineView::contextMenuRequested, this, &LibraryViewController::showContextMenu);
    connect(m_fileView, &LibraryOutlineView::filesDropped, this, &LibraryViewController::acceptFileDrop);
    connect(m_fileView, &QTreeView::expanded, this, [this](const QModelIndex& index) { userExpanded(index, true); });
    connect(m_fileView, &QTreeView::collapsed, this, [this](const QModelIndex& index) { userExpanded(index, false); });
    // A new file's name edit left with Escape ends the new-file naming.
    connect(m_delegate, &QAbstractItemDelegate::closeEditor, this,
            [this](QWidget*, QAbstractItemDelegate::EndEditHint hint) {
                if (hint == QAbstractItemDelegate::RevertModelCache) m_isRenamingNewFile = false;
            });
    // A tree shown afresh keeps its expansion and the window's row.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (m_filteredRootFile) {
            restoreExpansion(*m_filteredRootFile);
            selectDocumentRowIfNone();
        }
    });

    m_unavailableIcon = new QLabel;
    m_unavailableIcon->setFixedSize(kUnavailableIconSize, kUnavailableIconSize);
    m_unavailableLabel = views::wrappingLabel(localized("library.unavailable"));
    m_unavailableLabel->setAlignment(Qt::AlignCenter);
    m_removeLibraryButton = views::button(localized("library.remove"), QIcon(), [this] { removeShownLibrary(); });
    m_unavailableView = new QWidget;
    {
        auto* layout = new QVBoxLayout(m_unavailableView);
        layout->setContentsMargins(kMessageInset, kMessageInset, kMessageInset, kMessageInset);
        layout->setSpacing(kMessageSpacing);
        layout->addStretch(1);
        layout->addWidget(m_unavailableIcon, 0, Qt::AlignHCenter);
        layout->addWidget(m_unavailableLabel);
        layout->addSpacing(kMessageSpacing);
        layout->addWidget(m_removeLibraryButton, 0, Qt::AlignHCenter);
        layout->addStretch(1);
    }
    for (QLabel* label : {m_emptyLabel, m_unavailableLabel}) {
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * kMessageFontSize / 13.0);
        label->setFont(font);
    }

    // While a large folder is read: what the pane is doing, and how far.
    m_loadingLabel = views::wrappingLabel(QString());
    m_loadingLabel->setAlignment(Qt::AlignCenter);
    m_loadingCount = views::wrappingLabel(QString());
    m_loadingCount->setAlignment(Qt::AlignCenter);
    m_loadingBar = new QProgressBar;
    m_loadingBar->setRange(0, 0); // busy: the size of a folder is known only once it is read
    m_loadingBar->setTextVisible(false);
    m_loadingBar->setFixedSize(120, 4);
    m_loadingView = new QWidget;
    {
        auto* layout = new QVBoxLayout(m_loadingView);
        layout->setContentsMargins(kMessageInset, kMessageInset, kMessageInset, kMessageInset);
        layout->setSpacing(kMessageSpacing);
        layout->addStretch(1);
        layout->addWidget(m_loadingLabel);
        layout->addWidget(m_loadingBar, 0, Qt::AlignHCenter);
        layout->addWidget(m_loadingCount);
        layout->addStretch(2);
    }
    m_loadingProgress.setInterval(100);
    connect(&m_loadingProgress, &QTimer::timeout, this, [this] { updateLoadingView(); });

    // A search that finds nothing says so, over the empty outline.
    m_nothingFoundLabel = views::wrappingLabel(QString());
    m_nothingFoundLabel->setAlignment(Qt::AlignCenter);
    m_nothingFoundLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    m_nothingFoundView = new QWidget;
    {
        auto* layout = new QVBoxLayout(m_nothingFoundView);
        layout->setContentsMargins(kMessageInset * 2, kMessageInset * 3, kMessageInset * 2, kMessageInset);
        layout->addWidget(m_nothingFoundLabel, 0, Qt::AlignTop);
        layout->addStretch(1);
    }

    m_body = new QStackedWidget;
    m_body->addWidget(m_fileView);
    m_body->addWidget(m_unavailableView);
    m_body->addWidget(m_loadingView);
    m_body->addWidget(m_nothingFoundView);

    m_content = new QWidget;
    {
        auto* layout = new QVBoxLayout(m_content);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(m_header);
        layout->addWidget(m_separator);
        layout->addWidget(m_body, 1);
    }
    m_pages = new QStackedWidget;
    m_pages->addWidget(m_content);
    m_pages->addWidget(m_emptyView);
    auto* rootLayout = new QVBoxLayout(m_rootView);
    rootLayout->setContentsMargins(0, 0, 0, 0);
    rootLayout->addWidget(m_pages);

    connect(&Settings::shared(), &Settings::librarySummaryLinesChanged, this,
            &LibraryViewController::summaryLinesDidChange);
    updateSortButton();
    applyTheme();
}

QSize LibraryViewController::sizeHint() const { return {250, 400}; }

void LibraryViewController::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A message wrapped to the old width is wrapped again.
    if (m_body && m_body->currentWidget() == m_nothingFoundView) showState();
}

void LibraryViewController::setUp()
{
    // The Library menu's row commands reach the pane from anywhere in its
    // window, not only from the list: the highlighted row is the one they
    // act on, whether or not the list ever had the keyboard focus.
    if (QWidget* w = window(); w && w != this && !m_registeredWindow) {
        m_registeredWindow = w;
        ActionDispatcher::instance().setViewController(w, this);
    }
    rebuildLibrariesPopup();
    if (!m_joinedList) {
        LibraryController::shared().addObserver(this);
        m_joinedList = true;
    }
    updateSortButton();
    if (!m_library) {
        Document* d = document();
        setLibrary(LibraryController::shared().libraryForDocument(d && !d->isUntitled() ? d->filePath() : QString()));
    }
}

void LibraryViewController::windowWillClose()
{
    if (m_registeredWindow) ActionDispatcher::instance().removeViewController(m_registeredWindow, this);
    m_registeredWindow = nullptr;
    if (m_joinedList) {
        LibraryController::shared().removeObserver(static_cast<LibrariesObserver*>(this));
        m_joinedList = false;
    }
    leaveFileController();
    m_library.reset();
    if (m_pages) showState();
}

QVariantMap LibraryViewController::restorableState() const
{
    FileController* controller = m_library ? m_library->fileController() : nullptr;
    const Directory* root = controller ? controller->rootFile() : nullptr;
    if (!root) return {};
    const std::optional<Bookmark> bookmark = Bookmark::create(root->path());
    if (!bookmark) return {};
    return {{QStringLiteral("rootFileBookmarkData"), bookmark->data()}};
}

void LibraryViewController::restoreState(const QVariantMap& state)
{
    const QVariant data = state.value(QStringLiteral("rootFileBookmarkData"));
    if (data.typeId() != QMetaType::QByteArray) return;
    const std::optional<Bookmark> bookmark = Bookmark::fromData(data.toByteArray());
    const auto resolved = bookmark ? bookmark->resolve() : std::nullopt;
    if (!resolved || !QFileInfo(resolved->path).isDir()) return;
    LibraryController& libraries = LibraryController::shared();
    std::shared_ptr<Library> library = libraries.libraryWithURL(resolved->path);
    if (!library) library = libraries.openLibrary(resolved->path);
    if (library) setLibrary(library);
}

void LibraryViewController::updateWindowButtons()
{
    // The window's own buttons stand in the title strip over this pane;
    // the header keeps its distance below it.
    if (auto* layout = qobject_cast<QVBoxLayout*>(m_header->layout())) layout->setContentsMargins(kHeaderInsets);
}

void LibraryViewController::applyTheme()
{
    const Theme& theme = *Settings::shared().theme();
    const QColor background = theme.backgroundColor.toQColor();
    const QColor foreground = theme.foregroundColor.toQColor();
    const QColor chrome = views::chromeColor(background, foreground);
    const QColor text = views::blend(chrome, foreground, kTextAlpha);
    const QColor secondary = views::blend(chrome, foreground, kSecondaryTextAlpha);
    const QColor selection = views::blend(chrome, foreground, theme.isDark ? 0.17 : 0.11);
    const QColor hairline = views::blend(background, foreground, 0.12);
    const QColor accent = theme.cursorColor.toQColor();

    QPalette p = palette();
    p.setColor(QPalette::Window, chrome);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::PlaceholderText, secondary);
    p.setColor(QPalette::Base, views::blend(chrome, background, 0.6));
    p.setColor(QPalette::Button, views::blend(chrome, foreground, 0.06));
    p.setColor(QPalette::Highlight, views::blend(background, foreground, 0.22));
    p.setColor(QPalette::HighlightedText, foreground);
    setPalette(p);

    QPalette quiet = p;
    quiet.setColor(QPalette::WindowText, secondary);
    m_emptyLabel->setPalette(quiet);
    m_unavailableLabel->setPalette(quiet);
    m_loadingLabel->setPalette(quiet);
    m_loadingCount->setPalette(quiet);
    m_nothingFoundLabel->setPalette(quiet);
    QPalette bar = quiet;
    bar.setColor(QPalette::Highlight, views::blend(chrome, foreground, 0.35));
    bar.setColor(QPalette::Base, views::blend(chrome, foreground, 0.08));
    bar.setColor(QPalette::Window, views::blend(chrome, foreground, 0.08));
    m_loadingBar->setPalette(bar);
    m_unavailableIcon->setPixmap(cautionPixmap(secondary, kUnavailableIconSize));

    QPalette line = m_separator->palette();
    line.setColor(QPalette::Window, hairline);
    m_separator->setPalette(line);

    m_librariesPopup->text = text;
    m_librariesPopup->secondary = secondary;
    m_librariesPopup->update();
    auto* sort = static_cast<SortButton*>(m_sortButton);
    sort->text = secondary;
    sort->hover = views::blend(chrome, foreground, 0.08);
    sort->update();
    views::applyThinScroller(m_fileView->verticalScrollBar(), foreground, Settings::scrollerAlpha);

    // The field stands a little apart from the pane, with rounded corners.
    const QColor field = theme.isDark ? views::blend(chrome, foreground, 0.07) : views::blend(chrome, background, 0.75);
    const QColor fieldBorder = views::blend(chrome, foreground, theme.isDark ? 0.16 : 0.14);
    m_searchField->setStyleSheet(
        QStringLiteral("QLineEdit { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
                       " padding: 3px 4px; selection-background-color: %4; }"
                       "QLineEdit:focus { border: 1px solid %5; }")
            .arg(field.name(), text.name(), fieldBorder.name(), views::blend(field, foreground, 0.25).name(),
                 views::blend(chrome, accent, 0.7).name()));
    const auto actions = m_searchField->actions();
    for (QAction* action : actions)
        if (action->objectName() == QLatin1String("lumoraSearchIcon")) m_searchField->removeAction(action);
    QAction* icon = m_searchField->addAction(searchIcon(secondary), QLineEdit::LeadingPosition);
    icon->setObjectName(QStringLiteral("lumoraSearchIcon"));

    m_delegate->setColors(text, secondary, selection, accent);
    m_fileView->setColors(selection, secondary);
    m_rootView->setHighlightColor(accent);
    m_fileView->viewport()->update();
}

// Lookups --------------------------------------------------------------------------------

Document* LibraryViewController::document() const
{
    return m_host ? m_host->paneDocument() : nullptr;
}

FileController* LibraryViewController::fileController() const
{
    return m_library ? m_library->fileController() : nullptr;
}

RegularFile* LibraryViewController::regularFile(const QString& path) const
{
    FileController* controller = fileController();
    if (!controller || !controller->rootFile() || path.isEmpty()) return nullptr;
    return dynamic_cast<RegularFile*>(controller->rootFile()->fileAtPath(QDir::cleanPath(path)));
}

RegularFile* LibraryViewController::documentFile() const
{
    const Document* d = document();
    if (!d || d->isUntitled()) return nullptr;
    return regularFile(d->filePath());
}

File* LibraryViewController::shownFileAt(const QString& path) const
{
    if (!m_filteredRootFile || path.isEmpty()) return nullptr;
    File* file = m_filteredRootFile->fileAtPath(QDir::cleanPath(path));
    return file == m_filteredRootFile ? nullptr : file;
}

File* LibraryViewController::fileAtRow(const QModelIndex& row) const { return m_model->fileAt(row); }

std::vector<File*> LibraryViewController::filesAtRows(const QModelIndexList& rows) const
{
    std::vector<File*> files;
    for (const QModelIndex& row : rows)
        if (File* file = fileAtRow(row)) files.push_back(file);
    return files;
}

QModelIndexList LibraryViewController::rowsToActOn() const
{
    QModelIndexList rows = views::rowsToActOn(m_fileView, m_clickedRow);
    // Only rows that still show a file.
    rows.erase(std::remove_if(rows.begin(), rows.end(), [this](const QModelIndex& row) { return !fileAtRow(row); }),
               rows.end());
    return rows;
}

QModelIndex LibraryViewController::indexOfFile(const File* file)
{
    if (!file) return {};
    // A file of the library's tree stands for its copy in a search's tree.
    if (m_filteredCopy) return m_model->indexOf(shownFileAt(file->path()));
    return m_model->indexOf(file);
}

// The shown library -----------------------------------------------------------------

void LibraryViewController::leaveFileController()
{
    // A tree still being read is not waited for any more.
    if (m_loadTicket && m_library) m_library->stopWaitingForFileTree(m_loadTicket);
    m_loadTicket = 0;
    m_loadingTree = false;
    m_loadingProgress.stop();
    // Rows go first: the tree may go with the controller.
    setShownRoot(nullptr, nullptr);
    if (const std::shared_ptr<FileController> observed = std::move(m_observed)) {
        LibraryController::shared().removeObserver(static_cast<FileObserver*>(this), *observed);
    }
}

void LibraryViewController::setShownRoot(Directory* root, std::unique_ptr<Directory> copy)
{
    // The model lets go of the old rows before the old copy goes.
    std::unique_ptr<Directory> old = std::move(m_filteredCopy);
    m_filteredRootFile = root;
    m_filteredCopy = std::move(copy);
    m_model->setRoot(root);
    old.reset();
}

void LibraryViewController::setLibrary(const std::shared_ptr<Library>& library)
{
    const std::shared_ptr<Library> old = m_library;
    if (old && old != library) {
        rememberSearch(*old);
        leaveFileController();
    }
    m_library = library;
    if (old != library) {
        // Each library keeps its own search: the field shows this one's.
        m_filter = library ? rememberedSearch(*library) : QString();
        const QSignalBlocker block(m_searchField);
        m_searchField->setText(m_filter);
    }
    if (!library) {
        showState();
        return;
    }
    if (old == library) return;
    showLibrary(true);
}

void LibraryViewController::rememberSearch(const Library& library)
{
    m_searches.erase(std::remove_if(m_searches.begin(), m_searches.end(),
                                    [&library](const auto& entry) {
                                        const auto held = entry.first.lock();
                                        return !held || held.get() == &library;
                                    }),
                     m_searches.end());
    if (!m_filter.isEmpty()) m_searches.emplace_back(std::const_pointer_cast<Library>(library.shared_from_this()), m_filter);
}

QString LibraryViewController::rememberedSearch(const Library& library) const
{
    for (const auto& [held, text] : m_searches)
        if (held.lock().get() == &library) return text;
    return {};
}

void LibraryViewController::libraryAvailabilityChanged(int index)
{
    const auto& libraries = LibraryController::shared().libraries();
    if (!m_library || index < 0 || index >= int(libraries.size()) || libraries[size_t(index)] != m_library) return;
    // Its disk went away (the pane says the folder can't be found, without
    // a dialog) or came back (the tree is read again).
    leaveFileController();
    showLibrary(false);
}

void LibraryViewController::showLibrary(bool presentErrors)
{
    const std::shared_ptr<Library> library = m_library;
    selectCurrentLibraryItem();
    if (library->fileController()) {
        showLoadedLibrary();
        return;
    }
    // Read on another thread: the window goes on answering, and the pane
    // shows how far the reading got; it fills in when the tree is there.
    setShownRoot(nullptr, nullptr);
    m_loadingTree = true;
    QPointer<LibraryViewController> self(this);
    const std::weak_ptr<Library> weak = library;
    const quint64 ticket = library->loadFileTreeInBackground([self, weak, presentErrors](const PlatformStatus& status) {
        const auto loaded = weak.lock();
        if (!self || !loaded || loaded != self->m_library || !self->m_loadingTree) return;
        self->m_loadTicket = 0;
        self->m_loadingTree = false;
        self->m_loadingProgress.stop();
        if (!status && presentErrors && !status.error().isCancellation()) {
            LibraryViewController* view = self.data();
            QMetaObject::invokeMethod(
                view, [view, error = status.error()] { view->presentError(error); }, Qt::QueuedConnection);
        }
        self->showLoadedLibrary();
    });
    if (!m_loadingTree) return; // done at once
    m_loadTicket = ticket;
    m_loadingShownAt.start();
    m_loadingProgress.start();
    sortKeyChanged();
    showState();
}

void LibraryViewController::showLoadedLibrary()
{
    FileController* controller = m_library ? m_library->fileController() : nullptr;
    if (controller && controller->rootFile()) {
        m_observed = m_library->sharedFileController();
        controller->addObserver(this);
        if (m_filter.isEmpty()) setShownRoot(controller->rootFile(), nullptr);
        else applyFilter();
        sortKeyChanged();
    } else {
        setShownRoot(nullptr, nullptr);
        sortKeyChanged();
    }
    showState();
    selectDocumentRowIfNone();
}

void LibraryViewController::updateLoadingView()
{
    if (!m_loadingTree || !m_library) return;
    // A folder read in a blink shows no progress at all.
    if (m_body->currentWidget() != m_loadingView) showState();
    else updateLoadingLabels();
}

void LibraryViewController::showState()
{
    FileController* controller = fileController();
    const bool hasTree = controller && controller->rootFile();
    m_pages->setCurrentWidget(m_library ? m_content : m_emptyView);
    QWidget* body = m_fileView;
    if (m_library && m_loadingTree) {
        updateLoadingLabels();
        // Shown only once the reading takes a moment.
        const bool slow = m_loadingShownAt.isValid() && m_loadingShownAt.elapsed() >= kLoadingDelay;
        body = slow ? m_loadingView : m_fileView;
    } else if (m_library && !hasTree) {
        body = m_unavailableView;
    } else if (hasTree && !m_filter.isEmpty() && (!m_filteredRootFile || m_filteredRootFile->count() == 0)) {
        m_nothingFoundLabel->setText(localizedFormat(QStringLiteral("library.search.nothing"), {m_filter}));
        // Wrapped to the pane's width, at its full height.
        m_nothingFoundLabel->setMinimumHeight(
            m_nothingFoundLabel->heightForWidth(std::max(80, m_body->width() - kMessageInset * 4)));
        body = m_nothingFoundView;
    }
    m_body->setCurrentWidget(body);
    m_searchField->setEnabled(controller != nullptr);
    m_sortButton->setEnabled(controller != nullptr);
    m_librariesPopup->setEnabled(m_librariesPopup->count() > 0);
}

void LibraryViewController::updateLoadingLabels()
{
    if (!m_library) return;
    const QString name = libraryName(*m_library);
    m_loadingLabel->setText(localizedFormat(QStringLiteral("library.loading"),
                                            {name.isEmpty() ? NativePath::shown(m_library->url()) : name}));
    m_loadingCount->setText(localizedFormat(QStringLiteral("library.loading.folders"),
                                            {QLocale().toString(m_library->loadedFolderCount())}));
}

void LibraryViewController::restoreExpansion(Directory& folder)
{
    restoreExpansion(folder, folder.parent() ? indexOfFile(&folder) : QModelIndex());
}

void LibraryViewController::restoreExpansion(Directory& folder, const QModelIndex& index)
{
    if (!folder.expanded) return;
    const bool was = std::exchange(m_restoringExpansion, true);
    if (index.isValid()) m_fileView->expand(index);
    for (int row = 0; row < folder.count(); ++row) {
        File* child = folder.child(row);
        if (!child->isDirectory()) continue;
        restoreExpansion(static_cast<Directory&>(*child), m_model->index(row, 0, index));
    }
    m_restoringExpansion = was;
}

void LibraryViewController::userExpanded(const QModelIndex& index, bool expanded)
{
    if (m_restoringExpansion) return;
    auto* folder = dynamic_cast<Directory*>(fileAtRow(index));
    if (!folder) return;
    folder->expanded = expanded;
    // Only the library's own tree is saved: a search's copies come and go.
    FileController* controller = fileController();
    if (m_library && controller && m_filteredRootFile == controller->rootFile()) m_library->saveExpandedState();
    if (!expanded) return;
    const bool was = std::exchange(m_restoringExpansion, true);
    for (int row = 0; row < folder->count(); ++row)
        if (folder->child(row)->isDirectory())
            restoreExpansion(static_cast<Directory&>(*folder->child(row)), m_model->index(row, 0, index));
    m_restoringExpansion = was;
}

void LibraryViewController::selectDocumentRowIfNone()
{
    if (!m_fileView->selectionModel() || m_fileView->selectionModel()->hasSelection()) return;
    const RegularFile* file = documentFile();
    if (!file) return;
    const QModelIndex index = indexOfFile(file);
    if (!index.isValid()) return;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        if (!m_fileView->isExpanded(up)) return;
    m_fileView->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_fileView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_fileView->scrollTo(index);
}

// The popup -----------------------------------------------------------------------------

void LibraryViewController::rebuildLibrariesPopup()
{
    m_librariesPopup->clearLibraries();
    const auto& libraries = LibraryController::shared().libraries();
    for (size_t i = 0; i < libraries.size(); ++i) m_librariesPopup->insertLibrary(int(i), libraries[i]);
    selectCurrentLibraryItem();
    showState();
}

void LibraryViewController::selectCurrentLibraryItem()
{
    int found = -1;
    for (int i = 0; i < m_librariesPopup->count(); ++i) {
        if (m_library && m_librariesPopup->libraryAt(i) == m_library) {
            found = i;
            break;
        }
    }
    m_librariesPopup->setCurrentIndex(found);
    m_librariesPopup->updateGeometry();
    m_librariesPopup->update();
}

void LibraryViewController::libraryInserted(int index)
{
    const auto& libraries = LibraryController::shared().libraries();
    if (index < 0 || index >= int(libraries.size()) || m_librariesPopup->count() + 1 != int(libraries.size())) {
        rebuildLibrariesPopup();
    } else {
        m_librariesPopup->insertLibrary(index, libraries[size_t(index)]);
        selectCurrentLibraryItem();
    }
    showState();
    if (libraries.size() == 1 && m_library != libraries.front()) setLibrary(libraries.front());
}

void LibraryViewController::libraryMoved(int from, int to)
{
    const auto& libraries = LibraryController::shared().libraries();
    if (from < 0 || from >= m_librariesPopup->count() || to < 0 || to >= int(libraries.size())
        || m_librariesPopup->count() != int(libraries.size())) {
        rebuildLibrariesPopup();
        return;
    }
    m_librariesPopup->removeLibrary(from);
    m_librariesPopup->insertLibrary(to, libraries[size_t(to)]);
    selectCurrentLibraryItem();
}

void LibraryViewController::libraryRemoved(int index)
{
    const auto& libraries = LibraryController::shared().libraries();
    if (index < 0 || index >= m_librariesPopup->count() || m_librariesPopup->count() != int(libraries.size()) + 1)
        rebuildLibrariesPopup();
    else
        m_librariesPopup->removeLibrary(index);
    // A sidebar that showed the library that left shows the library of its
    // document, else the one chosen last, else the first.
    const bool shownLeft = m_library && LibraryController::shared().indexOf(*m_library) < 0;
    if (shownLeft || !m_library) {
        const Document* d = document();
        setLibrary(LibraryController::shared().libraryForDocument(d && !d->isUntitled() ? d->filePath() : QString()));
    }
    selectCurrentLibraryItem();
    showState();
}

void LibraryViewController::libraryTitleChanged(int index)
{
    const auto& libraries = LibraryController::shared().libraries();
    if (index < 0 || index >= m_librariesPopup->count() || m_librariesPopup->count() != int(libraries.size())) {
        rebuildLibrariesPopup();
        return;
    }
    m_librariesPopup->setItem(index, libraries[size_t(index)]);
    m_librariesPopup->updateGeometry();
    m_librariesPopup->update();
}

void LibraryViewController::openLibraryAt(int popupIndex)
{
    const std::shared_ptr<Library> chosen = m_librariesPopup->libraryAt(popupIndex);
    if (!chosen || chosen == m_library) {
        selectCurrentLibraryItem();
        return;
    }
    setLibrary(chosen);
    if (chosen->bookmarkData()) UserDefaults::standard().set(kSelectedLibrary, *chosen->bookmarkData());
}

// Search and sort ------------------------------------------------------------------------

void LibraryViewController::setFilter(const QString& text)
{
    m_filter = text;
    if (m_searchField->text() != text) m_searchField->setText(text);
    applyFilter();
}

void LibraryViewController::applyFilter()
{
    FileController* controller = fileController();
    if (!controller || !controller->rootFile()) return;
    // The selected files stay selected in the new rows, when they are there.
    QStringList selected;
    for (const QModelIndex& row : m_fileView->selectionModel()->selectedRows())
        if (File* file = fileAtRow(row)) selected << file->path();
    Directory::FilteredTree filtered = controller->rootFile()->filtered(m_filter);
    if (!filtered.root) {
        // Nothing matches yet: an empty copy, so that a match made later
        // still comes in (and the pane says that nothing is found).
        Directory* root = controller->rootFile();
        filtered.copy = std::make_unique<Directory>(root->path(), Directory::Contents{}, controller, root->metadata());
        filtered.copy->expanded = true;
        filtered.root = filtered.copy.get();
    }
    setShownRoot(filtered.root, std::move(filtered.copy));
    showState();
    for (const QString& path : selected) {
        const QModelIndex index = m_model->indexOf(shownFileAt(path));
        if (index.isValid())
            m_fileView->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

void LibraryViewController::clearSearch()
{
    if (m_filter.isEmpty() && m_searchField->text().isEmpty()) return;
    m_filter.clear();
    {
        const QSignalBlocker block(m_searchField);
        m_searchField->clear();
    }
    applyFilter();
    showState();
}

void LibraryViewController::searchFieldAction()
{
    if (m_filter.isEmpty() || !m_filteredRootFile) return;
    selectAndOpenFile(m_filteredRootFile->firstDocument());
}

void LibraryViewController::chooseSortKey(Library::SortKey key)
{
    if (!m_library) return;
    m_library->sortKey = key;
    if (FileController* controller = fileController()) controller->setSortKey(key);
    else updateSortButton(); // a tree still being read takes the order when it is there
    LibraryController::shared().save();
}

void LibraryViewController::updateSortButton()
{
    const Library::SortKey key = m_library ? m_library->sortKey : Library::SortKey::name;
    m_sortButton->setText(localizedFormat(QStringLiteral("library.sort"), {Library::title(key)}));
    m_delegate->setShowsDates(key != Library::SortKey::name);
}

void LibraryViewController::sortKeyWillChange() { m_model->sortWillChange(); }

void LibraryViewController::sortKeyChanged()
{
    if (m_model->root()) m_model->sortDidChange();
    updateSortButton();
    m_fileView->viewport()->update();
}

void LibraryViewController::summaryLinesDidChange()
{
    m_delegate->setSummaryLines(Settings::shared().librarySummaryLines());
    // Every row is measured again.
    m_fileView->doItemsLayout();
    m_fileView->viewport()->update();
}

// Rows following the disk ---------------------------------------------------------------------

void LibraryViewController::willInsertRow(Directory& parent, int index) { m_model->willInsertRow(parent, index); }

void LibraryViewController::didInsertRow(Directory& parent, int index)
{
    m_model->didInsertRow(parent, index);
    selectDocumentRowIfNone();
    // A search that found nothing may find this.
    if (!m_filter.isEmpty()) showState();
}

void LibraryViewController::willRemoveRow(Directory& parent, int index) { m_model->willRemoveRow(parent, index); }

void LibraryViewController::didRemoveRow(Directory& parent, int index)
{
    m_model->didRemoveRow(parent, index);
    if (!m_filter.isEmpty()) showState();
}

void LibraryViewController::willMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex)
{
    m_model->willMoveRow(from, fromIndex, to, toIndex);
}

void LibraryViewController::didMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex)
{
    m_model->didMoveRow(from, fromIndex, to, toIndex);
    // The row being worked on stays in view when it moved.
    if (toIndex < 0 || toIndex >= to.count()) return;
    const QModelIndexList acted = rowsToActOn();
    if (!acted.isEmpty() && fileAtRow(acted.first()) == to.child(toIndex)) m_fileView->scrollTo(acted.first());
}

void LibraryViewController::fileDidChange(File& file) { m_model->fileDidChange(file); }

// Opening documents ----------------------------------------------------------------------------

void LibraryViewController::openSelectedFile()
{
    if (!document()) return;
    openFileAtActedRow();
}

void LibraryViewController::openFileAtActedRow()
{
    const QModelIndexList rows = rowsToActOn();
    if (rows.isEmpty()) return;
    auto* file = dynamic_cast<RegularFile*>(fileAtRow(rows.first()));
    if (!file) return;
    const QString path = file->path();
    // A search's copy and the library's own row share their document.
    Document* bound = file->document();
    if (!bound)
        if (RegularFile* own = regularFile(path)) bound = own->document();
    if (bound) {
        bindDocument(path, bound);
        if (bound != document()) switchWindowToFile(path);
        return;
    }
    openDocumentAt(path);
}

void LibraryViewController::openDocumentAt(const QString& path)
{
    QPointer<LibraryViewController> self(this);
    Document::openLibraryFile(path, [self, path](Document* opened, const std::optional<PlatformError>& error) {
        if (!self) return;
        if (error || !opened) {
            if (error) self->presentError(*error);
            return;
        }
        self->bindDocument(path, opened);
        if (opened->referencesCount() == 0 && opened->editors().empty() && Document::host()) {
            // Its row went while it opened: nothing holds it.
            Document::host()->closeChildDocument(*opened);
            return;
        }
        // A selection that moved on while the file opened is respected.
        const QModelIndexList rows = self->rowsToActOn();
        const File* first = rows.isEmpty() ? nullptr : self->fileAtRow(rows.first());
        if (!first || first->path() != path) return;
        if (opened != self->document()) self->switchWindowToFile(path);
    });
}

void LibraryViewController::bindDocument(const QString& path, Document* document)
{
    if (RegularFile* own = regularFile(path); own && !own->document()) own->setDocument(document);
    if (auto* shown = dynamic_cast<RegularFile*>(shownFileAt(path)); shown && !shown->document())
        shown->setDocument(document);
}

void LibraryViewController::switchWindowToFile(const QString& path)
{
    if (!m_host) return;
    RegularFile* file = regularFile(path);
    auto* shown = dynamic_cast<RegularFile*>(shownFileAt(path));
    QPointer<Document> next = file && file->document() ? file->document() : shown ? shown->document() : nullptr;
    Document* current = document();
    if (!next || next == current) return;
    if (RegularFile* currentFile = documentFile()) saveDocumentState(*currentFile);
    // The window's document agrees to go first (it may ask the writer).
    if (!m_host->leaveDocument()) {
        selectFile(documentFile());
        return;
    }
    if (!next || next->isClosed()) return;
    m_host->showDocument(*next);
    if (RegularFile* own = regularFile(path)) restoreDocumentState(*own);
    else m_host->restoreEditorState({});
}

void LibraryViewController::selectFile(File* file)
{
    QItemSelectionModel* selection = m_fileView->selectionModel();
    const QModelIndex index = indexOfFile(file);
    if (!index.isValid()) {
        selection->clearSelection();
        return;
    }
    {
        // Showing the row opens its folders: that is no choice of the writer's.
        const bool was = std::exchange(m_restoringExpansion, true);
        for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) m_fileView->expand(up);
        m_fileView->scrollTo(index);
        m_restoringExpansion = was;
    }
    selection->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void LibraryViewController::selectAndOpenFile(File* file)
{
    if (file && file->isDirectory()) return;
    selectFile(file);
    if (file && m_fileView->selectionModel()->hasSelection()) openFileAtActedRow();
}

void LibraryViewController::saveDocumentState(RegularFile& file)
{
    if (!m_host) return;
    file.stateData = m_host->editorState();
    if (m_library) m_library->saveDocumentStates();
}

void LibraryViewController::restoreDocumentState(RegularFile& file)
{
    if (m_host) m_host->restoreEditorState(file.stateData);
}

void LibraryViewController::moveDocumentToLibrary()
{
    FileController* controller = fileController();
    const Document* d = document();
    if (!controller || !controller->rootFile() || !d || d->isUntitled()) return;
    selectCurrentLibraryItem();
    const QString from = d->filePath();
    const QString to = joined(controller->rootFile()->path(), lastComponent(from));
    QPointer<LibraryViewController> self(this);
    controller->moveFile(from, to, [self](const std::optional<PlatformError>& error, File* moved) {
        if (!self) return;
        if (error) self->presentError(*error);
        else self->selectAndOpenFile(moved);
    });
}

// New files, rename ---------------------------------------------------------------------------

Directory* LibraryViewController::targetFolderForNewFile() const
{
    FileController* controller = fileController();
    if (!controller || !controller->rootFile()) return nullptr;
    const QModelIndexList rows = rowsToActOn();
    const File* file = rows.isEmpty() ? nullptr : fileAtRow(rows.first());
    if (!file) return controller->rootFile();
    // The library's own folder of the same path (a search shows copies).
    const QString folder = file->isDirectory() ? file->path() : folderOf(file->path());
    return dynamic_cast<Directory*>(controller->rootFile()->fileAtPath(folder));
}

void LibraryViewController::makeLibraryDocument()
{
    FileController* controller = fileController();
    Directory* folder = targetFolderForNewFile();
    if (!controller || !folder) return;
    const QString path = folder->newDocumentURL();
    clearSearch();
    QPointer<LibraryViewController> self(this);
    controller->createDocument(path, std::nullopt, [self](const std::optional<PlatformError>& error, File* file) {
        if (self) self->newFileCreated(error, file);
    });
}

void LibraryViewController::makeLibraryFolder()
{
    FileController* controller = fileController();
    Directory* folder = targetFolderForNewFile();
    if (!controller || !folder) return;
    const QString path = url::uniqueFileURL(joined(folder->path(), localized("library.new.directory")));
    clearSearch();
    QPointer<LibraryViewController> self(this);
    controller->createFolder(path, [self](const std::optional<PlatformError>& error, File* file) {
        if (self) self->newFileCreated(error, file);
    });
}

void LibraryViewController::newFileCreated(const std::optional<PlatformError>& error, File* file)
{
    if (error) {
        presentError(*error);
        return;
    }
    const QModelIndex index = indexOfFile(file);
    if (!index.isValid()) return;
    {
        const bool was = std::exchange(m_restoringExpansion, true);
        for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) m_fileView->expand(up);
        m_restoringExpansion = was;
    }
    if (auto* parent = file->parent(); parent && parent->parent()) {
        // The folder the writer sees opened is remembered open.
        if (!parent->expanded) {
            parent->expanded = true;
            if (m_library) m_library->saveExpandedState();
        }
    }
    m_fileView->scrollTo(index);
    const QPersistentModelIndex row(index);
    QTimer::singleShot(newFileRenameDelay, this, [this, row] { startRenamingNewFile(row); });
}

void LibraryViewController::startRenamingNewFile(const QPersistentModelIndex& row)
{
    if (!row.isValid()) return;
    m_isRenamingNewFile = true;
    m_fileView->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_fileView->setCurrentIndex(row);
    m_fileView->setFocus();
    m_fileView->edit(row);
}

void LibraryViewController::renameLibraryDocument()
{
    const QModelIndexList rows = rowsToActOn();
    if (rows.isEmpty()) return;
    m_fileView->setFocus();
    m_fileView->setCurrentIndex(rows.first());
    m_fileView->edit(rows.first());
}

void LibraryViewController::approveRename(File& file, const QString& typedName)
{
    FileController* controller = fileController();
    if (!controller) {
        m_isRenamingNewFile = false;
        return;
    }
    const bool newFile = std::exchange(m_isRenamingNewFile, false);
    if (typedName == file.filename()) {
        // Unchanged: nothing moves, and a new file is not opened.
        return;
    }
    const auto name = FileController::diskNameForTypedName(typedName);
    if (!name) {
        presentError(name.error());
        return;
    }
    const QString from = file.path();
    const QString to = joined(folderOf(from), *name);
    QPointer<LibraryViewController> self(this);
    controller->moveFile(from, to, [self, newFile, to](const std::optional<PlatformError>& error, File* moved) {
        if (!self) return;
        if (error) {
            self->presentError(*error, {to});
            return;
        }
        if (newFile && moved && !moved->isDirectory()) self->selectAndOpenFile(moved);
    });
}

// Trash, print, reveal ------------------------------------------------------------------------

bool LibraryViewController::keepsWindowWhenDocumentCloses(const Document& document) const
{
    return m_trashingDocument && m_trashingDocument.data() == &document;
}

void LibraryViewController::removeSelectedFiles()
{
    FileController* controller = fileController();
    const QModelIndexList rows = rowsToActOn();
    if (!controller || rows.isEmpty()) return;
    // A name being edited in a row ends first.
    if (QWidget* focus = window() ? window()->focusWidget() : nullptr; focus && m_fileView->isAncestorOf(focus)
                                                                        && focus != m_fileView) {
        m_fileView->setFocus();
    }
    std::vector<File*> files = filesAtRows(rows);
    // Where the selection goes when the window's document leaves: the
    // nearest document row below the trashed rows, else above them.
    QList<QPersistentModelIndex> candidates;
    {
        const auto going = [&files](const File* f) {
            return std::any_of(files.begin(), files.end(),
                               [f](const File* t) { return f == t || isAtOrInside(f->path(), t->path()); });
        };
        const auto stays = [&](const QModelIndex& row) {
            const File* f = fileAtRow(row);
            return f && !f->isDirectory() && !going(f);
        };
        for (QModelIndex below = m_fileView->indexBelow(rows.last()); below.isValid();
             below = m_fileView->indexBelow(below))
            if (stays(below)) {
                candidates << below;
                break;
            }
        for (QModelIndex above = m_fileView->indexAbove(rows.first()); above.isValid();
             above = m_fileView->indexAbove(above))
            if (stays(above)) {
                candidates << above;
                break;
            }
    }

    // Open documents under the files save their edits first; a file whose
    // document cannot be saved stays where it is.
    Document* current = document();
    std::vector<File*> trashing;
    bool currentGoes = false;
    for (File* file : files) {
        std::vector<Document*> open = File::documents({file});
        const QString path = file->path();
        if (current && !current->isUntitled() && isAtOrInside(current->filePath(), path)) {
            if (std::find(open.begin(), open.end(), current) == open.end()) open.push_back(current);
        }
        bool saved = true;
        for (Document* d : open) {
            if (!d->isDocumentEdited() || d->isUntitled()) continue;
            if (PlatformStatus status = d->save(); !status) {
                if (!status.error().isCancellation()) presentError(status.error());
                saved = false;
                break;
            }
        }
        if (!saved) continue;
        if (current && !current->isUntitled() && isAtOrInside(current->filePath(), path)) currentGoes = true;
        trashing.push_back(file);
    }
    if (trashing.empty()) return;
    if (currentGoes) m_trashingDocument = current;
    // Nothing else to show in its place: the window keeps the document,
    // which follows its file into the Trash (and writes nothing at its old
    // path).
    const bool keepsShown = currentGoes && candidates.isEmpty();
    if (keepsShown) current->setStaysOpenWhenTrashed(true);
    m_pendingTrashes += int(trashing.size());

    QPointer<LibraryViewController> self(this);
    QPointer<Document> goingDocument = currentGoes ? current : nullptr;
    auto remaining = std::make_shared<int>(int(trashing.size()));
    controller->trashFiles(trashing, [self, goingDocument, candidates, keepsShown, remaining](
                                         const std::optional<PlatformError>& error) {
        if (--*remaining == 0 && goingDocument && keepsShown) {
            goingDocument->setStaysOpenWhenTrashed(false);
            // It stays in the window, a file in the Trash now, with no row.
            if (self && !goingDocument->isClosed()) self->m_fileView->selectionModel()->clearSelection();
        }
        if (!self) return;
        self->m_pendingTrashes = std::max(0, self->m_pendingTrashes - 1);
        if (error) self->presentError(*error);
        const bool shownClosed = self->m_trashingDocument && (!goingDocument || goingDocument->isClosed());
        if (!error && shownClosed) {
            self->m_trashingDocument = nullptr;
            File* next = nullptr;
            for (const QPersistentModelIndex& candidate : candidates)
                if ((next = self->fileAtRow(candidate))) break;
            if (next) {
                self->selectAndOpenFile(next);
            } else if (self->m_host) {
                // Nothing left to show: a new page rather than a closed document.
                self->m_fileView->selectionModel()->clearSelection();
                self->m_host->showUntitledDocument();
            }
        }
        if (self->m_pendingTrashes == 0) self->m_trashingDocument = nullptr;
    });
}

void LibraryViewController::printSelectedFiles()
{
    const std::vector<File*> files = filesAtRows(rowsToActOn());
    if (files.empty()) return;
    // Every document under the rows, folders included, opened first.
    QStringList paths;
    for (File* file : files) paths << file->path();
    QStringList toOpen;
    for (File* file : files) {
        file->forEach([&](File& node) {
            if (auto* regular = dynamic_cast<RegularFile*>(&node); regular && !regular->document())
                toOpen << node.path();
        });
    }
    QPointer<LibraryViewController> self(this);
    auto print = [self, paths] {
        if (!self || !self->m_host) return;
        std::vector<File*> shown;
        for (const QString& path : paths)
            if (File* file = self->shownFileAt(path)) shown.push_back(file);
        const std::vector<Document*> documents = File::documents(shown);
        if (!documents.empty()) self->m_host->printDocuments(documents);
    };
    if (toOpen.isEmpty()) {
        print();
        return;
    }
    auto pending = std::make_shared<int>(int(toOpen.size()));
    for (const QString& path : toOpen) {
        Document::openLibraryFile(path, [self, path, pending, print](Document* opened,
                                                                     const std::optional<PlatformError>& error) {
            if (self && opened) self->bindDocument(path, opened);
            else if (self && error) self->presentError(*error);
            if (--*pending == 0) print();
        });
    }
}

void LibraryViewController::revealInFileManager()
{
    const QModelIndexList rows = rowsToActOn();
    if (rows.isEmpty()) return;
    if (const File* file = fileAtRow(rows.first())) Workspace::revealFile(file->path());
}

// Drag and drop ----------------------------------------------------------------------------

void LibraryViewController::acceptFileDrop(const QStringList& paths, const QModelIndex& target)
{
    FileController* controller = fileController();
    if (!controller || !controller->rootFile()) return;
    const File* folder = target.isValid() ? fileAtRow(target) : controller->rootFile();
    if (!folder || !folder->isDirectory()) return;
    const QString destination = folder->path();
    QPointer<LibraryViewController> self(this);
    for (const QString& path : paths) {
        const QString to = joined(destination, lastComponent(path));
        controller->moveFile(path, to, [self, to](const std::optional<PlatformError>& error, File* moved) {
            if (!self) return;
            if (error) self->presentError(*error, {to});
            else self->selectAndOpenFile(moved);
        });
    }
}

void LibraryViewController::addDroppedLibraries(const QStringList& folders)
{
    for (const QString& folder : folders) {
        std::shared_ptr<Library> added = LibraryController::shared().addLibrary(folder, 0);
        if (!added) continue;
        setLibrary(added);
        // The library shown is the one chosen last, also at the next launch.
        if (added->bookmarkData()) UserDefaults::standard().set(kSelectedLibrary, *added->bookmarkData());
    }
}

void LibraryViewController::removeShownLibrary()
{
    const std::shared_ptr<Library> library = m_library;
    if (!library) return;
    if (library->isLinked()) {
        if (PlatformStatus status = LibraryController::shared().toggleLinked(*library); !status)
            presentError(status.error());
    } else {
        LibraryController::shared().removeLibrary(*library);
    }
}

// Menu ----------------------------------------------------------------------------------------

void LibraryViewController::showContextMenu(const QModelIndex& clicked, const QPoint& globalPosition)
{
    ActionDispatcher& dispatcher = ActionDispatcher::instance();
    Menu* mainMenu = dispatcher.mainMenu();
    Menu* libraryMenu = nullptr;
    if (mainMenu)
        for (int i = 0; i < mainMenu->count() && !libraryMenu; ++i)
            if (Menu* submenu = mainMenu->itemAt(i)->submenu(); submenu && submenu->itemWithCommand(Command::removeLibraryDocument))
                libraryMenu = submenu;
    if (!libraryMenu) return;
    m_clickedRow = clicked;
    libraryMenu->qMenu()->exec(globalPosition);
    // Commands chosen from the menu ran while it was open.
    m_clickedRow = QModelIndex();
}

void LibraryViewController::presentError(const PlatformError& error, const QStringList& paths)
{
    if (error.isCancellation()) return;
    if (m_host) m_host->presentError(withShownNames(error, paths));
}

PlatformError LibraryViewController::withShownNames(PlatformError error, QStringList paths)
{
    // The file system's words name items as the disk holds them ("Plot:twist");
    // the writer knows them as their rows show them ("Plot/twist").
    if (!error.filePath.isEmpty()) paths << error.filePath;
    QStringList names;
    for (const QString& path : paths) {
        names << lastComponent(path);
        names << lastComponent(folderOf(path));
    }
    for (const QString& name : names) {
        const QString disk = QStringLiteral("“") + NativePath::shown(name) + QStringLiteral("”");
        const QString shown = QStringLiteral("“") + File::shownName(name) + QStringLiteral("”");
        if (disk == shown) continue;
        error.errorDescription.replace(disk, shown);
        error.recoverySuggestion.replace(disk, shown);
    }
    return error;
}

bool LibraryViewController::canOpenSelectedFile() const
{
    const QWidget* focus = window() ? window()->focusWidget() : nullptr;
    return focus == m_fileView;
}

bool LibraryViewController::isShowingLibrary() const
{
    // A hidden pane has no rows to act on.
    return m_library && isVisible();
}

bool LibraryViewController::canActOnRows() const { return isShowingLibrary() && !rowsToActOn().isEmpty(); }

bool LibraryViewController::canActOnOneRow() const { return isShowingLibrary() && rowsToActOn().size() == 1; }

bool LibraryViewController::canMakeFiles() const { return isShowingLibrary() && fileController(); }

} // namespace lumora
