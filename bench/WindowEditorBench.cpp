// The editor as the writer meets it: document windows of the application in
// a real window system (the xcb platform on an X server: the one DISPLAY
// names, else an Xvfb started here, with openbox when it is installed), keys
// handed to the window as the window system hands them over, and each key
// timed until the paint that shows it has been put on the screen.
//
// - BM_WindowKey/<size>/<where>: a letter typed and taken back with
//   Backspace on the first line (0), in the middle (1) and near the end (2)
//   of 100 KB, 5 MB and 20 MB, with the default options, once the
//   background layout is done. Keys come every 40 ms; counted per key: the
//   GUI thread's CPU until the paint (cpu_us), all the GUI thread did until
//   the next key (thread_us), and key to paint (paint_ms).
// - BM_WindowFirstKeys/<size>: the document opened, a key typed 100 ms
//   after its text is painted (no writer reacts faster), then a key every
//   30 ms while the rest of the text is measured: key to paint of the first
//   key and of the slowest.
// - BM_WindowTextAttributes/<change>: at 5 MB, the selection in the middle
//   of the view, a text size (0), theme (1), paragraph spacing (2) or font
//   (3) change: when the screen is right (screen_ms), the GUI thread's CPU
//   until the text is restyled and laid out (busy_cpu_ms), when it last
//   worked more than half of 100 ms (busy_until_ms), when the restyle and
//   the layout are done (laid_out_ms),
//   how far the selection moved from where it stood (selection_drift_px),
//   and, on the way back, key to paint of keys typed meanwhile.
// - BM_WindowOutlineJump: 5 MB, a heading near the end chosen in the
//   outline while the text is still measured: how far from the middle it
//   stands when painted and once everything is measured.
// - BM_WindowNewHeading: 5 MB with the outline shown, "# A new heading"
//   typed on a new line in the middle: GUI-thread CPU per key, and what a
//   reload that builds the whole tree costs.
//
// Without an X server (no DISPLAY and no Xvfb) the program says so and
// does nothing. BENCH_ARGS=--benchmark_filter=... picks some of them. For a
// profiler: LUMORA_BENCH_KEYS=N types N keys per position or heading,
// LUMORA_BENCH_MONOTONIC prints when the first key of a fresh document was
// typed, and when each text attribute change began, showed and was laid out
// (CLOCK_MONOTONIC, as perf record -k CLOCK_MONOTONIC stamps samples),
// LUMORA_BENCH_SLOW_KEYS lists the keys slower than 10 ms, LUMORA_BENCH_PER_KEY
// prints each key of a new heading with its CPU until the paint and until
// the next key (µs).
#include "document/Document.h"
#include "document/DocumentViewController.h"
#include "document/OutlineViewController.h"
#include "document/TextView.h"
#include "markdown/Outline.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/files/UserDefaults.h"
#include "platform/text/EditorLayout.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "settings/Theme.h"
#include "shell/DocumentController.h"
#include "shell/WindowController.h"
#include "support/BenchWindows.h"
#include "support/MarkdownCorpus.h"
#include "support/Measures.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>
#include <QtTest/qtestkeyboard.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace lumora;
using lumora::bench::median;
using lumora::bench::threadCpuMicroseconds;

namespace {

// ---- Watching keys and paints -------------------------------------------------------------

// Notes, on the GUI thread, when each key reached the editor and when the
// editor's text was next painted and put on the screen (the outermost event
// that painted it has returned, its flush to the window system included).
class Watch {
public:
    static Watch& instance()
    {
        static Watch watch;
        return watch;
    }

    QElapsedTimer clock;
    QPointer<QWidget> viewport;   // the editor's viewport
    QPointer<QWidget> editor;     // where keys go
    int paints = 0;               // paints of the viewport, flushed
    qint64 lastPaintEnd = 0;      // ns on clock
    double lastPaintCpu = 0;      // the thread's CPU then, µs
    // Keys typed from another thread: when each was typed (ns), in order.
    std::mutex typedMutex;
    std::deque<qint64> typed;
    // The first key not yet shown: when it was typed (-1: none).
    qint64 waitingKey = -1;
    std::vector<double> keyToPaint; // ms, one per paint that showed keys
    bool recordKeys = false;

    void noteTyped(qint64 at)
    {
        std::lock_guard lock(typedMutex);
        typed.push_back(at);
    }

