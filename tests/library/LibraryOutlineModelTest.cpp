// The outline's item model over a real folder that other programs change.
#include "LibraryTestSupport.h"

#include "library/FileRowDelegate.h"
#include "library/LibraryOutlineModel.h"

#include <QAbstractItemModelTester>
#include <QFontDatabase>
#include <QMimeData>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace lumora;
using namespace lumora::test;

namespace {

// A view of the tree through the item model alone, as a sidebar wires it.
class ModelView : public FileObserver {
public:
    LibraryOutlineModel model;
    QString searchText;
    std::unique_ptr<Directory> copy;
    Directory* shown = nullptr;

    void show(FileController& controller, const QString& text)
    {
        searchText = text;
        auto filtered = controller.rootFile()->filtered(text);
        std::unique_ptr<Directory> old = std::move(copy);
        shown = filtered.root;
        copy = std::move(filtered.copy);
        model.setRoot(shown);
    }

    QString filter() const override { return searchText; }
    Directory* filteredRootFile() const override { return shown; }
    void willInsertRow(Directory& p, int i) override { model.willInsertRow(p, i); }
    void didInsertRow(Directory& p, int i) override { model.didInsertRow(p, i); }
    void willRemoveRow(Directory& p, int i) override { model.willRemoveRow(p, i); }
    void didRemoveRow(Directory& p, int i) override { model.didRemoveRow(p, i); }
    void willMoveRow(Directory& a, int i, Directory& b, int j) override { model.willMoveRow(a, i, b, j); }
    void didMoveRow(Directory& a, int i, Directory& b, int j) override { model.didMoveRow(a, i, b, j); }
    void fileDidChange(File& file) override { model.fileDidChange(file); }
    void sortKeyWillChange() override { model.sortWillChange(); }
    void sortKeyChanged() override { model.sortDidChange(); }

    QStringList rows() { return modelLines(model); }
};

int g_testerFailures = 0;
QtMessageHandler g_previousHandler = nullptr;

void countTesterFailures(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg && QString(context.category) == "qt.modeltest") ++g_testerFailures;
    if (g_previousHandler) g_previousHandler(type, context, message);
}

} // namespace

TEST(LibraryOutlineModel, RowsAreTheShownTree)
{
    const QString folder = freshDirectory("model-rows");
    writeFile(folder + "/b.md", "b");
    writeFile(folder + "/A folder/inside.md", "i");
    writeFile(folder + "/A folder/Empty/.hidden", "h");
    writeFile(folder + "/c.txt", "c");
    LoadedLibrary loaded(folder);
    ModelView view;
    view.show(*loaded.controller(), QString());
    EXPECT_EQ(view.rows(), treeLines(*loaded.root()));
    // The root is no row; folders can always be opened, even empty ones.
    EXPECT_FALSE(view.model.indexOf(loaded.root()).isValid());
    const QModelIndex empty = view.model.indexOf(loaded.root()->fileAtPath(folder + "/A folder/Empty"));
    ASSERT_TRUE(empty.isValid());
    EXPECT_TRUE(view.model.hasChildren(empty));
    EXPECT_EQ(view.model.rowCount(empty), 0);
    EXPECT_EQ(view.model.data(empty, LibraryOutlineModel::isFolderRole).toBool(), true);

    // Drags carry file URLs.
    const QModelIndex b = view.model.indexOf(loaded.root()->fileAtPath(folder + "/b.md"));
    std::unique_ptr<QMimeData> data(view.model.mimeData({b, empty}));
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->hasFormat("text/uri-list"));
    EXPECT_EQ(data->urls(), (QList<QUrl>{QUrl::fromLocalFile(folder + "/b.md"),
                                         QUrl::fromLocalFile(folder + "/A folder/Empty")}));

    // No tree, no rows.
    view.model.setRoot(nullptr);
    EXPECT_EQ(view.model.rowCount(), 0);
    EXPECT_FALSE(view.model.index(0, 0).isValid());
}

