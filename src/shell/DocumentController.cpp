#include "shell/DocumentController.h"

#include "document/DocumentViewController.h"
#include "document/TextView.h"
#include "library/LibraryController.h"
#include "library/LibraryViewController.h"
#include "markdown/MarkdownStylesheet.h"
#include "multimarkdown_binding/MultiMarkdown.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/application/Menu.h"
#include "platform/application/SystemAppearance.h"
#include "platform/files/NativePath.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/files/FileWriter.h"
#include "platform/files/UserDefaults.h"
#include "settings/LumoraError.h"
#include "settings/Settings.h"
#include "shell/ApplicationStyle.h"
#include "shell/Dialogs.h"
#include "shell/InAppPurchaseController.h"
#include "shell/MainMenu.h"
#include "shell/PreferenceMigration.h"
#include "shell/SupportTheDeveloperViewController.h"
#include "shell/ThemesTableViewController.h"
#include "shell/TitleStripController.h"
#include "shell/WindowController.h"
#include "widgets/ViewUtilities.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>

namespace lumora {

namespace {

DocumentController* g_shared = nullptr;

const QString kLastVersion = QStringLiteral("lastVersion");
const QString kEnableBetaFeatures = QStringLiteral("enableBetaFeatures");
// The last build that had no introduction of its own to show.
constexpr qint64 kLastBuildBeforeIntroduction = 51;

QString absolute(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

} // namespace

DocumentController::DocumentController(UserDefaults* defaults, QObject* parent)
    : DocumentControllerBase(defaults, parent), m_defaults(defaults),
      m_standardDialogs(std::make_unique<StandardDialogs>()), m_dialogs(m_standardDialogs.get()),
      m_introductionPath(Bundle::resourcePath(QStringLiteral("introduction"), QStringLiteral("md")))
{
    g_shared = this;
    setDocumentFactory([](const QString& type) -> std::unique_ptr<DocumentBase> {
        if (type == DocumentControllerBase::folderType) return nullptr;
        return std::make_unique<Document>();
    });
    Document::setHost(this);
    DocumentBase::setPrompter(m_dialogs);
    ActionDispatcher::instance().addApplicationTarget(this);

    // Every save counts towards the review request.
    connect(this, &DocumentControllerBase::documentAdded, this, [this](DocumentBase* document) {
        connect(document, &DocumentBase::saved, this, [this] {
            if (m_defaults)
                InAppPurchaseController::requestReviewIfNeeded(*m_defaults, Store::standard(),
                                                               QDateTime::currentDateTime());
        });
    });
}

QWidget* DocumentController::showSupportWindow()
{
    return SupportTheDeveloperViewController::showSupportWindow(InAppPurchaseController::shared());
}

DocumentController::~DocumentController()
{
    if (g_shared == this) g_shared = nullptr;
    if (Document::host() == this) Document::setHost(nullptr);
    if (DocumentBase::prompter() == m_dialogs) DocumentBase::setPrompter(nullptr);
    ActionDispatcher::instance().removeApplicationTarget(this);
    if (m_prepared) ActionDispatcher::instance().applicationCommands().shouldTerminate = nullptr;
}

DocumentController* DocumentController::shared() { return g_shared; }

Dialogs& DocumentController::dialogs() const { return *m_dialogs; }

void DocumentController::setDialogs(Dialogs* dialogs)
{
    const bool wasPrompter = DocumentBase::prompter() == m_dialogs;
    m_dialogs = dialogs ? dialogs : m_standardDialogs.get();
    if (wasPrompter) DocumentBase::setPrompter(m_dialogs);
}

// Start-up -------------------------------------------------------------------------

bool DocumentController::checkVersion()
{
    if (!m_defaults) return false;
    const qint64 last = m_defaults->integerValue(kLastVersion).value_or(0);
    const qint64 current = Bundle::buildNumber();
    if (last < current) {
        // The migrated preferences and the new number reach the file together.
        m_defaults->beginBatch();
        migrateUserDefaults(*m_defaults, last);
        m_defaults->set(kLastVersion, current);
        m_defaults->endBatch();
    }
    return last <= kLastBuildBeforeIntroduction;
}

void DocumentController::buildMainMenu()
{
    if (m_mainMenu) return;
    m_mainMenu = std::make_unique<MainMenu>(Settings::shared());
    m_mainMenu->addRecentDocumentsMenu(makeRecentDocumentsMenu());
    m_mainMenu->install();
}

void DocumentController::prepareApplication()
{
    if (m_prepared) return;
    m_prepared = true;
    // Nothing may read the preferences before they are migrated.
    const bool introductionDue = checkVersion();
    buildMainMenu();

    Settings& settings = Settings::shared();
    connect(&settings, &Settings::textAttributesChanged, this, [this] { textAttributesDidChange(); });
    connect(&settings, &Settings::themeChanged, this, [this] { applyApplicationPalette(); });
    // A request by name, from whoever knows only the name: nothing in Lumora
    // posts it, so it has no typed sender to connect to.
    NotificationCenter::defaultCenter().observe(supportTheDeveloperNotification, this,
                                                [this](const Notification&) { showSupportWindow(); });
    setAutosavingDelay(15.0);
    Document::setHTMLConverter(MultiMarkdown::applicationHtml);

    // One style on every desktop, drawn from the palette, so menus and
    // dialogs take the theme's colours.
    static bool styled = false;
    if (!styled) {
        styled = true;
        QApplication::setStyle(new ApplicationStyle());
    }
    // The appearance settles before the first window shows.
    appearanceDidChange();
    connect(&SystemAppearance::shared(), &SystemAppearance::changed, this, [this] { appearanceDidChange(); });
    applyScreenshotAppearance();
    applyApplicationPalette();

    if (m_defaults && m_defaults->boolValue(kEnableBetaFeatures)) m_mainMenu->addStylesheetItems();

    // The libraries, before the first window shows one.
    if (const PlatformStatus status = LibraryController::shared().load(); !status) presentError(status.error());

    ActionDispatcher::instance().applicationCommands().shouldTerminate = [this] {
        return applicationShouldTerminate();
    };
    connect(qApp, &QCoreApplication::aboutToQuit, this, &DocumentController::applicationWillQuit);

    if (introductionDue) openIntroduction();

    // Preferences that exist but cannot be read: said once, over the first
    // window.
    if (m_defaults && !m_defaults->loadProblem().isEmpty()) {
        const PlatformError problem(PlatformError::Code::readFailed, localized("preferences.unreadable"),
                                    localizedFormat(QStringLiteral("preferences.unreadable.info"),
                                                    {m_defaults->loadProblem(),
                                                     QDir::toNativeSeparators(m_defaults->filePath())}),
                                    m_defaults->filePath());
        QMetaObject::invokeMethod(this, [this, problem] { presentError(problem); }, Qt::QueuedConnection);
    }
}

void DocumentController::appearanceDidChange()
{
    Settings& settings = Settings::shared();
    const bool isDark = SystemAppearance::shared().isDark();
    settings.setSystemAppearanceDark(isDark);
    // The current theme only: the chosen one stays in the preferences.
    if (auto theme = settings.oppositeThemeForAppearance(isDark)) settings.showTheme(theme);
}

void DocumentController::applyScreenshotAppearance()
{
    if (!m_defaults || !m_defaults->boolValue(QStringLiteral("Screenshot"))) return;
    const auto style = m_defaults->stringValue(QStringLiteral("AppleInterfaceStyle"));
    if (style == QLatin1String("Dark")) SystemAppearance::shared().setOverride(true);
    else if (style == QLatin1String("Light")) SystemAppearance::shared().setOverride(false);
}

void DocumentController::applyApplicationPalette()
{
    if (!qApp) return;
    const Theme& theme = *Settings::shared().theme();
    const QColor background = theme.backgroundColor.toQColor(), foreground = theme.foregroundColor.toQColor();
    QPalette p;
    const QColor window = views::blend(background, foreground, 0.05);
    const QColor text = views::blend(background, foreground, 0.92);
    const QColor muted = views::blend(background, foreground, 0.45);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::AlternateBase, views::blend(background, foreground, 0.03));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, views::blend(background, foreground, 0.08));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, background);
    p.setColor(QPalette::Highlight, views::blend(background, foreground, theme.isDark ? 0.22 : 0.14));
    p.setColor(QPalette::HighlightedText, text);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, muted);
    p.setColor(QPalette::Link, theme.cursorColor.toQColor());
    p.setColor(QPalette::Light, views::blend(background, foreground, theme.isDark ? 0.20 : 0.0));
    p.setColor(QPalette::Midlight, views::blend(background, foreground, 0.10));
    p.setColor(QPalette::Mid, views::blend(background, foreground, theme.isDark ? 0.22 : 0.2));
    p.setColor(QPalette::Dark, views::blend(background, foreground, 0.35));
    p.setColor(QPalette::Shadow, views::blend(background, QColor(Qt::black), 0.5));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, muted);
    p.setColor(QPalette::Disabled, QPalette::Highlight, views::blend(background, foreground, 0.10));
    QApplication::setPalette(p);

}

