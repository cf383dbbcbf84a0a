// The outline pane and the clipboard commands under load, offscreen, over
// generated Markdown of 1 MB and 5 MB (the heading counts are reported).
//
// - Outline after a keystroke in a heading: a letter typed in the text of a
//   heading in the middle of the document and taken back with Backspace,
//   with the outline pane shown; reported are the whole keystroke (edit,
//   restyle, outline, repaint of the editor and the tree) and, as
//   "outline_ms", the outline's own share (the reload it makes), which is
//   what the pane adds to the keystroke.
// - Outline after a new heading: "#" typed at the start of a body line in
//   the middle, which adds a row (and takes it away again).
// - Paste as Markdown of a 100 KB HTML page (read, converted, inserted).
// - Copy as HTML of a 1 MB selection (converted, put on the clipboard).
#include "document/DocumentViewController.h"
#include "document/EditorCommands.h"
#include "document/OutlineViewController.h"
#include "document/TextView.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "multimarkdown_binding/MultiMarkdown.h"
#include "platform/text/TextStorage.h"
#include "platform/text/UndoManager.h"
#include "settings/Settings.h"
#include "support/MarkdownCorpus.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMimeData>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <memory>

using namespace lumora;

namespace {

// An editor pane and an outline pane side by side over one styled text.
struct Window {
    std::unique_ptr<TextStorage> storage;
    UndoManager undo;
    QWidget window;
    DocumentViewController* pane = nullptr;
    OutlineViewController* outline = nullptr;
    double reloadNs = 0;

    explicit Window(const QString& text)
    {
        const auto& parsed = *Settings::shared().parsedStylesheet();
        storage = std::make_unique<TextStorage>(text, parsed.base);
        restyleParagraphs(*storage, parsed, Range(0, storage->length()), true);
        pane = new DocumentViewController(&window);
        outline = new OutlineViewController(&window);
        pane->setGeometry(0, 0, 900, 800);
        outline->setGeometry(900, 0, 240, 800);
        outline->setEditorPane(pane);
        pane->setOutlineHooks({[] { return true; },
                               [this] {
                                   QElapsedTimer timer;
                                   timer.start();
                                   outline->reloadOutline();
                                   reloadNs += double(timer.nsecsElapsed());
                               },
                               {}});
        pane->textView()->setTextStorage(storage.get(), &undo);
        window.resize(1140, 800);
        window.show();
        outline->reloadOutline();
        QApplication::processEvents();
    }

    void press(Qt::Key key, const QString& text = QString(), Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(pane->textView(), &press);
        pane->textView()->viewport()->repaint();
        outline->outlineView()->viewport()->repaint();
    }

    // The start of the line of the first heading at or after fraction of the
    // text.
    qsizetype headingNear(double fraction) const
    {
        const QString& s = storage->string();
        return s.indexOf(QStringLiteral("\n#"), qsizetype(s.size() * fraction)) + 1;
    }
};

void BM_OutlineKeystrokeInHeading(benchmark::State& state)
{
    Window w(bench::sharedMarkdownCorpus(state.range(0)));
    const qsizetype heading = w.headingNear(0.5);
    const qsizetype at = w.storage->string().indexOf(u' ', heading) + 3; // inside the heading's first word
    w.pane->textView()->setSelectedRange(Range(at, 0));
    w.pane->textView()->ensureCursorVisible();
    QApplication::processEvents();
    const int rowChanges = w.outline->rowChanges();
    w.reloadNs = 0;
    bool typed = false;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        if (typed) w.press(Qt::Key_Backspace);
        else w.press(Qt::Key_X, QStringLiteral("x"));
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        typed = !typed;
    }
    state.counters["outline_ms"] = w.reloadNs / 1e6 / double(state.iterations());
    state.counters["rows_rebuilt"] = w.outline->rowChanges() - rowChanges;
    state.counters["headings"] = double(w.storage->string().count(QStringLiteral("\n#")) + 1);
    state.counters["top_rows"] = double(w.outline->outlineView()->model()->rowCount());
}

void BM_OutlineNewHeading(benchmark::State& state)
{
    Window w(bench::sharedMarkdownCorpus(state.range(0)));
    const QString& s = w.storage->string();
    // A body paragraph's start in the middle.
    qsizetype at = s.indexOf(QStringLiteral("\n\n"), s.size() / 2) + 2;
    while (!s[at].isLetter()) at = s.indexOf(QStringLiteral("\n\n"), at) + 2;
    w.pane->textView()->setSelectedRange(Range(at, 0));
    w.pane->textView()->ensureCursorVisible();
    QApplication::processEvents();
    w.reloadNs = 0;
    bool typed = false;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        if (typed) {
            w.press(Qt::Key_Backspace);
            w.press(Qt::Key_Backspace);
        } else {
            w.press(Qt::Key_NumberSign, QStringLiteral("#"));
            w.press(Qt::Key_Space, QStringLiteral(" "));
        }
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        typed = !typed;
    }
    state.counters["outline_ms"] = w.reloadNs / 1e6 / double(state.iterations());
}

void BM_PasteAsMarkdownOfHtmlPage(benchmark::State& state)
{
    // About 100 KB of HTML: a page of headings, paragraphs with emphasis and
    // links, lists and quotes.
    const QString html = *MultiMarkdown::applicationHtml(bench::sharedMarkdownCorpus(80'000));
    Window w(QStringLiteral("Start\n"));
    auto* data = new QMimeData;
    data->setHtml(html);
    QApplication::clipboard()->setMimeData(data);
    qsizetype inserted = 0;
    for (auto _ : state) {
        w.pane->textView()->setSelectedRange(Range(6, 0));
        QElapsedTimer timer;
        timer.start();
        w.pane->textView()->commands().pasteAsMarkdown();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        inserted = w.storage->length() - 6;
        w.pane->textView()->undo();
    }
    state.counters["html_KB"] = double(html.size()) / 1000.0;
    state.counters["markdown_KB"] = double(inserted) / 1000.0;
}

void BM_CopyAsHtmlOfSelection(benchmark::State& state)
{
    Window w(bench::sharedMarkdownCorpus(state.range(0)));
    w.pane->textView()->setSelectedRange(Range(0, w.storage->length()));
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        w.pane->textView()->commands().copyAsHTML();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    state.counters["html_KB"] = double(QApplication::clipboard()->mimeData()->html().size()) / 1000.0;
}

} // namespace

BENCHMARK(BM_OutlineKeystrokeInHeading)->Arg(1'000'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_OutlineNewHeading)->Arg(1'000'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(40);
BENCHMARK(BM_PasteAsMarkdownOfHtmlPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_CopyAsHtmlOfSelection)->Arg(1'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
