#pragma once

#include "document/Document.h"
#include "platform/application/DocumentControllerBase.h"

#include <QPointer>
#include <QStringList>

#include <memory>
#include <optional>

namespace lumora {

class Dialogs;
class MainMenu;
class StandardDialogs;
class UserDefaults;

// The application's document controller: it prepares the application at
// start-up, opens files and folders into document windows, and carries the
// commands that act on the whole application. It is also the host of every
// Document (their windows, the library's background documents, the export
// location) and the prompter they ask (through its Dialogs).
//
// Opening: a plain-text file opens as a Document in a three-pane window (an
// open one is brought forward); a folder opens as a new untitled document
// whose window shows the folder in its library pane, every time in a new
// window. Documents that library rows open without a window are child
// documents: kept out of the recent documents, and closed (after saving
// their edits) when no row holds them and they have no window.
//
// One per application; tests make their own (the last one made is shared()).
// Main thread only.
class DocumentController : public DocumentControllerBase, public DocumentHost {
    Q_OBJECT

public:
    using OpenCompletion = DocumentControllerBase::OpenCompletion;

    // Recent documents, restorable windows and the start-up preferences are
    // kept in defaults (the application passes the standard store).
    explicit DocumentController(UserDefaults* defaults, QObject* parent = nullptr);
    ~DocumentController() override;

    static DocumentController* shared();

    // Start-up ----------------------------------------------------------------

    // Everything before the first document of the launch opens, in order:
    // the preference migration with the stored build number (before
    // anything reads the preferences), the main menu, the introduction on a
    // first launch, the observers, the autosaving delay (15 s), the HTML
    // conversion, the system appearance (the theme switches to its opposite
    // when the appearance asks for it, and follows it from then on), the
    // forced appearance for screenshots ("Screenshot" with
    // "AppleInterfaceStyle" "Light" or "Dark") and, with
    // "enableBetaFeatures", the stylesheet items of the View menu.
    void prepareApplication();
    // Migrates the preferences when this build is newer than the one that
    // ran last, and stores its number under "lastVersion". True when the
    // introduction is due: the last build was 51 or older, or none ran.
    bool checkVersion();
    // Builds the main menu once (also done by prepareApplication).
    void buildMainMenu();
    MainMenu* mainMenu() const { return m_mainMenu.get(); }

    // First the documents a crash left in recovery files (untitled and
    // edited again), then the windows of the last run, then, beside them,
    // the documents named at launch (files and folders; a file that does
    // not exist yet opens as a new document that saves there). With no
    // paths and no window open afterwards, a new untitled document; when
    // named paths all fail, their errors show and no untitled one opens.
    void openLaunchDocuments(const QStringList& paths);
    // The paths a later launch handed over: opened and brought forward (a
    // file that does not exist yet as for a launch); with none, the
    // frontmost window comes forward (a new document when there is no
    // window).
    void openHandedOverDocuments(const QStringList& paths);
    // The documents left in recovery files by an earlier run, reopened as
    // untitled, edited documents; the number reopened.
    int reopenRecoveredDocuments();

    // The dialogs every question goes to; the standard ones unless a test
    // installs its own (not owned; nullptr restores the standard ones).
    Dialogs& dialogs() const;
    void setDialogs(Dialogs* dialogs);

    // Opening -------------------------------------------------------------------

    // Absolute paths of the documents that library rows opened without a
    // window; one entry per opening.
    QStringList childDocuments;

    // Files take the plain-text road, folders the library road.
    void openDocument(const QString& path, bool display, const OpenCompletion& completion) override;
    using DocumentControllerBase::openDocument;
    // Opens each path in a window; failures are presented, one by one. With
    // createMissing, a path where nothing exists yet (in a folder that does)
    // becomes a new document that saves there.
    void openDocuments(const QStringList& paths, bool createMissing = false);
    // A new, empty document shown in a window, for a file at path that does
    // not exist yet.
    PlatformResult<Document*> openNewFile(const QString& path);
    // Files and folders chosen in the open dialog.
    void runOpenPanel();
    void showDocument(DocumentBase& document) override;
    // Child documents stay out of the recent documents.
    void noteNewRecentDocument(const QString& path) override;