int DocumentController::reopenRecoveredDocuments()
{
    int reopened = 0;
    for (const QString& recovery : DocumentBase::leftoverRecoveryFiles()) {
        auto made = openUntitledDocument(false);
        if (!made) continue;
        if (const PlatformStatus status = (*made)->recoverFrom(recovery, QString(plainTextType)); !status) {
            // Left where it is, for the writer to open some other way.
            (*made)->close();
            presentError(status.error());
            continue;
        }
        showDocument(**made);
        ++reopened;
    }
    return reopened;
}

void DocumentController::openLaunchDocuments(const QStringList& paths)
{
    reopenRecoveredDocuments();
    // The last session's windows come back however the program is started;
    // what the launch names opens beside them, in front.
    for (const RestoredWindow& restored : restoreWindows()) {
        auto* d = qobject_cast<Document*>(restored.document);
        const auto controllers = d ? WindowController::controllersOf(*d) : std::vector<WindowController*>();
        if (controllers.empty()) continue;
        if (restored.frame.isValid()) controllers.front()->window()->setGeometry(restored.frame);
        controllers.front()->restoreState(restored.state);
    }
    if (!paths.isEmpty()) {
        // Only what was asked for opens: a file that fails shows its error,
        // never an empty window in its place.
        openDocuments(paths, true);
        return;
    }
    if (WindowController::all().empty()) {
        if (auto made = openUntitledDocument(true); !made) presentError(made.error());
    }
}

