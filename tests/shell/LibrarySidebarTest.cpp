// The library pane in a document window, on real folders: what it shows,
// opening documents in the window, the file commands, drag and drop, and
// what survives a restart.
#include "LibrarySidebarTestSupport.h"

#include "document/OutlineViewController.h"
#include "widgets/ViewUtilities.h"

#include "platform/application/ActionDispatcher.h"
#include "platform/application/Menu.h"
#include "platform/application/Workspace.h"
#include "platform/files/FileChangeWatcher.h"
#include "platform/files/FileReader.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"
#include "settings/Settings.h"
#include "settings/StringExtensions.h"
#include "shell/MainMenu.h"
#include "support/LoopDisk.h"
#include "support/TmpfsMount.h"

#include <QComboBox>
#include <QMenu>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

void useTheme(const char* id)
{
    Settings& settings = Settings::shared();
    for (const auto& theme : settings.themes())
        if (theme->id == id) settings.setTheme(theme);
}

// Saves the window's picture when the run asks for screenshots.
void screenshot(WindowController* window, const QString& name)
{
    const QByteArray dir = qgetenv("LUMORA_SCREENSHOT_DIR");
    if (!dir.isEmpty()) window->window()->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(name));
}

QString trashFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
}

MenuItem* menuItem(Command command)
{
    MenuItem* found = nullptr;
    DocumentController::shared()->mainMenu()->menu().forEachItem([&](MenuItem& item) {
        if (!found && item.command() == command) found = &item;
    });
    return found;
}

