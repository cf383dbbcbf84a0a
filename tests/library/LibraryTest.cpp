// Library records and the library list, stored in the preferences.
#include "library/Library.h"
#include "library/LibraryController.h"

#include "LibraryTestSupport.h"
#include "platform/files/Bookmark.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cstdio>
#include <optional>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

struct ListObserver : LibrariesObserver {
    QStringList calls;
    void libraryInserted(int index) override { calls << QString("inserted %1").arg(index); }
    void libraryMoved(int from, int to) override { calls << QString("moved %1 %2").arg(from).arg(to); }
    void libraryRemoved(int index) override { calls << QString("removed %1").arg(index); }
    void libraryTitleChanged(int index) override { calls << QString("title %1").arg(index); }
};

QVariantMap record(const QString& folder, const QVariant& sortKey = {})
{
    QVariantMap map{{"bookmarkData", Bookmark::create(folder)->data()}};
    if (sortKey.isValid()) map.insert("sortKey", sortKey);
    return map;
}

QString title(const Library& library)
{
    return library.displayName.text();
}

} // namespace

TEST(Library, RecordsRoundTripAndRefuseWhatTheyCannotRead)
{
    const QString folder = freshDirectory("record");
    auto library = Library::make(folder);
    EXPECT_FALSE(library->isLinked());
    library->makeBookmark();
    ASSERT_TRUE(library->isLinked());
    library->sortKey = Library::SortKey::dateModified;
    library->expanded.insert(folder + "/Sub", false);
    library->documentState.insert(folder + "/a.md", QByteArray("\x01\x02", 2));

    const auto again = Library::decode(library->encode());
    ASSERT_TRUE(again.ok());
    EXPECT_EQ((*again)->bookmarkData(), library->bookmarkData());
    EXPECT_EQ((*again)->url(), folder);
    EXPECT_EQ((*again)->sortKey, Library::SortKey::dateModified);
    EXPECT_EQ((*again)->expanded, library->expanded);
    EXPECT_EQ((*again)->documentState, library->documentState);

    const auto plain = Library::decode(record(folder));
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ((*plain)->sortKey, Library::SortKey::name);
    EXPECT_TRUE((*plain)->expanded.isEmpty());

    QVariantMap odd = record(folder);
    odd.insert("expanded", "not a map");
    odd.insert("documentState", QVariantMap{{"x", 3}});
    EXPECT_TRUE(Library::decode(odd).ok());
    EXPECT_FALSE(Library::decode(record(folder, "size")).ok());
    EXPECT_FALSE(Library::decode(record(folder, 3)).ok());
    EXPECT_FALSE(Library::decode(QVariantMap{{"sortKey", "name"}}).ok());
    EXPECT_FALSE(Library::decode(QStringLiteral("just text")).ok());

    // A folder that is gone leaves the library unavailable, not undecodable.
    QDir(folder).removeRecursively();
    const auto unavailable = Library::decode(library->encode());
    ASSERT_TRUE(unavailable.ok());
    EXPECT_TRUE((*unavailable)->url().isEmpty());
}

TEST(Library, LoadingTheTreeRestoresSavedStates)
{
    LibraryController list(UserDefaults::standard());
    const QString folder = freshDirectory("record");
    writeFile(folder + "/Open/a.md", "a");
    writeFile(folder + "/Closed/b.md", "b");
    auto library = list.addLibrary(folder, 0);
    library->expanded.insert(folder + "/Closed", false);
    library->documentState.insert(folder + "/Open/a.md", "state");
    library->documentState.insert(folder + "/gone.md", "old");

    ASSERT_TRUE(library->loadFileTree().ok());
    FileController* controller = library->fileController();
    ASSERT_TRUE(library->loadFileTree().ok());
    EXPECT_EQ(library->fileController(), controller); // one controller
    Directory* root = controller->rootFile();
    EXPECT_TRUE(static_cast<Directory*>(root->fileAtPath(folder + "/Open"))->expanded);
    EXPECT_FALSE(static_cast<Directory*>(root->fileAtPath(folder + "/Closed"))->expanded);
    EXPECT_EQ(static_cast<RegularFile*>(root->fileAtPath(folder + "/Open/a.md"))->stateData, "state");

    // Saving rebuilds the maps from the tree: paths no longer there go.
    library->saveDocumentStates();
    EXPECT_EQ(library->documentState.keys(), QStringList{folder + "/Open/a.md"});
    library->saveExpandedState();
    EXPECT_EQ(library->expanded.size(), 3);
    const QVariantList stored = UserDefaults::standard().object("libraries").toList();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].toMap()["expanded"].toMap()[folder + "/Closed"], false);

    library->releaseFileController();
    library->saveExpandedState(); // without a tree: emptied
    EXPECT_TRUE(library->expanded.isEmpty());
    UserDefaults::standard().remove("libraries");
}

