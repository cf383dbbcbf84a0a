// Libraries of 10,000 documents: scanning one (1,000 folders of ten, and one
// flat folder), re-sorting it, the filtered copy a one-letter search makes on
// every keystroke, a storm of 5,000 changes from another program, and the
// memory the tree takes.
#include "library/File.h"
#include "library/FileController.h"
#include "library/Library.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

using namespace lumora;

namespace {

constexpr int kDocuments = 10000;

void touch(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
        (void)::write(fd, "A note.\n", 8);
        ::close(fd);
    }
}

// 1,000 folders of ten documents, names as people give them.
const QString& nestedLibrary()
{
    static QTemporaryDir dir;
    static const bool made = [] {
        for (int f = 0; f < kDocuments / 10; ++f) {
            const QString folder = dir.filePath(QStringLiteral("Project %1").arg(f));
            QDir().mkpath(folder);
            for (int d = 0; d < 10; ++d) touch(folder + QStringLiteral("/Note %1 draft.md").arg(d));
        }
        return true;
    }();
    (void)made;
    static const QString path = dir.path();
    return path;
}

const QString& flatLibrary()
{
    static QTemporaryDir dir;
    static const bool made = [] {
        for (int d = 0; d < kDocuments; ++d) touch(dir.filePath(QStringLiteral("Entry %1 of the journal.txt").arg(d)));
        return true;
    }();
    (void)made;
    static const QString path = dir.path();
    return path;
}

std::shared_ptr<Library> loaded(const QString& path)
{
    auto library = Library::make(path);
    if (!library->loadFileTree().ok()) return nullptr;
    return library;
}

void drop(std::shared_ptr<Library>& library)
{
    library->releaseFileController();
    library.reset();
    QCoreApplication::processEvents();
}

void BM_ScanLibrary(benchmark::State& state)
{
    const QString& path = state.range(0) ? flatLibrary() : nestedLibrary();
    for (auto _ : state) {
        auto library = loaded(path);
        if (!library) {
            state.SkipWithError("scan failed");
            break;
        }
        state.PauseTiming();
        drop(library);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kDocuments);
}
BENCHMARK(BM_ScanLibrary)->ArgName("flat")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ResortTree(benchmark::State& state)
{
    auto library = loaded(state.range(0) ? flatLibrary() : nestedLibrary());
    FileController& controller = *library->fileController();
    bool byDate = false;
    for (auto _ : state) {
        byDate = !byDate;
        controller.setSortKey(byDate ? Library::SortKey::dateModified : Library::SortKey::name);
    }
    drop(library);
}
BENCHMARK(BM_ResortTree)->ArgName("flat")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FilterOneLetter(benchmark::State& state)
{
    auto library = loaded(nestedLibrary());
    Directory* root = library->fileController()->rootFile();
    qsizetype matches = 0;
    for (auto _ : state) {
        auto filtered = root->filtered(QStringLiteral("e"));
        matches = filtered.root ? filtered.root->count() : 0;
        benchmark::DoNotOptimize(matches);
    }
    state.counters["top rows"] = double(matches);
    drop(library);
}
BENCHMARK(BM_FilterOneLetter)->Unit(benchmark::kMillisecond);

// Another program makes 2,500 documents and renames 2,500 others while the
// event loop is busy; then the library catches up. Nothing may be lost.
void BM_StormOfChanges(benchmark::State& state)
{
    QTemporaryDir dir;
    for (int i = 0; i < 2500; ++i) touch(dir.filePath(QStringLiteral("old %1.md").arg(i)));
    auto library = loaded(dir.path());
    Directory* root = library->fileController()->rootFile();
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++round;
        for (int i = 0; i < 2500; ++i) {
            touch(dir.filePath(QStringLiteral("new %1 %2.md").arg(round).arg(i)));
            const QString from = dir.filePath(QStringLiteral("%1 %2.md").arg(round == 1 ? QStringLiteral("old") : QStringLiteral("renamed %1").arg(round - 1)).arg(i));
            const QString to = dir.filePath(QStringLiteral("renamed %1 %2.md").arg(round).arg(i));
            ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData());
        }
        const int expected = 2500 * (round + 1);
        state.ResumeTiming();
        while (root->count() != expected || !root->fileAtPath(dir.filePath(QStringLiteral("renamed %1 2499.md").arg(round))))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    state.SetItemsProcessed(state.iterations() * 5000);
    drop(library);
}
BENCHMARK(BM_StormOfChanges)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_TreeMemory(benchmark::State& state)
{
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        auto library = loaded(state.range(0) ? flatLibrary() : nestedLibrary());
        const size_t after = mallinfo2().uordblks;
        state.counters["MB"] = double(after - before) / (1024.0 * 1024.0);
        state.counters["bytes per document"] = double(after - before) / kDocuments;
        drop(library);
    }
}
BENCHMARK(BM_TreeMemory)->ArgName("flat")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