// Drops data on a widget at position the way a drag from another program
// does; true when the widget took it.
bool drop(QWidget* target, const QPoint& position, QMimeData* data)
{
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(position, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDragMoveEvent move(position, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    if (!move.isAccepted() || move.dropAction() == Qt::IgnoreAction) return false;
    QDropEvent dropped(position, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
    return dropped.isAccepted() && dropped.dropAction() != Qt::IgnoreAction;
}

QMimeData* urls(const QStringList& paths)
{
    auto* data = new QMimeData;
    QList<QUrl> list;
    for (const QString& path : paths) list << (path.contains("://") ? QUrl(path) : QUrl::fromLocalFile(path));
    data->setUrls(list);
    return data;
}

// A library pane outside any window, with a host that notes what it asks.
struct RecordingHost : LibraryPaneHost {
    Document* shown = nullptr;
    std::vector<std::vector<Document*>> printed;
    QStringList errors;
    Document* paneDocument() const override { return shown; }
    bool leaveDocument() override { return true; }
    void showDocument(Document& document) override { shown = &document; }
    void showUntitledDocument() override { shown = nullptr; }
    QByteArray editorState() const override { return {}; }
    void restoreEditorState(const QByteArray&) override {}
    void presentError(const PlatformError& error) override { errors << error.errorDescription; }
    void printDocuments(const std::vector<Document*>& documents) override { printed.push_back(documents); }
};

} // namespace

TEST_F(LibrarySidebar, WithoutALibraryItOffersToAddAFolder)
{
    LibraryWindow w(shell(), QString());
    ASSERT_TRUE(w.window);
    EXPECT_FALSE(w.pane->library());
    EXPECT_TRUE(w.pane->emptyView()->isVisible());
    EXPECT_FALSE(w.pane->header()->isVisible());
    EXPECT_EQ(w.pane->model().rowCount(), 0);
    screenshot(w.window, "library-none.png");
    // The sort menu marks the name order while nothing is shown.
    emit w.pane->sortMenu()->aboutToShow();
    EXPECT_TRUE(w.pane->sortMenu()->actions().last()->isChecked());

    folder = makeNotesFolder("add-folder");
    LibraryViewController::setFolderChooser([&](QWidget*) { return folder; });
    auto* button = w.pane->emptyView()->findChild<QPushButton*>();
    ASSERT_TRUE(button);
    QTest::mouseClick(button, Qt::LeftButton);
    LibraryViewController::setFolderChooser(nullptr);
    waitForTree(*w.pane);

    ASSERT_TRUE(w.pane->library());
    EXPECT_EQ(w.pane->library()->url(), folder);
    EXPECT_TRUE(w.pane->library()->isLinked());
    EXPECT_TRUE(w.pane->header()->isVisible());
    EXPECT_FALSE(w.pane->emptyView()->isVisible());
    EXPECT_EQ(w.pane->librariesPopup()->count(), 1);
    EXPECT_TRUE(w.pane->librariesPopup()->itemText(0).startsWith("add-folder"));
    EXPECT_EQ(modelLines(w.pane->model()).size(), 9);
    EXPECT_TRUE(UserDefaults::standard().dataValue("selectedLibrary").has_value());
    EXPECT_EQ(w.pane->sortButton()->text(), "Sorted by Name");
}

TEST_F(LibrarySidebar, AFolderThatIsGoneSaysSoAndItsLibraryCanBeRemoved)
{
    addNotesLibrary("gone");
    ASSERT_TRUE(QDir(folder).removeRecursively());
    // The next launch reads the stored library and finds no folder.
    relaunch();
    LibraryWindow w(shell(), QString());
    ASSERT_TRUE(w.pane->library());
    EXPECT_TRUE(w.pane->library()->url().isEmpty());
    EXPECT_TRUE(w.pane->unavailableView()->isVisible());
    EXPECT_TRUE(w.pane->header()->isVisible());
    EXPECT_FALSE(w.pane->searchField()->isEnabled());
    EXPECT_FALSE(w.pane->sortButton()->isEnabled());
    screenshot(w.window, "library-unavailable.png");
    // The popup still names it, by the name its folder had.
    EXPECT_TRUE(w.pane->librariesPopup()->itemText(0).startsWith("gone-"));

    auto* remove = w.pane->unavailableView()->findChild<QPushButton*>();
    ASSERT_TRUE(remove);
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_TRUE(LibraryController::shared().libraries().empty());
    EXPECT_TRUE(UserDefaults::standard().arrayValue("libraries").value_or(QVariantList{1}).isEmpty());
    EXPECT_FALSE(w.pane->library());
    EXPECT_TRUE(w.pane->emptyView()->isVisible());
}

// New Document and New Folder are off while the library shows no tree,
// from the editor as from the list, the pane shown or hidden; with a tree
// they are on, the pane hidden too.
TEST_F(LibrarySidebar, NewDocumentsAndFoldersNeedATreeToGoIn)
{
    addNotesLibrary("no-tree");
    ASSERT_TRUE(QDir(folder).removeRecursively());
    relaunch();
    LibraryWindow w(shell(), QString());
    ASSERT_TRUE(w.pane->unavailableView()->isVisible());
    ActionDispatcher& dispatcher = ActionDispatcher::instance();
    MenuItem* newDocument = menuItem(Command::makeLibraryDocument);
    MenuItem* newFolder = menuItem(Command::makeLibraryFolder);
    ASSERT_TRUE(newDocument && newFolder);
    TextView* editor = w.window->documentViewController()->textView();
    EXPECT_FALSE(dispatcher.validateItem(*newDocument, editor));
    EXPECT_FALSE(dispatcher.validateItem(*newFolder, editor));
    EXPECT_FALSE(dispatcher.validateItem(*newDocument, w.pane->fileView()));
    w.window->setLibraryVisible(false);
    EXPECT_FALSE(dispatcher.validateItem(*newDocument, editor));
    EXPECT_FALSE(dispatcher.validateItem(*newFolder, editor));

    // A library with its tree, the pane hidden: on.
    const QString other = makeNotesFolder("with-tree");
    LibraryController::shared().addLibrary(other, 0);
    w.pane->setLibrary(LibraryController::shared().libraries().front());
    ASSERT_TRUE(waitForTree(*w.pane));
    ASSERT_TRUE(waitFor([&] { return dispatcher.validateItem(*newDocument, editor); }));
    EXPECT_TRUE(dispatcher.validateItem(*newFolder, editor));
    resetLibraries();
}

TEST_F(LibrarySidebar, ALibraryWhoseFolderIsDeletedLeavesAndThePaneShowsAnother)
{
    const QString kept = makeNotesFolder("kept");
    const QString doomed = makeNotesFolder("doomed");
    LibraryController::shared().addLibrary(kept, 0);
    LibraryController::shared().addLibrary(doomed, 0);
    LibraryWindow w(shell(), QString());
    ASSERT_TRUE(w.pane->library());
    ASSERT_EQ(w.pane->library()->url(), doomed);
    EXPECT_EQ(w.pane->librariesPopup()->count(), 2);
    ASSERT_TRUE(QDir(doomed).removeRecursively());
    ASSERT_TRUE(waitFor([&] { return w.pane->library() && w.pane->library()->url() == kept; }));
    ASSERT_TRUE(waitForTree(*w.pane));
    EXPECT_EQ(w.pane->librariesPopup()->count(), 1);
    EXPECT_EQ(w.pane->librariesPopup()->currentIndex(), 0);
    EXPECT_EQ(modelLines(w.pane->model()).size(), 9);
}

TEST_F(LibrarySidebar, TheFirstLibraryShowsEverywhereAndLaterOnesWait)
{
    LibraryWindow a(shell(), QString());
    LibraryWindow b(shell(), QString());
    const QString first = makeNotesFolder("first");
    const QString second = makeNotesFolder("second");
    LibraryController::shared().addLibrary(first, 0);
    for (LibraryWindow* w : {&a, &b}) {
        ASSERT_TRUE(w->pane->library());
        EXPECT_EQ(w->pane->library()->url(), first);
    }
    // Opened as a folder: kept for this run only, after the linked ones.
    auto opened = shell().controller->openDocument(second, true);
    ASSERT_TRUE(opened);
    LibraryViewController& third = windowOf(qobject_cast<Document*>(*opened))->libraryPane();
    EXPECT_EQ(third.library()->url(), second);
    for (LibraryWindow* w : {&a, &b}) {
        EXPECT_EQ(w->pane->library()->url(), first);
        ASSERT_EQ(w->pane->librariesPopup()->count(), 2);
        // Marked as not in the list for good.
        EXPECT_TRUE(w->pane->librariesPopup()->itemText(1).startsWith("- second-"));
        EXPECT_TRUE(w->pane->librariesPopup()->itemText(0).startsWith("first-"));
        EXPECT_EQ(w->pane->librariesPopup()->currentIndex(), 0);
    }
    // Choosing it in a popup shows it there alone; an unlinked library is
    // not remembered for the next launch.
    UserDefaults::standard().remove("selectedLibrary");
    emit a.pane->librariesPopup()->activated(1);
    EXPECT_EQ(a.pane->library()->url(), second);
    EXPECT_EQ(b.pane->library()->url(), first);
    EXPECT_FALSE(UserDefaults::standard().dataValue("selectedLibrary").has_value());
    // Kept: it moves to the top of every popup, linked.
    ASSERT_TRUE(ActionDispatcher::instance().send(Command::toggleLibraryLinked, nullptr,
                                                        a.window->documentViewController()->textView()));
    EXPECT_TRUE(a.pane->library()->isLinked());
    EXPECT_TRUE(b.pane->librariesPopup()->itemText(0).startsWith("second"));
    EXPECT_EQ(b.pane->librariesPopup()->currentIndex(), 1);
    EXPECT_EQ(a.pane->librariesPopup()->currentIndex(), 0);
}

// Each window brings back the library its pane showed, found again by its
// folder even after the folder was renamed; a folder the list does not hold
// comes back as a library of this run.
TEST_F(LibrarySidebar, ARestoredWindowShowsTheLibraryItShowed)
{
    const QString first = makeNotesFolder("restored-first");
    const QString second = makeNotesFolder("restored-second");
    LibraryController::shared().addLibrary(first, 0);
    LibraryWindow a(shell(), QString());
    a.show(LibraryController::shared().openLibrary(second));
    const QVariantMap state = a.window->restorableState();
    ASSERT_TRUE(state.contains("rootFileBookmarkData"));

    // The next launch: the folder is no longer open as a library, and it
    // was renamed meanwhile.
    a.pane->setLibrary(LibraryController::shared().libraries().front());
    ASSERT_TRUE(LibraryController::shared().libraries().front()->url() == first);
    const auto unlinked = LibraryController::shared().libraryWithURL(second);
    ASSERT_TRUE(unlinked);
    LibraryController::shared().removeLibrary(*unlinked);
    const QString renamed = second + " renamed";
    ASSERT_TRUE(QDir().rename(second, renamed));
    LibraryWindow b(shell(), QString());
    EXPECT_EQ(b.pane->library()->url(), first);
    b.window->restoreState(state);
    waitForTree(*b.pane);
    ASSERT_TRUE(b.pane->library());
    EXPECT_EQ(b.pane->library()->url(), renamed);
    EXPECT_FALSE(b.pane->library()->isLinked());

    // Nothing to bring back, or a folder gone for good: the pane stays.
    b.window->restoreState({});
    b.window->restoreState({{"rootFileBookmarkData", QByteArray("not a bookmark")}});
    EXPECT_EQ(b.pane->library()->url(), renamed);
}

// A library's folder moved by another program into a sibling folder while
// Lumora was closed: the next launch finds it by its device and inode, and
// the window that showed it shows it again, at its new place.
TEST_F(LibrarySidebar, ARestoredWindowShowsItsLibraryWhoseFolderMovedMeanwhile)
{
    const QString top = freshDirectory("restored-moved");
    writeFile(top + "/L/Notes/Chapter.md", "text");
    ASSERT_TRUE(QDir().mkpath(top + "/L/other"));
    addNotesLibrary("restored-moved-other");
    const auto notes = LibraryController::shared().addLibrary(top + "/L/Notes", 1);
    ASSERT_TRUE(notes);
    QVariantMap state;
    {
        LibraryWindow a(shell(), QString());
        a.show(notes);
        state = a.window->restorableState();
    }
    QProcess mv;
    mv.start("mv", {top + "/L/Notes", top + "/L/other/"});
    ASSERT_TRUE(mv.waitForFinished(test::patience));
    ASSERT_EQ(mv.exitCode(), 0);

    relaunch();
    LibraryWindow b(shell(), QString());
    b.window->restoreState(state);
    ASSERT_TRUE(waitFor([&] {
        return b.pane->library() && b.pane->library()->url() == top + "/L/other/Notes"
               && modelLines(b.pane->model()) == QStringList{"Chapter.md"};
    })) << (b.pane->library() ? b.pane->library()->url().toStdString() : std::string("no library"));
    EXPECT_TRUE(b.pane->library()->isLinked());
    resetLibraries();
}

TEST_F(LibrarySidebar, ALongLibraryNameDoesNotWidenThePane)
{
    LibraryWindow w = openNotes("a-folder-whose-name-goes-on-and-on-far-beyond-what-a-side-pane-shows");
    ASSERT_TRUE(w.pane->library());
    EXPECT_LT(w.pane->minimumSizeHint().width(), 240);
    EXPECT_LT(w.pane->width(), 300);
    EXPECT_LT(w.pane->librariesPopup()->minimumSizeHint().width(), 240);
}

TEST_F(LibrarySidebar, ARowClickOpensItsDocumentInTheSameWindowAtItsPlace)
{
    LibraryWindow w = openNotes("click", "Chapter One.md");
    ASSERT_TRUE(w.window && w.pane->library());
    // The window's document is the selected row.
    ASSERT_TRUE(waitFor([&] { return w.pane->fileView()->selectionModel()->isSelected(w.row(folder + "/Chapter One.md")); }));

    w.click(folder + "/Chapter Two.md");
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Chapter Two.md"; }));
    EXPECT_EQ(WindowController::all().size(), 1u);
    // Nothing held the first document: it closed.
    EXPECT_EQ(shell().controller->documents().size(), 1u);
    TextView* editor = w.window->documentViewController()->textView();
    editor->setSelectedRange(Range(5, 3));

    w.click(folder + "/Ideas.txt");
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Ideas.txt"; }));
    EXPECT_EQ(editor->selectedRange(), Range(0, 0));
    // The document the library holds stays open without a window.
    EXPECT_EQ(shell().controller->documents().size(), 2u);
    EXPECT_TRUE(w.pane->library()->documentState.contains(folder + "/Chapter Two.md"));

    w.click(folder + "/Chapter Two.md");
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Chapter Two.md"; }));
    EXPECT_EQ(editor->selectedRange(), Range(5, 3));
    // A folder row opens nothing.
    w.click(folder + "/Drafts");
    QTest::qWait(50);
    EXPECT_EQ(w.documentPath(), folder + "/Chapter Two.md");

    // A document the library opened follows a rename, and stays out of the
    // recent documents under its new name too.
    EXPECT_TRUE(shell().controller->childDocuments.contains(folder + "/Ideas.txt"));
    w.select(folder + "/Ideas.txt");
    w.pane->fileCommands().renameLibraryDocument();
    QLineEdit* field = w.nameEditor();
    ASSERT_TRUE(field);
    field->setText("Notions");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return shell().controller->childDocuments.contains(folder + "/Notions.txt"); }));
    EXPECT_FALSE(shell().controller->childDocuments.contains(folder + "/Ideas.txt"));
}