TEST(Library, AFolderRenamedWhileClosedIsFoundAgain)
{
    UserDefaults defaults(freshDirectory("defaults") + "/defaults.json");
    const QString parent = freshDirectory("record");
    QDir(parent).mkdir("Notes");
    defaults.set("libraries", QVariantList{record(parent + "/Notes", "dateAdded")});
    ASSERT_TRUE(renamePath(parent + "/Notes", parent + "/Notes 2024"));

    LibraryController list(defaults);
    ASSERT_TRUE(list.load().ok());
    ASSERT_EQ(list.libraries().size(), 1u);
    EXPECT_EQ(list.libraries()[0]->url(), parent + "/Notes 2024");
    // The renewed bookmark was saved: it resolves without searching.
    const auto stored = Bookmark::fromData(defaults.object("libraries").toList()[0].toMap()["bookmarkData"].toByteArray());
    EXPECT_EQ(stored->path(), parent + "/Notes 2024");
    EXPECT_FALSE(stored->resolve()->isStale);
    EXPECT_EQ(defaults.object("libraries").toList()[0].toMap()["sortKey"], "dateAdded");
}

TEST(LibraryController, ARecordThatCannotBeReadIsKeptAsItWas)
{
    UserDefaults defaults(freshDirectory("defaults") + "/defaults.json");
    const QString a = freshDirectory("a");
    const QString b = freshDirectory("b");
    const QVariantMap broken{{"bookmarkData", QByteArray("x")}, {"sortKey", "by colour"}, {"extra", 7}};
    defaults.set("libraries", QVariantList{record(a), broken, record(b)});

    LibraryController list(defaults);
    const auto loaded = list.load();
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().errorDescription, "One library of your list couldn't be read.");
    EXPECT_TRUE(loaded.error().recoverySuggestion.contains("by colour"));
    ASSERT_EQ(list.libraries().size(), 2u);
    EXPECT_EQ(list.libraries()[1]->url(), b);

    // Saving writes the record back exactly as it was.
    list.toggleLinked(*list.libraries()[0]); // unlinks a: it leaves the list
    const QVariantList stored = defaults.object("libraries").toList();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored[1], QVariant(broken));
    defaults.reload();
    EXPECT_EQ(defaults.object("libraries").toList()[1], QVariant(broken));

    // Something that is not a list at all is kept too.
    defaults.set("libraries", "garbled");
    LibraryController other(defaults);
    EXPECT_FALSE(other.load().ok());
    other.save();
    EXPECT_EQ(defaults.object("libraries"), QVariant(QVariantList{"garbled"}));
}

TEST(LibraryController, KeepsLinkedLibrariesFirstAndTellsItsObservers)
{
    UserDefaults defaults(freshDirectory("defaults") + "/defaults.json");
    LibraryController list(defaults);
    ListObserver observer;
    list.addObserver(&observer);
    const QString one = freshDirectory("one");
    const QString two = freshDirectory("two");
    const QString three = freshDirectory("three");

    auto first = list.openLibrary(one);
    auto linked = list.addLibrary(two, 0);
    auto second = list.openLibrary(three);
    EXPECT_EQ(list.libraries(), (std::vector<std::shared_ptr<Library>>{linked, second, first}));
    EXPECT_EQ(defaults.object("libraries").toList().size(), 1);

    // An unlinked library dropped on the sidebar moves to the top, linked.
    observer.calls.clear();
    EXPECT_EQ(list.addLibrary(one, 0), first);
    EXPECT_TRUE(first->isLinked());
    EXPECT_EQ(list.libraries()[0], first);
    EXPECT_TRUE(observer.calls.contains("moved 2 0"));
    EXPECT_EQ(defaults.object("libraries").toList().size(), 2);

    // Linking moves to the top; unlinking leaves the list.
    observer.calls.clear();
    list.toggleLinked(*second);
    EXPECT_EQ(observer.calls.first(), "moved 2 0");
    list.toggleLinked(*linked);
    EXPECT_TRUE(observer.calls.contains("removed 2"));
    EXPECT_EQ(list.libraries().size(), 2u);
    EXPECT_EQ(defaults.object("libraries").toList().size(), 2);

    // A folder deleted: the library goes, the stored list stays as it was.
    const QVariant stored = defaults.object("libraries");
    list.removeLibrary(*first);
    EXPECT_EQ(list.libraries(), (std::vector<std::shared_ptr<Library>>{second}));
    EXPECT_EQ(defaults.object("libraries"), stored);
    list.removeObserver(&observer);
}