void DocumentController::openHandedOverDocuments(const QStringList& paths)
{
    if (!paths.isEmpty()) {
        openDocuments(paths, true);
        return;
    }
    if (QWidget* window = ActionDispatcher::instance().keyWindow()) {
        window->show();
        window->raise();
        window->activateWindow();
    } else if (auto made = openUntitledDocument(true); !made) {
        presentError(made.error());
    }
}

// Opening -------------------------------------------------------------------------------

void DocumentController::openDocument(const QString& path, bool display, const OpenCompletion& completion)
{
    if (NativePath::isFolder(path)) {
        openFolder(absolute(path), display, completion);
        return;
    }
    DocumentControllerBase::openDocument(path, display, completion);
}

void DocumentController::openFolder(const QString& path, bool display, const OpenCompletion& completion)
{
    // Every folder gets a new untitled document and a window of its own.
    auto made = openUntitledDocument(display);
    if (!made) {
        if (completion) completion(nullptr, false, made.error());
        return;
    }
    auto* document = qobject_cast<Document*>(*made);
    if (document && !display) document->makeWindowControllers();
    const auto controllers = document ? WindowController::controllersOf(*document) : std::vector<WindowController*>();
    if (!controllers.empty()) {
        WindowController* window = controllers.front();
        // The folder's library: one in the list is shown as it is (a linked
        // one stays linked); a new one is kept for this run only.
        LibraryController& libraries = LibraryController::shared();
        std::shared_ptr<Library> library = libraries.libraryWithURL(path);
        if (!library) library = libraries.openLibrary(path);
        window->setLibraryVisible(true);
        window->libraryPane().setLibrary(library);
        window->resizeToEditorSize();
    }
    noteNewRecentDocument(path);
    if (completion) completion(*made, false, std::nullopt);
}

