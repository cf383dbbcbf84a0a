// The tree follows what other programs do on disk: real folders, real
// inotify.
#include "library/FileController.h"

#include "LibraryTestSupport.h"
#include "platform/files/FileManager.h"
#include "platform/files/FileWriter.h"
#include "platform/files/FolderListing.h"
#include "platform/files/FolderWatcher.h"
#include "platform/files/MountWatcher.h"
#include "support/TmpfsMount.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

TEST(FileController, FollowsChangesAtAnyDepth)
{
    const QString folder = freshDirectory("library");
    writeFile(folder + "/Drafts/first.md", "1");
    writeFile(folder + "/top.txt", "t");
    LoadedLibrary loaded(folder);
    ASSERT_TRUE(loaded.matchesDisk());
    File* first = loaded.root()->fileAtPath(folder + "/Drafts/first.md");

    writeFile(folder + "/Drafts/second.md", "2");
    ASSERT_TRUE(QDir().mkpath(folder + "/New/Deeper/Deepest"));
    writeFile(folder + "/New/Deeper/Deepest/leaf.md", "leaf");
    ASSERT_TRUE(loaded.waitForDisk());

    // A rename keeps the node (and with it the row's state).
    ASSERT_TRUE(renamePath(folder + "/Drafts/first.md", folder + "/Drafts/renamed.md"));
    ASSERT_TRUE(renamePath(folder + "/Drafts", folder + "/Chapters"));
    ASSERT_TRUE(loaded.waitForDisk());
    EXPECT_EQ(loaded.root()->fileAtPath(folder + "/Chapters/renamed.md"), first);
    EXPECT_EQ(first->path(), folder + "/Chapters/renamed.md");

    // Moves between folders, and a folder moved inside another.
    ASSERT_TRUE(renamePath(folder + "/top.txt", folder + "/New/Deeper/top.txt"));
    ASSERT_TRUE(renamePath(folder + "/Chapters", folder + "/New/Chapters"));
    ASSERT_TRUE(loaded.waitForDisk());
    EXPECT_EQ(first->path(), folder + "/New/Chapters/renamed.md");
    writeFile(folder + "/New/Chapters/third.md", "3"); // the moved folder is still watched
    ASSERT_TRUE(loaded.waitForDisk());

    // Deletions, one file and a whole folder.
    ASSERT_TRUE(QFile::remove(folder + "/New/Chapters/third.md"));
    ASSERT_TRUE(QDir(folder + "/New/Deeper").removeRecursively());
    ASSERT_TRUE(loaded.waitForDisk());
    EXPECT_EQ(sorted(treeLines(*loaded.root())),
              sorted({"New/", "New/Chapters/", "New/Chapters/renamed.md", "New/Chapters/second.md"}));
    EXPECT_TRUE(loaded.view.mirrorMatches());
    EXPECT_EQ(loaded.view.errors, 0);
}

TEST(FileController, AMoveOverAnItemLeavesOneRow)
{
    const QString folder = freshDirectory("library");
    writeFile(folder + "/a.md", "a");
    writeFile(folder + "/b.md", "b");
    LoadedLibrary loaded(folder);
    File* a = loaded.root()->fileAtPath(folder + "/a.md");
    ASSERT_TRUE(renamePath(folder + "/a.md", folder + "/b.md")); // mv a.md b.md
    ASSERT_TRUE(waitUntil([&] { return loaded.root()->count() == 1; }));
    EXPECT_EQ(loaded.root()->child(0), a);
    EXPECT_EQ(a->name(), "b.md");
    EXPECT_TRUE(loaded.view.mirrorMatches());
}

TEST(FileController, ShowsOnlyDocumentsAndFolders)
{
    const QString folder = freshDirectory("library");
    writeFile(folder + "/note.md", "n");
    QDir(folder).mkdir(".hidden");
    LoadedLibrary loaded(folder);
    writeFile(folder + "/.secret.md", "s");
    writeFile(folder + "/picture.png", "p");
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "/pipe.md").constData(), 0600), 0);

    // Renamed to another type, into a hidden folder, and back.
    ASSERT_TRUE(renamePath(folder + "/note.md", folder + "/note.bak"));
    ASSERT_TRUE(waitUntil([&] { return loaded.root()->count() == 0; }));
    ASSERT_TRUE(renamePath(folder + "/note.bak", folder + "/note.md"));
    ASSERT_TRUE(waitUntil([&] { return loaded.root()->count() == 1; }));
    ASSERT_TRUE(renamePath(folder + "/note.md", folder + "/.hidden/note.md"));
    ASSERT_TRUE(waitUntil([&] { return loaded.root()->count() == 0; }));
    // An editor's save: a hidden temporary file renamed over the document.
    writeFile(folder + "/.note.md.tmp", "saved");
    ASSERT_TRUE(renamePath(folder + "/.note.md.tmp", folder + "/note.md"));
    ASSERT_TRUE(loaded.waitForDisk());
    EXPECT_EQ(treeLines(*loaded.root()), QStringList{"note.md"});
    EXPECT_TRUE(loaded.view.mirrorMatches());
}

