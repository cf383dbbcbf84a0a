#pragma once

#include "library/File.h"
#include "library/FileController.h"
#include "library/Library.h"
#include "library/LibraryController.h"
#include "library/LibraryOutlineModel.h"
#include "platform/files/FolderListing.h"
#include "platform/files/UserDefaults.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace lumora::test {

inline bool waitUntil(const std::function<bool()>& condition, int milliseconds = patience)
{
    return QTest::qWaitFor(condition, milliseconds);
}

inline bool renamePath(const QString& a, const QString& b)
{
    return ::rename(QFile::encodeName(a).constData(), QFile::encodeName(b).constData()) == 0;
}

// The tree as lines, one per node, in tree order: "Folder/", "Folder/note.md".
inline QStringList treeLines(Directory& root)
{
    QStringList lines;
    std::function<void(Directory&, const QString&)> walk = [&](Directory& folder, const QString& prefix) {
        for (const auto& child : folder.contents()) {
            if (child->isDirectory()) {
                lines << prefix + child->name() + "/";
                walk(static_cast<Directory&>(*child), prefix + child->name() + "/");
            } else {
                lines << prefix + child->name();
            }
        }
    };
    walk(root, QString());
    return lines;
}

// What the disk holds by the library's rules, in the same form, sorted like
// a tree sorted by name would be only when compared as sets: both sorted.
inline QStringList diskLines(const QString& folder, const QString& prefix = QString())
{
    QStringList lines;
    const auto listing = FolderListing::list(folder);
    if (!listing) return lines;
    for (const auto& entry : *listing) {
        if (entry.kind == FolderListing::Kind::folder) {
            lines << prefix + entry.name + "/";
            lines << diskLines(folder + "/" + entry.name, prefix + entry.name + "/");
        } else {
            lines << prefix + entry.name;
        }
    }
    return lines;
}

inline QStringList sorted(QStringList lines)
{
    lines.sort();
    return lines;
}

// A view that mirrors the tree from the row notifications alone, the way a
// Qt item model would, and checks each notification against the tree: a
// removal names the row that is there, an insertion or move lands where it
// says. mirrorMatches() compares the mirror with the tree.
class RecordingObserver : public FileObserver {
public:
    QString searchText;
    Directory* shownRoot = nullptr;
    std::unique_ptr<Directory> ownCopy;
    QStringList calls;
    std::vector<File*> changed;
    int errors = 0;

    void show(Directory* root)
    {
        shownRoot = root;
        mirror.clear();
        if (root) capture(*root);
    }
    void search(FileController& controller, const QString& text)
    {
        searchText = text;
        auto filtered = controller.rootFile()->filtered(text);
        ownCopy = std::move(filtered.copy);
        show(filtered.root);
    }

    QString filter() const override { return searchText; }
    Directory* filteredRootFile() const override { return shownRoot; }

    void willInsertRow(Directory& parent, int index) override
    {
        calls << "insert " + name(parent) + " " + QString::number(index);
        check(index >= 0 && index <= int(mirror[&parent].size()));
    }
    void didInsertRow(Directory& parent, int index) override
    {
        File* node = parent.child(index);
        auto& rows = mirror[&parent];
        rows.insert(rows.begin() + index, node);
        if (node->isDirectory()) capture(static_cast<Directory&>(*node));
    }
    void willRemoveRow(Directory& parent, int index) override
    {
        calls << "remove " + name(parent) + " " + QString::number(index);
        auto& rows = mirror[&parent];
        check(index >= 0 && index < int(rows.size()) && rows[size_t(index)] == parent.child(index));
        if (index >= 0 && index < int(rows.size())) {
            forget(rows[size_t(index)]);
            rows.erase(rows.begin() + index);
        }
    }
    void didRemoveRow(Directory&, int) override {}
    void willMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex) override
    {
        calls << "move " + name(from) + " " + QString::number(fromIndex) + " " + name(to) + " " +
                     QString::number(toIndex);
        auto& rows = mirror[&from];
        check(fromIndex >= 0 && fromIndex < int(rows.size()) && rows[size_t(fromIndex)] == from.child(fromIndex));
        moving = from.child(fromIndex);
        if (fromIndex >= 0 && fromIndex < int(rows.size())) rows.erase(rows.begin() + fromIndex);
    }
    void didMoveRow(Directory&, int, Directory& to, int toIndex) override
    {
        check(to.child(toIndex) == moving);
        auto& rows = mirror[&to];
        rows.insert(rows.begin() + toIndex, moving);
    }
    void fileDidChange(File& file) override { changed.push_back(&file); }
    void sortKeyWillChange() override { calls << "sort"; }
    void sortKeyChanged() override { show(shownRoot); }

    bool mirrorMatches()
    {
        if (!shownRoot) return true;
        std::function<bool(Directory&)> same = [&](Directory& folder) {
            const auto& rows = mirror[&folder];
            if (int(rows.size()) != folder.count()) return false;
            for (int i = 0; i < folder.count(); ++i) {
                if (rows[size_t(i)] != folder.child(i)) return false;
                if (folder.child(i)->isDirectory() && !same(static_cast<Directory&>(*folder.child(i)))) return false;
            }
            return true;
        };
        return same(*shownRoot);
    }