void DocumentController::openDocuments(const QStringList& paths, bool createMissing)
{
    for (const QString& path : paths) {
        // By the name's bytes: a name that is not UTF-8 is still the file named.
        if (createMissing && !NativePath::exists(path) && NativePath::isFolder(QFileInfo(path).absolutePath())) {
            if (auto made = openNewFile(path); !made) presentError(made.error());
            continue;
        }
        openDocument(path, true, [this](DocumentBase*, bool, const std::optional<PlatformError>& error) {
            if (error) presentError(*error);
        });
    }
}

PlatformResult<Document*> DocumentController::openNewFile(const QString& path)
{
    if (DocumentBase* open = documentForPath(path)) {
        showDocument(*open);
        return qobject_cast<Document*>(open);
    }
    auto document = std::make_unique<Document>();
    if (const PlatformStatus status = document->prepareNewFile(path, QString(plainTextType)); !status)
        return status.error();
    auto* made = static_cast<Document*>(addDocument(std::move(document)));
    noteNewRecentDocument(made->filePath());
    showDocument(*made);
    return made;
}

void DocumentController::runOpenPanel() { openDocuments(dialogs().chooseFilesToOpen()); }

void DocumentController::showDocument(DocumentBase& document)
{
    if (auto* d = qobject_cast<Document*>(&document)) d->showWindows();
}

void DocumentController::noteNewRecentDocument(const QString& path)
{
    if (childDocuments.contains(absolute(path))) return;
    DocumentControllerBase::noteNewRecentDocument(path);
}

Document* DocumentController::openIntroduction()
{
    // Only the bundled introduction itself is brought forward: once it was
    // saved under a name (or written in) it is the writer's document, and a
    // fresh introduction opens.
    if (m_introduction && !m_introduction->isClosed() && m_introduction->isUntitled()
        && !m_introduction->isDocumentEdited()) {
        m_introduction->setLocked(true);
        m_introduction->showWindows();
        return m_introduction;
    }
    QFile file(m_introductionPath);
    if (m_introductionPath.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        presentError(PlatformError(PlatformError::Code::readFailed, localized("introduction.error"),
                                   localized("introduction.error.suggestion"), m_introductionPath));
        return nullptr;
    }
    const QString text = QString::fromUtf8(file.readAll());
    // Untitled, so that nothing ever writes it back; locked, so that it
    // refuses edits.
    auto document = std::make_unique<Document>();
    document->setFileType(QString(plainTextType));
    document->setUntitledName(localized("document.introduction"));
    document->data().textStorage().replaceCharacters(Range(0, 0), text, Attributes{});
    document->data().textStorageInvalidated = true;
    document->setLocked(true);
    m_introduction = static_cast<Document*>(addDocument(std::move(document)));
    showDocument(*m_introduction);
    return m_introduction;
}