TEST(LibraryOutlineModel, AnIndexThatOutlivedItsRowFindsNothing)
{
    const QString folder = freshDirectory("model-stale");
    writeFile(folder + "/gone.md", "g");
    writeFile(folder + "/Folder/inside.md", "i");
    LoadedLibrary loaded(folder);
    ModelView view;
    view.show(*loaded.controller(), QString());
    loaded.controller()->addObserver(&view);
    const QModelIndex stale = view.model.indexOf(loaded.root()->fileAtPath(folder + "/gone.md"));
    const QModelIndex staleInside = view.model.indexOf(loaded.root()->fileAtPath(folder + "/Folder/inside.md"));
    ASSERT_TRUE(stale.isValid() && staleInside.isValid());
    loaded.controller()->fileRemoved(folder + "/gone.md");
    QDir(folder + "/Folder").removeRecursively();
    loaded.controller()->fileRemoved(folder + "/Folder");
    // The nodes went with their rows: the old indexes reach no file.
    EXPECT_EQ(view.model.fileAt(stale), nullptr);
    EXPECT_EQ(view.model.fileAt(staleInside), nullptr);
    EXPECT_FALSE(view.model.parent(staleInside).isValid());
    EXPECT_EQ(view.model.rowCount(staleInside), 0);
    EXPECT_FALSE(view.model.data(stale).isValid());
    EXPECT_EQ(view.model.flags(stale), Qt::NoItemFlags);
    EXPECT_EQ(view.model.rowCount(), 0);
    EXPECT_EQ(view.model.resyncCount(), 0);
    loaded.controller()->removeObserver(&view);
}

TEST(LibraryOutlineModel, FilesOnScreenReadTheirSummariesAndLetGo)
{
    const QString folder = freshDirectory("model-screen");
    writeFile(folder + "/one.md", "The first note.");
    writeFile(folder + "/two.md", "The second note.");
    LoadedLibrary loaded(folder);
    ModelView view;
    view.show(*loaded.controller(), QString());
    auto* one = static_cast<RegularFile*>(loaded.root()->fileAtPath(folder + "/one.md"));
    auto* two = static_cast<RegularFile*>(loaded.root()->fileAtPath(folder + "/two.md"));
    EXPECT_TRUE(one->summary().isEmpty());
    view.model.setRowsOnScreen({view.model.indexOf(one)});
    EXPECT_TRUE(one->isVisible());
    EXPECT_FALSE(two->isVisible());
    ASSERT_TRUE(waitUntil([&] { return one->summary() == "The first note."; }));
    EXPECT_TRUE(two->summary().isEmpty()); // never on screen, never read
    view.model.setRowsOnScreen({view.model.indexOf(two)});
    EXPECT_FALSE(one->isVisible());
    EXPECT_TRUE(two->isVisible());
    // Another tree shown: what was on screen is told it is not.
    view.show(*loaded.controller(), "one");
    EXPECT_FALSE(two->isVisible());
}