private:
    std::map<const Directory*, std::vector<File*>> mirror;
    File* moving = nullptr;

    QString name(Directory& folder) const { return &folder == shownRoot ? QStringLiteral("/") : folder.name(); }
    void check(bool ok)
    {
        if (!ok) ++errors;
    }
    void capture(Directory& folder)
    {
        auto& rows = mirror[&folder];
        rows.clear();
        for (const auto& child : folder.contents()) {
            rows.push_back(child.get());
            if (child->isDirectory()) capture(static_cast<Directory&>(*child));
        }
    }
    void forget(File* node)
    {
        if (!node->isDirectory()) return;
        auto* folder = static_cast<Directory*>(node);
        for (File* child : mirror[folder]) forget(child);
        mirror.erase(folder);
    }
};

// The rows of an outline model as lines like treeLines(); "<gone>" for an
// index whose file went.
inline QStringList modelLines(LibraryOutlineModel& model, const QModelIndex& parent = {}, const QString& prefix = {})
{
    QStringList lines;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        const File* file = model.fileAt(index);
        if (!file) {
            lines << "<gone>";
        } else if (file->isDirectory()) {
            lines << prefix + file->name() + "/";
            lines << modelLines(model, index, prefix + file->name() + "/");
        } else {
            lines << prefix + file->name();
        }
    }
    return lines;
}

// Holds each folder of a scan until let go, from the test's thread. Its
// state outlives it: a scanning thread may still be on its way out.
class ScanGate {
public:
    ScanGate() : m_state(std::make_shared<State>())
    {
        FileController::setScanHookForTesting([state = m_state](const QString&) {
            std::unique_lock guard(state->lock);
            state->changed.wait(guard, [&] { return state->open || state->letThrough > 0; });
            if (!state->open) --state->letThrough;
        });
    }
    ~ScanGate()
    {
        open();
        FileController::setScanHookForTesting({});
    }
    void pass(int folders)
    {
        const std::lock_guard guard(m_state->lock);
        m_state->letThrough += folders;
        m_state->changed.notify_all();
    }
    void open()
    {
        const std::lock_guard guard(m_state->lock);
        m_state->open = true;
        m_state->changed.notify_all();
    }

private:
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        int letThrough = 0;
        bool open = false;
    };
    std::shared_ptr<State> m_state;
};

// A library over a fresh folder, its tree loaded, with one view.
struct LoadedLibrary {
    QString folder;
    std::shared_ptr<Library> library;
    RecordingObserver view;

    explicit LoadedLibrary(const QString& existingFolder) : folder(existingFolder)
    {
        library = Library::make(folder);
        const auto status = library->loadFileTree();
        EXPECT_TRUE(status.ok()) << (status ? "" : status.error().message().toStdString());
        if (controller()) {
            controller()->addObserver(&view);
            view.show(root());
        }
    }
    ~LoadedLibrary()
    {
        if (controller()) controller()->removeObserver(&view);
        library->releaseFileController();
    }
    FileController* controller() const { return library->fileController(); }
    Directory* root() const { return controller() ? controller()->rootFile() : nullptr; }
    bool matchesDisk() { return root() && sorted(treeLines(*root())) == sorted(diskLines(folder)); }
    bool waitForDisk(int milliseconds = patience)
    {
        return waitUntil([this] { return matchesDisk(); }, milliseconds);
    }
};

} // namespace lumora::test