TEST(LibraryController, TitlesTellFoldersOfOneNameApart)
{
    UserDefaults defaults(freshDirectory("defaults") + "/defaults.json");
    LibraryController list(defaults);
    const QString root = freshDirectory("titles");
    for (const char* path : {"Work/Notes", "Home/Notes", "Journal"}) QDir(root).mkpath(path);
    auto work = list.openLibrary(root + "/Work/Notes");
    auto home = list.openLibrary(root + "/Home/Notes");
    auto journal = list.openLibrary(root + "/Journal");
    EXPECT_EQ(title(*work), "Notes – Work");
    EXPECT_EQ(title(*home), "Notes – Home");
    EXPECT_EQ(title(*journal), "Journal");
    list.removeLibrary(*home);
    EXPECT_EQ(title(*work), "Notes");
}

TEST(LibraryController, FindsTheLibraryOfADocument)
{
    UserDefaults defaults(freshDirectory("defaults") + "/defaults.json");
    LibraryController list(defaults);
    const QString root = freshDirectory("which");
    for (const char* path : {"Doc", "Documents", "Chosen"}) QDir(root).mkpath(path);
    auto doc = list.openLibrary(root + "/Doc");
    auto documents = list.openLibrary(root + "/Documents");
    auto chosen = list.openLibrary(root + "/Chosen");
    EXPECT_EQ(list.libraryForDocument(root + "/Documents/x.md"), documents); // not "Doc"
    EXPECT_EQ(list.libraryForDocument(root + "/Doc/sub/x.md"), doc);
    // Each unlinked library goes before the earlier ones: the last opened is first.
    EXPECT_EQ(list.libraryForDocument("/elsewhere/x.md"), chosen);
    defaults.set("selectedLibrary", Bookmark::create(root + "/Doc")->data());
    EXPECT_EQ(list.libraryForDocument("/elsewhere/x.md"), doc);
    EXPECT_EQ(list.libraryForDocument(QString()), doc);
}

TEST(LibraryController, TheLastViewToLeaveStopsTheWatching)
{
    LibraryController list(UserDefaults::standard());
    const QString folder = freshDirectory("views");
    auto library = list.openLibrary(folder);
    ASSERT_TRUE(library->loadFileTree().ok());
    FileController* controller = library->fileController();
    RecordingObserver a;
    RecordingObserver b;
    controller->addObserver(&a);
    controller->addObserver(&b);
    list.removeObserver(&a, *controller);
    EXPECT_EQ(library->fileController(), controller);
    list.removeObserver(&b, *controller);
    EXPECT_FALSE(library->fileController());
    // Shown again: a fresh scan.
    writeFile(folder + "/new.md", "n");
    ASSERT_TRUE(library->loadFileTree().ok());
    EXPECT_EQ(treeLines(*library->fileController()->rootFile()), QStringList{"new.md"});
}

namespace {

// A folder of many folders, each with a document.
QString makeManyFolders(const QString& name, int count)
{
    const QString folder = freshDirectory(name);
    for (int i = 0; i < count; ++i) writeFile(folder + QString("/Part %1/Notes %1.md").arg(i), "n");
    return folder;
}

} // namespace