PlatformResult<Document*> DocumentController::duplicateDocument(Document& source)
{
    auto made = openUntitledDocument(false);
    if (!made) return made.error();
    auto* copy = qobject_cast<Document*>(*made);
    if (!copy) return PlatformError(PlatformError::Code::generic, localized("error.generic"));
    copy->data().enableMarkdown = source.data().enableMarkdown;
    copy->data().textStorage().replaceCharacters(Range(0, 0), source.data().textStorage().string(), Attributes{});
    copy->data().textStorageInvalidated = true;
    copy->showWindows();
    // The copy's window shows its title strip, so the writer sees its name.
    if (const auto controllers = WindowController::controllersOf(*copy); !controllers.empty()) {
        TitleStripController& strip = controllers.front()->titleStrip();
        strip.titleBarHidden = false;
        strip.updateTitleBar();
    }
    return copy;
}

bool DocumentController::applicationShouldTerminate()
{
    m_terminating = true;
    if (prepareToTerminate()) return true;
    m_terminating = false;
    return false;
}

QStringList DocumentController::saveEditsBeforeQuitting()
{
    const QStringList kept = saveForImmediateExit();
    if (m_defaults) m_defaults->synchronize();
    return kept;
}

QStringList DocumentController::prepareForImmediateExit()
{
    m_terminating = true;
    const QStringList kept = saveForImmediateExit();
    if (m_defaults) m_defaults->synchronize();
    return kept;
}

void DocumentController::applicationWillQuit()
{
    // Quitting by closing the last window: nothing is left to restore.
    if (!m_terminating) saveRestorableState();
    // Documents without a window (held by the library) keep their edits.
    for (DocumentBase* document : documents()) document->closeForTermination(true);
    // Preferences a failed write left unwritten get one more try.
    if (m_defaults) m_defaults->synchronize();
}

// Documents' host ----------------------------------------------------------------------

void DocumentController::makeWindow(Document& document) { new WindowController(document); }

void DocumentController::closeChildDocument(Document& document)
{
    childDocuments.removeOne(document.filePath());
    // Closing saves its edits first; when that fails the document stays,
    // in a window, so that nothing is lost.
    if (!document.close()) document.showWindows();
}

std::optional<QString> DocumentController::chooseExportLocation(Document& document, const QString& proposedName)
{
    return dialogs().chooseExportLocation(document, proposedName);
}

std::function<void()> DocumentController::beginProgress(const Document& document, const QString& message)
{
    return dialogs().beginProgress(document, message);
}

void DocumentController::openDocumentWithoutDisplay(const QString& path, DocumentHost::OpenCompletion completion)
{
    const QString file = absolute(path);
    childDocuments << file;
    openDocument(file, false, [this, file, completion](DocumentBase* document, bool, const std::optional<PlatformError>& error) {
        if (!document) childDocuments.removeOne(file);
        // The entry follows the file when the library moves or renames it.
        if (document) {
            auto entry = std::make_shared<QString>(file);
            connect(document, &DocumentBase::filePathChanged, this, [this, entry](const QString& path) {
                if (const qsizetype i = childDocuments.indexOf(*entry); i >= 0) childDocuments[i] = path;
                *entry = path;
            });
        }
        if (completion) completion(qobject_cast<Document*>(document), error);
    });
}

void DocumentController::openDocumentInWindow(const QString& path) { openDocuments({absolute(path)}); }

QList<RestorableWindow> DocumentController::restorableWindows() const
{
    QList<RestorableWindow> windows;
    for (WindowController* controller : WindowController::all()) {
        const Document* document = controller->document();
        if (!document || document->isUntitled() || document->isClosed()) continue;
        windows.append({document->filePath(), controller->window()->geometry(), controller->restorableState()});
    }
    return windows;
}

void DocumentController::presentError(const PlatformError& error)
{
    if (error.isCancellation()) return;
    dialogs().presentApplicationError(error);
}

void DocumentController::openDocumentFromMenu(MenuItem* sender)
{
    if (sender) {
        runOpenPanel();
    } else if (auto made = openUntitledDocument(true); !made) {
        presentError(made.error());
    }
}

