#include "shell/WindowController.h"

#include "document/Document.h"
#include "document/DocumentViewController.h"
#include "document/OutlineViewController.h"
#include "document/PreviewViewController.h"
#include "document/TextView.h"
#include "document/PrintOperation.h"
#include "library/LibraryOutlineView.h"
#include "library/File.h"
#include "library/FileController.h"
#include "library/LibraryController.h"
#include "library/LibraryViewController.h"
#include "markdown/Outline.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/application/Menu.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/Localization.h"
#include "settings/Settings.h"
#include "settings/StringExtensions.h"
#include "settings/URLExtensions.h"
#include "shell/Dialogs.h"
#include "shell/DocumentController.h"
#include "shell/MainMenu.h"
#include "widgets/ViewUtilities.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTextCursor>
#include <QCursor>
#include <QDialog>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSplitterHandle>

#include <algorithm>
#include <array>
#include <cmath>

namespace lumora {

namespace {

const QString kWindowFrame = QStringLiteral("documentWindow");
const QString kSplitView = QStringLiteral("mainSplitView");
const QString kPreviewWindowFrame = QStringLiteral("previewWindow");
// The gap between a document window and a preview placed beside it.
constexpr int kPreviewGap = 12;
// The side panes keep their width while the window grows.
constexpr int kSidePanePriority = 251;
// A new window without a saved frame.
constexpr QSize kDefaultSize(1000, 740);
// How far a new window steps away from one in the same place.
constexpr int kCascade = 28;

std::vector<WindowController*>& registry()
{
    static std::vector<WindowController*> controllers;
    return controllers;
}

MenuItem::State stateFor(bool on) { return on ? MenuItem::State::on : MenuItem::State::off; }

} // namespace

WindowController::WindowController(Document& document) : m_document(&document)
{
    m_window = new DocumentWindowBase();
    m_window->setAttribute(Qt::WA_DeleteOnClose);
    setParent(m_window);

    m_libraryPane = new LibraryViewController();
    m_libraryPane->setHost(this);
    m_editorPane = new DocumentViewController();
    m_outlinePane = new OutlineViewController();
    m_splitView = new SplitView({{m_libraryPane, true, true, kSidePanePriority},
                                 {m_editorPane, false, false, 250},
                                 {m_outlinePane, true, true, kSidePanePriority}},
                                kSplitView);
    m_splitView->setHandleWidth(1);
    m_splitView->setChildrenCollapsible(false);
    m_window->setCentralWidget(m_splitView);

    if (DocumentController* controller = DocumentController::shared(); controller && controller->mainMenu()) {
        m_menuBar = controller->mainMenu()->menu().makeMenuBar(m_window);
        m_window->titleStrip()->setMenuBar(m_menuBar);
    }

    m_window->resize(kDefaultSize);
    views::restoreFrame(m_window, kWindowFrame);
    // A window that would cover another exactly steps aside, and stays on
    // its screen.
    std::vector<QPoint> taken;
    for (WindowController* other : registry())
        if (other->m_window->isVisible()) taken.push_back(other->m_window->pos());
    QScreen* screen = QGuiApplication::screenAt(m_window->geometry().center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen && !m_window->isMaximized() && !m_window->isFullScreen()) {
        const QRect frame = cascadedFrame(m_window->geometry(), taken, screen->availableGeometry());
        if (frame != m_window->geometry()) m_window->setGeometry(frame);
    }

    registry().push_back(this);
    setUp();
    m_editorPane->setDocument(&document);
    // The library of the document (else the one chosen last).
    m_libraryPane->setUp();
}

WindowController::~WindowController()
{
    std::erase(registry(), this);
    m_libraryPane->windowWillClose();
    m_libraryPane->setHost(nullptr);
    delete m_preview;
}

void WindowController::setUp()
{
    ActionDispatcher::instance().setViewController(m_window, this);
    m_window->installEventFilter(this);
    setUpTitleStrip();

    m_outlinePane->setEditorPane(m_editorPane);
    m_editorPane->setOutlineHooks({
        [this] { return isOutlineVisible(); },
        // Every window of the document shares its text: each outline shown
        // follows an edit made in any of them.
        [this] {
            const auto windows = m_document ? controllersOf(*m_document) : std::vector<WindowController*>{this};
            for (WindowController* window : windows)
                if (window->isOutlineVisible()) window->m_outlinePane->reloadOutline();
        },
        [this](bool visible) { setOutlineVisible(visible); },
    });
    connect(m_editorPane, &DocumentViewController::editingRefused, this, &WindowController::editingRefused);

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
        if (m_closingDocument || m_libraryPane->keepsWindowWhenDocumentCloses(*d)) return;
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

bool WindowController::isLibraryVisible() const { return !m_splitView->isItemCollapsed(libraryItem); }

bool WindowController::isOutlineVisible() const { return !m_splitView->isItemCollapsed(outlineItem); }

LibraryViewController* WindowController::libraryViewController() const
{
    return isLibraryVisible() ? m_libraryPane : nullptr;
}

OutlineViewController* WindowController::outlineViewController() const
{
    return isOutlineVisible() ? m_outlinePane : nullptr;
}

void WindowController::setLibraryVisible(bool visible)
{
    if (isLibraryVisible() == visible) return;
    m_splitView->setItemCollapsed(libraryItem, !visible);
    if (!m_window->isFullScreen()) updateTitleBarHidden(false);
    if (visible) {
        m_libraryPane->titleBarIsAlwaysVisible = titleBarIsAlwaysVisible;
        m_libraryPane->updateWindowButtons();
    }
}

void WindowController::setOutlineVisible(bool visible)
{
    if (isOutlineVisible() == visible) return;
    if (visible && m_document && m_document->isMarkdownEnabled())
        rebuildOutlineAttributes(m_document->data().textStorage());
    m_splitView->setItemCollapsed(outlineItem, !visible);
    if (visible) {
        m_outlinePane->titleBarIsAlwaysVisible = titleBarIsAlwaysVisible;
        m_outlinePane->updateTitleLabelPosition();
        m_outlinePane->reloadOutline();
    }
}

// Size and theme ---------------------------------------------------------------

QRect WindowController::frameForEditorSize(const QRect& frame, const QRect& screenArea, double editorSize,
                                           int sidePanesWidth)
{
    const int screen = screenArea.width();
    const int width = editorSize <= 0 ? screen : std::min(screen, sidePanesWidth + int(std::lround(editorSize)));
    // The window keeps its place in the free room beside it: centred when
    // it had none, else at the same fraction of it.
    const int room = screen - frame.width();
    const int offset = frame.x() - screenArea.x();
    double x = room <= 0 ? (screen - width) * 0.5 : double(screen - width) / room * offset;
    x = std::clamp(x, 0.0, double(screen - width));
    return QRect(screenArea.x() + int(std::lround(x)), frame.y(), width, frame.height());
}

QRect WindowController::cascadedFrame(const QRect& frame, const std::vector<QPoint>& taken, const QRect& area)
{
    const QSize size = frame.size().boundedTo(area.size());
    const int right = area.x() + area.width() - size.width();
    const int bottom = area.y() + area.height() - size.height();
    QPoint at(std::clamp(frame.x(), area.x(), right), std::clamp(frame.y(), area.y(), bottom));
    // Each step finds a new place or comes back round; a screen too full of
    // windows to leave one free keeps the last place tried.
    for (size_t step = 0; step <= taken.size(); ++step) {
        if (std::find(taken.begin(), taken.end(), at) == taken.end()) break;
        at += QPoint(kCascade, kCascade);
        if (at.x() > right) at.setX(area.x());
        if (at.y() > bottom) at.setY(area.y());
    }
    return QRect(at, size);
}

void WindowController::resizeToEditorSize()
{
    QScreen* screen = m_window->screen();
    if (!screen) screen = QGuiApplication::screenAt(m_window->geometry().center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    // A pane of a window not yet shown has no width of its own yet.
    const auto paneWidth = [this](int item, QWidget* pane) {
        const int width = m_splitView->sizes().value(item);
        return (width > 0 ? width : pane->sizeHint().width()) + m_splitView->handleWidth();
    };
    int sides = 0;
    if (isLibraryVisible()) sides += paneWidth(libraryItem, m_libraryPane);
    if (isOutlineVisible()) sides += paneWidth(outlineItem, m_outlinePane);
    const QRect frame = frameForEditorSize(m_window->geometry(), screen->availableGeometry(),
                                           Settings::shared().editorSize(), sides);
    if (m_window->isMaximized()) m_window->showNormal();
    m_window->setGeometry(frame);
}

void WindowController::applyTheme()
{
    const Theme& theme = *Settings::shared().theme();
    const QColor background = theme.backgroundColor.toQColor(), foreground = theme.foregroundColor.toQColor();
    m_window->setColors(background, foreground, views::chromeColor(background, foreground));
    // Against a window of the same theme behind it, with no shadow between.
    m_window->setBorderColor(views::windowEdgeColor(background, foreground));
    // A new window palette reaches the panes, and would undo the editor's
    // own colours: they are set again after it. (No style sheets here: one
    // on a parent would override the editor's palette.)
    m_editorPane->applyTheme();
    // The hairlines between the panes.
    for (int i = 1; i < m_splitView->count(); ++i) {
        QSplitterHandle* handle = m_splitView->handle(i);
        QPalette palette = handle->palette();
        palette.setColor(QPalette::Window, views::separatorColor(background, foreground));
        handle->setPalette(palette);
        handle->setAutoFillBackground(true);
    }
    m_libraryPane->applyTheme();
    m_outlinePane->applyTheme();
    // A thin scroller on the page that does not draw the eye.
    views::applyThinScroller(m_editorPane->textView()->verticalScrollBar(), foreground, Settings::scrollerAlpha);
}

// Preview ------------------------------------------------------------------------

PreviewViewController* WindowController::previewWindowController() const { return m_preview; }

void WindowController::togglePreviewWindow()
{
    bool place = false;
    if (!m_preview) {
        m_preview = new PreviewViewController();
        m_preview->setWindowFlag(Qt::Window);
        // Its keys reach this window's commands (and the preview command
        // hides it again).
        ActionDispatcher::instance().setViewController(m_preview, this);
        place = !UserDefaults::standard().object(QStringLiteral("NSWindow Frame ") + kPreviewWindowFrame).isValid();
        views::restoreFrame(m_preview, kPreviewWindowFrame);
    }
    const bool inFront = m_preview->isVisible() && QApplication::activeWindow() == m_preview;
    if (inFront) {
        m_preview->document = nullptr;
        m_preview->updatePreview();
        m_preview->hide();
        return;
    }
    m_preview->document = m_document;
    m_preview->updatePreview();
    m_preview->show();
    // The first time, without a frame of its own yet: beside the document
    // window and as tall, to its right when there is room, else to its
    // left, else over its right side (placed once shown, when its frame is
    // known).
    if (place) {
        const QRect window = m_window->frameGeometry();
        QScreen* screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
        const QRect area = screen ? screen->availableGeometry() : window;
        const int decoration = m_preview->frameGeometry().height() - m_preview->height();
        m_preview->resize(m_preview->width(), std::min(window.height(), area.height()) - decoration);
        const QSize frame = m_preview->frameGeometry().size();
        int x = window.right() + 1 + kPreviewGap;
        if (x + frame.width() > area.right() + 1) x = window.left() - kPreviewGap - frame.width();
        if (x < area.left()) x = std::max(area.left(), area.right() + 1 - frame.width());
        const int y = std::clamp(window.top(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height()));
        m_preview->move(x, y);
    }
    m_preview->raise();
    m_preview->activateWindow();
}

void WindowController::updateEditorInsets()
{
    for (WindowController* controller : registry()) controller->m_editorPane->textView()->updateTextContainerInset();
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
}

// Title strip -------------------------------------------------------------------

namespace {

// Tells each document window of the popup menus and dialogs that open in
// front of it. One for the application.
class PopupWatcher : public QObject {
public:
    static void install()
    {
        static QPointer<PopupWatcher> watcher;
        if (watcher || !qApp) return;
        watcher = new PopupWatcher(qApp);
        qApp->installEventFilter(watcher);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if ((type != QEvent::Show && type != QEvent::Hide) || !watched->isWidgetType()) return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (!widget->isWindow()) return false;
        const bool popup = widget->windowType() == Qt::Popup;
        const bool dialog = !popup && qobject_cast<QDialog*>(widget) && widget->isModal();
        if (!popup && !dialog) return false;
        if (type == QEvent::Show) {
            // A menu of the menu bar has no parent: it belongs to the window
            // the writer is in.
            QWidget* parent = widget->parentWidget();
            WindowController* owner = WindowController::of(parent ? parent
                                                                   : ActionDispatcher::instance().keyWindow());
            if (!owner) return false;
            if (popup) owner->popupWillShow(widget);
            else owner->sheetWillBegin(widget);
        } else {
            for (WindowController* controller : WindowController::all()) {
                if (popup) controller->popupDidClose(widget);
                else controller->sheetDidEnd(widget);
            }
        }
        return false;
    }

private:
    using QObject::QObject;
};

} // namespace

void WindowController::setUpTitleStrip()
{
    PopupWatcher::install();
    // The strip floats over the panes and starts hidden.
    m_window->setTitleStripFloating(true);
    m_window->setTitleStripAlpha(0.0, false);
    TextView* view = m_editorPane->textView();
    // Room for the strip at the top of the editor's scroll bar while the
    // strip shows.
    m_scrollerInset = new QWidget();
    m_scrollerInset->setFixedHeight(TitleStrip::stripHeight);
    m_scrollerInset->hide();
    view->addScrollBarWidget(m_scrollerInset, Qt::AlignTop);
    connect(view, &TextView::findBarVisibilityChanged, this, [this](bool visible) {
        titleBarHidden = !visible;
        updateTitleBar();
    });
    view->installEventFilter(this);
    // What Qt does while it takes the window down (hiding it, moving the
    // focus, closing its menus) no longer concerns the strip.
    connect(m_window, &DocumentWindowBase::destroying, this, [this] {
        m_windowGone = true;
        disconnect(qApp, nullptr, this, nullptr);
    });
    connect(m_window, &DocumentWindowBase::mouseMoved, this, &WindowController::mouseMoved);
    connect(m_window, &DocumentWindowBase::mouseLeft, this, &WindowController::mouseLeftWindow);
    // The keyboard in the menus (Alt) shows the strip; back in the text, the
    // mouse decides again.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        const auto inStrip = [this](QWidget* w) { return w && m_window->titleStrip()->isAncestorOf(w); };
        if (inStrip(now)) {
            titleBarHidden = false;
            updateTitleBar();
        } else if (inStrip(old)) {
            // Back in the text, or away to another window.
            updateTitleBarHidden(false);
        }
    });
    m_windowState = m_window->windowState();
    addTrackingAreas();
    updateTitleBar();
}

QRect WindowController::titleStripScreenArea() const
{
    const QRect area = m_window->titleStripArea();
    return QRect(m_window->mapToGlobal(area.topLeft()), area.size());
}

QPoint WindowController::mouseLocation() const
{
    // The last place the window saw the mouse, while it is in the window;
    // otherwise the pointer's own.
    return m_mouse ? *m_mouse : QCursor::pos();
}

bool WindowController::isFocusOutsideContent() const
{
    const QWidget* focus = m_window->focusWidget();
    return focus && focus != m_splitView && !m_splitView->isAncestorOf(focus);
}

void WindowController::updateTitleBar()
{
    if (m_windowGone) return;
    m_hiddenByTyping = false;
    TextView* view = m_editorPane->textView();
    const bool fullScreen = m_window->isFullScreen();
    const bool findBar = view->isFindBarVisible();
    // Where the strip stays, the editor makes room for it, as a window's
    // content makes room for a title bar that does not hide.
    const bool automatic = titleBarIsAlwaysVisible || fullScreen || findBar;
    const bool floating = !titleBarIsAlwaysVisible && !fullScreen;
    m_window->setTitleStripFloating(floating);
    const int strip = TitleStrip::stripHeight;
    // Over the side panes the strip's band stays clear of their contents:
    // the outline places its title, and the library pane, until it draws
    // window buttons of its own in that band, keeps it empty.
    m_outlinePane->titleBarIsAlwaysVisible = titleBarIsAlwaysVisible;
    m_outlinePane->updateTitleLabelPosition();
    m_libraryPane->setContentsMargins(0, floating ? strip : 0, 0, 0);
    m_editorPane->setContentsMargins(0, automatic && floating ? strip : 0, 0, 0);
    if (automatic) titleBarHidden = false;
    m_scrollerInset->setVisible(!automatic && !titleBarHidden);
    // Never hidden outright, only transparent: its menus still answer Alt.
    m_window->setTitleStripVisible(true);
    bool fade = true;
    if (titleBarHidden) {
        // Something the writer is using keeps it for now; the next update
        // after that ends hides it.
        // (The keyboard in the menus counts only while the window has it.)
        if (findBar || openPopupCount() > 0 || fullScreen || hasAttachedSheet()
            || (m_window->isActiveWindow() && isFocusOutsideContent()))
            return;
        // Over a side pane it goes at once, without fading.
        fade = !isMouseOverSidePane();
    }
    m_window->setTitleStripAlpha(titleBarHidden ? 0.0 : 1.0, fade);
}

void WindowController::updateTitleBarHidden(bool exited)
{
    if (m_windowGone) return;
    if (isMouseOverSidePane()) {
        titleBarHidden = true;
    } else if (!titleStripScreenArea().contains(mouseLocation())) {
        titleBarHidden = true;
    } else {
        titleBarHidden = exited ? m_window->isActiveWindow() : false;
    }
    updateTitleBar();
}

bool WindowController::isMouseOverSidePane() const
{
    // Below the strip's band: the band over a pane holds the strip's menus
    // and buttons, which must stay within reach.
    const QPoint mouse = mouseLocation();
    if (titleStripScreenArea().contains(mouse)) return false;
    for (QWidget* pane : {libraryViewController() ? static_cast<QWidget*>(m_libraryPane) : nullptr,
                          outlineViewController() ? static_cast<QWidget*>(m_outlinePane) : nullptr}) {
        if (pane && QRect(pane->mapToGlobal(QPoint(0, 0)), pane->size()).contains(mouse)) return true;
    }
    return false;
}

void WindowController::addTrackingAreas()
{
    m_tracking = true;
    m_overStrip = m_overLibrary = m_overOutline = false;
}

void WindowController::removeTrackingAreas()
{
    m_tracking = false;
    m_overStrip = m_overLibrary = m_overOutline = false;
}

void WindowController::mouseMoved(const QPoint& globalPosition)
{
    if (m_windowGone) return;
    m_mouse = globalPosition;
    if (!m_tracking) return;
    const auto over = [&](QWidget* pane, bool shown) {
        return shown && QRect(pane->mapToGlobal(QPoint(0, 0)), pane->size()).contains(globalPosition);
    };
    const bool strip = titleStripScreenArea().contains(globalPosition);
    const bool library = !strip && over(m_libraryPane, isLibraryVisible());
    const bool outline = !strip && over(m_outlinePane, isOutlineVisible());
    // Areas left, then areas entered, as the mouse crossed them.
    const std::array<std::pair<bool*, bool>, 3> areas{
        {{&m_overStrip, strip}, {&m_overLibrary, library}, {&m_overOutline, outline}}};
    bool changed = false;
    for (const auto& [was, now] : areas) {
        if (*was && !now) {
            *was = false;
            changed = true;
            mouseExited();
        }
    }
    for (const auto& [was, now] : areas) {
        if (!*was && now) {
            *was = true;
            changed = true;
            mouseEntered();
        }
    }
    if (changed) return;
    // A mouse that moves over the strip after typing put it away brings it
    // back; one that moves away from it ends a hide that waited for a menu
    // or a dialog.
    if (strip && m_hiddenByTyping && !library && !outline) mouseEntered();
    else if (!strip && titleBarHidden && m_window->titleStripAlpha() > 0.0) updateTitleBar();
}

void WindowController::mouseLeftWindow()
{
    if (m_windowGone) return;
    // A menu that opens takes the mouse from the window without it moving.
    if (openPopupCount() > 0) return;
    m_mouse.reset();
    if (!m_tracking) return;
    for (bool* over : {&m_overStrip, &m_overLibrary, &m_overOutline}) {
        if (!*over) continue;
        *over = false;
        mouseExited();
    }
}

void WindowController::mouseEntered() { updateTitleBarHidden(false); }

void WindowController::mouseExited() { updateTitleBarHidden(true); }

void WindowController::popupWillShow(QWidget* popup)
{
    if (m_windowGone) return;
    // The strip's own menus: those of its menu bar and the title's document
    // menu, and their submenus. (A context menu over the text leaves the
    // strip where it is.)
    const bool fromStrip = openPopupCount() > 0 || (m_menuBar && m_menuBar->activeAction())
                           || popup == m_window->documentMenu().qMenu();
    if (!fromStrip) return;
    if (!m_openPopups.contains(popup)) m_openPopups.append(popup);
    titleBarHidden = false;
    updateTitleBar();
}

void WindowController::popupDidClose(QWidget* popup)
{
    if (m_windowGone) return;
    if (!m_openPopups.removeAll(popup)) return;
    m_openPopups.removeAll(nullptr);
    // The menu held the mouse: the window did not see it leave, so where it
    // is now is the pointer's own word. Away from the window, it is gone.
    const QPoint pointer = QCursor::pos();
    const QWidget* under = QApplication::topLevelAt(pointer);
    const bool inWindow = under == m_window
                          || (under && under->windowType() == Qt::Popup && m_window->frameGeometry().contains(pointer));
    if (!inWindow) {
        m_mouse.reset();
        m_overStrip = m_overLibrary = m_overOutline = false;
    }
    if (m_tracking && (!inWindow || !titleStripScreenArea().contains(pointer))) {
        titleBarHidden = true;
        updateTitleBar();
    }
}

int WindowController::openPopupCount() const
{
    return int(std::count_if(m_openPopups.begin(), m_openPopups.end(),
                             [](const QPointer<QWidget>& p) { return p && p->isVisible(); }));
}

void WindowController::sheetWillBegin(QWidget* dialog)
{
    if (m_windowGone) return;
    if (!m_sheets.contains(dialog)) m_sheets.append(dialog);
    if (m_window->isFullScreen()) return;
    titleBarHidden = false;
    updateTitleBar();
}

void WindowController::sheetDidEnd(QWidget* dialog)
{
    if (m_windowGone) return;
    if (!m_sheets.removeAll(dialog)) return;
    m_sheets.removeAll(nullptr);
    titleBarHidden = true;
    updateTitleBar();
}

bool WindowController::hasAttachedSheet() const
{
    return std::any_of(m_sheets.begin(), m_sheets.end(), [](const QPointer<QWidget>& d) { return d && d->isVisible(); });
}

void WindowController::windowStateChanged(Qt::WindowStates oldState)
{
    if (m_windowGone) return;
    const Qt::WindowStates state = m_window->windowState();
    const bool wasFullScreen = oldState & Qt::WindowFullScreen, isFullScreen = state & Qt::WindowFullScreen;
    if (!wasFullScreen && isFullScreen) {
        // In full screen the strip stands above the panes, shown.
        if (!titleBarIsAlwaysVisible) {
            m_window->setTitleStripVisible(true);
            m_window->setTitleStripAlpha(1.0, false);
            m_scrollerInset->hide();
            removeTrackingAreas();
        }
    } else if (wasFullScreen && !isFullScreen) {
        if (!titleBarIsAlwaysVisible) {
            m_window->setTitleStripAlpha(0.0, false);
            addTrackingAreas();
        }
        titleBarHidden = true;
    } else if ((state & Qt::WindowMinimized) && !(oldState & Qt::WindowMinimized)) {
        titleBarHidden = true;
    } else if ((state & Qt::WindowMaximized) != (oldState & Qt::WindowMaximized)) {
        // Zoomed or back: the strip goes until the mouse comes for it.
        titleBarHidden = true;
    }
    updateTitleBar();
}

// Commands -----------------------------------------------------------------------

void WindowController::toggleLibraryView() { setLibraryVisible(!isLibraryVisible()); }

void WindowController::showAndFocusLibraryView()
{
    setLibraryVisible(true);
    LibraryOutlineView* outline = m_libraryPane->fileView();
    outline->setFocus();
    if (outline->currentIndex().isValid()) outline->scrollTo(outline->currentIndex());
}

void WindowController::findInLibrary()
{
    setLibraryVisible(true);
    m_libraryPane->searchField()->setFocus();
    m_libraryPane->searchField()->selectAll();
}

void WindowController::makeLibraryDocument()
{
    setLibraryVisible(true);
    m_libraryPane->makeLibraryDocument();
}

void WindowController::makeLibraryFolder()
{
    setLibraryVisible(true);
    m_libraryPane->makeLibraryFolder();
}

bool WindowController::hasLibraries() const { return !LibraryController::shared().libraries().empty(); }

void WindowController::moveToLibrary() { m_libraryPane->moveDocumentToLibrary(); }

void WindowController::toggleLibraryLinked()
{
    const std::shared_ptr<Library> library = m_libraryPane->library();
    if (!library) return;
    if (const PlatformStatus status = LibraryController::shared().toggleLinked(*library); !status)
        presentError(status.error());
    m_libraryPane->selectCurrentLibraryItem();
}

bool WindowController::validateToggleLibraryLinked(MenuItem& item) const
{
    const std::shared_ptr<Library> library = shownLibrary();
    item.setHidden(!library);
    if (library)
        item.setTitle(localizedFormat(library->isLinked() ? QStringLiteral("menu.library.link.off")
                                                          : QStringLiteral("menu.library.link.on"),
                                      {string::quoted(library->displayName.text())}));
    return true;
}

void WindowController::toggleOutlineView() { setOutlineVisible(!isOutlineVisible()); }

bool WindowController::showsMarkdown() const { return m_document && m_document->isMarkdownEnabled(); }

void WindowController::newTab()
{
    // There are no window tabs here: a new document gets a window of its own.
    if (DocumentController* controller = DocumentController::shared())
        if (auto made = controller->openUntitledDocument(true); !made) controller->presentError(made.error());
}

void WindowController::saveDocument()
{
    // A save that fails has offered its way out already (Save As); a locked
    // document says why it is not saved.
    Document* d = m_document;
    if (!d) return;
    if (const PlatformStatus status = d->saveDocument();
        !status && status.error().code == PlatformError::Code::locked && DocumentController::shared())
        DocumentController::shared()->dialogs().presentError(*d, status.error());
}

bool WindowController::canRevertDocument() const
{
    return m_document && !m_document->isUntitled()
           && (m_document->isDocumentEdited() || m_document->canRevertToOpenedVersion());
}

void WindowController::duplicateDocument()
{
    DocumentController* controller = DocumentController::shared();
    if (!m_document || !controller) return;
    if (auto copy = controller->duplicateDocument(*m_document); !copy) controller->presentError(copy.error());
}

void WindowController::toggleTypewriterScrolling()
{
    Settings::shared().toggleTypewriterScrolling();
    updateEditorInsets();
}

void WindowController::toggleInfoView() { Settings::shared().toggleInfoViewVisible(); }

void WindowController::toggleSounds() { Settings::shared().toggleTypewriterSounds(); }

void WindowController::toggleNoEditing() { Settings::shared().toggleNoEditing(); }

void WindowController::setHighlighting(const QVariant& value)
{
    if (value.isValid()) Settings::shared().setHighlighting(value.value<Settings::Highlighting>());
}

void WindowController::setEditorSize(const QVariant& value)
{
    if (value.isValid()) Settings::shared().setEditorSize(value.toDouble());
}

void WindowController::setLibrarySummaryLines(const QVariant& value)
{
    if (value.isValid()) Settings::shared().setLibrarySummaryLines(value.toInt());
}

QVariantMap WindowController::restorableState() const
{
    QVariantMap state = m_libraryPane->restorableState();
    // Where the writer was in the text, whether or not a library holds it.
    state.insert(QStringLiteral("editorState"), editorState());
    return state;
}

void WindowController::restoreState(const QVariantMap& state)
{
    m_libraryPane->restoreState(state);
    const QVariant editor = state.value(QStringLiteral("editorState"));
    if (editor.typeId() == QMetaType::QByteArray) restoreEditorState(editor.toByteArray());
}

std::shared_ptr<Library> WindowController::shownLibrary() const
{
    return isLibraryVisible() ? m_libraryPane->library() : nullptr;
}

bool WindowController::validateMoveToLibrary(MenuItem& item) const
{
    // Offered for a document with a file that is not in the library shown:
    // "Move “Notes.md” into “Writing”".
    const std::shared_ptr<Library> library = shownLibrary();
    const QString path = m_document ? QDir::cleanPath(m_document->filePath()) : QString();
    FileController* files = library ? library->fileController() : nullptr;
    Directory* root = files ? files->rootFile() : nullptr;
    const bool shown = m_document && !m_document->isUntitled() && root && !root->fileAtPath(path);
    item.setHidden(!shown);
    if (shown)
        item.setTitle(localizedFormat(QStringLiteral("menu.library.moveInto"),
                                      {string::quoted(url::localizedName(path)), string::quoted(library->displayName.text())}));
    return true;
}

// Closing ------------------------------------------------------------------------

bool WindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Close) {
        if (!windowShouldClose()) {
            event->ignore();
            return true;
        }
        m_libraryPane->windowWillClose();
    }
    // The full-screen insets follow the window's state, which a window
    // manager may report before or after the new size.
    if (watched == m_window && event->type() == QEvent::WindowStateChange) {
        m_editorPane->textView()->updateTextContainerInset();
        const Qt::WindowStates old = m_windowState;
        m_windowState = m_window->windowState();
        if (old != m_windowState) windowStateChanged(old);
    }
    // A window left behind puts away what only the writer's presence held
    // (the keyboard in its menus); the mouse decides as in any window.
    if (watched == m_window && event->type() == QEvent::WindowDeactivate && !m_windowGone && m_tracking
        && m_window->titleStripAlpha() > 0.0)
        updateTitleBarHidden(false);
    // Typing puts the strip away.
    if (watched == m_editorPane->textView() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool typing = !key->text().isEmpty()
                            && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (typing && !titleBarHidden) {
            titleBarHidden = true;
            updateTitleBar();
            m_hiddenByTyping = true;
        }
    }
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
        if (RegularFile* file = m_libraryPane->regularFile(d->filePath())) m_libraryPane->saveDocumentState(*file);
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
    m_editorPane->setDocument(&document);
    updateTitle();
    if (isOutlineVisible()) {
        if (document.isMarkdownEnabled()) {
            rebuildOutlineAttributes(document.data().textStorage());
            m_outlinePane->reloadOutline();
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

QByteArray WindowController::editorState() const
{
    // The selection, and the character at the top of the editor with how
    // far above or below the top its line starts.
    const TextView* view = m_editorPane->textView();
    const Range selection = view->selectedRange();
    const QTextCursor top = view->cursorForPosition(QPoint(0, 0));
    QByteArray state;
    QDataStream out(&state, QIODevice::WriteOnly);
    out << quint8(1) << qint64(selection.location) << qint64(selection.length) << qint64(top.position())
        << qint32(view->cursorRect(top).top());
    return state;
}

void WindowController::restoreEditorState(const QByteArray& state)
{
    TextView* view = m_editorPane->textView();
    quint8 version = 0;
    qint64 location = 0, length = 0, topPosition = 0;
    qint32 topOffset = 0;
    if (!state.isEmpty()) {
        QDataStream in(state);
        in >> version >> location >> length >> topPosition >> topOffset;
        if (in.status() != QDataStream::Ok || version != 1) version = 0;
    }
    if (version == 0) {
        // No place of its own: the caret at the start.
        view->setSelectedRange(Range(0, 0));
        view->verticalScrollBar()->setValue(0);
        return;
    }
    view->setSelectedRange(Range(std::max<qint64>(0, location), std::max<qint64>(0, length)));
    QTextCursor top(view->document());
    top.setPosition(int(std::clamp<qint64>(topPosition, 0, view->document()->characterCount() - 1)));
    QScrollBar* bar = view->verticalScrollBar();
    bar->setValue(bar->value() + view->cursorRect(top).top() - topOffset);
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
    m_editorPane->setDocument(nullptr);
    if (m_document) disconnect(m_document, nullptr, this, nullptr);
    m_document = nullptr;
}

void WindowController::revertDocument()
{
    Document* d = m_document;
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

void WindowController::editingRefused()
{
    // One question for a burst of refused keys, asked once the key is done.
    if (m_lockedPromptPending) return;
    m_lockedPromptPending = true;
    QMetaObject::invokeMethod(this, [this] {
        m_lockedPromptPending = false;
        DocumentController* controller = DocumentController::shared();
        Document* d = m_document;
        if (!controller || !d || !d->isLocked()) return;
        if (controller->dialogs().askAboutLockedDocument(*d) == Dialogs::LockedChoice::duplicate) {
            if (auto copy = controller->duplicateDocument(*d); !copy) controller->presentError(copy.error());
        }
    }, Qt::QueuedConnection);
}

} // namespace lumora
