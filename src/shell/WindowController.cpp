#include "shell/WindowController.h"

#include "document/Document.h"
#include "document/DocumentViewController.h"
#include "document/OutlineViewController.h"
#include "document/PrintOperation.h"
#include "document/TextView.h"
#include "library/File.h"
#include "library/LibrarySelection.h"
#include "library/LibraryViewController.h"
#include "markdown/Outline.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/application/Menu.h"
#include "platform/foundation/Localization.h"
#include "settings/Settings.h"
#include "shell/Dialogs.h"
#include "shell/DocumentController.h"
#include "shell/EditorPlace.h"
#include "shell/MainMenu.h"
#include "shell/TitleStripController.h"
#include "shell/WindowCommands.h"
#include "shell/WindowPlacement.h"
#include "widgets/ViewUtilities.h"

#include <QKeyEvent>

#include <algorithm>

namespace lumora {

namespace {

std::vector<WindowController*>& registry()
{
    static std::vector<WindowController*> controllers;
    return controllers;
}

} // namespace

WindowController::WindowController(Document& document) : m_document(&document)
{
    m_window = new DocumentWindowBase();
    m_window->setAttribute(Qt::WA_DeleteOnClose);
    setParent(m_window);

    m_panes = std::make_unique<WindowPanes>(*m_window);
    m_panes->library().setHost(this);
    m_commands = std::make_unique<WindowCommands>(*this);

    if (DocumentController* controller = DocumentController::shared(); controller && controller->mainMenu()) {
        m_menuBar = controller->mainMenu()->menu().makeMenuBar(m_window);
        m_window->titleStrip()->setMenuBar(m_menuBar);
    }

    std::vector<QPoint> taken;
    for (WindowController* other : registry())
        if (other->m_window->isVisible()) taken.push_back(other->m_window->pos());
    WindowPlacement::placeNewWindow(m_window, taken);

    registry().push_back(this);
    setUp();
    m_panes->editor().setDocument(&document);
    // The library of the document (else the one chosen last).
    m_panes->library().setUp();
}

WindowController::~WindowController()
{
    std::erase(registry(), this);
    m_panes->library().windowWillClose();
    m_panes->library().setHost(nullptr);
    // The preview goes with its window.
    m_commands.reset();
}

void WindowController::setUp()
{
    ActionDispatcher::instance().setViewController(m_window, this);
    m_window->installEventFilter(this);
    m_titleStrip = std::make_unique<TitleStripController>(*m_window, *m_panes, m_menuBar);
    m_panes->editor().textView()->installEventFilter(this);

    m_panes->outline().setEditorPane(&m_panes->editor());
    m_panes->editor().setOutlineHooks({
        [this] { return isOutlineVisible(); },
        // Every window of the document shares its text: each outline shown
        // follows an edit made in any of them.
        [this] {
            const auto windows = m_document ? controllersOf(*m_document) : std::vector<WindowController*>{this};
            for (WindowController* window : windows)
                if (window->isOutlineVisible()) window->outlinePane().reloadOutlineSoon();
        },
        [this](bool visible) { setOutlineVisible(visible); },
    });
    connect(&m_panes->editor(), &DocumentViewController::editingRefused, this, [this] { m_commands->editingRefused(); });

    connectDocument();
    updateTitle();

    applyTheme();
    connect(&Settings::shared(), &Settings::themeChanged, this, [this] { applyTheme(); });
    connect(&Settings::shared(), &Settings::editorSizeChanged, this, [this] {
        if (!m_window->isFullScreen()) resizeToEditorSize();
    });

    m_window->setDocumentMenuEnabled(true);
}

void WindowController::connectDocument()
{
    Document* d = m_document;
    if (!d) return;
    connect(d, &DocumentBase::displayNameChanged, this, &WindowController::updateTitle);
    connect(d, &DocumentBase::editedChanged, this, &WindowController::updateTitle);
    connect(d, &DocumentBase::lockedChanged, this, &WindowController::updateTitle);
    // A document closed elsewhere (quitting, the library letting go) takes
    // its windows with it; one the library pane is trashing gives its window
    // to the next document.
    connect(d, &DocumentBase::closed, this, [this, d] {
        if (m_closingDocument || m_panes->library().keepsWindowWhenDocumentCloses(*d)) return;
        m_window->close();
    });
}

// Finding windows ------------------------------------------------------------

WindowController* WindowController::of(const QWidget* widget)
{
    if (!widget) return nullptr;
    const QWidget* window = widget->window();
    for (WindowController* controller : registry())
        if (controller->m_window == window) return controller;
    return nullptr;
}

std::vector<WindowController*> WindowController::controllersOf(const Document& document)
{
    std::vector<WindowController*> controllers;
    for (DocumentEditor* editor : document.editors())
        if (auto* pane = dynamic_cast<DocumentViewController*>(editor))
            if (WindowController* controller = of(pane)) controllers.push_back(controller);
    return controllers;
}

std::vector<WindowController*> WindowController::all() { return registry(); }

// Panes ------------------------------------------------------------------------

bool WindowController::isLibraryVisible() const { return m_panes->isLibraryVisible(); }

bool WindowController::isOutlineVisible() const { return m_panes->isOutlineVisible(); }

LibraryViewController* WindowController::libraryViewController() const
{
    return isLibraryVisible() ? &m_panes->library() : nullptr;
}

OutlineViewController* WindowController::outlineViewController() const
{
    return isOutlineVisible() ? &m_panes->outline() : nullptr;
}

void WindowController::setLibraryVisible(bool visible)
{
    if (isLibraryVisible() == visible) return;
    m_panes->setLibraryCollapsed(!visible);
    m_titleStrip->libraryPaneToggled(visible);
}

void WindowController::setOutlineVisible(bool visible)
{
    if (isOutlineVisible() == visible) return;
    if (visible && m_document && m_document->isMarkdownEnabled())
        rebuildOutlineAttributes(m_document->data().textStorage());
    m_panes->setOutlineCollapsed(!visible);
    if (visible) {
        m_titleStrip->outlinePaneShown();
        m_panes->outline().reloadOutline();
    }
}

// Size and theme ---------------------------------------------------------------

void WindowController::resizeToEditorSize() { WindowPlacement::resizeToEditorSize(m_window, m_panes->sidePanesWidth()); }

void WindowController::applyTheme()
{
    const Theme& theme = *Settings::shared().theme();
    const QColor background = theme.backgroundColor.toQColor(), foreground = theme.foregroundColor.toQColor();
    m_window->setColors(background, foreground, views::chromeColor(background, foreground));
    // Against a window of the same theme behind it, with no shadow between.
    m_window->setBorderColor(views::windowEdgeColor(background, foreground));
    m_panes->applyTheme(background, foreground);
}

PreviewViewController* WindowController::previewWindowController() const
{
    return m_commands->previewWindowController();
}

// Title ------------------------------------------------------------------------

void WindowController::updateTitle()
{
    if (!m_document) return;
    const QString name = m_document->displayName();
    QString title = name;
    if (m_document->isLocked()) title = localizedFormat(QStringLiteral("window.title.locked"), {name});
    else if (m_document->isDocumentEdited()) title = localizedFormat(QStringLiteral("window.title.edited"), {name});
    m_window->setWindowTitle(title);
    m_window->setWindowFilePath(m_document->filePath());
    // A renamed document: the outline's header names it anew, and its
    // library row, wherever the rename put it, is highlighted when nothing
    // else is.
    m_panes->outline().updateTitle();
    m_panes->library().selection().selectDocumentRowIfNone();
}

// Restoring ----------------------------------------------------------------------

QVariantMap WindowController::restorableState() const
{
    QVariantMap state = m_panes->library().restorableState();
    // Where the writer was in the text, whether or not a library holds it.
    state.insert(QStringLiteral("editorState"), editorState());
    return state;
}

void WindowController::restoreState(const QVariantMap& state)
{
    m_panes->library().restoreState(state);
    const QVariant editor = state.value(QStringLiteral("editorState"));
    if (editor.typeId() == QMetaType::QByteArray) restoreEditorState(editor.toByteArray());
}

std::shared_ptr<Library> WindowController::shownLibrary() const
{
    return isLibraryVisible() ? m_panes->library().library() : nullptr;
}

// Closing ------------------------------------------------------------------------

bool WindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Close) {
        if (!windowShouldClose()) {
            event->ignore();
            return true;
        }
        m_panes->library().windowWillClose();
    }
    // The full-screen insets follow the window's state, which a window
    // manager may report before or after the new size; then the strip.
    if (watched == m_window && event->type() == QEvent::WindowStateChange) {
        m_panes->editor().textView()->updateTextContainerInset();
        m_titleStrip->windowStateMayHaveChanged();
    }
    if (watched == m_window && event->type() == QEvent::WindowDeactivate) m_titleStrip->windowDeactivated();
    // Typing puts the strip away.
    if (watched == m_panes->editor().textView() && event->type() == QEvent::KeyPress)
        m_titleStrip->editorKeyPressed(*static_cast<QKeyEvent*>(event));
    // Escape that nothing inside took leaves full screen.
    if (watched == m_window && event->type() == QEvent::KeyPress && m_window->isFullScreen()
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape
        && static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        m_window->toggleFullScreen();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool WindowController::windowShouldClose()
{
    Document* d = m_document;
    if (!d || d->isClosed() || m_closingDocument) return true;
    // The library keeps the writer's place in its document.
    if (!d->isUntitled())
        if (RegularFile* file = m_panes->library().regularFile(d->filePath())) m_panes->library().saveDocumentState(*file);
    // Another window still shows the document, or a library row holds it:
    // only this window goes.
    if (controllersOf(*d).size() > 1 || d->referencesCount() > 0) {
        detachFromDocument();
        return true;
    }
    // The last window takes the document with it; it may ask to save, and
    // the writer may keep it open.
    m_closingDocument = true;
    const bool closed = d->close();
    m_closingDocument = false;
    if (closed) detachFromDocument();
    return closed;
}

// The library pane's window ------------------------------------------------------

bool WindowController::leaveDocument()
{
    Document* d = m_document;
    if (!d || d->isClosed()) return true;
    // Another window or a library row still holds it: it stays open.
    if (controllersOf(*d).size() > 1 || d->referencesCount() > 0) return true;
    // Otherwise it closes, as closing its last window would: an edited one
    // saves, or asks when it has no file of its own.
    m_closingDocument = true;
    const bool closed = d->close();
    m_closingDocument = false;
    return closed;
}

void WindowController::showDocument(Document& document)
{
    if (m_document == &document) return;
    if (m_document) disconnect(m_document, nullptr, this, nullptr);
    m_document = &document;
    connectDocument();
    m_panes->editor().setDocument(&document);
    updateTitle();
    if (isOutlineVisible()) {
        if (document.isMarkdownEnabled()) {
            rebuildOutlineAttributes(document.data().textStorage());
            m_panes->outline().reloadOutline();
        } else {
            setOutlineVisible(false);
        }
    }
}

void WindowController::showUntitledDocument()
{
    DocumentController* controller = DocumentController::shared();
    if (!controller) return;
    auto made = controller->openUntitledDocument(false);
    if (!made) {
        presentError(made.error());
        return;
    }
    if (auto* document = qobject_cast<Document*>(*made)) showDocument(*document);
}

QByteArray WindowController::editorState() const { return EditorPlace::of(*m_panes->editor().textView()); }

void WindowController::restoreEditorState(const QByteArray& state)
{
    EditorPlace::restore(*m_panes->editor().textView(), state);
}

void WindowController::presentError(const PlatformError& error)
{
    if (error.isCancellation()) return;
    DocumentController* controller = DocumentController::shared();
    if (!controller) return;
    if (m_document) controller->dialogs().presentError(*m_document, error);
    else controller->presentError(error);
}

void WindowController::printDocuments(const std::vector<Document*>& documents)
{
    const auto operation = Document::makePrintOperation(documents);
    if (const PlatformStatus status = operation->run(m_window); !status) presentError(status.error());
}

void WindowController::detachFromDocument()
{
    m_panes->editor().setDocument(nullptr);
    if (m_document) disconnect(m_document, nullptr, this, nullptr);
    m_document = nullptr;
}

} // namespace lumora