TEST_F(LibrarySidebar, EveryRoadToAnotherDocumentAsksAnEditedDocumentFirst)
{
    LibraryWindow w = openNotes("ask");
    ASSERT_TRUE(w.pane->library());
    w.type("A first thought");
    Document* draft = w.document();
    ASSERT_TRUE(draft->isDocumentEdited());
    const auto asked = [&] { return int(shell().dialogs.asked.filter("saveChanges:").size()); };
    const auto stays = [&] {
        EXPECT_EQ(w.document(), draft);
        EXPECT_TRUE(draft->isDocumentEdited());
        // The selection is back on the window's document: none in the library.
        EXPECT_FALSE(w.pane->fileView()->selectionModel()->hasSelection());
    };

    // A row click.
    shell().dialogs.saveChoices = {SaveChoice::cancel};
    w.click(folder + "/Ideas.txt");
    ASSERT_TRUE(waitFor([&] { return asked() == 1; }));
    stays();

    // Enter in the search field.
    shell().dialogs.saveChoices = {SaveChoice::cancel};
    w.pane->searchField()->setFocus();
    QTest::keyClicks(w.pane->searchField(), "tides");
    QTest::keyClick(w.pane->searchField(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return asked() == 2; }));
    stays();

    // The end of a new document's naming.
    shell().dialogs.saveChoices = {SaveChoice::cancel};
    w.pane->fileCommands().makeLibraryDocument();
    EXPECT_TRUE(w.pane->searchField()->text().isEmpty()); // the search was cleared first
    QLineEdit* field = w.nameEditor();
    ASSERT_TRUE(field);
    field->setText("Fresh start");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return asked() == 3; }));
    EXPECT_TRUE(QFile::exists(folder + "/Fresh start.md"));
    stays();

    // The end of a drop from another program.
    shell().dialogs.saveChoices = {SaveChoice::cancel};
    const QString outside = freshDirectory("ask-outside") + "/Postcard.md";
    writeFile(outside, "Greetings from the coast.");
    std::unique_ptr<QMimeData> data(urls({outside}));
    ASSERT_TRUE(drop(w.pane->fileView()->viewport(),
                     w.pane->fileView()->visualRect(w.row(folder + "/Ideas.txt")).center(), data.get()));
    ASSERT_TRUE(waitFor([&] { return asked() == 4; }));
    EXPECT_TRUE(QFile::exists(folder + "/Postcard.md"));
    stays();

    // Agreeing lets the window go on; the untitled draft is dropped.
    shell().dialogs.saveChoices = {SaveChoice::dontSave};
    w.click(folder + "/Ideas.txt");
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Ideas.txt"; }));
    EXPECT_EQ(asked(), 5);
    EXPECT_TRUE(w.pane->fileView()->selectionModel()->isSelected(w.row(folder + "/Ideas.txt")));
}

TEST_F(LibrarySidebar, NewDocumentsAndFoldersAreNamedInPlace)
{
    LibraryWindow w = openNotes("new-files", "Chapter One.md");
    w.pane->fileView()->selectionModel()->clearSelection();

    // Nothing selected: in the top folder, with the extension its documents use.
    w.pane->fileCommands().makeLibraryDocument();
    QLineEdit* field = w.nameEditor();
    ASSERT_TRUE(field);
    EXPECT_TRUE(QFile::exists(folder + "/Untitled.md"));
    EXPECT_EQ(field->text(), "Untitled.md");
    EXPECT_TRUE(w.pane->fileCommands().isRenamingNewFile());
    field->setText("Morning pages");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Morning pages.md"; }));
    EXPECT_FALSE(QFile::exists(folder + "/Untitled.md"));
    EXPECT_FALSE(w.pane->fileCommands().isRenamingNewFile());

    // A folder inside the selected folder; folders are not opened.
    w.select(folder + "/Drafts");
    w.pane->fileCommands().makeLibraryFolder();
    field = w.nameEditor();
    ASSERT_TRUE(field);
    EXPECT_TRUE(QFileInfo(folder + "/Drafts/Untitled Folder").isDir());
    field->setText("Scenes");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return QFileInfo(folder + "/Drafts/Scenes").isDir(); }));
    EXPECT_EQ(w.documentPath(), folder + "/Morning pages.md");

    // Beside a selected document; Escape keeps the name and ends the naming.
    w.select(folder + "/Research/Tides.md");
    w.pane->fileCommands().makeLibraryDocument();
    field = w.nameEditor();
    ASSERT_TRUE(field);
    EXPECT_TRUE(QFile::exists(folder + "/Research/Untitled.md"));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(w.pane->fileCommands().isRenamingNewFile());
    EXPECT_TRUE(QFile::exists(folder + "/Research/Untitled.md"));
    // A second one gets the next number.
    w.pane->fileCommands().makeLibraryDocument();
    ASSERT_TRUE(waitFor([&] { return QFile::exists(folder + "/Research/Untitled 2.md"); }));
}

// A document renamed from its row or from the title's menu: the outline's
// header shows the new name, and the row stays selected, so the Library
// menu's row commands stay on without another click.
TEST_F(LibrarySidebar, ARenamedDocumentKeepsItsRowSelectedAndTheOutlineShowsItsName)
{
    LibraryWindow w = openNotes("renamed", "Chapter One.md");
    w.window->setOutlineVisible(true);
    OutlineViewController* outline = w.window->outlineViewController();
    ASSERT_TRUE(outline);
    ActionDispatcher& dispatcher = ActionDispatcher::instance();
    TextView* editor = w.window->documentViewController()->textView();
    MenuItem* rename = menuItem(Command::renameLibraryDocument);
    MenuItem* trash = menuItem(Command::removeLibraryDocument);
    ASSERT_TRUE(rename && trash);
    const auto selected = [&](const QString& path) {
        const QModelIndex row = w.row(path);
        return row.isValid() && w.pane->fileView()->selectionModel()->isRowSelected(row.row(), row.parent());
    };
    ASSERT_TRUE(waitFor([&] { return selected(folder + "/Chapter One.md"); }));
    EXPECT_EQ(outline->titleLabel()->text(), "Chapter One.md");

    // From the row.
    w.pane->fileCommands().renameLibraryDocument();
    QLineEdit* field = w.nameEditor();
    ASSERT_TRUE(field);
    field->setText("Chapter 1");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Chapter 1.md" && w.row(folder + "/Chapter 1.md").isValid(); }));
    EXPECT_TRUE(selected(folder + "/Chapter 1.md"));
    EXPECT_EQ(outline->titleLabel()->text(), "Chapter 1.md");
    editor->setFocus();
    EXPECT_TRUE(dispatcher.validateItem(*rename, editor));
    EXPECT_TRUE(dispatcher.validateItem(*trash, editor));

    // From the title's menu.
    shell().dialogs.newName = "The First Chapter.md";
    w.document()->renameDocument();
    ASSERT_EQ(w.documentPath(), folder + "/The First Chapter.md");
    ASSERT_TRUE(waitFor([&] { return w.row(folder + "/The First Chapter.md").isValid(); }));
    EXPECT_TRUE(selected(folder + "/The First Chapter.md"));
    EXPECT_EQ(outline->titleLabel()->text(), "The First Chapter.md");
    EXPECT_TRUE(dispatcher.validateItem(*rename, editor));
    EXPECT_TRUE(dispatcher.validateItem(*trash, editor));
}

