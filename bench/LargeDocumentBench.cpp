// Long documents in the application as the writer meets them: a file opened
// through the document controller into a document window (offscreen).
//
// - Opening (100 KB, 1 MB, 5 MB): from the open request to the first
//   painted screen of styled text; a key typed at once, and a key every
//   10 ms while the rest of the text is laid out in the background: when
//   each is answered after it was typed (the window's responsiveness).
// - A change of the text attributes with the caret in the middle of 5 MB
//   (a font size, a theme, the paragraph spacing), or of the writing
//   column's width: from the change until the window is repainted.
// - A 2 MB paragraph laid out whole: 2,000 code spans among words; 2,000
//   code spans of 1,000 characters without a break opportunity; one
//   unbroken 2 MB run.
// - Memory: heap in use for an open, styled, laid-out document, per byte of
//   its UTF-16 text, up to 100 MB.
#include "document/Document.h"
#include "document/DocumentViewController.h"
#include "document/TextView.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/files/UserDefaults.h"
#include "platform/text/EditorLayout.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "settings/Theme.h"
#include "shell/DocumentController.h"
#include "shell/WindowController.h"
#include "support/BenchWindows.h"
#include "support/MarkdownCorpus.h"
#include "support/Measures.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <thread>

using namespace lumora;
using lumora::bench::heapMegabytes;
using lumora::bench::residentMegabytes;

namespace {

const QString& fileOf(qsizetype bytes) { return bench::markdownCorpusFile(bytes, QStringLiteral("txt")); }

using bench::closeWindows;
using bench::controller;

struct Application {
    Application()
    {
        controller();
        closeWindows(); // the introduction of a first start
    }
    ~Application() { closeWindows(); }

    WindowController* open(const QString& path)
    {
        const auto opened = controller().openDocument(path, true);
        Document* document = opened ? qobject_cast<Document*>(*opened) : nullptr;
        for (WindowController* window : WindowController::all())
            if (window->document() && window->document() == document) return window;
        return nullptr;
    }
};

TextView* editorOf(WindowController* window) { return window->documentViewController()->textView(); }
EditorLayout* layoutOf(TextView* view) { return qobject_cast<EditorLayout*>(view->document()->documentLayout()); }

bool laidOut(TextView* view)
{
    return layoutOf(view)->laidOutBlockCount() >= view->document()->blockCount();
}

// A writer typing on another thread, a key every 10 ms (a letter, then
// Backspace), and what the editor notes when each key reaches it: how long
// after it was typed.
class Typist : public QObject {
public:
    explicit Typist(QWidget* editor) : m_editor(editor)
    {
        m_clock.start();
        m_editor->installEventFilter(this);
    }
    ~Typist() override
    {
        stop();
        m_editor->removeEventFilter(this);
    }

