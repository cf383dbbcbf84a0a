#include "library/LibraryViewController.h"

#include "document/Document.h"
#include "library/FileRowDelegate.h"
#include "library/LibraryChooser.h"
#include "library/LibraryDocumentOpener.h"
#include "library/LibraryFileCommands.h"
#include "library/LibraryOutlineModel.h"
#include "library/LibraryOutlineView.h"
#include "library/LibraryPaneColors.h"
#include "library/LibraryPaneHeader.h"
#include "library/LibraryPaneMessages.h"
#include "library/LibraryPopup.h"
#include "library/LibraryRows.h"
#include "library/LibrarySearchAndSort.h"
#include "library/LibrarySelection.h"
#include "library/LibraryTreeLoader.h"
#include "library/LibraryView.h"
#include "library/SortButton.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/files/Bookmark.h"
#include "platform/files/NativePath.h"
#include "platform/foundation/Localization.h"
#include "settings/Settings.h"
#include "widgets/ViewUtilities.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLineEdit>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumora {

namespace {

LibraryViewController::FolderChooser g_folderChooser;

} // namespace

// Construction -------------------------------------------------------------------------

LibraryViewController::LibraryViewController(QWidget* parent) : QWidget(parent)
{
    buildViews();
    showState();
}

LibraryViewController::~LibraryViewController()
{
    windowWillClose();
    // The views outlive the parts by a moment: nothing they report reaches
    // them (the parts' own connections end with them).
    m_model->renameHandler = nullptr;
    m_rootView->foldersDropped = nullptr;
}

void LibraryViewController::setFolderChooser(FolderChooser chooser) { g_folderChooser = std::move(chooser); }

void LibraryViewController::buildViews()
{
    setMinimumWidth(160);
    setAutoFillBackground(true);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    m_rootView = new LibraryView(this);
    outer->addWidget(m_rootView);

    m_messages = new LibraryPaneMessages(this);
    m_header = new LibraryPaneHeader;
    auto* separator = new QFrame;
    separator->setFrameShape(QFrame::NoFrame);
    separator->setFixedHeight(1);
    separator->setAutoFillBackground(true);
    m_separator = separator;
    m_model = new LibraryOutlineModel(this);
    m_delegate = new FileRowDelegate(*m_model, this);
    m_delegate->setSummaryLines(Settings::shared().librarySummaryLines());
    m_fileView = new LibraryOutlineView(*m_model, *m_delegate);

    // The outline, or a message in its place.
    m_body = new QStackedWidget;
    m_body->addWidget(m_fileView);
    m_body->addWidget(m_messages->unavailableView());
    m_body->addWidget(m_messages->loadingView());
    m_body->addWidget(m_messages->nothingFoundView());
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
    m_pages->addWidget(m_messages->emptyView());
    auto* rootLayout = new QVBoxLayout(m_rootView);
    rootLayout->setContentsMargins(0, 0, 0, 0);
    rootLayout->addWidget(m_pages);

    // The parts, and what the views report to them.
    m_rows = std::make_unique<LibraryRows>(*this, *m_model, *m_fileView);
    m_selection = std::make_unique<LibrarySelection>(*this, *m_fileView);
    m_search = std::make_unique<LibrarySearchAndSort>(*this, *m_header, *m_delegate);
    m_loader = std::make_unique<LibraryTreeLoader>(*this);
    m_chooser = std::make_unique<LibraryChooser>(*this, *m_header->popup());
    m_opener = std::make_unique<LibraryDocumentOpener>(*this);
    m_fileCommands = std::make_unique<LibraryFileCommands>(*this);

    LibraryChooser* chooser = m_chooser.get();
    LibraryFileCommands* commands = m_fileCommands.get();
    m_rootView->foldersDropped = [chooser](const QStringList& folders) { chooser->addLibraries(folders); };
    connect(m_messages, &LibraryPaneMessages::addFolderClicked, this, &LibraryViewController::addFolder);
    connect(m_messages, &LibraryPaneMessages::removeLibraryClicked, chooser, &LibraryChooser::removeShownLibrary);
    m_model->renameHandler = [commands](File& file, const QString& typed) { commands->approveRename(file, typed); };
    connect(m_fileView, &LibraryOutlineView::rowClicked, m_opener.get(), &LibraryDocumentOpener::openSelectedFile);
    connect(m_fileView, &LibraryOutlineView::contextMenuRequested, commands, &LibraryFileCommands::showContextMenu);
    connect(m_fileView, &LibraryOutlineView::filesDropped, commands, &LibraryFileCommands::moveDroppedFiles);
    // A new file's name edit left with Escape ends the new-file naming.
    connect(m_delegate, &QAbstractItemDelegate::closeEditor, commands,
            [commands](QWidget*, QAbstractItemDelegate::EndEditHint hint) {
                if (hint == QAbstractItemDelegate::RevertModelCache) commands->newFileNamingCancelled();
            });
    connect(&Settings::shared(), &Settings::librarySummaryLinesChanged, this,
            &LibraryViewController::summaryLinesDidChange);
    m_search->showSortKey();
    applyTheme();
}