TEST_F(LibrarySidebar, RenamingOntoATakenNameIsAnErrorAndBothFilesStay)
{
    LibraryWindow w = openNotes("rename", "Chapter One.md");
    const QByteArray ideas = readFile(folder + "/Ideas.txt");
    const QByteArray two = readFile(folder + "/Chapter Two.md");

    w.select(folder + "/Ideas.txt");
    w.pane->fileCommands().renameLibraryDocument();
    QLineEdit* field = w.nameEditor();
    ASSERT_TRUE(field);
    field->setText("Chapter Two.md");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return !shell().dialogs.errors.isEmpty(); }));
    EXPECT_EQ(readFile(folder + "/Ideas.txt"), ideas);
    EXPECT_EQ(readFile(folder + "/Chapter Two.md"), two);
    EXPECT_TRUE(w.row(folder + "/Ideas.txt").isValid());

    // A slash is kept as a colon on disk and shown as a slash again.
    w.select(folder + "/Ideas.txt");
    w.pane->fileCommands().renameLibraryDocument();
    field = w.nameEditor();
    ASSERT_TRUE(field);
    field->setText("Plot/twist");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return w.row(folder + "/Plot:twist.txt").isValid(); }));
    EXPECT_TRUE(QFile::exists(folder + "/Plot:twist.txt"));
    const QModelIndex renamed = w.row(folder + "/Plot:twist.txt");
    EXPECT_EQ(w.pane->model().data(renamed).toString(), "Plot/twist.txt");
    // Renamed documents are not opened.
    EXPECT_EQ(w.documentPath(), folder + "/Chapter One.md");
}

TEST_F(LibrarySidebar, TrashSavesTheShownDocumentAndTheWindowShowsTheNextOne)
{
    LibraryWindow w = openNotes("trash", "Chapter One.md");

    // Another file: the window keeps its document.
    w.select(folder + "/Ideas.txt");
    w.pane->fileCommands().removeSelectedFiles();
    ASSERT_TRUE(waitFor([&] { return QFile::exists(trashFolder() + "/Ideas.txt"); }));
    EXPECT_FALSE(QFile::exists(folder + "/Ideas.txt"));
    ASSERT_TRUE(waitFor([&] { return !w.row(folder + "/Ideas.txt").isValid(); }));
    EXPECT_EQ(w.documentPath(), folder + "/Chapter One.md");

    // The shown document, with edits not yet saved: when they cannot be
    // saved, it stays where it is.
    w.click(folder + "/Chapter Two.md");
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Chapter Two.md"; }));
    w.type("Last words. ");
    ASSERT_TRUE(w.document()->isDocumentEdited());
    w.select(folder + "/Chapter Two.md");
    setFileWriteFaultHook([](const char* step) { return std::string_view(step) == "sync" ? ENOSPC : 0; });
    w.pane->fileCommands().removeSelectedFiles();
    setFileWriteFaultHook({});
    EXPECT_FALSE(shell().dialogs.errors.isEmpty());
    QTest::qWait(50);
    EXPECT_TRUE(QFile::exists(folder + "/Chapter Two.md"));
    EXPECT_FALSE(QFile::exists(trashFolder() + "/Chapter Two.md"));
    EXPECT_TRUE(w.document()->isDocumentEdited());
    // Saved, it goes.
    w.pane->fileCommands().removeSelectedFiles();
    ASSERT_TRUE(waitFor([&] { return QFile::exists(trashFolder() + "/Chapter Two.md"); }));
    EXPECT_TRUE(readFile(trashFolder() + "/Chapter Two.md").startsWith("Last words. "));
    // The window stays and shows the document now in that place.
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Drafts/Old ending.md"; }));
    EXPECT_EQ(WindowController::all().size(), 1u);
    EXPECT_TRUE(w.window->window()->isVisible());

    // A folder holding the shown document: the window moves to a document
    // outside it.
    w.click(folder + "/Research/Tides.md");
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Research/Tides.md"; }));
    w.select(folder + "/Research");
    w.pane->fileCommands().removeSelectedFiles();
    ASSERT_TRUE(waitFor([&] { return QFileInfo(trashFolder() + "/Research").isDir(); }));
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Drafts/Opening lines.md"; }));
    EXPECT_TRUE(w.window->window()->isVisible());
}

TEST_F(LibrarySidebar, FilesDroppedFromOutsideMoveIntoTheFolderUnderThePointer)
{
    LibraryWindow w = openNotes("drop", "Chapter One.md");
    QWidget* viewport = w.pane->fileView()->viewport();
    const QString outside = freshDirectory("drop-outside");
    writeFile(outside + "/Letter.md", "Dear reader,");
    writeFile(outside + "/photo.png", "\x89PNG");

    // Refused: a picture, a web address.
    const QPoint onResearch = w.pane->fileView()->visualRect(w.row(folder + "/Research")).center();
    std::unique_ptr<QMimeData> picture(urls({outside + "/photo.png"}));
    EXPECT_FALSE(drop(viewport, onResearch, picture.get()));
    std::unique_ptr<QMimeData> web(urls({"https://example.org/notes.md"}));
    EXPECT_FALSE(drop(viewport, onResearch, web.get()));

    // A document dropped on a document of a folder goes into that folder,
    // and opens in the window.
    const QPoint onTides = w.pane->fileView()->visualRect(w.row(folder + "/Research/Tides.md")).center();
    std::unique_ptr<QMimeData> letter(urls({outside + "/Letter.md"}));
    ASSERT_TRUE(drop(viewport, onTides, letter.get()));
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Research/Letter.md"; }));
    EXPECT_FALSE(QFile::exists(outside + "/Letter.md"));
    EXPECT_EQ(readFile(folder + "/Research/Letter.md"), "Dear reader,");

    // Rows dragged inside the outline move too; a folder never into itself.
    std::unique_ptr<QMimeData> research(w.pane->model().mimeData({w.row(folder + "/Research")}));
    const QPoint onResearchAgain = w.pane->fileView()->visualRect(w.row(folder + "/Research")).center();
    EXPECT_FALSE(drop(viewport, onResearchAgain, research.get()));
    EXPECT_EQ(LibraryController::shared().libraries().size(), 1u); // and no new library either
    std::unique_ptr<QMimeData> ideas(w.pane->model().mimeData({w.row(folder + "/Ideas.txt")}));
    const QPoint onDrafts = w.pane->fileView()->visualRect(w.row(folder + "/Drafts")).center();
    ASSERT_TRUE(drop(viewport, onDrafts, ideas.get()));
    ASSERT_TRUE(waitFor([&] { return QFile::exists(folder + "/Drafts/Ideas.txt"); }));
    EXPECT_EQ(w.pane->model().resyncCount(), 0);
}

