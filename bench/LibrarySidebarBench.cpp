// The library pane over 10,000 documents (one flat folder, and 1,000
// folders of ten): showing the library (from the model's reset to the first
// paint of the outline), scrolling it from top to bottom a page at a time,
// one keystroke in the search field, and a click on a row until the new
// document is painted in the window. And a tree of 17,589 folders opened in
// the pane: how long the main thread is held up at most while it is read.
#include "document/DocumentViewController.h"
#include "document/TextView.h"
#include "library/FileController.h"
#include "library/Library.h"
#include "library/LibraryController.h"
#include "library/LibraryDocumentOpener.h"
#include "library/LibraryOutlineModel.h"
#include "library/LibraryOutlineView.h"
#include "library/LibrarySearchAndSort.h"
#include "library/LibrarySelection.h"
#include "library/LibraryViewController.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/files/UserDefaults.h"
#include "shell/DocumentController.h"
#include "shell/WindowController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

using namespace lumora;

namespace {

constexpr int kDocuments = 10000;

void write(const QString& path, int n)
{
    const QByteArray text = QByteArrayLiteral("# Day ") + QByteArray::number(n)
                            + QByteArrayLiteral("\n\nThe morning was grey and the harbour quiet; I wrote until the "
                                                "light changed and the boats went out one after another.\n");
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    (void)::write(fd, text.constData(), size_t(text.size()));
    ::close(fd);
}

const QString& flatLibrary()
{
    static QTemporaryDir dir;
    static const bool made = [] {
        for (int d = 0; d < kDocuments; ++d) write(dir.filePath(QStringLiteral("Entry %1 of the journal.md").arg(d)), d);
        return true;
    }();
    (void)made;
    static const QString path = dir.path();
    return path;
}

const QString& nestedLibrary()
{
    static QTemporaryDir dir;
    static const bool made = [] {
        for (int f = 0; f < kDocuments / 10; ++f) {
            const QString folder = dir.filePath(QStringLiteral("Project %1").arg(f));
            QDir().mkpath(folder);
            for (int d = 0; d < 10; ++d) write(folder + QStringLiteral("/Note %1 draft.md").arg(d), d);
        }
        return true;
    }();
    (void)made;
    static const QString path = dir.path();
    return path;
}

// Holds a library's tree while the pane comes and goes.
class Holder : public FileObserver {
public:
    QString filter() const override { return {}; }
    Directory* filteredRootFile() const override { return nullptr; }
    void willInsertRow(Directory&, int) override {}
    void didInsertRow(Directory&, int) override {}
    void willRemoveRow(Directory&, int) override {}
    void didRemoveRow(Directory&, int) override {}
    void willMoveRow(Directory&, int, Directory&, int) override {}
    void didMoveRow(Directory&, int, Directory&, int) override {}
    void fileDidChange(File&) override {}
    void sortKeyWillChange() override {}
    void sortKeyChanged() override {}
};

struct QuietHost : LibraryPaneHost {
    Document* paneDocument() const override { return nullptr; }
    bool leaveDocument() override { return true; }
    void showDocument(Document&) override {}
    void showUntitledDocument() override {}
    QByteArray editorState() const override { return {}; }
    void restoreEditorState(const QByteArray&) override {}
    void presentError(const PlatformError&) override {}
    void printDocuments(const std::vector<Document*>&) override {}
};

std::shared_ptr<Library> loadedLibrary(bool nested)
{
    static std::shared_ptr<Library> libraries[2];
    static Holder holders[2];
    std::shared_ptr<Library>& library = libraries[nested ? 1 : 0];
    if (!library) {
        library = Library::make(nested ? nestedLibrary() : flatLibrary());
        if (!library->loadFileTree().ok() || !library->fileController()) return nullptr;
        library->fileController()->addObserver(&holders[nested ? 1 : 0]);
    }
    return library;
}

// A pane as tall as a window's, on screen.
LibraryViewController& pane()
{
    static QuietHost host;
    static LibraryViewController* pane = [] {
        auto* made = new LibraryViewController();
        made->setHost(&host);
        made->resize(280, 800);
        made->show();
        QCoreApplication::processEvents();
        return made;
    }();
    return *pane;
}

void paint(QWidget* widget)
{
    widget->repaint();
}

void BM_ShowLibrary(benchmark::State& state)
{
    const auto library = loadedLibrary(state.range(0) != 0);
    if (!library) {
        state.SkipWithError("the library did not load");
        return;
    }
    LibraryViewController& p = pane();
    p.search().setFilter(QString());
    for (auto _ : state) {
        state.PauseTiming();
        p.setLibrary(nullptr);
        QCoreApplication::processEvents();
        state.ResumeTiming();
        p.setLibrary(library);
        paint(p.fileView()->viewport());
    }
    state.counters["rows"] = double(p.model().rowCount());
}
BENCHMARK(BM_ShowLibrary)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ScrollLibrary(benchmark::State& state)
{
    const auto library = loadedLibrary(state.range(0) != 0);
    if (!library) {
        state.SkipWithError("the library did not load");
        return;
    }
    LibraryViewController& p = pane();
    p.search().setFilter(QString());
    p.setLibrary(library);
    QScrollBar* bar = p.fileView()->verticalScrollBar();
    paint(p.fileView()->viewport());
    int pages = 0;
    double worst = 0;
    for (auto _ : state) {
        bar->setValue(0);
        pages = 0;
        for (int value = 0; value <= bar->maximum(); value += bar->pageStep()) {
            const auto start = std::chrono::steady_clock::now();
            bar->setValue(value);
            paint(p.fileView()->viewport());
            p.fileView()->updateRowsOnScreen();
            // The summaries read meanwhile arrive and paint.
            QCoreApplication::processEvents();
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            worst = std::max(worst, ms);
            ++pages;
        }
    }
    state.counters["pages"] = pages;
    state.counters["ms_per_page"] =
        benchmark::Counter(double(pages) * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["worst_page_ms"] = worst;
}
BENCHMARK(BM_ScrollLibrary)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// One keystroke: from "Entry 1" to "Entry 12" (1,111 to 111 matches), or a
// search that still matches everything.
void BM_SearchKeystroke(benchmark::State& state)
{
    const bool everything = state.range(0) != 0;
    const auto library = loadedLibrary(false);
    if (!library) {
        state.SkipWithError("the library did not load");
        return;
    }
    LibraryViewController& p = pane();
    p.setLibrary(library);
    const QString before = everything ? QStringLiteral("Entry") : QStringLiteral("Entry 1");
    const QString after = everything ? QStringLiteral("Entry ") : QStringLiteral("Entry 12");
    for (auto _ : state) {
        state.PauseTiming();
        p.search().setFilter(before);
        paint(p.fileView()->viewport());
        state.ResumeTiming();
        p.search().setFilter(after);
        paint(p.fileView()->viewport());
    }
    state.counters["rows"] = double(p.model().rowCount());
    p.search().setFilter(QString());
}
BENCHMARK(BM_SearchKeystroke)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A click on a row until the window has painted its new document: a file
// not yet open (read, styled and shown), or one the library already holds.
void BM_RowClick(benchmark::State& state)
{
    const bool opened = state.range(0) != 0;
    static DocumentController* controller = [] {
        auto* made = new DocumentController(&UserDefaults::standard());
        made->buildMainMenu();
        return made;
    }();
    const auto library = loadedLibrary(false);
    if (!library) {
        state.SkipWithError("the library did not load");
        return;
    }
    auto untitled = controller->openUntitledDocument(true);
    if (!untitled) {
        state.SkipWithError("no window");
        return;
    }
    WindowController* window = WindowController::controllersOf(*qobject_cast<Document*>(*untitled)).front();
    window->window()->resize(1100, 800);
    window->setLibraryVisible(true);
    LibraryViewController& p = window->libraryPane();
    p.setLibrary(library);
    QCoreApplication::processEvents();
    Directory* root = library->fileController()->rootFile();
    int next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A new row each time, or two rows taken in turn.
        File* file = root->child(opened ? next % 2 : next);
        ++next;
        p.selection().selectFile(file);
        state.ResumeTiming();
        p.opener().openSelectedFile();
        paint(window->documentViewController()->textView()->viewport());
    }
    if (window->document() != qobject_cast<Document*>(*untitled))
        state.counters["switched"] = 1;
    delete window->window();
    QCoreApplication::processEvents();
}
BENCHMARK(BM_RowClick)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A large tree of folders, as a writer's archive of years, months and days
// grows to: 17,589 folders, a document in every tenth.
const QString& largeTree()
{
    static QTemporaryDir dir;
    static const bool made = [] {
        constexpr int kFolders = 17589;
        int made = 0;
        for (int year = 0; made < kFolders; ++year) {
            const QString y = dir.filePath(QStringLiteral("Year %1").arg(2000 + year));
            QDir().mkpath(y);
            ++made;
            for (int month = 1; month <= 31 && made < kFolders; ++month) {
                const QString m = y + QStringLiteral("/Part %1").arg(month);
                QDir().mkpath(m);
                ++made;
                for (int day = 1; day <= 31 && made < kFolders; ++day) {
                    const QString d = m + QStringLiteral("/Day %1").arg(day);
                    QDir().mkpath(d);
                    ++made;
                    if (made % 10 == 0) write(d + QStringLiteral("/Notes.md"), day);
                }
            }
        }
        return true;
    }();
    (void)made;
    static const QString path = dir.path();
    return path;
}

// Opening the large tree in the pane: the folders are read on another thread
// while the main thread goes on answering. "worst_stall_ms" is the longest
// time the main thread was busy in one go, from the choice of the library
// until its outline is painted (goal: under 100 ms); the wall time is the
// whole reading. The folder is warm in the system's cache after the first
// iteration.
void BM_OpenLargeFolder(benchmark::State& state)
{
    const QString& folder = largeTree();
    LibraryViewController& p = pane();
    p.search().setFilter(QString());
    double worst = 0;
    int rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        p.setLibrary(nullptr);
        QCoreApplication::processEvents();
        const auto library = Library::make(folder);
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        const auto tick = [&] {
            const qint64 now = clock.nsecsElapsed();
            worst = std::max(worst, double(now - last) / 1e6);
            last = now;
        };
        p.setLibrary(library);
        tick();
        while (p.isLoadingTree()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            tick();
        }
        paint(p.fileView()->viewport());
        tick();
        rows = p.model().rowCount();
    }
    p.setLibrary(nullptr);
    state.counters["worst_stall_ms"] = worst;
    state.counters["top_rows"] = rows;
}
BENCHMARK(BM_OpenLargeFolder)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same tree read on the main thread, as the pane did before: the whole
// reading is one stall.
void BM_ScanLargeFolderOnTheMainThread(benchmark::State& state)
{
    const QString& folder = largeTree();
    for (auto _ : state) {
        const auto library = Library::make(folder);
        if (!library->loadFileTree().ok()) state.SkipWithError("the library did not load");
        library->releaseFileController();
    }
    QCoreApplication::processEvents();
}
BENCHMARK(BM_ScanLargeFolderOnTheMainThread)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