    // The introduction, shown locked: an untitled document holding the
    // bundled text, never written anywhere by itself. Open already: brought
    // forward and locked again. A failure is presented (nothing is locked)
    // and gives nullptr.
    Document* openIntroduction();
    Document* introduction() const { return m_introduction; }
    // Where the introduction is read from (tests).
    void setIntroductionPath(const QString& path) { m_introductionPath = path; }

    // A new untitled document holding a copy of the source's text and
    // Markdown switch, shown in a window of its own with its title strip.
    PlatformResult<Document*> duplicateDocument(Document& source);

    // A new donation window (every call opens another); also opened by
    // the notification "SupportTheDeveloperNotification".
    QWidget* showSupportWindow();
    static constexpr QLatin1String supportTheDeveloperNotification{"SupportTheDeveloperNotification"};

    // Quitting: remembers the open windows, then closes every document
    // (each may ask to save; one that cannot be saved asks once, then keeps
    // its text in a recovery file). False keeps the application running.
    bool applicationShouldTerminate();
    // Told to stop by a signal (as when the session ends, which kills soon
    // after): before any question, every edited document's text is written
    // where that needs no question (titled documents in place where they
    // can be, the others to recovery files) and the windows are
    // remembered, so a kill that follows loses nothing. The Quit then asks
    // as it always does. The recovery files written.
    QStringList saveEditsBeforeQuitting();
    // Told to stop while a question is open: nothing more is asked; what can
    // be saved is saved, the rest is kept in recovery files (listed on
    // standard error), the preferences are written. The caller exits.
    QStringList prepareForImmediateExit();

    // DocumentHost
    void makeWindow(Document& document) override;
    void closeChildDocument(Document& document) override;
    std::optional<QString> chooseExportLocation(Document& document, const QString& proposedName) override;
    void openDocumentWithoutDisplay(const QString& path, DocumentHost::OpenCompletion completion) override;
    void openDocumentInWindow(const QString& path) override;
    std::function<void()> beginProgress(const Document& document, const QString& message) override;

    // The windows of documents with a file, with their frames.
    QList<RestorableWindow> restorableWindows() const override;
    void presentError(const PlatformError& error) override;

    // The application's commands. Open: with the menu's item the open
    // dialog; sent by the program without one, a new untitled document.
    void openDocumentFromMenu(MenuItem* sender);
    void showAboutPanel();
    void editThemes();
    // The program's web page in the browser; a build without one has no
    // such command (hasWebsite()).
    bool hasWebsite() const;
    void openWebsite();

    // The stylesheet commands ("enableBetaFeatures"). Linking reads the
    // chosen file first: one that cannot be used is reported and changes
    // nothing. Exporting writes the stylesheet in use (with the chosen
    // family and size) as sorted, indented JSON through the checked writer.
    void linkStylesheet();
    void unlinkStylesheet();
    void exportStylesheet();
    // The unlink item shows only while a stylesheet is linked.
    bool isStylesheetLinked() const;

    // Restyles every open document after the text attributes changed: each
    // document's text once, then each of its windows keeps its selection at
    // the same distance from the top of its visible area.
    void textAttributesDidChange();
    // The theme follows the system appearance (its opposite theme, when the
    // current one has one that suits).
    void appearanceDidChange();
    // The application's palette from the current theme, so that menus and
    // dialogs read on dark themes too.
    void applyApplicationPalette();

private:
    void openFolder(const QString& path, bool display, const OpenCompletion& completion);
    void applyScreenshotAppearance();
    void applicationWillQuit();

    UserDefaults* m_defaults;
    std::unique_ptr<MainMenu> m_mainMenu;
    std::unique_ptr<StandardDialogs> m_standardDialogs;
    Dialogs* m_dialogs = nullptr;
    QPointer<Document> m_introduction;
    QString m_introductionPath;
    bool m_terminating = false;
    bool m_prepared = false;
};

} // namespace lumora
