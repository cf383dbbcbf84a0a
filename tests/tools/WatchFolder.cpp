// lumora-watch-folder: watches a folder as a library and prints each event
// the watcher reports and each change the library makes of it, until
// interrupted. Not installed.
//
//   lumora-watch-folder FOLDER
#include "library/File.h"
#include "library/FileController.h"
#include "library/Library.h"
#include "library/LibraryController.h"
#include "platform/files/FolderWatcher.h"
#include "platform/files/UserDefaults.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTime>

#include <csignal>

using namespace lumora;

namespace {

QTextStream out(stdout);

QString stamp()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ');
}

// Prints the rows a sidebar would change.
class PrintingView : public FileObserver, public LibrariesObserver {
public:
    Directory* root = nullptr;
    std::shared_ptr<Library> library;

    QString filter() const override { return {}; }
    Directory* filteredRootFile() const override { return root; }
    void willInsertRow(Directory&, int) override {}
    void didInsertRow(Directory& parent, int index) override { print("row inserted", parent, index); }
    void willRemoveRow(Directory& parent, int index) override { print("row removed", parent, index); }
    void didRemoveRow(Directory&, int) override {}
    void willMoveRow(Directory& from, int fromIndex, Directory&, int) override { print("row moves from", from, fromIndex); }
    void didMoveRow(Directory&, int, Directory& to, int toIndex) override { print("          to", to, toIndex); }
    void fileDidChange(File& file) override { out << stamp() << "changed " << file.path() << Qt::endl; }
    void sortKeyWillChange() override {}
    void sortKeyChanged() override {}

    void libraryInserted(int) override {}
    void libraryMoved(int, int) override {}
    void libraryRemoved(int) override
    {
        out << stamp() << "the folder itself is gone" << Qt::endl;
        QCoreApplication::quit();
    }
    void libraryTitleChanged(int) override
    {
        out << stamp() << "the folder is now " << library->url() << Qt::endl;
    }

private:
    void print(const char* what, Directory& parent, int index)
    {
        out << stamp() << what << " " << index << " of " << parent.path() << ": " << parent.child(index)->filename()
            << Qt::endl;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        QTextStream(stderr) << "usage: lumora-watch-folder FOLDER\n";
        return 2;
    }
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    // A list of its own, kept away from the user's preferences.
    QTemporaryDir scratch;
    UserDefaults defaults(scratch.filePath(QStringLiteral("defaults.json")));
    LibraryController list(defaults);
    PrintingView view;
    view.library = list.openLibrary(app.arguments().at(1));
    list.addObserver(&view);
    if (auto status = view.library->loadFileTree(); !status) {
        QTextStream(stderr) << status.error().message() << "\n";
        return 1;
    }
    FileController& controller = *view.library->fileController();
    view.root = controller.rootFile();
    controller.addObserver(&view);
    FolderWatcher& watcher = controller.watcher();
    QObject::connect(&watcher, &FolderWatcher::itemAppeared, [](const QString& p) { out << stamp() << "event: appeared " << p << Qt::endl; });
    QObject::connect(&watcher, &FolderWatcher::itemChanged, [](const QString& p) { out << stamp() << "event: changed " << p << Qt::endl; });
    QObject::connect(&watcher, &FolderWatcher::itemRemoved, [](const QString& p) { out << stamp() << "event: removed " << p << Qt::endl; });
    QObject::connect(&watcher, &FolderWatcher::itemMoved, [](const QString& a, const QString& b) {
        out << stamp() << "event: moved " << a << " -> " << b << Qt::endl;
    });
    QObject::connect(&watcher, &FolderWatcher::rootMoved, [](const QString& p) { out << stamp() << "event: folder moved to " << p << Qt::endl; });
    QObject::connect(&watcher, &FolderWatcher::rootDeleted, [] { out << stamp() << "event: folder deleted" << Qt::endl; });
    QObject::connect(&watcher, &FolderWatcher::needsReconcile, [] { out << stamp() << "event: events were lost; comparing with the disk" << Qt::endl; });
    out << "Watching " << controller.rootFile()->path() << " (" << watcher.watchCount()
        << " folders). Press Ctrl+C to stop." << Qt::endl;
    const int status = app.exec();
    controller.removeObserver(&view);
    list.removeObserver(&view);
    return status;
}
