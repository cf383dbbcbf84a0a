// Printing and previewing generated Markdown: laying out every page of 1 MB
// (and 5 MB) as its source and as rendered HTML, and showing the preview of
// 1 MB and 5 MB until its page has loaded.
#include "document/Document.h"
#include "document/PreviewViewController.h"
#include "document/PrintView.h"
#include "multimarkdown_binding/MultiMarkdown.h"
#include "platform/files/UserDefaults.h"
#include "support/MarkdownCorpus.h"

#include <QEventLoop>
#include <QFile>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

using namespace lumora;

namespace {

void installConverter()
{
    Document::setHTMLConverter(MultiMarkdown::applicationHtml);
}

// One document per size, read from a file (so it has a name and a folder).
Document& documentOf(qsizetype bytes)
{
    static QTemporaryDir dir;
    static std::map<qsizetype, std::unique_ptr<Document>> documents;
    auto it = documents.find(bytes);
    if (it == documents.end()) {
        const QString path = dir.filePath(QStringLiteral("doc-%1.md").arg(bytes));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bench::markdownCorpus(bytes).toUtf8());
        file.close();
        auto document = std::make_unique<Document>();
        document->readFromFile(path, QStringLiteral("text/plain"));
        it = documents.emplace(bytes, std::move(document)).first;
    }
    return *it->second;
}

qsizetype sizeArg(const benchmark::State& state) { return qsizetype(state.range(0)) * 1024; }

void paginate(benchmark::State& state, bool rendered)
{
    installConverter();
    UserDefaults::standard().set(QStringLiteral("applyMarkdown"), rendered);
    Document& document = documentOf(sizeArg(state));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    int pages = 0;
    for (auto _ : state) {
        PrintView view;
        view.delegate().documents = {&document};
        pages = view.knowsPageRange(printer);
        if (pages == 0) state.SkipWithError("no pages");
    }
    state.counters["pages"] = pages;
    UserDefaults::standard().remove(QStringLiteral("applyMarkdown"));
}

// Every page laid out, as the print panel does before showing the first.
void BM_PaginateSource(benchmark::State& state) { paginate(state, false); }
void BM_PaginateRendered(benchmark::State& state) { paginate(state, true); }

// The preview command on a preview window that exists: the HTML made, the
// page handed to the web view and loaded.
void BM_ShowPreview(benchmark::State& state)
{
    installConverter();
    Document& document = documentOf(sizeArg(state));
    PreviewViewController preview;
    preview.document = &document;
    preview.show();
    const auto showAndWait = [&preview] {
        QEventLoop loop;
        bool ok = false;
        QObject::connect(&preview, &PreviewViewController::loadFinished, &loop, [&](bool finished) {
            ok = finished;
            loop.quit();
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        preview.updatePreview();
        loop.exec();
        return ok;
    };
    if (!showAndWait()) {
        state.SkipWithError("the page did not load (can Qt WebEngine start here?)");
        return;
    }
    for (auto _ : state)
        if (!showAndWait()) state.SkipWithError("the page did not load");
}

} // namespace

BENCHMARK(BM_PaginateSource)->Arg(1024)->Arg(5120)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaginateRendered)->Arg(1024)->Arg(5120)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowPreview)->Arg(1024)->Arg(5120)->Unit(benchmark::kMillisecond)->Iterations(3);
