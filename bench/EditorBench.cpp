// The editor under load: the real TextView, offscreen, over generated
// Markdown of 100 KB, 1 MB and 5 MB.
//
// - Keystroke: a space typed inside a paragraph (it touches Markdown syntax,
//   so the paragraph is restyled) and taken back with Backspace, each timed
//   from the key press until the edit, the restyle, the mirror update and a
//   repaint of the viewport are done; near the start, in the middle and at
//   the end of the document.
//   Also as the window meets them, after the background layout: Qt then
//   repaints only what a key changed.
// - A fence completed at the start, making code of everything after it.
// - Return at the end of a list item: the line break and the list
//   continuation (two edits, one undo group), with the repaint.
// - Opening: the text set into a storage, styled whole, mirrored, shown and
//   painted once; the resident memory afterwards is reported as counters.
#include "document/TextView.h"

#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/text/EditorLayout.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "support/MarkdownCorpus.h"
#include "support/Measures.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QTextDocument>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

using namespace lumora;
using lumora::bench::median;
using lumora::bench::residentMegabytes;
using lumora::bench::threadCpuMicroseconds;

namespace {

const QString& corpusOf(qsizetype bytes)
{
    static std::map<qsizetype, QString> cache;
    auto it = cache.find(bytes);
    if (it == cache.end()) it = cache.emplace(bytes, bench::markdownCorpus(bytes)).first;
    return it->second;
}

// One opened document in a shown editor.
struct Editor {
    std::unique_ptr<TextStorage> storage;
    UndoManager undo;
    std::unique_ptr<TextView> view;

    // Milliseconds spent styling the text, building the mirror, and showing
    // and painting the first screen.
    double styling = 0, mirroring = 0, painting = 0;
    double rssStyled = 0, rssMirrored = 0;

    explicit Editor(const QString& text)
    {
        QElapsedTimer timer;
        timer.start();
        const auto& parsed = *Settings::shared().parsedStylesheet();
        storage = std::make_unique<TextStorage>(text, parsed.base);
        restyleParagraphs(*storage, parsed, Range(0, storage->length()), true);
        styling = timer.nsecsElapsed() / 1e6;
        rssStyled = residentMegabytes();
        timer.restart();
        view = std::make_unique<TextView>();
        view->resize(1100, 800);
        view->setTextStorage(storage.get(), &undo);
        mirroring = timer.nsecsElapsed() / 1e6;
        rssMirrored = residentMegabytes();
        timer.restart();
        view->show();
        // The window is not exposed yet (that comes from the event loop):
        // paint the first screen into an image.
        QImage screen(view->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
        view->viewport()->render(&screen);
        painting = timer.nsecsElapsed() / 1e6;
    }

    void press(Qt::Key key, const QString& text = QString())
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(view.get(), &press);
        view->viewport()->repaint();
    }

    // The key as the window meets it: Qt then repaints what changed.
    void typeShown(Qt::Key key, const QString& text = QString())
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(view.get(), &press);
        QApplication::processEvents();
    }

    // Inside the paragraph at about fraction of the text: after a letter
    // in the middle of its first sentence.
    qsizetype positionInParagraph(double fraction) const
    {
        const QString& s = storage->string();
        const qsizetype target = qsizetype(s.size() * fraction);
        // The start of the body paragraph nearest before target.
        qsizetype start = s.lastIndexOf(QStringLiteral("\n\n"), target);
        while (start > 0) {
            if (s[start + 2].isLetter()) break;
            start = s.lastIndexOf(QStringLiteral("\n\n"), start - 1);
        }
        return s.indexOf(u' ', start + 12) - 1;
    }
};

void keystroke(benchmark::State& state, double fraction, bool shown = false)
{
    Editor editor(corpusOf(state.range(0)));
    const qsizetype at = editor.positionInParagraph(fraction);
    editor.view->setSelectedRange(Range(at, 0));
    editor.view->ensureCursorVisible();
    QApplication::processEvents();
    if (shown) {
        // The background layout done, as it is a few seconds after opening.
        // The thread idles meanwhile, as it does for a writer who reads:
        // background work paces itself by how busy the thread is.
        auto* layout = static_cast<EditorLayout*>(editor.view->document()->documentLayout());
        while (layout->laidOutBlockCount() < editor.view->document()->blockCount()) {
            QEventLoop idle;
            QTimer::singleShot(5, &idle, &QEventLoop::quit);
            idle.exec();
        }
        QApplication::processEvents();
    }
    bool typed = false;
    // The first key moves the storage's gap from wherever the last
    // whole-text read left it (the end) to the caret, once: the figure
    // counts the keys after it, what every further key moves.
    const std::uint64_t movedAtStart = editor.storage->charactersMoved();
    std::uint64_t movedBefore = movedAtStart;
    std::int64_t counted = -1;
    std::vector<double> wall;
    std::vector<double> cpu;
    for (auto _ : state) {
        QElapsedTimer timer;
        const double cpuBefore = threadCpuMicroseconds();
        timer.start();
        if (shown) {
            if (typed) editor.typeShown(Qt::Key_Backspace);
            else editor.typeShown(Qt::Key_Space, QStringLiteral(" "));
        } else {
            if (typed) editor.press(Qt::Key_Backspace);
            else editor.press(Qt::Key_Space, QStringLiteral(" "));
        }
        const double elapsed = double(timer.nsecsElapsed()) / 1e3;
        state.SetIterationTime(elapsed / 1e6);
        wall.push_back(elapsed);
        cpu.push_back(threadCpuMicroseconds() - cpuBefore);
        typed = !typed;
        if (++counted == 0) movedBefore = editor.storage->charactersMoved();
    }
    // Medians: a loaded machine stretches some keys; the thread's own time
    // is what the key costs the editor.
    state.counters["median_us"] = median(wall);
    state.counters["thread_cpu_median_us"] = median(cpu);
    // Characters the storage moved per key: the text behind the caret must
    // stay where it is (a key moves the rest of its paragraph, twice).
    state.counters["moved_per_key"] =
        double(editor.storage->charactersMoved() - movedBefore) / double(std::max<std::int64_t>(counted, 1));
    state.counters["moved_first_key"] = double(movedBefore - movedAtStart);
    state.counters["restyles"] = editor.view->restyleCount();
    state.counters["mirror_updates"] = editor.view->mirror().updateCount();
}