void DocumentController::showAboutPanel()
{
    QMessageBox box(ActionDispatcher::instance().keyWindow());
    box.setWindowTitle(QString());
    box.setIconPixmap(DocumentWindowBase::applicationIcon().pixmap(72, 72));
    box.setText(QStringLiteral("<b>%1</b>").arg(Bundle::name().toHtmlEscaped()));
    box.setInformativeText(localizedFormat(QStringLiteral("about.version"),
                                           {QCoreApplication::applicationVersion(), QString::number(Bundle::buildNumber())})
                           + QStringLiteral("\n\n") + localized("credits"));
    box.exec();
}

void DocumentController::editThemes()
{
    ThemesTableViewController::makeThemesWindow(ActionDispatcher::instance().keyWindow());
}

bool DocumentController::hasWebsite() const { return !Bundle::website().isEmpty(); }

void DocumentController::openWebsite()
{
    if (hasWebsite()) QDesktopServices::openUrl(Bundle::website());
}

// Stylesheet --------------------------------------------------------------------------

namespace {

PlatformError stylesheetError(const LumoraError& error, const QString& path)
{
    return PlatformError(PlatformError::Code::generic, error.errorDescription.value_or(localized("error.generic")),
                         error.recoverySuggestion.value_or(QString()), path);
}

} // namespace

void DocumentController::linkStylesheet()
{
    const auto path = dialogs().chooseStylesheetToLink();
    if (!path) return;
    // The file is read and checked before the link is stored: one that is
    // not a stylesheet leaves the working link and stylesheet as they were.
    try {
        Settings::shared().setStylesheetURL(QUrl::fromLocalFile(*path));
    } catch (const LumoraError& error) {
        presentError(stylesheetError(error, *path));
    }
}

bool DocumentController::isStylesheetLinked() const
{
    const Settings& settings = Settings::shared();
    return settings.userDefaults() && settings.userDefaults()->dataValue(QStringLiteral("stylesheetUrl"));
}

void DocumentController::unlinkStylesheet()
{
    try {
        Settings::shared().setStylesheetURL(QUrl());
    } catch (const LumoraError& error) {
        presentError(stylesheetError(error, QString()));
    }
}

void DocumentController::exportStylesheet()
{
    const auto path = dialogs().chooseStylesheetExportLocation(localized("stylesheet.name"));
    if (!path) return;
    // The stylesheet in use, with the chosen family and size, as sorted,
    // indented JSON; written whole or not at all.
    if (const PlatformStatus written = writeFileSafely(*path, Settings::shared().stylesheet().encode()); !written)
        presentError(written.error());
}

// Restyling ------------------------------------------------------------------------------

void DocumentController::textAttributesDidChange()
{
    for (DocumentBase* base : documents()) {
        auto* document = qobject_cast<Document*>(base);
        if (!document) continue;
        // Every window of the document, each with where its selection stands.
        std::vector<std::pair<QPointer<TextView>, int>> before;
        // What the windows show and where their selections are: restyled
        // first; the rest of a long text follows in the background, from
        // where the first window is.
        std::vector<Range> shown;
        for (WindowController* window : WindowController::controllersOf(*document)) {
            TextView* view = window->documentViewController()->textView();
            if (!view->textStorage()) continue;
            before.emplace_back(view, view->selectionDistanceFromTop());
            shown.push_back(view->shownRange());
            shown.push_back(Range(view->selectedRange().location, 0));
            // The editor's own attributes first, so that nothing lays the
            // text out again after it is back in place.
            view->applyTextAttributes();
        }
        const QPointer<TextView> first = before.empty() ? nullptr : before.front().first;
        const auto focus = [first] { return first ? first->shownRange().location : 0; };
        // The windows share the text: it is styled once. A document without
        // a window is styled when one shows it.
        document->data().textStorageInvalidated = true;
        if (document->data().hasEditors()) document->data().restyleTextStorage(shown, focus);
        for (const auto& [view, top] : before) {
            if (!view) continue;
            view->scrollSelectionToDistanceFromTop(top);
            view->setSelectedRange(view->selectedRange());
        }
    }
}

} // namespace lumora