TEST_F(LibrarySidebar, AFolderDroppedOnThePaneBecomesALibraryThatSurvivesARestart)
{
    folder = makeNotesFolder("dropped-library");
    {
        LibraryWindow w(shell(), QString());
        ASSERT_FALSE(w.pane->library());
        // A plain file is no library.
        std::unique_ptr<QMimeData> file(urls({folder + "/Ideas.txt"}));
        EXPECT_FALSE(drop(w.pane->rootView(), QPoint(50, 50), file.get()));
        std::unique_ptr<QMimeData> data(urls({folder}));
        // Hovering outlines the pane.
        QDragEnterEvent hover(QPoint(50, 50), Qt::CopyAction | Qt::LinkAction, data.get(), Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(w.pane->rootView(), &hover);
        EXPECT_TRUE(w.pane->rootView()->isHighlighted());
        screenshot(w.window, "library-drop.png");
        ASSERT_TRUE(drop(w.pane->rootView(), QPoint(50, 50), data.get()));
        ASSERT_TRUE(waitForTree(*w.pane));
        ASSERT_TRUE(w.pane->library());
        EXPECT_EQ(w.pane->library()->url(), folder);
        EXPECT_TRUE(w.pane->library()->isLinked());
        EXPECT_FALSE(w.pane->rootView()->isHighlighted());

        // Sorted by date modified, Drafts closed: both are kept.
        w.pane->search().chooseSortKey(Library::SortKey::dateModified);
        EXPECT_EQ(w.pane->sortButton()->text(), "Sorted by Date Modified");
        w.pane->fileView()->collapse(w.row(folder + "/Drafts"));
        EXPECT_FALSE(w.pane->library()->expanded.value(folder + "/Drafts", true));
        delete w.window->window();
    }
    // The next launch.
    ASSERT_TRUE(LibraryController::shared().load().ok());
    ASSERT_EQ(LibraryController::shared().libraries().size(), 1u);
    LibraryWindow again(shell(), QString());
    ASSERT_TRUE(again.pane->library());
    EXPECT_EQ(again.pane->library()->url(), folder);
    EXPECT_EQ(again.pane->library()->sortKey, Library::SortKey::dateModified);
    EXPECT_FALSE(again.pane->fileView()->isExpanded(again.row(folder + "/Drafts")));
    EXPECT_TRUE(again.pane->fileView()->isExpanded(again.row(folder + "/Research")));
}

TEST_F(LibrarySidebar, TwoWindowsOfOneLibraryKeepTheirOwnRows)
{
    addNotesLibrary("two-windows");
    LibraryWindow a(shell(), QString());
    LibraryWindow b(shell(), QString());
    a.pane->search().setFilter("chapter");
    EXPECT_EQ(modelLines(a.pane->model()), (QStringList{"Chapter One.md", "Chapter Two.md"}));
    ASSERT_EQ(a.pane->library(), b.pane->library());

    writeFile(folder + "/Chapter Three.md", "Three");
    QFile::remove(folder + "/Ideas.txt");
    ASSERT_TRUE(QFile::rename(folder + "/Research/Tides.md", folder + "/Research/Chapter on tides.md"));
    ASSERT_TRUE(waitFor([&] {
        return modelLines(a.pane->model()).contains("Research/Chapter on tides.md")
               && modelLines(b.pane->model()).contains("Research/Chapter on tides.md")
               && modelLines(b.pane->model()).contains("Chapter Three.md")
               && !modelLines(b.pane->model()).contains("Ideas.txt");
    }));
    EXPECT_EQ(modelLines(a.pane->model()), (QStringList{"Chapter One.md", "Chapter Three.md", "Chapter Two.md",
                                                        "Research/", "Research/Chapter on tides.md"}));
    EXPECT_EQ(a.pane->model().resyncCount(), 0);
    EXPECT_EQ(b.pane->model().resyncCount(), 0);

    // One window closing leaves the other watching.
    delete a.window->window();
    writeFile(folder + "/After.md", "a");
    ASSERT_TRUE(waitFor([&] { return modelLines(b.pane->model()).contains("After.md"); }));
}

TEST_F(LibrarySidebar, ChangesByOtherProgramsKeepTheSelectionOnItsFile)
{
    LibraryWindow w = openNotes("outside-changes");
    w.select(folder + "/Ideas.txt");
    ASSERT_TRUE(QFile::rename(folder + "/Ideas.txt", folder + "/A list of ideas.txt"));
    const auto selected = [&]() -> QString {
        const QModelIndexList rows = w.pane->fileView()->selectionModel()->selectedRows();
        const File* file = rows.size() == 1 ? w.pane->model().fileAt(rows.first()) : nullptr;
        return file ? file->name() : QString();
    };
    ASSERT_TRUE(waitFor([&] { return selected() == "A list of ideas.txt"; }));
    EXPECT_EQ(w.pane->model().index(0, 0).data().toString(), "A list of ideas.txt");
    // A summary that changed while off screen is read again when shown.
    writeFile(folder + "/A list of ideas.txt", "New ideas.");
    ASSERT_TRUE(waitFor([&] {
        auto* file = w.pane->regularFile(folder + "/A list of ideas.txt");
        return file && file->summary() == "New ideas.";
    }));
}

TEST_F(LibrarySidebar, EnterInTheSearchFieldOpensTheFirstDocumentFound)
{
    LibraryWindow w = openNotes("search", "Chapter One.md");
    QLineEdit* field = w.pane->searchField();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return); // empty: nothing
    EXPECT_EQ(w.documentPath(), folder + "/Chapter One.md");
    QTest::keyClicks(field, "TID");
    EXPECT_EQ(modelLines(w.pane->model()), (QStringList{"Research/", "Research/Tides.md"}));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Research/Tides.md"; }));

    // Nothing found: the selection is cleared, the window stays.
    field->selectAll();
    QTest::keyClicks(field, "nothing like it");
    EXPECT_TRUE(modelLines(w.pane->model()).isEmpty());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(w.pane->fileView()->selectionModel()->hasSelection());
    EXPECT_EQ(w.documentPath(), folder + "/Research/Tides.md");
    // Cleared: the whole library again, its folders as they were.
    field->clear();
    EXPECT_EQ(modelLines(w.pane->model()).size(), 9);
    EXPECT_TRUE(w.pane->fileView()->isExpanded(w.row(folder + "/Drafts")));
}

TEST_F(LibrarySidebar, MenuItemsFollowTheRowsActedOnAndTheWindow)
{
    addNotesLibrary("menu");
    const QString outside = freshDirectory("menu-outside") + "/Loose note.md";
    writeFile(outside, "loose");
    LibraryWindow w(shell(), outside);
    ActionDispatcher& dispatcher = ActionDispatcher::instance();
    LibraryOutlineView* outline = w.pane->fileView();
    MenuItem* rename = menuItem(Command::renameLibraryDocument);
    MenuItem* trash = menuItem(Command::removeLibraryDocument);
    MenuItem* open = menuItem(Command::openSelectedFile);
    MenuItem* move = menuItem(Command::moveToLibrary);
    MenuItem* link = menuItem(Command::toggleLibraryLinked);
    MenuItem* newDocument = menuItem(Command::makeLibraryDocument);
    ASSERT_TRUE(rename && trash && open && move && link && newDocument);

    // From the editor, the window's own items.
    TextView* editor = w.window->documentViewController()->textView();
    dispatcher.validateItem(*move, editor);
    EXPECT_FALSE(move->isHidden());
    // The names stand in the locale's quotation marks.
    EXPECT_EQ(move->title(), "Move " + string::quoted("Loose note.md") + " into "
                                 + string::quoted("menu-" + QFileInfo(folder).fileName().mid(5)));
    dispatcher.validateItem(*link, editor);
    EXPECT_FALSE(link->isHidden());
    EXPECT_TRUE(link->title().startsWith("Remove " + string::quoted("menu-").chopped(1)));
    EXPECT_TRUE(dispatcher.validateItem(*newDocument, editor));
    EXPECT_FALSE(dispatcher.validateItem(*open, editor));

    // From the outline: one row, two rows.
    outline->setFocus();
    w.select(folder + "/Ideas.txt");
    EXPECT_TRUE(dispatcher.validateItem(*rename, outline));
    EXPECT_TRUE(dispatcher.validateItem(*open, outline));
    outline->selectionModel()->select(w.row(folder + "/Chapter One.md"), QItemSelectionModel::Select
                                                                              | QItemSelectionModel::Rows);
    EXPECT_FALSE(dispatcher.validateItem(*rename, outline));
    EXPECT_TRUE(dispatcher.validateItem(*trash, outline));

    // The context menu is the Library menu, acting on a row clicked outside
    // the selection alone.
    bool checked = false;
    QTimer::singleShot(100, [&] {
        QMenu* shown = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!shown) return;
        checked = rename->qAction()->isEnabled() && trash->qAction()->isEnabled();
        shown->close();
    });
    const QPoint onTides = outline->visualRect(w.row(folder + "/Research/Tides.md")).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, onTides, outline->viewport()->mapToGlobal(onTides));
    QApplication::sendEvent(outline->viewport(), &event);
    EXPECT_TRUE(checked);
    EXPECT_EQ(w.pane->selection().rowsToActOn().size(), 2); // the click is over

    // A document of the library needs no moving; a hidden pane shows neither.
    ASSERT_TRUE(dispatcher.send(Command::moveToLibrary, nullptr, editor));
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == folder + "/Loose note.md"; }));
    EXPECT_FALSE(QFile::exists(outside));
    ASSERT_TRUE(waitFor([&] { return w.pane->fileView()->selectionModel()->isSelected(w.row(folder + "/Loose note.md")); }));
    dispatcher.validateItem(*move, editor);
    EXPECT_TRUE(move->isHidden());
    w.window->setLibraryVisible(false);
    dispatcher.validateItem(*link, editor);
    EXPECT_TRUE(link->isHidden());

    // Unlinking leaves the list; the items that need a library go grey.
    w.window->setLibraryVisible(true);
    ASSERT_TRUE(dispatcher.send(Command::toggleLibraryLinked, nullptr, editor));
    EXPECT_TRUE(LibraryController::shared().libraries().empty());
    EXPECT_FALSE(w.pane->library());
    EXPECT_FALSE(dispatcher.validateItem(*newDocument, editor));
}