TEST(Library, ATreeIsReadOffTheMainThreadAndFollowsWhatChangesMeanwhile)
{
    const QString folder = makeManyFolders("background", 40);
    auto library = Library::make(folder);
    std::optional<PlatformStatus> result;
    RecordingObserver view;
    quint64 ticket = 0;
    {
        ScanGate gate;
        ticket = library->loadFileTreeInBackground([&](const PlatformStatus& status) {
            result = status;
            // A view takes the tree as it comes.
            if (FileController* controller = library->fileController()) {
                controller->addObserver(&view);
                view.show(controller->rootFile());
            }
        });
        EXPECT_NE(ticket, 0u);
        EXPECT_TRUE(library->isLoadingFileTree());
        EXPECT_FALSE(library->fileController());
        // The reading goes on while the main thread answers, and tells how far it got.
        gate.pass(10);
        ASSERT_TRUE(waitUntil([&] { return library->loadedFolderCount() == 10; }));
        EXPECT_FALSE(result);
        // Meanwhile another program adds a document and removes a folder.
        writeFile(folder + "/Added meanwhile.md", "new");
        ASSERT_TRUE(QDir(folder + "/Part 39").removeRecursively());
        writeFile(folder + "/Part 2/Later.md", "later");
    }
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    ASSERT_TRUE(result->ok());
    ASSERT_TRUE(library->fileController());
    EXPECT_FALSE(library->isLoadingFileTree());
    Directory* root = library->fileController()->rootFile();
    ASSERT_TRUE(root);
    // Every node belongs to the library's controller, in its order.
    root->forEach([&](File& node) { EXPECT_EQ(node.controller(), library->fileController()); });
    EXPECT_TRUE(waitUntil([&] { return sorted(treeLines(*root)) == sorted(diskLines(folder)); }));
    EXPECT_TRUE(view.mirrorMatches());
    EXPECT_EQ(view.errors, 0);
    library->fileController()->removeObserver(&view);
    library->releaseFileController();

    // A tree nobody took (its views went meanwhile) is let go of.
    bool loaded = false;
    library->loadFileTreeInBackground([&](const PlatformStatus&) { loaded = true; });
    ASSERT_TRUE(waitUntil([&] { return loaded; }));
    EXPECT_FALSE(library->fileController());
}

TEST(Library, ALoadNobodyWaitsForStopsAndAWindowClosingMeanwhileIsSafe)
{
    const QString folder = makeManyFolders("background-stop", 30);
    auto library = Library::make(folder);
    bool called = false;
    {
        ScanGate gate;
        const quint64 first = library->loadFileTreeInBackground([&](const PlatformStatus&) { called = true; });
        gate.pass(5);
        ASSERT_TRUE(waitUntil([&] { return library->loadedFolderCount() == 5; }));
        library->stopWaitingForFileTree(first);
        EXPECT_FALSE(library->isLoadingFileTree());
    }
    QTest::qWait(50);
    EXPECT_FALSE(called);
    EXPECT_FALSE(library->fileController());

    // Two views wait for one load; one goes, the other gets the tree.
    bool second = false;
    bool third = false;
    {
        ScanGate gate;
        const quint64 a = library->loadFileTreeInBackground([&](const PlatformStatus&) { second = true; });
        library->loadFileTreeInBackground([&](const PlatformStatus& status) { third = status.ok(); });
        library->stopWaitingForFileTree(a);
        EXPECT_TRUE(library->isLoadingFileTree());
    }
    ASSERT_TRUE(waitUntil([&] { return third; }));
    EXPECT_FALSE(second);

    // A folder that cannot be read fails at once, without a ticket.
    auto missing = Library::make(folder + "/Nowhere");
    std::optional<PlatformStatus> failed;
    EXPECT_EQ(missing->loadFileTreeInBackground([&](const PlatformStatus& status) { failed = status; }), 0u);
    ASSERT_TRUE(failed);
    EXPECT_FALSE(failed->ok());
}

namespace {

// A Lumora's list of libraries in a child process, over the preferences
// file given: it reads the list once at its start, as Lumora does; then
// "add <folder>", "unlink <folder>" and "sort <folder> <order>" change it
// as the sidebar does, each answered with "ok".
const ChildRole libraryKeeper("library-keeper", [](const QStringList& arguments) {
    UserDefaults defaults(arguments.value(0));
    LibraryController list(defaults);
    (void)list.load();
    std::printf("ready\n");
    std::fflush(stdout);
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        const QStringList words = QString::fromUtf8(line).trimmed().split(' ');
        const QString& verb = words.value(0);
        const auto library = list.libraryWithURL(words.value(1));
        bool done = true;
        if (verb == "add") {
            list.addLibrary(words.value(1), 0);
        } else if (!library) {
            done = false;
        } else if (verb == "unlink") {
            (void)list.toggleLinked(*library);
        } else if (verb == "sort") {
            library->sortKey = Library::sortKeyFromRawValue(words.value(2)).value_or(Library::SortKey::name);
            list.save();
        }
        std::printf(done && defaults.lastWriteSucceeded() ? "ok\n" : "failed\n");
        std::fflush(stdout);
    }
    return 0;
});