TEST(FileController, ChangesReorderByDate)
{
    const QString folder = freshDirectory("library");
    writeFile(folder + "/a.md", "a");
    writeFile(folder + "/b.md", "b");
    LoadedLibrary loaded(folder);
    loaded.controller()->setSortKey(Library::SortKey::dateModified);
    const auto touch = [&](const QString& name, qint64 seconds) {
        const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(folder + "/" + name).constData(), times, 0);
    };
    touch("a.md", 2000000000);
    ASSERT_TRUE(waitUntil([&] { return loaded.root()->child(0)->name() == "a.md"; }));
    touch("b.md", 2000000100);
    ASSERT_TRUE(waitUntil([&] { return loaded.root()->child(0)->name() == "b.md"; }));
    EXPECT_TRUE(loaded.view.calls.contains("move / 1 / 0"));
    EXPECT_TRUE(loaded.view.mirrorMatches());
    EXPECT_EQ(loaded.view.errors, 0);
}

TEST(FileController, AStormWithLostEventsEndsEqualToTheDisk)
{
    // In memory where there is a file system for it: the disk's speed is not
    // what this measures.
    QTemporaryDir memory(QStringLiteral("/dev/shm/lumora-storm-XXXXXX"));
    const QString folder = memory.isValid() ? memory.path() : freshDirectory("storm");
    QDir(folder).mkpath("Inbox");
    QDir(folder).mkpath("Archive/Old");
    for (int i = 0; i < 50; ++i) writeFile(folder + QString("/Archive/Old/keep %1.md").arg(i), "k");
    LoadedLibrary loaded(folder);
    File* kept = loaded.root()->fileAtPath(folder + "/Archive/Old/keep 7.md");
    QSignalSpy reconciles(&loaded.controller()->watcher(), &FolderWatcher::needsReconcile);

    // 5,000 creates (each closed and touched) and renames without the event
    // loop turning: more events than the kernel queues (16,384).
    for (int i = 0; i < 5000; ++i) {
        const QString name = folder + QString("/Inbox/note %1.md").arg(i);
        const int fd = ::open(QFile::encodeName(name).constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::futimens(fd, nullptr);
        ::close(fd);
        if (i % 2) {
            ASSERT_TRUE(renamePath(name, folder + QString("/Archive/moved %1.txt").arg(i)));
        }
    }
    ASSERT_TRUE(renamePath(folder + "/Archive/Old/keep 8.md", folder + "/Inbox/keep 8.md"));
    ASSERT_TRUE(QFile::remove(folder + "/Inbox/note 0.md"));
    // Counting first: comparing with the disk costs a listing.
    const auto count = [&](const char* name) {
        auto* node = static_cast<Directory*>(loaded.root()->fileAtPath(folder + name));
        return node ? node->count() : -1;
    };
    ASSERT_TRUE(waitUntil([&] { return count("/Inbox") == 2500 && count("/Archive") == 2501; }, test::patience));
    EXPECT_TRUE(loaded.matchesDisk());
    EXPECT_GE(reconciles.count(), 1);
    EXPECT_EQ(loaded.root()->fileAtPath(folder + "/Archive/Old/keep 7.md"), kept); // nodes that still exist stay
    EXPECT_TRUE(loaded.view.mirrorMatches());
    EXPECT_EQ(loaded.view.errors, 0);

    // Still watching afterwards, the moved folder too.
    writeFile(folder + "/Archive/Old/after.md", "a");
    ASSERT_TRUE(loaded.waitForDisk());
}

TEST(FileController, ASearchViewFollowsToo)
{
    const QString folder = freshDirectory("library");
    writeFile(folder + "/Recipes/Soup.md", "s");
    writeFile(folder + "/Other/plain.md", "p");
    LoadedLibrary loaded(folder);
    RecordingObserver search;
    search.search(*loaded.controller(), "soup");
    loaded.controller()->addObserver(&search);
    const auto shown = [&] { return treeLines(*search.shownRoot); };
    ASSERT_EQ(shown(), (QStringList{"Recipes/", "Recipes/Soup.md"}));

    writeFile(folder + "/Recipes/Bread.md", "b");
    writeFile(folder + "/Recipes/Soup 2.md", "s");
    ASSERT_TRUE(waitUntil([&] { return shown().contains("Recipes/Soup 2.md"); }));
    EXPECT_FALSE(shown().contains("Recipes/Bread.md"));

    // A match in a folder the search did not show brings its folder along.
    writeFile(folder + "/Other/soup stock.md", "s");
    ASSERT_TRUE(waitUntil([&] { return shown().contains("Other/soup stock.md"); }));
    EXPECT_TRUE(shown().contains("Other/"));

    // Renamed out of the search, and back in.
    ASSERT_TRUE(renamePath(folder + "/Recipes/Soup.md", folder + "/Recipes/Stew.md"));
    ASSERT_TRUE(waitUntil([&] { return !shown().contains("Recipes/Soup.md"); }));
    ASSERT_TRUE(renamePath(folder + "/Recipes/Bread.md", folder + "/Recipes/Soup bread.md"));
    ASSERT_TRUE(waitUntil([&] { return shown().contains("Recipes/Soup bread.md"); }));
    EXPECT_EQ(shown(), (QStringList{"Other/", "Other/soup stock.md", "Recipes/", "Recipes/Soup 2.md",
                                     "Recipes/Soup bread.md"}));
    EXPECT_TRUE(search.mirrorMatches());
    EXPECT_EQ(search.errors, 0);
    EXPECT_TRUE(loaded.view.mirrorMatches());

    // A new sort order re-sorts the copy as well.
    loaded.controller()->setSortKey(Library::SortKey::dateAdded);
    EXPECT_TRUE(search.calls.contains("sort"));
    loaded.controller()->removeObserver(&search);
}

TEST(FileController, TheLibraryFollowsItsFolder)
{
    LibraryController list(UserDefaults::standard());
    const QString parent = freshDirectory("parent");
    QDir(parent).mkpath("Notes");
    writeFile(parent + "/Notes/a.md", "a");
    auto library = list.addLibrary(parent + "/Notes", 0);
    ASSERT_TRUE(library->isLinked());
    ASSERT_TRUE(library->loadFileTree().ok());

    ASSERT_TRUE(renamePath(parent + "/Notes", parent + "/Journal"));
    ASSERT_TRUE(waitUntil([&] { return library->url() == parent + "/Journal"; }));
    EXPECT_EQ(library->fileController()->rootFile()->path(), parent + "/Journal");
    EXPECT_EQ(library->displayName.name, "Journal");
    // The stored bookmark was renewed: the next start finds the folder as it is.
    LibraryController nextStart(UserDefaults::standard());
    ASSERT_TRUE(nextStart.load().ok());
    ASSERT_EQ(nextStart.libraries().size(), 1u);
    EXPECT_EQ(nextStart.libraries()[0]->url(), parent + "/Journal");
    EXPECT_FALSE(nextStart.libraries()[0]->bookmarkWasRenewed());

    // Moved to the Trash: the library goes; the stored list is not rewritten.
    const QVariant stored = UserDefaults::standard().object("libraries");
    ASSERT_TRUE(FileManager::moveItemToTrash(parent + "/Journal").ok());
    ASSERT_TRUE(waitUntil([&] { return list.libraries().empty(); }));
    EXPECT_FALSE(library->fileController());
    EXPECT_EQ(UserDefaults::standard().object("libraries"), stored);
    UserDefaults::standard().remove("libraries");
}

TEST(FileController, ALibraryWhoseFolderIsDeletedLeavesTheList)
{
    LibraryController list(UserDefaults::standard());
    const QString folder = freshDirectory("gone");
    writeFile(folder + "/Sub/a.md", "a");
    auto library = list.openLibrary(folder);
    auto other = list.openLibrary(freshDirectory("stays"));
    ASSERT_TRUE(library->loadFileTree().ok());
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(waitUntil([&] { return list.libraries().size() == 1; }));
    EXPECT_EQ(list.libraries()[0], other);
    EXPECT_FALSE(library->fileController());
}

TEST(FileController, ALibraryWhoseDiskGoesAwayShowsItsFolderUnavailable)
{
    const QString folder = freshDirectory("disk") + "/Stick";
    TmpfsMount disk(folder, "size=1m");
    if (!disk.ok()) GTEST_SKIP() << disk.why();
    writeFile(folder + "/Chapter.md", "on the stick");
    struct AvailabilityObserver : LibrariesObserver {
        QStringList calls;
        void libraryInserted(int) override {}
        void libraryMoved(int, int) override {}
        void libraryRemoved(int index) override { calls << QString("removed %1").arg(index); }
        void libraryTitleChanged(int) override {}
        void libraryAvailabilityChanged(int index) override { calls << QString("availability %1").arg(index); }
    } observer;
    LibraryController list(UserDefaults::standard());
    list.addObserver(&observer);
    auto library = list.openLibrary(folder);
    ASSERT_TRUE(library->loadFileTree().ok());
    ASSERT_EQ(library->fileController()->rootFile()->count(), 1);

    // Taken away while Lumora holds it (a forced eject): the path now leads
    // to the bare mount point.
    ASSERT_TRUE(disk.unmount());
    ASSERT_TRUE(waitUntil([&] { return !library->fileController(); }));
    EXPECT_TRUE(library->isUnavailable());
    EXPECT_EQ(observer.calls, QStringList{"availability 0"});
    // It stays in the list, under its folder's path, and is not shown as
    // the empty folder that stands there now.
    ASSERT_EQ(list.libraries().size(), 1u);
    EXPECT_EQ(library->url(), folder);
    const auto again = library->loadFileTree();
    ASSERT_FALSE(again.ok());
    EXPECT_TRUE(again.error().errorDescription.contains("Stick")) << again.error().message().toStdString();
    EXPECT_FALSE(library->fileController());

    // A folder the library never showed is not taken for it either.
    writeFile(folder + "/Stray.md", "on the disk below");
    EXPECT_FALSE(library->loadFileTree().ok());

    // The disk comes back: so does the library.
    TmpfsMount back(folder, "size=1m");
    ASSERT_TRUE(back.ok()) << back.why();
    writeFile(folder + "/Back.md", "back");
    ASSERT_TRUE(waitUntil([&] { return !library->isUnavailable(); }));
    EXPECT_EQ(observer.calls, (QStringList{"availability 0", "availability 0"}));
    ASSERT_TRUE(library->loadFileTree().ok());
    EXPECT_EQ(treeLines(*library->fileController()->rootFile()), QStringList{"Back.md"});
    library->releaseFileController();
    list.removeObserver(&observer);
}

// The desktop's Eject is an ordinary unmount, refused while anything holds
// the disk: a library shown from it must not. Ejected, it shows as
// unavailable and stays in the list, its files untouched.
TEST(FileController, ALibraryShownFromADiskLetsItBeEjected)
{
    const QString stick = freshDirectory("eject") + "/Stick";
    TmpfsMount disk(stick, "size=1m");
    if (!disk.ok()) GTEST_SKIP() << disk.why();
    const QString folder = stick + "/Notes";
    writeFile(folder + "/Chapter.md", "on the stick");
    writeFile(folder + "/Drafts/First.md", "first");
    LibraryController list(UserDefaults::standard());
    auto library = list.openLibrary(folder);
    ASSERT_TRUE(library->loadFileTree().ok());
    ASSERT_EQ(treeLines(*library->fileController()->rootFile()), (QStringList{"Chapter.md", "Drafts/", "Drafts/First.md"}));

    const int ejected = disk.eject();
    ASSERT_EQ(ejected, 0) << "the disk is held: " << std::strerror(ejected);
    ASSERT_TRUE(waitUntil([&] { return library->isUnavailable(); }));
    EXPECT_FALSE(library->fileController());
    ASSERT_EQ(list.libraries().size(), 1u);
    EXPECT_EQ(library->url(), folder);
}

TEST(FileController, ARescanFindsAFolderWhosePathLeadsElsewhere)
{
    const QString folder = freshDirectory("disk") + "/Card";
    TmpfsMount disk(folder, "size=1m");
    if (!disk.ok()) GTEST_SKIP() << disk.why();
    writeFile(folder + "/a.md", "a");
    LibraryController list(UserDefaults::standard());
    auto library = list.openLibrary(folder);
    ASSERT_TRUE(library->loadFileTree().ok());
    FileController* controller = library->fileController();
    // The mount table's word is not waited for: a rescan checks by itself.
    QObject::disconnect(&MountWatcher::shared(), nullptr, &controller->watcher(), nullptr);
    ASSERT_TRUE(disk.unmount());
    controller->reconcile();
    ASSERT_TRUE(waitUntil([&] { return !library->fileController(); }));
    EXPECT_TRUE(library->isUnavailable());
}

TEST(FileController, TheDateAddedIsWhenADocumentCameIntoItsFolder)
{
    const QString folder = freshDirectory("added");
    const QString outside = freshDirectory("added-outside");
    writeFile(folder + "/probe.md", "x");
    if (!FolderListing::recordDateAdded(folder + "/probe.md", 0).ok())
        GTEST_SKIP() << "this file system keeps no user attributes";
    QFile::remove(folder + "/probe.md");
    writeFile(folder + "/Box/kept.md", "box");
    LoadedLibrary loaded(folder);
    FileController& c = *loaded.controller();
    c.setSortKey(Library::SortKey::dateAdded);
    const auto addedOnDisk = [](const QString& path) {
        const auto entry = FolderListing::examine(path);
        return entry && entry->addedRecorded ? entry->added : std::nullopt;
    };
    const auto addedInTree = [&](const QString& path) {
        File* node = loaded.root()->fileAtPath(path);
        return node ? node->metadata().added : std::nullopt;
    };

    // Made by Lumora: recorded at once.
    bool made = false;
    c.operations().createDocument(folder + "/Letter.md", std::nullopt, [&](const auto&, File*) { made = true; });
    ASSERT_TRUE(waitUntil([&] { return made && addedOnDisk(folder + "/Letter.md"); }));
    const qint64 added = *addedOnDisk(folder + "/Letter.md");
    EXPECT_EQ(addedInTree(folder + "/Letter.md"), added);

    // Saved by replacing the file (a new inode, a new birth), and in place
    // (a file with a second link): the date stays.
    QTest::qWait(20);
    ASSERT_TRUE(writeFileSafely(folder + "/Letter.md", "Dear reader,\n").ok());
    ASSERT_TRUE(waitUntil([&] { return loaded.root()->fileAtPath(folder + "/Letter.md")->metadata().modified > added; }));
    EXPECT_EQ(addedOnDisk(folder + "/Letter.md"), added);
    EXPECT_EQ(addedInTree(folder + "/Letter.md"), added);
    ASSERT_EQ(::link(QFile::encodeName(folder + "/Letter.md").constData(),
                     QFile::encodeName(outside + "/second link.md").constData()),
              0);
    ASSERT_TRUE(writeFileSafely(folder + "/Letter.md", "Dear reader, again\n").ok());
    QTest::qWait(50);
    EXPECT_EQ(addedOnDisk(folder + "/Letter.md"), added);
    EXPECT_EQ(addedInTree(folder + "/Letter.md"), added);

    // Renamed in its folder: the same date.
    bool renamed = false;
    c.operations().moveFile(folder + "/Letter.md", folder + "/Letter to Ann.md",
                            [&](const auto&, File*) { renamed = true; });
    ASSERT_TRUE(waitUntil([&] { return renamed; }));
    EXPECT_EQ(addedInTree(folder + "/Letter to Ann.md"), added);
    EXPECT_EQ(addedOnDisk(folder + "/Letter to Ann.md"), added);

    // Another program's save writes a new file over it, without the record:
    // the date is put back.
    writeFile(folder + "/.Letter to Ann.md.swp", "Dear Ann,\n");
    ASSERT_TRUE(renamePath(folder + "/.Letter to Ann.md.swp", folder + "/Letter to Ann.md"));
    ASSERT_TRUE(waitUntil([&] { return addedOnDisk(folder + "/Letter to Ann.md") == added; }));
    EXPECT_EQ(addedInTree(folder + "/Letter to Ann.md"), added);

    // Moved in from outside, long after it was made: it came in now, and it
    // stands first in the order of dates added.
    writeFile(outside + "/Old draft.md", "old");
    QTest::qWait(30);
    const qint64 beforeMove = QDateTime::currentMSecsSinceEpoch();
    ASSERT_TRUE(renamePath(outside + "/Old draft.md", folder + "/Old draft.md"));
    ASSERT_TRUE(waitUntil([&] { return addedOnDisk(folder + "/Old draft.md").has_value(); }));
    EXPECT_GE(*addedOnDisk(folder + "/Old draft.md"), beforeMove);
    EXPECT_GE(*addedInTree(folder + "/Old draft.md"), beforeMove);
    EXPECT_EQ(loaded.root()->child(0)->name(), "Old draft.md");

    // Moved into another folder of the library: it came into that folder now.
    const qint64 beforeBox = QDateTime::currentMSecsSinceEpoch();
    ASSERT_TRUE(renamePath(folder + "/Letter to Ann.md", folder + "/Box/Letter to Ann.md"));
    ASSERT_TRUE(waitUntil([&] {
        const auto date = addedOnDisk(folder + "/Box/Letter to Ann.md");
        return date && *date >= beforeBox;
    }));
    EXPECT_GE(*addedInTree(folder + "/Box/Letter to Ann.md"), beforeBox);
    EXPECT_TRUE(loaded.view.mirrorMatches());
}

// Another program makes a folder in the library and at once files in it,
// before the library has heard of the folder (so they are found by listing
// it, and maybe heard of too): each of them came into its folder now and is
// recorded as such, and so is what comes later.
TEST(FileController, WhatAnotherProgramMakesInANewFolderGetsItsDateAdded)
{
    const QString folder = freshDirectory("added-new-folder");
    writeFile(folder + "/probe.md", "x");
    if (!FolderListing::recordDateAdded(folder + "/probe.md", 0).ok())
        GTEST_SKIP() << "this file system keeps no user attributes";
    QFile::remove(folder + "/probe.md");
    LoadedLibrary loaded(folder);
    const auto recorded = [](const QString& path) {
        const auto entry = FolderListing::examine(path);
        return entry && entry->addedRecorded ? entry->added : std::nullopt;
    };
    const auto allRecorded = [&](const QStringList& paths) {
        for (const QString& path : paths) {
            const File* node = loaded.root()->fileAtPath(path);
            if (!node || !recorded(path) || node->metadata().added != recorded(path)) return false;
        }
        return true;
    };

    // The file system's clock is a tick behind the program's at most.
    const qint64 before = QDateTime::currentMSecsSinceEpoch() - 1000;
    ASSERT_TRUE(QDir().mkpath(folder + "/New/Inner"));
    writeFile(folder + "/New/first.md", "1");
    writeFile(folder + "/New/Inner/second.md", "2");
    const QStringList made{folder + "/New", folder + "/New/Inner", folder + "/New/first.md",
                           folder + "/New/Inner/second.md"};
    ASSERT_TRUE(waitUntil([&] { return allRecorded(made); }, test::patience));
    writeFile(folder + "/New/Inner/third.md", "3");
    ASSERT_TRUE(waitUntil([&] { return allRecorded({folder + "/New/Inner/third.md"}); }, test::patience));
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    for (const QString& path : made + QStringList{folder + "/New/Inner/third.md"}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_GE(*recorded(path), before);
        EXPECT_LE(*recorded(path), after);
    }
    EXPECT_TRUE(loaded.view.mirrorMatches());
}

TEST(FileController, AChangeHeardAfterItsFolderMovedKeepsTheRow)
{
    const QString folder = freshDirectory("late-change");
    writeFile(folder + "/Drafts/note.md", "n");
    LoadedLibrary loaded(folder);
    File* note = loaded.root()->fileAtPath(folder + "/Drafts/note.md");
    ASSERT_TRUE(note);
    // The folder is renamed before a change of the note (its attributes
    // written a moment earlier, say) is heard: the note is not at the path
    // the change names, yet it was not deleted.
    ASSERT_TRUE(renamePath(folder + "/Drafts", folder + "/Chapters"));
    loaded.controller()->fileChanged(folder + "/Drafts/note.md");
    ASSERT_TRUE(loaded.waitForDisk());
    QTest::qWait(400);
    EXPECT_TRUE(loaded.matchesDisk());
    EXPECT_EQ(loaded.root()->fileAtPath(folder + "/Chapters/note.md"), note);
    EXPECT_TRUE(loaded.view.mirrorMatches());

    // A change of an item that really went (its deletion not heard) still
    // takes its row away.
    writeFile(folder + "/Chapters/gone.md", "g");
    ASSERT_TRUE(loaded.waitForDisk());
    loaded.controller()->watcher().setPaused(true);
    ASSERT_TRUE(QFile::remove(folder + "/Chapters/gone.md"));
    loaded.controller()->fileChanged(folder + "/Chapters/gone.md");
    ASSERT_TRUE(waitUntil([&] { return !loaded.root()->fileAtPath(folder + "/Chapters/gone.md"); }));
    loaded.controller()->watcher().setPaused(false);
    EXPECT_TRUE(loaded.view.mirrorMatches());
}
