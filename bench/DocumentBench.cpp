// Opening and saving documents of generated Markdown of 100 KB, 1 MB and
// 5 MB: reading the file (decoding it), styling the whole text when the
// first window attaches, and writing it back (encoding and the atomic save).
#include "document/Document.h"
#include "document/DocumentEditor.h"
#include "support/MarkdownCorpus.h"

#include <QDir>

#include <benchmark/benchmark.h>

#include <map>

using namespace lumora;

namespace {

class QuietEditor : public DocumentEditor {
public:
    void updateHighlightAttributes() override {}
    void updateTypingAttributes() override {}
    void updateInfo() override {}
    void showWindow() override {}
};

const QString& fileOf(qsizetype bytes) { return bench::markdownCorpusFile(bytes, QStringLiteral("txt")); }

void Sizes(benchmark::internal::Benchmark* b)
{
    for (int kb : {100, 1024, 5120}) b->Arg(kb);
    b->Unit(benchmark::kMillisecond);
}

qsizetype sizeArg(const benchmark::State& state) { return qsizetype(state.range(0)) * 1024; }

// Read and decode only: a document opened for a library row.
void BM_ReadDocument(benchmark::State& state)
{
    const QString& path = fileOf(sizeArg(state));
    for (auto _ : state) {
        Document document;
        if (!document.readFromFile(path, QStringLiteral("text/plain"))) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(document.data().textStorage().length());
    }
    state.SetBytesProcessed(state.iterations() * sizeArg(state));
}
BENCHMARK(BM_ReadDocument)->Apply(Sizes);

// Opening in a window: read, decode, and the full style when the editor
// attaches.
void BM_OpenDocument(benchmark::State& state)
{
    const QString& path = fileOf(sizeArg(state));
    for (auto _ : state) {
        Document document;
        if (!document.readFromFile(path, QStringLiteral("text/plain"))) state.SkipWithError("read failed");
        QuietEditor editor;
        document.addEditor(editor);
        benchmark::DoNotOptimize(document.data().textStorage().runs(AttributeKey::Font));
    }
    state.SetBytesProcessed(state.iterations() * sizeArg(state));
}
BENCHMARK(BM_OpenDocument)->Apply(Sizes);

// Saving in place: encode and write atomically (synced, then renamed).
void BM_SaveDocument(benchmark::State& state)
{
    const QString& path = fileOf(sizeArg(state));
    Document document;
    if (!document.readFromFile(path, QStringLiteral("text/plain"))) state.SkipWithError("read failed");
    for (auto _ : state) {
        if (!document.save()) state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(state.iterations() * sizeArg(state));
}
BENCHMARK(BM_SaveDocument)->Apply(Sizes);

// The statistics line of the whole text (after a save, when a window
// attaches).
void BM_DocumentStatistics(benchmark::State& state)
{
    Document document;
    if (!document.readFromFile(fileOf(sizeArg(state)), QStringLiteral("text/plain")))
        state.SkipWithError("read failed");
    for (auto _ : state) benchmark::DoNotOptimize(document.data().documentStatistics(Range()));
}
BENCHMARK(BM_DocumentStatistics)->Apply(Sizes);

} // namespace