TEST_F(LibrarySidebar, RevealAsksTheFileManagerAndElseOpensTheFolder)
{
    LibraryWindow w = openNotes("reveal");
    QList<QUrl> shownItems, opened;
    bool fileManagerAnswers = false, folderOpens = true;
    Workspace::setHandlers(
        [&](const QUrl& item, std::function<void(bool)> done) {
            shownItems << item;
            done(fileManagerAnswers);
        },
        [&](const QUrl& url) {
            opened << url;
            return folderOpens;
        });
    w.select(folder + "/Research/Tides.md");
    w.pane->fileCommands().revealInFileManager();
    EXPECT_EQ(shownItems, (QList<QUrl>{QUrl::fromLocalFile(folder + "/Research/Tides.md")}));
    EXPECT_EQ(opened, (QList<QUrl>{QUrl::fromLocalFile(folder + "/Research")}));
    fileManagerAnswers = true;
    w.select(folder + "/Drafts");
    w.pane->fileCommands().revealInFileManager();
    EXPECT_EQ(shownItems.last(), QUrl::fromLocalFile(folder + "/Drafts"));
    EXPECT_EQ(opened.size(), 1);
    EXPECT_TRUE(shell().dialogs.errors.isEmpty());
    // Neither way works: the writer is told, and where the item is.
    fileManagerAnswers = folderOpens = false;
    w.select(folder + "/Research/Tides.md");
    w.pane->fileCommands().revealInFileManager();
    EXPECT_EQ(opened.size(), 2);
    ASSERT_EQ(shell().dialogs.errors.size(), 1);
    EXPECT_TRUE(shell().dialogs.errors.last().contains("“Tides.md”")) << shell().dialogs.errors.last().toStdString();
    Workspace::setHandlers(nullptr, nullptr);
}

TEST_F(LibrarySidebar, PrintingAFolderPrintsEveryDocumentInside)
{
    addNotesLibrary("print");
    RecordingHost host;
    LibraryViewController pane;
    pane.setHost(&host);
    pane.setUp();
    pane.resize(300, 600);
    pane.show();
    ASSERT_TRUE(pane.library());
    ASSERT_TRUE(waitForTree(pane));
    pane.fileView()->selectionModel()->select(rowOf(pane, folder + "/Research"),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    pane.fileCommands().printSelectedFiles();
    ASSERT_TRUE(waitFor([&] { return !host.printed.empty(); }));
    ASSERT_EQ(host.printed.front().size(), 2u);
    QStringList names;
    for (Document* d : host.printed.front()) names << QFileInfo(d->filePath()).fileName();
    EXPECT_EQ(names, (QStringList{"Ferries.md", "Tides.md"}));
    pane.windowWillClose();
}

TEST_F(LibrarySidebar, SummaryLinesChangeEveryRowHeight)
{
    LibraryWindow w = openNotes("summary-lines");
    const QModelIndex ideas = w.row(folder + "/Ideas.txt");
    Settings::shared().setLibrarySummaryLines(0);
    EXPECT_EQ(w.pane->fileView()->visualRect(ideas).height(), 34);
    Settings::shared().setLibrarySummaryLines(9); // kept within 0...3
    EXPECT_EQ(Settings::shared().librarySummaryLines(), 3);
    EXPECT_EQ(w.pane->fileView()->visualRect(ideas).height(), 85);
    EXPECT_EQ(w.pane->fileView()->visualRect(w.row(folder + "/Drafts")).height(), 25);
}

TEST_F(LibrarySidebar, LooksFinishedBesideTheEditorInLightAndDark)
{
    LibraryWindow w = openNotes("looks", "Chapter One.md");
    w.window->window()->resize(1100, 720);
    ASSERT_TRUE(waitFor([&] { return w.pane->fileView()->selectionModel()->hasSelection(); }));
    ASSERT_TRUE(waitFor([&] {
        auto* file = w.pane->regularFile(folder + "/Chapter Two.md");
        return file && !file->summary().isEmpty();
    }));
    const QDir dir(QString::fromLocal8Bit(qgetenv("LUMORA_SCREENSHOT_DIR")));
    for (const char* id : {"light", "dark"}) {
        useTheme(id);
        QTest::qWait(50);
        const QImage image = w.window->window()->grab().toImage();
        // The pane stands on the chrome colour, a touch apart from the page.
        const QColor pane = image.pixelColor(image.width() / 5, image.height() - 10);
        const QColor page = image.pixelColor(image.width() * 3 / 4, image.height() - 10);
        EXPECT_NE(pane, page) << id;
        EXPECT_EQ(pane.lightness() < 128, Settings::shared().theme()->isDark) << id;
        if (!dir.path().isEmpty() && dir.path() != ".") image.save(dir.filePath(QStringLiteral("library-%1.png").arg(id)));
    }
    useTheme("light");
}

// A large folder is read on another thread: the window goes on answering,
// the pane shows how far the reading got and fills in when it is done; a
// window closed meanwhile leaves nothing behind.
TEST_F(LibrarySidebar, ALargeFolderIsReadWhileTheWindowGoesOnAnswering)
{
    folder = freshDirectory("large");
    for (int i = 0; i < 60; ++i) writeFile(folder + QString("/Year %1/Entry %1.md").arg(i), "An entry.");
    const QString page = freshDirectory("large-page") + "/Page.md";
    writeFile(page, "Words.");
    LibraryWindow w(shell(), page);
    {
        ScanGate gate;
        // The first library of the list shows in the window at once.
        auto library = LibraryController::shared().openLibrary(folder);
        ASSERT_EQ(w.pane->library(), library);
        ASSERT_TRUE(w.pane->isLoadingTree());
        gate.pass(12);
        // Once the reading takes a moment, the pane says what it does.
        ASSERT_TRUE(waitFor([&] { return w.pane->findChild<QProgressBar*>() && w.pane->findChild<QProgressBar*>()->isVisible(); }));
        const auto shows = [&](const QString& text) {
            const QList<QLabel*> labels = w.pane->findChildren<QLabel*>();
            return std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->isVisible() && l->text() == text; });
        };
        ASSERT_TRUE(waitFor([&] { return shows("Folders read: 12"); }));
        EXPECT_TRUE(shows("Reading “" + QFileInfo(folder).fileName() + "”…"));
        screenshot(w.window, "library-loading.png");
        // The window answers: typing reaches the document.
        w.type("More ");
        EXPECT_TRUE(textOf(w.document()).startsWith("More "));
        // Commands that need the tree wait for it.
        EXPECT_FALSE(w.pane->fileCommands().canActOnOneRow());
    }
    ASSERT_TRUE(waitForTree(*w.pane));
    EXPECT_EQ(modelLines(w.pane->model()).size(), 120);
    EXPECT_TRUE(w.pane->fileView()->isVisible());

    // A window closed while its folder is read: the reading stops, and the
    // library is not held by anyone.
    const QString otherFolder = freshDirectory("large-other");
    writeFile(otherFolder + "/a/b.md", "b");
    LibraryWindow closing(shell(), QString());
    std::shared_ptr<Library> other;
    {
        ScanGate gate;
        other = LibraryController::shared().openLibrary(otherFolder);
        closing.pane->setLibrary(other);
        ASSERT_TRUE(closing.pane->isLoadingTree());
        delete closing.window->window();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QTest::qWait(100);
    EXPECT_FALSE(other->isLoadingFileTree());
    EXPECT_FALSE(other->fileController());
    resetLibraries();
}

// A library whose disk is taken away while it is shown says that its folder
// can't be found, rather than show the bare folder left at its place.
TEST_F(LibrarySidebar, ALibraryWhoseDiskGoesAwaySaysSo)
{
    folder = freshDirectory("stick") + "/Stick";
    TmpfsMount disk(folder, "size=1m");
    if (!disk.ok()) GTEST_SKIP() << disk.why();
    writeFile(folder + "/Chapter.md", "On the stick.");
    LibraryController::shared().addLibrary(folder, 0);
    LibraryWindow w(shell(), QString());
    ASSERT_EQ(modelLines(w.pane->model()), QStringList{"Chapter.md"});
    ASSERT_TRUE(disk.unmount());
    ASSERT_TRUE(waitFor([&] { return w.pane->unavailableView()->isVisible(); }));
    EXPECT_EQ(w.pane->model().rowCount(), 0);
    EXPECT_EQ(w.pane->library()->url(), folder);
    EXPECT_TRUE(shell().dialogs.errors.isEmpty()); // the pane says so; no dialog
    screenshot(w.window, "library-disk-gone.png");
    // Back with its disk, the pane reads it again.
    TmpfsMount back(folder, "size=1m");
    ASSERT_TRUE(back.ok()) << back.why();
    writeFile(folder + "/Chapter.md", "On the stick again.");
    ASSERT_TRUE(waitFor([&] { return modelLines(w.pane->model()) == QStringList{"Chapter.md"}; }));
    EXPECT_TRUE(w.pane->fileView()->isVisible());
    resetLibraries();
}

