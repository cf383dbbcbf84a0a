#include "shell/WindowCommands.h"

#include "document/Document.h"
#include "document/DocumentViewController.h"
#include "document/PreviewViewController.h"
#include "document/TextView.h"
#include "library/File.h"
#include "library/FileController.h"
#include "library/LibraryController.h"
#include "library/LibraryOutlineView.h"
#include "library/LibraryViewController.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/application/Menu.h"
#include "platform/foundation/Localization.h"
#include "settings/Settings.h"
#include "settings/StringExtensions.h"
#include "settings/URLExtensions.h"
#include "shell/Dialogs.h"
#include "shell/DocumentController.h"
#include "shell/WindowController.h"
#include "shell/WindowPlacement.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>

#include <utility>

namespace lumora {

WindowCommands::WindowCommands(WindowController& window) : m_window(window) {}

WindowCommands::~WindowCommands() { delete m_preview; }

// Panes and libraries ----------------------------------------------------------

void WindowCommands::toggleLibraryView() { m_window.setLibraryVisible(!m_window.isLibraryVisible()); }

bool WindowCommands::isLibraryVisible() const { return m_window.isLibraryVisible(); }

void WindowCommands::showAndFocusLibraryView()
{
    m_window.setLibraryVisible(true);
    LibraryOutlineView* outline = m_window.libraryPane().fileView();
    outline->setFocus();
    if (outline->currentIndex().isValid()) outline->scrollTo(outline->currentIndex());
}

void WindowCommands::toggleOutlineView() { m_window.setOutlineVisible(!m_window.isOutlineVisible()); }

bool WindowCommands::isOutlineVisible() const { return m_window.isOutlineVisible(); }

bool WindowCommands::showsMarkdown() const
{
    const Document* document = m_window.document();
    return document && document->isMarkdownEnabled();
}

void WindowCommands::findInLibrary()
{
    m_window.setLibraryVisible(true);
    m_window.libraryPane().searchField()->setFocus();
    m_window.libraryPane().searchField()->selectAll();
}

void WindowCommands::makeLibraryDocument()
{
    m_window.setLibraryVisible(true);
    m_window.libraryPane().makeLibraryDocument();
}

void WindowCommands::makeLibraryFolder()
{
    m_window.setLibraryVisible(true);
    m_window.libraryPane().makeLibraryFolder();
}

bool WindowCommands::hasLibraries() const { return !LibraryController::shared().libraries().empty(); }

bool WindowCommands::canMakeLibraryFiles() const
{
    // The pane holds its library's tree while it is hidden too.
    const LibraryViewController& pane = m_window.libraryPane();
    const FileController* controller = pane.library() ? pane.fileController() : nullptr;
    return controller && controller->rootFile();
}

void WindowCommands::moveToLibrary() { m_window.libraryPane().moveDocumentToLibrary(); }

bool WindowCommands::validateMoveToLibrary(MenuItem& item) const
{
    // Offered for a document with a file that is not in the library shown:
    // "Move “Notes.md” into “Writing”".
    const Document* document = m_window.document();
    const std::shared_ptr<Library> library = m_window.shownLibrary();
    const QString path = document ? QDir::cleanPath(document->filePath()) : QString();
    FileController* files = library ? library->fileController() : nullptr;
    Directory* root = files ? files->rootFile() : nullptr;
    const bool shown = document && !document->isUntitled() && root && !root->fileAtPath(path);
    item.setHidden(!shown);
    if (shown)
        item.setTitle(localizedFormat(QStringLiteral("menu.library.moveInto"),
                                      {string::quoted(url::localizedName(path)), string::quoted(library->displayName.text())}));
    return true;
}

void WindowCommands::toggleLibraryLinked()
{
    LibraryViewController& pane = m_window.libraryPane();
    const std::shared_ptr<Library> library = pane.library();
    if (!library) return;
    if (const PlatformStatus status = LibraryController::shared().toggleLinked(*library); !status)
        m_window.presentError(status.error());
    pane.selectCurrentLibraryItem();
}

bool WindowCommands::validateToggleLibraryLinked(MenuItem& item) const
{
    const std::shared_ptr<Library> library = m_window.shownLibrary();
    item.setHidden(!library);
    if (library)
        item.setTitle(localizedFormat(library->isLinked() ? QStringLiteral("menu.library.link.off")
                                                          : QStringLiteral("menu.library.link.on"),
                                      {string::quoted(library->displayName.text())}));
    return true;
}

// Preview ------------------------------------------------------------------------

PreviewViewController* WindowCommands::previewWindowController() const { return m_preview; }

void WindowCommands::togglePreviewWindow()
{
    if (!m_preview) {
        m_preview = new PreviewViewController();
        m_preview->setWindowFlag(Qt::Window);
        // Its keys reach this window's commands (and the preview command
        // hides it again).
        ActionDispatcher::instance().setViewController(m_preview, &m_window);
        m_placePreviewBeside = !WindowPlacement::restorePreviewFrame(m_preview);
    }
    const bool inFront = m_preview->isVisible() && QApplication::activeWindow() == m_preview;
    if (inFront) {
        m_preview->document = nullptr;
        m_preview->updatePreview();
        m_preview->hide();
        return;
    }
    m_preview->document = m_window.document();
    m_preview->updatePreview();
    // It comes back where the writer left it. Without a place of its own
    // it goes beside the document window the first time it opens (once
    // shown, when its frame is known), and stays where it is from then on.
    m_preview->show();
    if (std::exchange(m_placePreviewBeside, false)) WindowPlacement::placePreviewBeside(m_preview, m_window.window());
    m_preview->raise();
    m_preview->activateWindow();
}

// The document ---------------------------------------------------------------------

void WindowCommands::newTab()
{
    // There are no window tabs here: a new document gets a window of its own.
    if (DocumentController* controller = DocumentController::shared())
        if (auto made = controller->openUntitledDocument(true); !made) controller->presentError(made.error());
}

void WindowCommands::saveDocument()
{
    // A save that fails has offered its way out already (Save As); a locked
    // document says why it is not saved.
    Document* d = m_window.document();
    if (!d) return;
    if (const PlatformStatus status = d->saveDocument();
        !status && status.error().code == PlatformError::Code::locked && DocumentController::shared())
        DocumentController::shared()->dialogs().presentError(*d, status.error());
}

bool WindowCommands::canSaveDocument() const { return m_window.document() != nullptr; }

void WindowCommands::revertDocument()
{
    Document* d = m_window.document();
    DocumentController* controller = DocumentController::shared();
    if (!d || !controller || d->isUntitled()) return;
    // Back to the file's text, or to the text the file held when it was
    // opened (autosaves have written over it since).
    const bool lastSaved = d->isDocumentEdited() && !d->isFileMissing();
    const bool lastOpened = d->canRevertToOpenedVersion();
    if (!lastSaved && !lastOpened) return;
    PlatformStatus status;
    switch (controller->dialogs().chooseRevert(*d, lastSaved, lastOpened)) {
    case Dialogs::RevertChoice::cancel: return;
    case Dialogs::RevertChoice::lastSaved: status = d->revertToSaved(); break;
    case Dialogs::RevertChoice::lastOpened: status = d->revertToOpenedVersion(); break;
    }
    if (!status) controller->dialogs().presentError(*d, status.error());
}

bool WindowCommands::canRevertDocument() const
{
    const Document* d = m_window.document();
    return d && !d->isUntitled() && (d->isDocumentEdited() || d->canRevertToOpenedVersion());
}

void WindowCommands::duplicateDocument()
{
    DocumentController* controller = DocumentController::shared();
    Document* d = m_window.document();
    if (!d || !controller) return;
    if (auto copy = controller->duplicateDocument(*d); !copy) controller->presentError(copy.error());
}

void WindowCommands::editingRefused()
{
    // One question for a burst of refused keys, asked once the key is done.
    if (m_lockedPromptPending) return;
    m_lockedPromptPending = true;
    QMetaObject::invokeMethod(&m_window, [this] {
        m_lockedPromptPending = false;
        DocumentController* controller = DocumentController::shared();
        Document* d = m_window.document();
        if (!controller || !d || !d->isLocked()) return;
        if (controller->dialogs().askAboutLockedDocument(*d) == Dialogs::LockedChoice::duplicate) {
            if (auto copy = controller->duplicateDocument(*d); !copy) controller->presentError(copy.error());
        }
    }, Qt::QueuedConnection);
}

// Preferences ----------------------------------------------------------------------

void WindowCommands::toggleInfoView() { Settings::shared().toggleInfoViewVisible(); }

void WindowCommands::toggleSounds() { Settings::shared().toggleTypewriterSounds(); }

void WindowCommands::toggleTypewriterScrolling()
{
    Settings::shared().toggleTypewriterScrolling();
    // Every window's editor makes room below its text, or gives it back.
    for (WindowController* controller : WindowController::all())
        controller->documentViewController()->textView()->updateTextContainerInset();
}

void WindowCommands::toggleNoEditing() { Settings::shared().toggleNoEditing(); }

void WindowCommands::setHighlighting(const QVariant& value)
{
    if (value.isValid()) Settings::shared().setHighlighting(value.value<Settings::Highlighting>());
}

void WindowCommands::setEditorSize(const QVariant& value)
{
    if (value.isValid()) Settings::shared().setEditorSize(value.toDouble());
}

void WindowCommands::setLibrarySummaryLines(const QVariant& value)
{
    if (value.isValid()) Settings::shared().setLibrarySummaryLines(value.toInt());
}

} // namespace lumora