    void start()
    {
        m_thread = std::thread([this] {
            for (int typed = 0; !m_stop; ++typed) {
                const bool letter = typed % 2 == 0;
                auto* key = new QKeyEvent(QEvent::KeyPress, letter ? Qt::Key_A : Qt::Key_Backspace, Qt::NoModifier,
                                          letter ? QStringLiteral("a") : QString());
                key->setTimestamp(quint64(m_clock.nsecsElapsed()));
                ++m_posted;
                QCoreApplication::postEvent(m_editor, key);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        while (int(delays.size()) < m_posted) QCoreApplication::processEvents();
    }

    std::vector<double> delays; // ms between typing a key and its arrival

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress)
            delays.push_back(double(m_clock.nsecsElapsed() - qint64(static_cast<QKeyEvent*>(event)->timestamp())) / 1e6);
        return false;
    }

private:
    QWidget* m_editor;
    QElapsedTimer m_clock;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_posted{0};
};

void BM_OpenWindow(benchmark::State& state)
{
    const QString& path = fileOf(state.range(0));
    for (auto _ : state) {
        Application application;
        const double heapBefore = heapMegabytes();
        QElapsedTimer timer;
        timer.start();
        WindowController* window = application.open(path);
        if (!window) {
            state.SkipWithError("open failed");
            break;
        }
        // The first screen, painted as the window system asks on exposure.
        window->window()->repaint();
        const double firstPaint = double(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(firstPaint / 1e3);

        // Keys typed from now on, while the rest is laid out.
        TextView* view = editorOf(window);
        Typist typist(view);
        typist.start();
        while (!laidOut(view) && timer.elapsed() < 60'000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double laidOutAt = double(timer.nsecsElapsed()) / 1e6;
        typist.stop();

        state.counters["first_paint_ms"] = firstPaint;
        state.counters["first_key_answered_ms"] = firstPaint + typist.delays.front();
        state.counters["max_key_delay_ms"] = *std::max_element(typist.delays.begin(), typist.delays.end());
        state.counters["keys"] = double(typist.delays.size());
        state.counters["laid_out_ms"] = laidOutAt;
        state.counters["mirror_rebuilds"] = view->mirror().rebuildCount();
        state.counters["heap_MB"] = heapMegabytes() - heapBefore;
    }
}

// Waits until the background layout is done.
void settle(TextView* view)
{
    while (!laidOut(view)) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
}

void textAttributesChange(benchmark::State& state, const std::function<void(bool)>& change)
{
    Application application;
    WindowController* window = application.open(fileOf(state.range(0)));
    if (!window) {
        state.SkipWithError("open failed");
        return;
    }
    window->window()->repaint();
    TextView* view = editorOf(window);
    settle(view);
    // The caret in the middle of the text, shown.
    const TextStorage& storage = *view->textStorage();
    view->setSelectedRange(Range(storage.length() / 2, 0));
    view->ensureCursorVisible();
    window->window()->repaint();
    QCoreApplication::processEvents();
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        QElapsedTimer timer;
        timer.start();
        change(flip);
        window->window()->repaint();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        state.PauseTiming();
        settle(view);
        state.ResumeTiming();
    }
    change(false);
    settle(view);
}

void BM_ChangeFontSize(benchmark::State& state)
{
    Settings& settings = Settings::shared();
    const double size = settings.stylesheet().base.size.value_or(16.0);
    textAttributesChange(state, [&](bool on) { settings.setFontSize(on ? size + 4 : size); });
}

void BM_ChangeTheme(benchmark::State& state)
{
    Settings& settings = Settings::shared();
    const std::shared_ptr<Theme> original = settings.theme();
    std::shared_ptr<Theme> other;
    for (const auto& theme : settings.themes())
        if (theme != original && theme->isDark != original->isDark) other = theme;
    if (!other) {
        state.SkipWithError("no other theme");
        return;
    }
    textAttributesChange(state, [&](bool on) { settings.setTheme(on ? other : original); });
}

void BM_ChangeParagraphSpacing(benchmark::State& state)
{
    Settings& settings = Settings::shared();
    textAttributesChange(state, [&](bool on) {
        settings.setParagraphSpacing(on ? Settings::ParagraphSpacing::oneLine : Settings::ParagraphSpacing::defaultSpacing);
    });
}

// The writing column's width (the editor size).
void BM_ChangeEditorSize(benchmark::State& state)
{
    Settings& settings = Settings::shared();
    const double size = settings.editorSize();
    textAttributesChange(state, [&](bool on) { settings.setEditorSize(on ? size - 200 : size); });
}

// A paragraph of about two million characters with 2,000 code spans: among
// words (0), each of 1,000 characters without a break opportunity (1); or
// a single unbroken run (2).
QString longParagraph(int kind)
{
    constexpr qsizetype kLength = 2'000'000;
    constexpr int kSpans = 2000;
    QString text;
    text.reserve(kLength + 4096);
    if (kind == 2) return QString(kLength, u'x');
    const QString span = kind == 1 ? u'`' + QString(1000, u'c') + u'`' : QStringLiteral("`code_span()`");
    const qsizetype every = kLength / kSpans;
    while (text.size() < kLength) {
        const qsizetype next = text.size() + every;
        while (text.size() < next - span.size()) text += QStringLiteral("words ");
        text += span + u' ';
    }
    return text;
}

void BM_LongParagraph(benchmark::State& state)
{
    const QString text = longParagraph(int(state.range(0)));
    const auto& parsed = *Settings::shared().parsedStylesheet();
    for (auto _ : state) {
        TextStorage storage(text, parsed.base);
        restyleParagraphs(storage, parsed, Range(0, storage.length()), true);
        TextMirror mirror;
        mirror.setStorage(&storage);
        QElapsedTimer timer;
        timer.start();
        mirror.document()->setTextWidth(712);
        qobject_cast<EditorLayout*>(mirror.document()->documentLayout())->layoutEverything();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        state.counters["height"] = mirror.document()->documentLayout()->documentSize().height();
    }
}

// Heap in use for one open document, per byte of its text in UTF-16.
void BM_OpenMemory(benchmark::State& state)
{
    const qsizetype bytes = qsizetype(state.range(0)) * 1'000'000;
    const QString& path = fileOf(bytes);
    for (auto _ : state) {
        const double heapBefore = heapMegabytes();
        const double residentBefore = residentMegabytes();
        Application application;
        QElapsedTimer timer;
        timer.start();
        WindowController* window = application.open(path);
        if (!window) {
            state.SkipWithError("open failed");
            break;
        }
        window->window()->repaint();
        state.counters["first_paint_ms"] = double(timer.nsecsElapsed()) / 1e6;
        TextView* view = editorOf(window);
        layoutOf(view)->layoutEverything();
        QCoreApplication::processEvents();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        const double text = double(view->textStorage()->length()) * 2 / (1024.0 * 1024.0);
        const double heap = heapMegabytes() - heapBefore;
        state.counters["text_utf16_MB"] = text;
        state.counters["heap_MB"] = heap;
        state.counters["heap_per_text"] = heap / text;
        state.counters["rss_growth_MB"] = residentMegabytes() - residentBefore;
    }
}

} // namespace

BENCHMARK(BM_OpenMemory)->Arg(5)->Arg(20)->Arg(100)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_OpenWindow)->Arg(100'000)->Arg(1'000'000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_ChangeFontSize)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_ChangeTheme)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_ChangeEditorSize)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_ChangeParagraphSpacing)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_LongParagraph)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