void LibraryViewController::addFolder()
{
    QString folder;
    if (g_folderChooser) folder = g_folderChooser(this);
    else folder = QFileDialog::getExistingDirectory(window(), localized("library.addFolder.title"));
    if (!folder.isEmpty()) m_chooser->addLibraries({QDir::cleanPath(QFileInfo(folder).absoluteFilePath())});
}

QSize LibraryViewController::sizeHint() const { return {250, 400}; }

void LibraryViewController::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A message wrapped to the old width is wrapped again.
    if (m_body && m_body->currentWidget() == m_messages->nothingFoundView()) showState();
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
    m_chooser->join();
    m_search->showSortKey();
    if (!m_library) setLibrary(m_chooser->libraryForDocument());
}

void LibraryViewController::windowWillClose()
{
    if (m_registeredWindow) ActionDispatcher::instance().removeViewController(m_registeredWindow, this);
    m_registeredWindow = nullptr;
    m_chooser->leave();
    m_loader->leave();
    m_library.reset();
    if (m_pages) showState();
}

QVariantMap LibraryViewController::restorableState() const
{
    FileController* controller = fileController();
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
    LibraryController& libraries = LibraryController::shared();
    if (!resolved || !QFileInfo(resolved->path).isDir()) {
        // Its folder moved since: the library that links to it follows it.
        if (const auto library = bookmark ? libraries.libraryWithBookmark(*bookmark) : nullptr) setLibrary(library);
        return;
    }
    std::shared_ptr<Library> library = libraries.libraryWithURL(resolved->path);
    if (!library) library = libraries.openLibrary(resolved->path);
    if (library) setLibrary(library);
}

void LibraryViewController::updateWindowButtons()
{
    // The window's own buttons stand in the title strip over this pane;
    // the header keeps its distance below it.
    m_header->resetInsets();
}

void LibraryViewController::applyTheme()
{
    const LibraryPaneColors c = LibraryPaneColors::of(*Settings::shared().theme());
    QPalette p = palette();
    p.setColor(QPalette::Window, c.chrome);
    p.setColor(QPalette::WindowText, c.text);
    p.setColor(QPalette::Text, c.text);
    p.setColor(QPalette::ButtonText, c.text);
    p.setColor(QPalette::PlaceholderText, c.secondary);
    p.setColor(QPalette::Base, views::blend(c.chrome, c.background, 0.6));
    p.setColor(QPalette::Button, views::blend(c.chrome, c.foreground, 0.06));
    p.setColor(QPalette::Highlight, views::blend(c.background, c.foreground, 0.22));
    p.setColor(QPalette::HighlightedText, c.foreground);
    setPalette(p);
    m_messages->applyColors(c, p);

    QPalette line = m_separator->palette();
    line.setColor(QPalette::Window, c.hairline);
    m_separator->setPalette(line);

    m_header->applyColors(c);
    views::applyThinScroller(m_fileView->verticalScrollBar(), c.foreground, Settings::scrollerAlpha);
    m_delegate->setColors(c.text, c.secondary, c.selection, c.accent);
    m_fileView->setColors(c.selection, c.secondary);
    m_rootView->setHighlightColor(c.accent);
    m_fileView->viewport()->update();
}