    void before(QObject* receiver, QEvent* event)
    {
        if (!recordKeys || event->type() != QEvent::KeyPress || receiver != editor) return;
        qint64 at = -1;
        {
            std::lock_guard lock(typedMutex);
            if (!typed.empty()) {
                at = typed.front();
                typed.pop_front();
            }
        }
        if (at >= 0 && waitingKey < 0) waitingKey = at;
    }

    void after(QObject* receiver, QEvent* event, int depth)
    {
        if (event->type() == QEvent::Paint && receiver == viewport) m_painted = true;
        if (depth != 0 || !m_painted) return;
        m_painted = false;
        ++paints;
        lastPaintEnd = clock.nsecsElapsed();
        lastPaintCpu = threadCpuMicroseconds();
        if (waitingKey >= 0) {
            keyToPaint.push_back(double(lastPaintEnd - waitingKey) / 1e6);
            waitingKey = -1;
        }
    }

    void watch(QWidget* view, QWidget* port)
    {
        editor = view;
        viewport = port;
        paints = 0;
        waitingKey = -1;
        keyToPaint.clear();
        std::lock_guard lock(typedMutex);
        typed.clear();
    }

private:
    Watch() { clock.start(); }
    bool m_painted = false;
};

class WatchedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        Watch& watch = Watch::instance();
        watch.before(receiver, event);
        ++m_depth;
        const bool result = QApplication::notify(receiver, event);
        --m_depth;
        watch.after(receiver, event, m_depth);
        return result;
    }

private:
    int m_depth = 0;
};

// Runs the event loop until condition holds or ms have passed, waiting
// for events (never spinning: the thread's CPU time is measured), and
// looking at the condition after each event and every millisecond.
template <typename Condition>
bool runUntil(Condition condition, int ms)
{
    if (condition()) return true;
    QEventLoop loop;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer poll;
    poll.setInterval(1);
    bool met = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        met = condition();
        if (met || elapsed.elapsed() > ms) loop.quit();
    });
    poll.start();
    loop.exec();
    return met || condition();
}

// Runs the event loop for ms.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// ---- Documents and windows ---------------------------------------------------------------

const QString& fileOf(qsizetype bytes) { return bench::markdownCorpusFile(bytes); }

using bench::closeWindows;
using bench::controller;

TextView* editorOf(WindowController* window) { return window->documentViewController()->textView(); }
EditorLayout* layoutOf(TextView* view) { return qobject_cast<EditorLayout*>(view->document()->documentLayout()); }