void BM_KeystrokeStart(benchmark::State& state) { keystroke(state, 0.02); }
// The same in the middle with sentence focus highlighting on.
void BM_KeystrokeMiddleFocus(benchmark::State& state)
{
    Settings& settings = Settings::shared();
    const auto saved = settings.highlighting();
    settings.setHighlighting(Settings::Highlighting::sentence);
    keystroke(state, 0.5);
    settings.setHighlighting(saved);
}
void BM_KeystrokeMiddle(benchmark::State& state) { keystroke(state, 0.5); }
void BM_KeystrokeEnd(benchmark::State& state) { keystroke(state, 0.995); }
// The same keystrokes in a window that repaints only what they changed, as
// the writer's window does (the benchmarks above repaint all of it).
void BM_KeystrokeShownStart(benchmark::State& state) { keystroke(state, 0.02, true); }
void BM_KeystrokeShownMiddle(benchmark::State& state) { keystroke(state, 0.5, true); }
void BM_KeystrokeShownEnd(benchmark::State& state) { keystroke(state, 0.995, true); }

void BM_ReturnAfterListItem(benchmark::State& state)
{
    Editor editor(corpusOf(state.range(0)));
    const QString& s = editor.storage->string();
    const qsizetype item = s.lastIndexOf(QStringLiteral("\n- "));
    const qsizetype end = s.indexOf(u'\n', item + 1);
    editor.view->setSelectedRange(Range(end, 0));
    editor.view->ensureCursorVisible();
    QApplication::processEvents();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        editor.press(Qt::Key_Return, QStringLiteral("\r"));
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        editor.view->undo();
        editor.view->undo();
    }
}

// The key that completes a fence at the start of the text, so that the
// whole text after it becomes code: what the key itself costs (the text
// near it restyled at once, the rest left to the background); then undone.
void BM_FenceOpenedAtStart(benchmark::State& state)
{
    Editor editor(QStringLiteral("``\n") + corpusOf(state.range(0)));
    editor.view->setSelectedRange(Range(2, 0));
    QApplication::processEvents();
    std::vector<double> wall;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        editor.press(Qt::Key_QuoteLeft, QStringLiteral("`"));
        const double elapsed = double(timer.nsecsElapsed()) / 1e3;
        state.SetIterationTime(elapsed / 1e6);
        wall.push_back(elapsed);
        editor.view->undo();
        QApplication::processEvents();
    }
    state.counters["median_us"] = median(wall);
}

void BM_Open(benchmark::State& state)
{
    const QString& text = corpusOf(state.range(0));
    const double before = residentMegabytes();
    double after = before;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        Editor editor(text);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        after = residentMegabytes();
        state.counters["style_ms"] = editor.styling;
        state.counters["mirror_ms"] = editor.mirroring;
        state.counters["paint_ms"] = editor.painting;
        state.counters["rss_styled_MB"] = editor.rssStyled;
        state.counters["rss_mirrored_MB"] = editor.rssMirrored;
        // What the background layout then does, and the memory after it.
        QElapsedTimer layout;
        layout.start();
        static_cast<EditorLayout*>(editor.view->document()->documentLayout())->layoutEverything();
        state.counters["full_layout_ms"] = double(layout.nsecsElapsed()) / 1e6;
        state.counters["rss_laid_out_MB"] = residentMegabytes();
    }
    state.counters["rss_MB"] = after;
    state.counters["rss_growth_MB"] = after - before;
}

// A change of the text attributes (theme, font, size): the whole text
// restyled with the new stylesheet, the mirror following, one repaint.
void BM_RestyleWholeText(benchmark::State& state)
{
    Editor editor(corpusOf(state.range(0)));
    QApplication::processEvents();
    const auto& current = *Settings::shared().parsedStylesheet();
    const auto other = std::make_shared<ParsedMarkdownStylesheet>(current);
    other->base.set(AttributeKey::ForegroundColor, Color(0.8, 0.2, 0.2));
    bool flip = false;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const ParsedMarkdownStylesheet& parsed = flip ? current : *other;
        restyleParagraphs(*editor.storage, parsed, Range(0, editor.storage->length()), true);
        editor.view->viewport()->repaint();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        flip = !flip;
    }
}

} // namespace

// Opening first, so that its memory figures are not inflated by the others.
BENCHMARK(BM_Open)->Arg(100'000)->Arg(1'000'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_KeystrokeEnd)->Arg(100'000)->Arg(1'000'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);
BENCHMARK(BM_KeystrokeMiddle)->Arg(100'000)->Arg(1'000'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_KeystrokeStart)->Arg(100'000)->Arg(1'000'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_KeystrokeShownStart)->Arg(100'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);
BENCHMARK(BM_KeystrokeShownMiddle)->Arg(100'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);
BENCHMARK(BM_KeystrokeShownEnd)->Arg(100'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);
BENCHMARK(BM_KeystrokeMiddleFocus)->Arg(100'000)->Arg(1'000'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_RestyleWholeText)->Arg(100'000)->Arg(1'000'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_FenceOpenedAtStart)->Arg(100'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(20);
BENCHMARK(BM_ReturnAfterListItem)->Arg(100'000)->Arg(1'000'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(100);