void LibraryViewController::summaryLinesDidChange()
{
    m_delegate->setSummaryLines(Settings::shared().librarySummaryLines());
    // Every row is measured again.
    m_fileView->doItemsLayout();
    m_fileView->viewport()->update();
}

// Views ---------------------------------------------------------------------------------

QLineEdit* LibraryViewController::searchField() const { return m_header->searchField(); }

QComboBox* LibraryViewController::librariesPopup() const { return m_header->popup(); }

QToolButton* LibraryViewController::sortButton() const { return m_header->sortButton(); }

QMenu* LibraryViewController::sortMenu() const { return m_header->sortMenu(); }

QWidget* LibraryViewController::emptyView() const { return m_messages->emptyView(); }

QWidget* LibraryViewController::unavailableView() const { return m_messages->unavailableView(); }

// The shown library -----------------------------------------------------------------

Document* LibraryViewController::document() const
{
    return m_host ? m_host->paneDocument() : nullptr;
}

FileController* LibraryViewController::fileController() const
{
    return m_library ? m_library->fileController() : nullptr;
}

bool LibraryViewController::isLoadingTree() const { return m_loader->isLoading(); }

void LibraryViewController::setLibrary(const std::shared_ptr<Library>& library)
{
    const std::shared_ptr<Library> old = m_library;
    if (old && old != library) {
        m_search->rememberSearchOf(*old);
        m_loader->leave();
    }
    m_library = library;
    // Each library keeps its own search: the field shows this one's.
    if (old != library) m_search->showSearchOf(library.get());
    if (!library) {
        showState();
        return;
    }
    if (old == library) return;
    m_loader->show(true);
}

void LibraryViewController::showState()
{
    FileController* controller = fileController();
    const bool hasTree = controller && controller->rootFile();
    m_pages->setCurrentWidget(m_library ? m_content : m_messages->emptyView());
    QWidget* body = m_fileView;
    const Directory* shown = m_rows->filteredRootFile();
    const QString filter = m_search->text();
    if (m_library && m_loader->isLoading()) {
        const QString name = LibraryPopup::libraryName(*m_library);
        m_messages->setLoading(name.isEmpty() ? NativePath::shown(m_library->url()) : name,
                               m_library->loadedFolderCount());
        // Shown only once the reading takes a moment.
        body = m_loader->showsProgress() ? m_messages->loadingView() : m_fileView;
    } else if (m_library && !hasTree) {
        body = m_messages->unavailableView();
    } else if (hasTree && !filter.isEmpty() && (!shown || shown->count() == 0)) {
        m_messages->setNothingFound(filter, m_body->width());
        body = m_messages->nothingFoundView();
    }
    m_body->setCurrentWidget(body);
    m_header->setTreeControlsEnabled(controller != nullptr);
    m_header->popup()->setEnabled(m_header->popup()->count() > 0);
}

// Errors -----------------------------------------------------------------------------------

void LibraryViewController::presentError(const PlatformError& error)
{
    if (error.isCancellation()) return;
    if (m_host) m_host->presentError(error);
}

// What the window asks --------------------------------------------------------------------

RegularFile* LibraryViewController::regularFile(const QString& path) const { return m_rows->regularFile(path); }

void LibraryViewController::saveDocumentState(RegularFile& file) { m_opener->saveDocumentState(file); }

void LibraryViewController::makeLibraryDocument() { m_fileCommands->makeLibraryDocument(); }

void LibraryViewController::makeLibraryFolder() { m_fileCommands->makeLibraryFolder(); }

void LibraryViewController::moveDocumentToLibrary() { m_fileCommands->moveDocumentToLibrary(); }

void LibraryViewController::selectCurrentLibraryItem() { m_chooser->selectCurrentLibraryItem(); }

bool LibraryViewController::keepsWindowWhenDocumentCloses(const Document& document) const
{
    return m_fileCommands->keepsWindowWhenDocumentCloses(document);
}

} // namespace lumora