struct Keeper : CommandedChild {
    explicit Keeper(const QString& preferences) : CommandedChild("library-keeper", {preferences}) {}
    QByteArray tell(const QString& command) { return CommandedChild::tell(command.toUtf8()); }
};

// The stored list: each library's folder name, and its order when it is not
// by name.
std::string storedLibraries(const QString& preferences)
{
    QStringList libraries;
    for (const QVariant& record : UserDefaults(preferences).arrayValue("libraries").value_or(QVariantList())) {
        const auto bookmark = Bookmark::fromData(record.toMap().value("bookmarkData").toByteArray());
        QString entry = bookmark ? QFileInfo(bookmark->path()).fileName() : QString("?");
        if (const QString order = record.toMap().value("sortKey").toString(); order != "name") entry += " " + order;
        libraries << entry;
    }
    return libraries.join(", ").toStdString();
}

} // namespace

// Two Lumoras run at once, each with its own list of libraries over the same
// preferences: the stored list takes each one's changes library by library,
// so that neither drops a library the other keeps, brings back one the other
// unlinked, or undoes the other's sort order.
TEST(LibraryController, TwoLumorasKeepEachOthersLibraries)
{
    const QString preferences = freshDirectory("two-lumoras-config") + "/defaults.json";
    const QString root = freshDirectory("two-lumoras");
    for (const char* name : {"libone", "libtwo", "libthree", "libfour"}) QDir(root).mkdir(name);
    const auto folder = [&](const char* name) { return root + "/" + name; };

    Keeper a(preferences), b(preferences);
    EXPECT_EQ(a.tell("add " + folder("libone")), "ok");
    EXPECT_EQ(b.tell("add " + folder("libtwo")), "ok");
    EXPECT_EQ(storedLibraries(preferences), "libtwo, libone");

    // A third, started now, unlinks libone, which the first still shows.
    EXPECT_EQ(Keeper(preferences).tell("unlink " + folder("libone")), "ok");
    EXPECT_EQ(storedLibraries(preferences), "libtwo");
    EXPECT_EQ(a.tell("add " + folder("libthree")), "ok");
    EXPECT_EQ(storedLibraries(preferences), "libthree, libtwo");

    // One sorts a library while the other adds one, in either order.
    EXPECT_EQ(b.tell("sort " + folder("libtwo") + " dateModified"), "ok");
    EXPECT_EQ(a.tell("add " + folder("libfour")), "ok");
    EXPECT_EQ(storedLibraries(preferences), "libfour, libthree, libtwo dateModified");
    EXPECT_EQ(b.tell("add " + folder("libone")), "ok");
    EXPECT_EQ(a.tell("sort " + folder("libfour") + " dateAdded"), "ok");
    EXPECT_EQ(storedLibraries(preferences), "libone, libfour dateAdded, libthree, libtwo dateModified");
}

namespace {

void moveByAnotherProgram(const QString& from, const QString& to)
{
    QProcess mv;
    mv.start("mv", {from, to});
    ASSERT_TRUE(mv.waitForFinished(patience));
    ASSERT_EQ(mv.exitCode(), 0) << mv.readAllStandardError().toStdString();
}

QString storedPath(UserDefaults& defaults)
{
    const auto stored =
        Bookmark::fromData(defaults.object("libraries").toList().value(0).toMap()["bookmarkData"].toByteArray());
    return stored ? stored->path() : QString();
}

} // namespace