// A disk whose library the window shows, with one of its documents open in
// the window and edited, can be ejected: nothing of Lumora's holds it. The
// pane then says that the library is unavailable; the text stays in the
// window, unsaved.
TEST_F(LibrarySidebar, ADiskShownInAWindowCanBeEjected)
{
    folder = freshDirectory("eject") + "/Stick";
    TmpfsMount disk(folder, "size=1m");
    if (!disk.ok()) GTEST_SKIP() << disk.why();
    writeFile(folder + "/Chapter.md", "On the stick.");
    writeFile(folder + "/Drafts/First.md", "First.");
    LibraryController::shared().addLibrary(folder, 0);
    LibraryWindow w(shell(), folder + "/Chapter.md");
    ASSERT_TRUE(w.window);
    ASSERT_EQ(modelLines(w.pane->model()), (QStringList{"Chapter.md", "Drafts/", "Drafts/First.md"}));
    w.type("More. ");
    ASSERT_TRUE(w.document()->isDocumentEdited());

    const int ejected = disk.eject();
    ASSERT_EQ(ejected, 0) << "the disk is held: " << std::strerror(ejected);
    ASSERT_TRUE(waitFor([&] { return w.pane->unavailableView()->isVisible(); }));
    EXPECT_EQ(w.pane->library()->url(), folder);
    EXPECT_TRUE(w.document()->isDocumentEdited());
    EXPECT_EQ(w.document()->filePath(), folder + "/Chapter.md");
    screenshot(w.window, "library-disk-ejected.png");
    resetLibraries();
}

// A disk with a library the window shows and an edited document from it is
// ejected, and the autosave that comes meanwhile fails (its text kept in a
// recovery file). The disk comes back as it was (the same device and inodes,
// a loop device here): the library shows its tree again, and the pending
// autosave writes the document there by itself at once, with nothing typed
// and without waiting for another autosave delay.
TEST_F(LibrarySidebar, ADiskThatComesBackShowsItsLibraryAndTakesThePendingAutosave)
{
    const QString place = freshDirectory("loop");
    folder = place + "/Stick";
    LoopDisk disk(place + "/stick.img", folder);
    if (!disk.ok()) GTEST_SKIP() << disk.why();
    writeFile(folder + "/Chapter.md", "On the stick.");
    LibraryController::shared().addLibrary(folder, 0);
    shell().dialogs.failedSaveChoice = FailedSaveChoice::dismiss;
    LibraryWindow w(shell(), folder + "/Chapter.md");
    ASSERT_TRUE(w.window);
    ASSERT_EQ(modelLines(w.pane->model()), QStringList{"Chapter.md"});
    DocumentBase::setAutosavingDelay(100);
    const auto restore = qScopeGuard([] { DocumentBase::setAutosavingDelay(15000); });
    w.type("More. ");
    ASSERT_TRUE(w.document()->isDocumentEdited());

    const int ejected = disk.eject();
    ASSERT_EQ(ejected, 0) << "the disk is held: " << std::strerror(ejected);
    ASSERT_TRUE(waitFor([&] { return w.pane->unavailableView()->isVisible(); }));
    ASSERT_TRUE(waitFor([&] { return !w.document()->recoveryFilePath().isEmpty(); }));
    EXPECT_TRUE(shell().dialogs.asked.contains("failedSave:saving")) << shell().dialogs.asked.join(",").toStdString();
    EXPECT_TRUE(w.document()->isDocumentEdited());

    // Now long enough that only the disk's return saves the document.
    DocumentBase::setAutosavingDelay(3'600'000);
    ASSERT_TRUE(disk.mount()) << std::strerror(errno);
    ASSERT_TRUE(waitFor([&] { return modelLines(w.pane->model()) == QStringList{"Chapter.md"}; }));
    EXPECT_TRUE(w.pane->fileView()->isVisible());
    ASSERT_TRUE(waitFor([&] { return !w.document()->isDocumentEdited(); }));
    EXPECT_TRUE(readFile(folder + "/Chapter.md").contains("More. ")) << readFile(folder + "/Chapter.md").toStdString();
    EXPECT_EQ(w.document()->filePath(), folder + "/Chapter.md");
    resetLibraries();
}

// Another program moves the folder of the window's document into a sibling
// folder of the library the window shows: the rows follow, and so does the
// document: Ctrl+S saves it at its new place, without a question.
TEST_F(LibrarySidebar, ADocumentWhoseFolderAnotherProgramMovesSavesWhereItWent)
{
    folder = freshDirectory("moves") + "/L";
    writeFile(folder + "/proj/d.md", "a\n");
    ASSERT_TRUE(QDir().mkpath(folder + "/other"));
    LibraryController::shared().addLibrary(folder, 0);
    LibraryWindow w(shell(), folder + "/proj/d.md");
    ASSERT_TRUE(w.window);
    w.type("typed ");
    QProcess mv;
    mv.start("mv", {folder + "/proj", folder + "/other/"});
    ASSERT_TRUE(mv.waitForFinished(test::patience));
    ASSERT_EQ(mv.exitCode(), 0);
    ASSERT_TRUE(waitFor([&] { return w.document()->filePath() == folder + "/other/proj/d.md"; }))
        << w.document()->filePath().toStdString();
    ASSERT_TRUE(waitFor([&] { return modelLines(w.pane->model()).contains("other/proj/d.md"); }));
    QTest::keyClick(w.window->documentViewController()->textView(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return !w.document()->isDocumentEdited(); }));
    EXPECT_TRUE(readFile(folder + "/other/proj/d.md").contains("typed ")) << readFile(folder + "/other/proj/d.md").toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder + "/proj"));
    EXPECT_TRUE(shell().dialogs.errors.isEmpty()) << shell().dialogs.errors.join(",").toStdString();
    resetLibraries();
}

// The Library menu's Rename, Move to Trash and Print act on the highlighted
// row from anywhere in the window, the list never focused; the name field
// shows the name once; names keep to one line and errors quote them as the
// rows show them.
TEST_F(LibrarySidebar, RowCommandsActOnTheHighlightedRowAndNamesReadAsShown)
{
    folder = makeNotesFolder("row-commands");
    writeFile(folder + "/Plot:twist.txt", "A twist.");
    writeFile(folder + "/Two\nlines.md", "Two lines.");
    LibraryController::shared().addLibrary(folder, 0);
    LibraryWindow w(shell(), folder + "/Chapter One.md");
    ActionDispatcher& dispatcher = ActionDispatcher::instance();
    TextView* editor = w.window->documentViewController()->textView();
    editor->setFocus();
    ASSERT_TRUE(waitFor([&] { return w.pane->fileView()->selectionModel()->isSelected(w.row(folder + "/Chapter One.md")); }));
    ASSERT_FALSE(w.pane->fileView()->hasFocus());

    // Names with a colon or a line break read on one line, as the rows show them.
    EXPECT_EQ(w.pane->model().data(w.row(folder + "/Plot:twist.txt")).toString(), "Plot/twist.txt");
    EXPECT_EQ(w.pane->model().data(w.row(folder + "/Two\nlines.md")).toString(), "Two¶lines.md");
    w.pane->fileView()->scrollTo(w.row(folder + "/Two\nlines.md"));
    screenshot(w.window, "library-names.png");

    // Rename, from the editor: the highlighted row's name opens for editing.
    MenuItem* rename = menuItem(Command::renameLibraryDocument);
    ASSERT_TRUE(dispatcher.validateItem(*rename, editor));
    ASSERT_TRUE(dispatcher.send(Command::renameLibraryDocument, rename, editor));
    QLineEdit* field = w.nameEditor();
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(), "Chapter One.md");
    // The row draws no name beneath the field: only the field shows it.
    const QRect fieldArea = field->geometry();
    QImage beneath(w.pane->fileView()->viewport()->size(), QImage::Format_ARGB32);
    beneath.fill(Qt::white);
    w.pane->fileView()->viewport()->render(&beneath, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    const QColor background = beneath.pixelColor(fieldArea.right() - 2, fieldArea.center().y());
    int inked = 0;
    for (int y = fieldArea.top(); y <= fieldArea.bottom(); ++y)
        for (int x = fieldArea.left(); x <= fieldArea.right(); ++x)
            if (beneath.pixelColor(x, y) != background) ++inked;
    EXPECT_EQ(inked, 0);
    screenshot(w.window, "library-rename-field.png");
    QTest::keyClick(field, Qt::Key_Escape);

    // A rename the disk refuses quotes the names as the rows show them.
    w.select(folder + "/Plot:twist.txt");
    editor->setFocus();
    ASSERT_TRUE(dispatcher.send(Command::renameLibraryDocument, rename, editor));
    field = w.nameEditor();
    ASSERT_TRUE(field);
    field->setText("Chapter Two.md");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return !shell().dialogs.errors.isEmpty(); }));
    EXPECT_TRUE(shell().dialogs.errors.last().contains("“Plot/twist.txt”")) << shell().dialogs.errors.last().toStdString();
    EXPECT_FALSE(shell().dialogs.errors.last().contains("Plot:twist")) << shell().dialogs.errors.last().toStdString();

    // Print and Move to Trash, from the editor, act on the highlighted row.
    w.select(folder + "/Ideas.txt");
    editor->setFocus();
    MenuItem* print = menuItem(Command::printSelectedFiles);
    MenuItem* trash = menuItem(Command::removeLibraryDocument);
    EXPECT_TRUE(dispatcher.validateItem(*print, editor));
    EXPECT_TRUE(dispatcher.validateItem(*trash, editor));
    ASSERT_TRUE(dispatcher.send(Command::removeLibraryDocument, trash, editor));
    ASSERT_TRUE(waitFor([&] { return QFile::exists(trashFolder() + "/Ideas.txt"); }));
    EXPECT_EQ(w.documentPath(), folder + "/Chapter One.md");
    // With the pane hidden there is no row to act on.
    w.window->setLibraryVisible(false);
    EXPECT_FALSE(dispatcher.validateItem(*trash, editor));
    EXPECT_FALSE(dispatcher.validateItem(*rename, editor));
}