// Opens path in a shown, active window and waits for its first paint.
WindowController* openShown(const QString& path, double* firstPaintMs = nullptr)
{
    closeWindows();
    Watch& watch = Watch::instance();
    const qint64 start = watch.clock.nsecsElapsed();
    const auto opened = controller().openDocument(path, true);
    Document* document = opened ? qobject_cast<Document*>(*opened) : nullptr;
    WindowController* window = nullptr;
    for (WindowController* w : WindowController::all())
        if (w->document() && w->document() == document) window = w;
    if (!window) return nullptr;
    TextView* view = editorOf(window);
    watch.watch(view, view->viewport());
    QWidget* top = window->window();
    top->resize(1100, 850);
    top->show();
    top->activateWindow();
    runUntil([&] { return watch.paints > 0; }, 20'000);
    if (firstPaintMs) *firstPaintMs = double(watch.lastPaintEnd - start) / 1e6;
    runUntil([&] { return QApplication::focusWidget() == view; }, 2'000);
    return window;
}

bool laidOut(TextView* view) { return layoutOf(view)->isLaidOut(); }

// The state a few seconds after opening: everything measured (at once,
// rather than waiting for the background's quarter of the thread).
void settle(TextView* view)
{
    layoutOf(view)->layoutEverything();
    runUntil([&] { return laidOut(view); }, 120'000);
    runFor(100);
}

// A key pressed and released in the window, as the window system delivers
// it; returns when the GUI thread has handled it.
void typeKey(QWindow* window, int key, const QString& text)
{
    qt_handleKeyEvent(window, QEvent::KeyPress, key, Qt::NoModifier, text);
    qt_handleKeyEvent(window, QEvent::KeyRelease, key, Qt::NoModifier, text);
}

struct KeyFigures {
    std::vector<double> cpu;     // µs until the paint
    std::vector<double> thread;  // µs until the next key
    std::vector<double> paint;   // ms key to paint
};

// Types count keys at the caret, every `every` ms, a letter and Backspace
// by turns (or the text given, one character a key).
KeyFigures typeAndTime(WindowController* window, int count, int every, const QString& text = QString())
{
    Watch& watch = Watch::instance();
    QWindow* handle = window->window()->windowHandle();
    KeyFigures figures;
    for (int i = 0; i < count; ++i) {
        const bool letter = i % 2 == 0;
        int key = letter ? Qt::Key_A : Qt::Key_Backspace;
        QString typed = letter ? QStringLiteral("a") : QString();
        if (!text.isEmpty()) {
            const QChar c = text[i % text.size()];
            typed = QString(c);
            key = c == u' ' ? Qt::Key_Space : c == u'#' ? Qt::Key_NumberSign : Qt::Key_A + (c.toUpper().unicode() - u'A');
            if (!c.isLetter() && c != u' ' && c != u'#') key = Qt::Key_Period;
        }
        const int paintsBefore = watch.paints;
        const double cpuBefore = threadCpuMicroseconds();
        const qint64 start = watch.clock.nsecsElapsed();
        typeKey(handle, key, typed);
        runUntil([&] { return watch.paints > paintsBefore; }, 2'000);
        figures.cpu.push_back(watch.lastPaintCpu - cpuBefore);
        figures.paint.push_back(double(watch.lastPaintEnd - start) / 1e6);
        // Whatever the key left for later runs before the next key.
        const qint64 next = start + qint64(every) * 1'000'000;
        const qint64 left = next - watch.clock.nsecsElapsed();
        if (left > 0) runFor(int(left / 1'000'000));
        figures.thread.push_back(threadCpuMicroseconds() - cpuBefore);
    }
    return figures;
}

// Under LUMORA_BENCH_MONOTONIC: what happened, and when, on the clock perf
// stamps its samples with.
void printMonotonic(const char* what)
{
    if (!qEnvironmentVariableIsSet("LUMORA_BENCH_MONOTONIC")) return;
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    std::printf("%s at %ld.%09ld\n", what, long(t.tv_sec), long(t.tv_nsec));
}

double maxOf(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

// A writer typing on another thread, a key every `every` ms (a letter, then
// Backspace); the watch notes when each key is shown.
class Typist {
public:
    Typist(QWindow* window, int every, int delay = 0) : m_window(window), m_every(every), m_delay(delay) {}
    ~Typist() { stop(); }

    void start()
    {
        Watch::instance().recordKeys = true;
        m_thread = std::thread([this] {
            Watch& watch = Watch::instance();
            const auto begin = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_delay);
            for (int typed = 0; !m_stop; ++typed) {
                std::this_thread::sleep_until(begin + std::chrono::milliseconds(m_every) * typed);
                if (m_stop) break;
                const bool letter = typed % 2 == 0;
                watch.noteTyped(watch.clock.nsecsElapsed());
                if (typed == 0) printMonotonic("first key typed");
                // Returns once the GUI thread has handled the key.
                typeKey(m_window, letter ? Qt::Key_A : Qt::Key_Backspace, letter ? QStringLiteral("a") : QString());
                ++m_count;
            }
            m_done = true;
        });
    }

    void stop()
    {
        m_stop = true;
        // The thread may be waiting for the GUI thread to take its last key.
        runUntil([&] { return m_done.load(); }, 10'000);
        if (m_thread.joinable()) m_thread.join();
        runFor(50);
        Watch::instance().recordKeys = false;
    }

    int count() const { return m_count; }

private:
    QWindow* m_window;
    int m_every;
    int m_delay;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<int> m_count{0};
};

// ---- The benchmarks ----------------------------------------------------------------------------

// The window of the last size opened, kept open across the positions.
struct OpenDocument {
    qsizetype bytes = 0;
    QPointer<QWidget> top;
    WindowController* window = nullptr;
};
OpenDocument& current()
{
    static OpenDocument open;
    return open;
}

WindowController* settledWindow(qsizetype bytes)
{
    OpenDocument& open = current();
    if (open.bytes != bytes || !open.top) {
        open = {};
        WindowController* window = openShown(fileOf(bytes));
        if (!window) return nullptr;
        open = {bytes, window->window(), window};
    }
    TextView* view = editorOf(open.window);
    Watch::instance().watch(view, view->viewport());
    settle(view);
    return open.window;
}

// Where a key goes: the first line, inside the paragraph in the middle, or
// inside the last paragraph but one.
qsizetype positionFor(const TextStorage& storage, int where)
{
    const QString& s = storage.string();
    if (where == 0) {
        // Inside the first word of three letters or more (the first line
        // is a heading: its marks stay as they are).
        const QRegularExpressionMatch word = QRegularExpression(QStringLiteral("\\b[a-z]{3,}")).match(s);
        return word.hasMatch() ? word.capturedStart() + 2 : 0;
    }
    const qsizetype target = where == 1 ? s.size() / 2 : s.size() * 995 / 1000;
    qsizetype start = s.lastIndexOf(QStringLiteral("\n\n"), target);
    while (start > 0 && !s[start + 2].isLetter()) start = s.lastIndexOf(QStringLiteral("\n\n"), start - 1);
    return s.indexOf(u' ', start + 12);
}

void BM_WindowKey(benchmark::State& state)
{
    WindowController* window = settledWindow(qsizetype(state.range(0)));
    if (!window) {
        state.SkipWithError("open failed");
        return;
    }
    TextView* view = editorOf(window);
    view->setSelectedRange(Range(positionFor(*view->textStorage(), int(state.range(1))), 0));
    view->ensureCursorVisible();
    runFor(300);
    KeyFigures all;
    for (auto _ : state) {
        // LUMORA_BENCH_KEYS types more keys, for a profiler.
        const int keys = qEnvironmentVariableIntValue("LUMORA_BENCH_KEYS");
        const KeyFigures f = typeAndTime(window, keys > 0 ? keys : 30, 40);
        all.cpu.insert(all.cpu.end(), f.cpu.begin(), f.cpu.end());
        all.thread.insert(all.thread.end(), f.thread.begin(), f.thread.end());
        all.paint.insert(all.paint.end(), f.paint.begin(), f.paint.end());
        state.SetIterationTime(median(f.cpu) / 1e6);
    }
    state.counters["cpu_us"] = median(all.cpu);
    state.counters["thread_us"] = median(all.thread);
    state.counters["paint_ms"] = median(all.paint);
    state.counters["paint_max_ms"] = maxOf(all.paint);
}

void BM_WindowFirstKeys(benchmark::State& state)
{
    for (auto _ : state) {
        current() = {};
        double firstPaint = 0;
        const double cpuBefore = threadCpuMicroseconds();
        WindowController* window = openShown(fileOf(qsizetype(state.range(0))), &firstPaint);
        if (!window) {
            state.SkipWithError("open failed");
            return;
        }
        Watch& watch = Watch::instance();
        const qint64 shown = watch.clock.nsecsElapsed();
        const double cpuShown = threadCpuMicroseconds();
        TextView* view = editorOf(window);
        // The first key a tenth of a second after the text shows (no writer
        // reacts faster), then one every 30 ms.
        Typist typist(window->window()->windowHandle(), 30, 100);
        typist.start();
        runUntil([&] { return laidOut(view); }, 120'000);
        const double laidOutMs = double(watch.clock.nsecsElapsed() - shown) / 1e6;
        const double cpuLaidOut = threadCpuMicroseconds();
        typist.stop();
        if (qEnvironmentVariableIsSet("LUMORA_BENCH_SLOW_KEYS"))
            for (size_t k = 0; k < watch.keyToPaint.size(); ++k)
                if (watch.keyToPaint[k] > 10) std::printf("key %zu at about %zu ms: %.1f ms\n", k, k * 30, watch.keyToPaint[k]);
        state.SetIterationTime(firstPaint / 1e3);
        state.counters["first_paint_ms"] = firstPaint;
        state.counters["open_cpu_ms"] = (cpuShown - cpuBefore) / 1e3;
        state.counters["first_key_ms"] = watch.keyToPaint.empty() ? -1 : watch.keyToPaint.front();
        state.counters["max_key_ms"] = maxOf(watch.keyToPaint);
        state.counters["median_key_ms"] = median(watch.keyToPaint);
        state.counters["keys"] = typist.count();
        state.counters["laid_out_ms"] = laidOutMs;
        state.counters["layout_cpu_ms"] = (cpuLaidOut - cpuShown) / 1e3;
        closeWindows();
    }
}

void BM_WindowTextAttributes(benchmark::State& state)
{
    const int kind = int(state.range(0));
    Settings& settings = Settings::shared();
    const double size = settings.stylesheet().base.size.value_or(16.0);
    const std::shared_ptr<Theme> theme = settings.theme();
    std::shared_ptr<Theme> other;
    for (const auto& t : settings.themes())
        if (t != theme && t->isDark != theme->isDark) other = t;
    // Another family of the machine's, a common one where it is there.
    const QString own = settings.stylesheet().base.font.value_or(QString());
    QString family;
    for (const QString& f : QFontDatabase::families())
        if (f != own && (family.isEmpty() || f == QLatin1String("DejaVu Serif") || f == QLatin1String("Liberation Serif")))
            family = f;
    auto change = [&](bool on) {
        switch (kind) {
        case 0: settings.setFontSize(on ? size + 4 : size); break;
        case 1: if (other) settings.setTheme(on ? other : theme); break;
        case 2: settings.setParagraphSpacing(on ? Settings::ParagraphSpacing::oneLine : Settings::ParagraphSpacing::defaultSpacing); break;
        default: settings.setCustomFont(on ? std::optional<QString>(family) : std::nullopt); break;
        }
    };
    WindowController* window = settledWindow(5'000'000);
    if (!window) {
        state.SkipWithError("open failed");
        return;
    }
    TextView* view = editorOf(window);
    // The selection in the middle of the view, where a writer has it.
    view->setSelectedRange(Range(positionFor(*view->textStorage(), 1), 0));
    view->centerSelectionInVisibleArea();
    runFor(300);
    Watch& watch = Watch::instance();
    std::vector<double> screen, busy, idle, keys, drift, busyUntils;
    bool on = false;
    for (auto _ : state) {
        on = !on;
        const int paintsBefore = watch.paints;
        const int distance = view->selectionDistanceFromTop();
        const double cpuBefore = threadCpuMicroseconds();
        const qint64 start = watch.clock.nsecsElapsed();
        printMonotonic("change");
        change(on);
        runUntil([&] { return watch.paints > paintsBefore; }, 10'000);
        printMonotonic("shown");
        const double screenMs = double(watch.lastPaintEnd - start) / 1e6;
        // Keys typed while the rest is measured, every other time: keys
        // move the selection's line (typewriter scrolling keeps its
        // bottom, not its top, in place), so the times without them show
        // whether the selection stayed where it was.
        std::optional<Typist> typist;
        if (!on) {
            typist.emplace(window->window()->windowHandle(), 30);
            typist->start();
        }
        // The thread's CPU time every 10 ms until the layout is done: it is
        // busy until the end of the last 100 ms in which it worked more
        // than half the time.
        std::vector<std::pair<qint64, double>> samples{{start, cpuBefore}};
        runUntil([&] {
            const qint64 now = watch.clock.nsecsElapsed();
            if (now - samples.back().first >= 10'000'000) samples.emplace_back(now, threadCpuMicroseconds());
            return laidOut(view) && !window->document()->data().isRestyling();
        }, 120'000);
        samples.emplace_back(watch.clock.nsecsElapsed(), threadCpuMicroseconds());
        printMonotonic("laid out");
        const qint64 idleAt = samples.back().first;
        const double cpuAfter = samples.back().second;
        qint64 busyUntil = start;
        for (size_t i = 0, j = 0; i < samples.size(); ++i) {
            while (j < samples.size() && samples[j].first - samples[i].first < 100'000'000) ++j;
            if (j >= samples.size()) break;
            const double share = (samples[j].second - samples[i].second) * 1e3 / double(samples[j].first - samples[i].first);
            if (share > 0.5) busyUntil = samples[j].first;
        }
        busyUntils.push_back(double(busyUntil - start) / 1e6);
        if (typist) typist->stop();
        else drift.push_back(std::abs(view->selectionDistanceFromTop() - distance));
        screen.push_back(screenMs);
        idle.push_back(double(idleAt - start) / 1e6);
        busy.push_back((cpuAfter - cpuBefore) / 1e3);
        keys.push_back(maxOf(watch.keyToPaint));
        if (qEnvironmentVariableIsSet("LUMORA_BENCH_SLOW_KEYS"))
            for (size_t k = 0; k < watch.keyToPaint.size(); ++k)
                if (watch.keyToPaint[k] > 10) std::printf("key %zu at about %zu ms: %.1f ms\n", k, k * 30, watch.keyToPaint[k]);
        watch.keyToPaint.clear();
        state.SetIterationTime(screenMs / 1e3);
        runFor(200);
    }
    if (on) change(false);
    settle(view);
    state.counters["screen_ms"] = median(screen);
    state.counters["laid_out_ms"] = median(idle);
    state.counters["busy_until_ms"] = median(busyUntils);
    state.counters["busy_cpu_ms"] = median(busy);
    state.counters["max_key_ms"] = maxOf(keys);
    state.counters["selection_drift_px"] = maxOf(drift);
}

void BM_WindowNewHeading(benchmark::State& state)
{
    WindowController* window = settledWindow(5'000'000);
    if (!window) {
        state.SkipWithError("open failed");
        return;
    }
    window->setOutlineVisible(true);
    TextView* view = editorOf(window);
    settle(view);
    // A new line after the paragraph in the middle.
    const QString& s = view->textStorage()->string();
    const qsizetype at = s.indexOf(QStringLiteral("\n\n"), s.size() / 2) + 1;
    view->setSelectedRange(Range(at, 0));
    view->ensureCursorVisible();
    runFor(300);
    const QString heading = QStringLiteral("# A new heading");
    std::vector<double> cpu, thread, paint;
    // LUMORA_BENCH_KEYS types more headings, for a profiler.
    const int keys = qEnvironmentVariableIntValue("LUMORA_BENCH_KEYS");
    const int headings = std::max(1, keys / int(heading.size()));
    for (auto _ : state) for (int h = 0; h < headings; ++h) {
        view->setSelectedRange(Range(at, 0));
        runFor(50);
        const KeyFigures f = typeAndTime(window, int(heading.size()), 40, heading);
        if (qEnvironmentVariableIsSet("LUMORA_BENCH_PER_KEY")) {
            for (size_t k = 0; k < f.cpu.size(); ++k) std::printf("%c:%.0f/%.0f ", heading[k].toLatin1(), f.cpu[k], f.thread[k]);
            std::printf("\n");
        }
        cpu.insert(cpu.end(), f.cpu.begin(), f.cpu.end());
        thread.insert(thread.end(), f.thread.begin(), f.thread.end());
        paint.insert(paint.end(), f.paint.begin(), f.paint.end());
        state.SetIterationTime(median(f.cpu) / 1e6);
        // The heading taken away again.
        view->replaceCharacters(Range(at, heading.size()), QString(), TextView::EditOptions{});
        runFor(100);
    }
    {
        // What a reload that builds the whole tree costs (a heading made,
        // unmade or relevelled), and the walk over the text alone.
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 20; ++i) window->outlineViewController()->reloadOutline();
        state.counters["full_reload_us"] = double(t.nsecsElapsed()) / 20e3;
        t.restart();
        for (int i = 0; i < 20; ++i) outlineTree(*view->textStorage());
        state.counters["tree_build_us"] = double(t.nsecsElapsed()) / 20e3;
    }
    window->setOutlineVisible(false);
    state.counters["cpu_us"] = median(cpu);
    state.counters["thread_us"] = median(thread);
    state.counters["paint_ms"] = median(paint);
    state.counters["cpu_max_us"] = maxOf(cpu);
}

// A heading far down chosen in the outline while a long text is still being
// measured: where the heading stands when painted and once all is measured.
void BM_WindowOutlineJump(benchmark::State& state)
{
    for (auto _ : state) {
        current() = {};
        WindowController* window = openShown(fileOf(5'000'000));
        if (!window) {
            state.SkipWithError("open failed");
            return;
        }
        window->setOutlineVisible(true);
        TextView* view = editorOf(window);
        runFor(100);
        const bool measuring = !laidOut(view);
        // The last heading but a few: far below what is measured yet.
        std::shared_ptr<Outline> far;
        for (std::shared_ptr<Outline> node = window->outlineViewController()->outline(); node && !node->contents.empty();
             node = node->contents.back())
            far = node->contents.size() > 3 ? node->contents[node->contents.size() - 3] : node->contents.back();
        if (!far) {
            state.SkipWithError("no heading");
            return;
        }
        QElapsedTimer timer;
        timer.start();
        window->outlineViewController()->selectHeading(far);
        const int middle = view->viewport()->height() / 2;
        const int paints = Watch::instance().paints;
        runUntil([&] { return Watch::instance().paints > paints; }, 5'000);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        const int shown = view->cursorRect().center().y() - middle;
        runUntil([&] { return laidOut(view); }, 120'000);
        runFor(100);
        state.counters["measuring_when_chosen"] = measuring;
        state.counters["off_middle_shown_px"] = shown;
        state.counters["off_middle_measured_px"] = view->cursorRect().center().y() - middle;
        window->setOutlineVisible(false);
        closeWindows();
    }
}

} // namespace

// The first keys first: in a fresh process, as the writer meets them.
BENCHMARK(BM_WindowFirstKeys)->Arg(5'000'000)->Arg(20'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_WindowKey)
    ->Args({100'000, 0})->Args({100'000, 1})->Args({100'000, 2})
    ->Args({5'000'000, 0})->Args({5'000'000, 1})->Args({5'000'000, 2})
    ->Args({20'000'000, 0})->Args({20'000'000, 1})->Args({20'000'000, 2})
    ->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(1);
BENCHMARK(BM_WindowNewHeading)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(2);
BENCHMARK(BM_WindowOutlineJump)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_WindowTextAttributes)->DenseRange(0, 3)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

// ---- An X server of our own ----------------------------------------------------------------------

namespace {

pid_t g_server = 0;
pid_t g_windowManager = 0;

bool displayAnswers(const char* display)
{
    // A local display ":N" answers on its socket.
    if (!display || display[0] != ':') return display && *display;
    const std::string number(display + 1, std::string(display + 1).find('.') == std::string::npos
                                              ? std::string(display + 1).size()
                                              : std::string(display + 1).find('.'));
    struct stat st {};
    return stat(("/tmp/.X11-unix/X" + number).c_str(), &st) == 0;
}

std::string findProgram(const char* name)
{
    const char* path = std::getenv("PATH");
    std::string paths = path ? path : "/usr/bin:/bin";
    size_t from = 0;
    while (from <= paths.size()) {
        const size_t to = paths.find(':', from);
        const std::string dir = paths.substr(from, to == std::string::npos ? std::string::npos : to - from);
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (to == std::string::npos) break;
        from = to + 1;
    }
    return {};
}

// Starts Xvfb on a free display; returns the display's name, or "".
std::string startServer()
{
    const std::string xvfb = findProgram("Xvfb");
    if (xvfb.empty()) return {};
    int fds[2];
    if (pipe(fds) != 0) return {};
    g_server = fork();
    if (g_server == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        const std::string fd = std::to_string(fds[1]);
        execl(xvfb.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1000x24", "-nolisten", "tcp",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (g_server < 0) return {};
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
        kill(g_server, SIGTERM);
        waitpid(g_server, nullptr, 0);
        g_server = 0;
        return {};
    }
    return ":" + number;
}

void startWindowManager()
{
    const std::string openbox = findProgram("openbox");
    if (openbox.empty()) return;
    g_windowManager = fork();
    if (g_windowManager == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(openbox.c_str(), "openbox", "--sm-disable", static_cast<char*>(nullptr));
        _exit(127);
    }
    // It takes over the screen within a moment.
    if (g_windowManager > 0) usleep(500'000);
}

void stopChildren()
{
    for (pid_t* child : {&g_windowManager, &g_server}) {
        if (*child <= 0) continue;
        kill(*child, SIGTERM);
        waitpid(*child, nullptr, 0);
        *child = 0;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir sandbox(QDir::tempPath() + QStringLiteral("/lumora-bench-XXXXXX"));
    const QByteArray root = sandbox.path().toLocal8Bit();
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").constData(), 1);
    QDir().mkpath(QString::fromLocal8Bit(root + "/runtime"));
    chmod((root + "/runtime").constData(), 0700);

    // The real window system, whatever the caller's platform.
    const char* display = std::getenv("DISPLAY");
    if (!displayAnswers(display)) {
        const std::string started = startServer();
        if (started.empty()) {
            std::printf("bench_WindowEditorBench: skipped: no X server (none at DISPLAY, and Xvfb could not start)\n");
            return 0;
        }
        setenv("DISPLAY", started.c_str(), 1);
        if (!std::getenv("LUMORA_BENCH_NO_WINDOW_MANAGER")) startWindowManager();
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int status = 0;
    {
        WatchedApplication app(argc, argv);
        ::benchmark::Initialize(&argc, argv);
        if (::benchmark::ReportUnrecognizedArguments(argc, argv)) {
            status = 1;
        } else {
            ::benchmark::RunSpecifiedBenchmarks();
            ::benchmark::Shutdown();
        }
        closeWindows();
    }
    stopChildren();
    return status;
}