// A library's folder is known by its device and inode: moved by another
// program somewhere other than above it, it is followed while it is shown,
// while nothing shows it, and after a restart (its record found again), and
// the renewed record is saved each time.
TEST(Library, AFolderMovedElsewhereIsFollowedShownOrNotAndAfterARestart)
{
    UserDefaults defaults(freshDirectory("defaults") + "/defaults.json");
    const QString top = freshDirectory("moved");
    ASSERT_TRUE(QDir().mkpath(top + "/L/proj"));
    ASSERT_TRUE(QDir().mkpath(top + "/L/other"));
    ASSERT_TRUE(QDir().mkpath(top + "/elsewhere/deep"));
    writeFile(top + "/L/proj/Chapter.md", "text");
    defaults.set("libraries", QVariantList{record(top + "/L/proj")});
    {
        LibraryController list(defaults);
        ASSERT_TRUE(list.load().ok());
        const auto library = list.libraries().at(0);
        ASSERT_TRUE(library->loadFileTree().ok());
        // Shown: its watcher follows it.
        moveByAnotherProgram(top + "/L/proj", top + "/L/other/");
        ASSERT_TRUE(waitUntil([&] { return library->url() == top + "/L/other/proj"; })) << library->url().toStdString();
        ASSERT_TRUE(library->fileController());
        EXPECT_EQ(treeLines(*library->fileController()->rootFile()), QStringList{"Chapter.md"});
        EXPECT_EQ(storedPath(defaults), top + "/L/other/proj");

        // Not shown: found again when it is to be shown.
        library->releaseFileController();
        moveByAnotherProgram(top + "/L/other/proj", top + "/elsewhere/deep/proj");
        EXPECT_FALSE(library->loadFileTree().ok());
        ASSERT_TRUE(waitUntil([&] { return library->url() == top + "/elsewhere/deep/proj"; }))
            << library->url().toStdString();
        EXPECT_FALSE(library->isUnavailable());
        ASSERT_TRUE(library->loadFileTree().ok());
        EXPECT_EQ(treeLines(*library->fileController()->rootFile()), QStringList{"Chapter.md"});
        EXPECT_EQ(storedPath(defaults), top + "/elsewhere/deep/proj");
        library->releaseFileController();
    }

    // Moved while Lumora was closed: the record finds it by its identity.
    moveByAnotherProgram(top + "/elsewhere/deep/proj", top + "/L/other/proj");
    LibraryController list(defaults);
    ASSERT_TRUE(list.load().ok());
    const auto library = list.libraries().at(0);
    ASSERT_TRUE(waitUntil([&] { return library->url() == top + "/L/other/proj"; })) << library->url().toStdString();
    EXPECT_FALSE(library->isUnavailable());
    ASSERT_TRUE(library->loadFileTree().ok());
    EXPECT_EQ(treeLines(*library->fileController()->rootFile()), QStringList{"Chapter.md"});
    EXPECT_EQ(storedPath(defaults), top + "/L/other/proj");
    library->releaseFileController();
}

// Inode numbers are used again once a folder is deleted: a folder that has
// the number of a library's deleted folder, but was made after it, is never
// taken for it. (A record whose birth time is not the folder's stands for
// it here.)
TEST(Library, AFolderThatTookADeletedFoldersNumberIsNotTakenForIt)
{
    UserDefaults defaults(freshDirectory("defaults") + "/defaults.json");
    const QString top = freshDirectory("reused");
    ASSERT_TRUE(QDir().mkpath(top + "/L/proj"));
    ASSERT_TRUE(QDir().mkpath(top + "/L/other"));
    const auto bookmark = Bookmark::create(top + "/L/proj");
    ASSERT_TRUE(bookmark);
    if (!bookmark->birth()) GTEST_SKIP() << "this disk keeps no birth times";
    QJsonObject forged = QJsonDocument::fromJson(bookmark->data()).object();
    forged["born"] = QString::number(bookmark->birth() - 1'000'000'000);
    defaults.set("libraries", QVariantList{QVariantMap{{"bookmarkData", QJsonDocument(forged).toJson()}}});
    moveByAnotherProgram(top + "/L/proj", top + "/L/other/");

    LibraryController list(defaults);
    ASSERT_TRUE(list.load().ok());
    ASSERT_EQ(list.libraries().size(), 1u);
    const auto library = list.libraries().at(0);
    ASSERT_TRUE(waitUntil([&] { return !library->isLookingForItsFolder(); }));
    EXPECT_TRUE(library->url().isEmpty()) << library->url().toStdString();
    EXPECT_TRUE(library->isUnavailable());
}