// Each library keeps its own search; a search that finds nothing says so.
TEST_F(LibrarySidebar, EachLibraryKeepsItsOwnSearchAndANoMatchSaysSo)
{
    const QString notes = makeNotesFolder("searches");
    const QString poems = freshDirectory("poems");
    writeFile(poems + "/Tide poem.md", "The sea.");
    writeFile(poems + "/Winter.md", "Snow.");
    LibraryController::shared().addLibrary(notes, 0);
    LibraryController::shared().addLibrary(poems, 1);
    LibraryWindow w(shell(), QString());
    ASSERT_EQ(w.pane->library()->url(), notes);

    w.pane->searchField()->setFocus();
    QTest::keyClicks(w.pane->searchField(), "Chapter");
    EXPECT_EQ(modelLines(w.pane->model()), (QStringList{"Chapter One.md", "Chapter Two.md"}));

    // The field's clear button shows only over text.
    ASSERT_TRUE(waitFor([&] { return w.clearButtonInk() > 0; }));

    // The other library shows whole, with an empty field and no clear button.
    emit w.pane->librariesPopup()->activated(1);
    ASSERT_TRUE(waitForTree(*w.pane));
    EXPECT_EQ(w.pane->searchField()->text(), "");
    EXPECT_TRUE(waitFor([&] { return w.clearButtonInk() == 0; }));
    screenshot(w.window, "library-search-empty.png");
    EXPECT_EQ(modelLines(w.pane->model()), (QStringList{"Tide poem.md", "Winter.md"}));
    // Nothing found: the pane says so, with the text searched for.
    QTest::keyClicks(w.pane->searchField(), "zebra");
    EXPECT_EQ(w.pane->model().rowCount(), 0);
    const auto says = [&](const QString& text) {
        const QList<QLabel*> labels = w.pane->findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->isVisible() && l->text() == text; });
    };
    EXPECT_TRUE(says("Nothing in this library matches “zebra”."));
    screenshot(w.window, "library-search-nothing.png");
    // A document made meanwhile that matches comes in, and the message goes.
    writeFile(poems + "/Zebra crossing.md", "Stripes.");
    ASSERT_TRUE(waitFor([&] { return w.pane->model().rowCount() == 1; }));
    EXPECT_FALSE(says("Nothing in this library matches “zebra”."));
    EXPECT_TRUE(w.pane->fileView()->isVisible());

    // Back to the first: its own search comes back with it.
    emit w.pane->librariesPopup()->activated(0);
    ASSERT_TRUE(waitForTree(*w.pane));
    EXPECT_EQ(w.pane->searchField()->text(), "Chapter");
    EXPECT_EQ(modelLines(w.pane->model()), (QStringList{"Chapter One.md", "Chapter Two.md"}));
    emit w.pane->librariesPopup()->activated(1);
    ASSERT_TRUE(waitForTree(*w.pane));
    EXPECT_EQ(w.pane->searchField()->text(), "zebra");
    ASSERT_TRUE(waitFor([&] { return w.clearButtonInk() > 0; }));
    // A new document ends the search: the clear button goes with the text.
    w.pane->fileCommands().makeLibraryDocument();
    EXPECT_EQ(w.pane->searchField()->text(), "");
    EXPECT_TRUE(waitFor([&] { return w.clearButtonInk() == 0; }));
}

// Trashing the document that was the outline's only row: the window keeps
// showing it, and it follows its file into the Trash.
TEST_F(LibrarySidebar, TrashingTheOnlyRowKeepsItsDocumentShownFromTheTrash)
{
    folder = freshDirectory("only-row");
    writeFile(folder + "/Alone.md", "Alone.");
    LibraryController::shared().addLibrary(folder, 0);
    LibraryWindow w(shell(), folder + "/Alone.md");
    Document* document = w.document();
    w.type("Still ");
    w.select(folder + "/Alone.md");
    w.pane->fileCommands().removeSelectedFiles();
    ASSERT_TRUE(waitFor([&] { return QFile::exists(trashFolder() + "/Alone.md"); }));
    ASSERT_TRUE(waitFor([&] { return w.pane->model().rowCount() == 0; }));
    // The same document, in the same window, now the file in the Trash.
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == trashFolder() + "/Alone.md"; }))
        << w.documentPath().toStdString();
    // And it stays so once the document has heard what its watcher saw.
    ASSERT_TRUE(waitFor([] { return !FileChangeWatcher::shared().hasEventsOnTheirWay(); }));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(w.document(), document);
    EXPECT_FALSE(document->isClosed());
    EXPECT_EQ(w.documentPath(), trashFolder() + "/Alone.md");
    EXPECT_EQ(WindowController::all().size(), 1u);
    EXPECT_TRUE(readFile(trashFolder() + "/Alone.md").startsWith("Still "));
    // Later edits go there too; nothing is written at the old path.
    w.type("more ");
    ASSERT_TRUE(document->save().ok());
    EXPECT_EQ(readFile(trashFolder() + "/Alone.md"), "Still more Alone.");
    EXPECT_FALSE(QFile::exists(folder + "/Alone.md"));
}

// A name that is not UTF-8 has its row, reads with U+FFFD, and opens the
// real file.
TEST_F(LibrarySidebar, ANameThatIsNotUtf8HasItsRowAndOpensTheRealFile)
{
    folder = makeNotesFolder("bytes");
    const QString odd = NativePath::decode(QFile::encodeName(folder) + "/Lettre \xe9t\xe9.md");
    ASSERT_TRUE(writeFileSafely(odd, "Summer letter.").ok());
    LibraryController::shared().addLibrary(folder, 0);
    LibraryWindow w(shell(), folder + "/Chapter One.md");
    const QModelIndex row = w.row(odd);
    ASSERT_TRUE(row.isValid());
    EXPECT_EQ(w.pane->model().data(row).toString(), QString::fromUtf8("Lettre \xef\xbf\xbdt\xef\xbf\xbd.md"));
    w.click(odd);
    ASSERT_TRUE(waitFor([&] { return w.documentPath() == odd; }));
    EXPECT_EQ(textOf(w.document()), "Summer letter.");
    w.type("Dear ");
    ASSERT_TRUE(w.document()->save().ok());
    EXPECT_EQ(readFileSafely(odd).value(), "Dear Summer letter.");
}