TEST(LibraryOutlineModel, SortingKeepsIndexesOnTheirFiles)
{
    const QString folder = freshDirectory("model-sort");
    writeFile(folder + "/a.md", "a");
    writeFile(folder + "/b.md", "b");
    writeFile(folder + "/c.md", "c");
    LoadedLibrary loaded(folder);
    ModelView view;
    view.show(*loaded.controller(), QString());
    loaded.controller()->addObserver(&view);
    QAbstractItemModelTester tester(&view.model, QAbstractItemModelTester::FailureReportingMode::Warning);
    const QPersistentModelIndex a = view.model.indexOf(loaded.root()->fileAtPath(folder + "/a.md"));
    ASSERT_EQ(a.row(), 0);
    // Newest first by date modified: a, the oldest, goes last.
    const struct timespec times[2] = {{1000000, 0}, {1000000, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(folder + "/a.md").constData(), times, 0);
    loaded.root()->fileAtPath(folder + "/a.md")->update();
    loaded.controller()->setSortKey(Library::SortKey::dateModified);
    EXPECT_EQ(view.rows(), treeLines(*loaded.root()));
    EXPECT_EQ(view.rows().last(), "a.md");
    EXPECT_EQ(view.model.fileAt(a)->name(), "a.md");
    EXPECT_EQ(a.row(), 2);
    loaded.controller()->setSortKey(Library::SortKey::name);
    EXPECT_EQ(view.model.fileAt(a)->name(), "a.md");
    EXPECT_EQ(a.row(), 0);
    EXPECT_EQ(view.model.resyncCount(), 0);
    loaded.controller()->removeObserver(&view);
}

TEST(LibraryOutlineModel, FollowsAStormOfOutsideChangesWithASearchActive)
{
    QTemporaryDir memory(QStringLiteral("/dev/shm/lumora-model-storm-XXXXXX"));
    const QString folder = memory.isValid() ? memory.path() : freshDirectory("model-storm");
    const QStringList folders{"", "/Notes", "/Notes/Old", "/Drafts"};
    for (const QString& sub : folders) QDir().mkpath(folder + sub);
    for (int i = 0; i < 40; ++i) writeFile(folder + folders[i % folders.size()] + QString("/note %1.md").arg(i), "n");
    LoadedLibrary loaded(folder);

    ModelView whole, search;
    whole.show(*loaded.controller(), QString());
    search.show(*loaded.controller(), "note 1");
    loaded.controller()->addObserver(&whole);
    loaded.controller()->addObserver(&search);
    g_testerFailures = 0;
    g_previousHandler = qInstallMessageHandler(countTesterFailures);
    {
        QAbstractItemModelTester wholeTester(&whole.model, QAbstractItemModelTester::FailureReportingMode::Warning);
        QAbstractItemModelTester searchTester(&search.model, QAbstractItemModelTester::FailureReportingMode::Warning);
        QSignalSpy inserted(&whole.model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&whole.model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy moved(&whole.model, &QAbstractItemModel::rowsMoved);
        QSignalSpy searchInserted(&search.model, &QAbstractItemModel::rowsInserted);
        // Rows asked for everywhere, as an expanded outline would.
        EXPECT_EQ(whole.rows(), treeLines(*loaded.root()));

        QRandomGenerator random(14);
        QStringList files;
        for (int i = 0; i < 40; ++i) files << folder + folders[i % folders.size()] + QString("/note %1.md").arg(i);
        int made = 40;
        QStringList boxes;
        for (int step = 0; step < 400; ++step) {
            // Folders come, move with what is in them, and go.
            if (step % 15 == 3) {
                const QString box = folder + folders[int(random.bounded(folders.size()))] + QString("/Box %1").arg(step);
                writeFile(box + QString("/note 1%1 inside.md").arg(step), "i");
                writeFile(box + "/Deeper/note 1 deep.md", "d");
                boxes << box;
            } else if (step % 15 == 8 && !boxes.isEmpty()) {
                const int i = int(random.bounded(boxes.size()));
                const QString to = folder + "/Notes/Old/" + QString("Box moved %1").arg(step);
                if (renamePath(boxes[i], to)) boxes[i] = to;
            } else if (step % 45 == 44 && !boxes.isEmpty()) {
                QDir(boxes.takeFirst()).removeRecursively();
            }
            const int what = int(random.bounded(6));
            const QString target = folder + folders[int(random.bounded(folders.size()))];
            if (what == 0 || files.isEmpty()) {
                const QString path = target + QString("/note %1.md").arg(made++);
                writeFile(path, "new");
                files << path;
            } else if (what == 1) {
                QFile::remove(files.takeAt(int(random.bounded(files.size()))));
            } else if (what <= 3) {
                // Renamed, within its folder or into another.
                const int i = int(random.bounded(files.size()));
                const QString to = target + QString("/note %1.md").arg(made++);
                if (renamePath(files[i], to)) files[i] = to;
            } else if (what == 4) {
                // Touched: a new date, and a new place in a date order.
                writeFile(files[int(random.bounded(files.size()))], QByteArray("changed ") + QByteArray::number(step));
            } else if (step % 50 == 5) {
                loaded.controller()->setSortKey(step % 100 == 5 ? Library::SortKey::dateModified
                                                                 : Library::SortKey::name);
            }
            if (step % 20 == 0) {
                QCoreApplication::processEvents();
                // Some rows come on screen and leave again.
                QModelIndexList onScreen;
                for (int r = 0; r < std::min(8, whole.model.rowCount()); ++r) onScreen << whole.model.index(r, 0);
                whole.model.setRowsOnScreen(onScreen);
                whole.rows();
                search.rows();
            }
        }
        ASSERT_TRUE(loaded.waitForDisk());
        // The last events may still be on their way to the copies.
        ASSERT_TRUE(waitUntil([&] {
            return whole.rows() == treeLines(*loaded.root()) && search.rows() == treeLines(*search.shown);
        }));
        EXPECT_GT(inserted.count(), 50);
        EXPECT_GT(removed.count(), 20);
        EXPECT_GT(moved.count(), 20);
        EXPECT_GT(searchInserted.count(), 5);
        for (const QString& line : search.rows()) {
            if (!line.endsWith('/')) {
                EXPECT_TRUE(line.contains("note 1", Qt::CaseInsensitive)) << line.toStdString();
            }
        }
        whole.model.setRowsOnScreen({});
    }
    qInstallMessageHandler(g_previousHandler);
    EXPECT_EQ(g_testerFailures, 0);
    EXPECT_EQ(whole.model.resyncCount(), 0);
    EXPECT_EQ(search.model.resyncCount(), 0);
    loaded.controller()->removeObserver(&whole);
    loaded.controller()->removeObserver(&search);
}

TEST(FileRowDelegate, RowsHaveFixedHeightsAndClampedSummaries)
{
    EXPECT_EQ(FileRowDelegate::documentRowHeight(0), 34);
    EXPECT_EQ(FileRowDelegate::documentRowHeight(3), 85);
    const QString folder = freshDirectory("delegate");
    writeFile(folder + "/doc.md", "d");
    writeFile(folder + "/Folder/x.md", "x");
    LoadedLibrary loaded(folder);
    LibraryOutlineModel model;
    model.setRoot(loaded.root());
    FileRowDelegate delegate(model);
    const QModelIndex doc = model.indexOf(loaded.root()->fileAtPath(folder + "/doc.md"));
    const QModelIndex dir = model.indexOf(loaded.root()->fileAtPath(folder + "/Folder"));
    QStyleOptionViewItem option;
    for (const auto& [asked, used] : std::vector<std::pair<int, int>>{{-4, 0}, {0, 0}, {2, 2}, {3, 3}, {9, 3}}) {
        delegate.setSummaryLines(asked);
        EXPECT_EQ(delegate.summaryLines(), used);
        EXPECT_EQ(delegate.sizeHint(option, doc).height(), 34 + 17 * used);
        EXPECT_EQ(delegate.sizeHint(option, dir).height(), 25);
    }

    // The summary: its own line breaks, wrapped, cut with "…" when more follows.
    const QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    EXPECT_EQ(FileRowDelegate::summaryLayout("One\nTwo", font, 400, 3), (QStringList{"One", "Two"}));
    EXPECT_EQ(FileRowDelegate::summaryLayout("\n\n", font, 400, 3), (QStringList{"", "", ""}));
    const QStringList cut = FileRowDelegate::summaryLayout("One\nTwo\nThree\nFour", font, 400, 2);
    ASSERT_EQ(cut.size(), 2);
    EXPECT_EQ(cut[0], "One");
    EXPECT_TRUE(cut[1].startsWith("Two") && cut[1].endsWith(QStringLiteral("…")));
    const QStringList wrapped = FileRowDelegate::summaryLayout(QString("word ").repeated(60), font, 120, 3);
    ASSERT_EQ(wrapped.size(), 3);
    EXPECT_TRUE(wrapped[2].endsWith(QStringLiteral("…")));
    EXPECT_TRUE(FileRowDelegate::summaryLayout("anything", font, 120, 0).isEmpty());
}
