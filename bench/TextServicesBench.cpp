// The editor's text services under load: the real TextView, offscreen, over
// generated Markdown.
//
// - Find as you type: one key typed into the find field of a 5 MB text,
//   timed until the match near the caret is selected and the highlights of
//   the shown text are painted (the count of every match comes later from
//   the background; its time is reported as a counter).
// - Replace All of 10,000 matches in 5 MB, with the repaint; its undo as a
//   counter.
// - Continuous spelling: painting one screen with every paragraph checked
//   afresh (the English Hunspell dictionary), and with the paragraphs
//   already known.
// - A keystroke at the end of 1 MB with spelling on: a space typed inside a
//   paragraph and taken back, each with the repaint that checks the
//   touched paragraph again.
// - Correct Spelling Automatically: the guess for a misspelt word met for
//   the first time.
#include "document/FindBar.h"
#include "document/TextServices.h"
#include "document/TextView.h"

#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/text/SpellChecker.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "support/MarkdownCorpus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QThread>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

using namespace lumora;

namespace {

const QString& corpusOf(qsizetype bytes)
{
    static std::map<qsizetype, QString> cache;
    auto it = cache.find(bytes);
    if (it == cache.end()) it = cache.emplace(bytes, bench::markdownCorpus(bytes)).first;
    return it->second;
}

// The corpus with "needle" put before `count` words spread evenly through it.
QString withNeedles(qsizetype bytes, int count)
{
    QString text = corpusOf(bytes);
    const qsizetype step = text.size() / (count + 1);
    for (int i = count; i >= 1; --i) {
        const qsizetype at = text.indexOf(u' ', step * i);
        text.insert(at + 1, QStringLiteral("needle "));
    }
    return text;
}

struct Editor {
    std::unique_ptr<TextStorage> storage;
    UndoManager undo;
    std::unique_ptr<TextView> view;

    explicit Editor(const QString& text, bool spelling = false)
    {
        const auto& parsed = *Settings::shared().parsedStylesheet();
        storage = std::make_unique<TextStorage>(text, parsed.base);
        restyleParagraphs(*storage, parsed, Range(0, storage->length()), true);
        view = std::make_unique<TextView>();
        view->resize(1100, 800);
        view->setTextStorage(storage.get(), &undo);
        view->show();
        QApplication::processEvents();
        view->setTextOption(QStringLiteral("continuousSpellCheckingEnabled"), spelling);
        for (const char* key : {"automaticQuoteSubstitutionEnabled", "automaticDashSubstitutionEnabled",
                                "automaticTextReplacementEnabled", "automaticSpellingCorrectionEnabled",
                                "smartInsertDeleteEnabled"})
            view->setTextOption(QLatin1String(key), false);
    }

    void send(QWidget* target, Qt::Key key, const QString& text, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(target, &press);
    }

    void scrollTo(double fraction)
    {
        const qsizetype at = storage->string().indexOf(u' ', qsizetype(storage->length() * fraction));
        view->setSelectedRange(Range(at, 0));
        view->ensureCursorVisible();
        QApplication::processEvents();
    }
};

void BM_FindAsYouType(benchmark::State& state)
{
    Editor editor(corpusOf(state.range(0)));
    editor.scrollTo(0.5);
    TextServices& services = editor.view->services();
    services.showFindBar(false);
    QLineEdit* field = services.findBar()->findField();
    // Words the corpus has, and one it has not (the whole text is searched).
    const QStringList words{QStringLiteral("paragraph"), QStringLiteral("writer"), QStringLiteral("zqxw")};
    int word = 0, letter = 0;
    double countMs = 0;
    int counts = 0;
    for (auto _ : state) {
        const QString& w = words[word];
        QElapsedTimer timer;
        timer.start();
        editor.send(field, Qt::Key_A, w.mid(letter, 1));
        editor.view->viewport()->repaint();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        if (++letter == w.size()) {
            QElapsedTimer count;
            count.start();
            while (services.isCounting() && count.elapsed() < 10000) {
                QApplication::processEvents(QEventLoop::AllEvents, 5);
                QThread::usleep(200);
            }
            countMs += double(count.nsecsElapsed()) / 1e6;
            ++counts;
            field->clear();
            letter = 0;
            word = (word + 1) % int(words.size());
        }
    }
    state.counters["count_after_last_key_ms"] = counts ? countMs / counts : 0;
}

void BM_ReplaceAll10000(benchmark::State& state)
{
    const QString text = withNeedles(state.range(0), 10000);
    Editor editor(text);
    editor.scrollTo(0.5);
    TextServices& services = editor.view->services();
    TextServices::setSharedFindString(QStringLiteral("needle"));
    TextServices::setSharedFindOptions({});
    services.showFindBar(true);
    services.findBar()->replaceField()->setText(QStringLiteral("thread"));
    double undoMs = 0;
    int replaced = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        replaced = services.replaceAll();
        editor.view->viewport()->repaint();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        QElapsedTimer undo;
        undo.start();
        editor.view->undo();
        editor.view->viewport()->repaint();
        undoMs += double(undo.nsecsElapsed()) / 1e6;
    }
    state.counters["replaced"] = replaced;
    state.counters["undo_ms"] = undoMs / double(state.iterations());
    if (editor.storage->string() != text) state.SkipWithError("undo did not restore the text");
}

void BM_SpellCheckScreen(benchmark::State& state)
{
    Editor editor(corpusOf(state.range(0)), true);
    editor.scrollTo(0.5);
    const bool cold = state.range(1) != 0;
    if (!SpellChecker::shared().isAvailable()) state.SkipWithError("no dictionary");
    editor.view->viewport()->repaint();
    for (auto _ : state) {
        if (cold) {
            // Forget every answer: the words and the paragraphs.
            SpellChecker::shared().ignore(u"qqzzqq");
            SpellingWords::announceChange();
        }
        QElapsedTimer timer;
        timer.start();
        editor.view->viewport()->repaint();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    state.counters["misspelt_on_screen"] = double(editor.view->services().paintedMisspellings().size());
}

void BM_KeystrokeWithSpelling(benchmark::State& state)
{
    Editor editor(corpusOf(state.range(0)), state.range(1) != 0);
    const QString& s = editor.storage->string();
    // Inside a body paragraph near the end, after a letter.
    qsizetype start = s.lastIndexOf(QStringLiteral("\n\n"), qsizetype(s.size() * 0.995));
    while (start > 0 && !s[start + 2].isLetter()) start = s.lastIndexOf(QStringLiteral("\n\n"), start - 1);
    const qsizetype at = s.indexOf(u' ', start + 12) - 1;
    editor.view->setSelectedRange(Range(at, 0));
    editor.view->ensureCursorVisible();
    QApplication::processEvents();
    bool typed = false;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        if (typed) editor.send(editor.view.get(), Qt::Key_Backspace, QString());
        else editor.send(editor.view.get(), Qt::Key_Space, QStringLiteral(" "));
        editor.view->viewport()->repaint();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        typed = !typed;
    }
}

// Correct Spelling Automatically: what the space after a misspelt word
// costs the first time that word is met (the answer is remembered).
void BM_CorrectionGuess(benchmark::State& state)
{
    SpellChecker& checker = SpellChecker::shared();
    if (!checker.isAvailable()) state.SkipWithError("no dictionary");
    const QStringList words{QStringLiteral("qiuck"), QStringLiteral("writting"), QStringLiteral("recieve"),
                            QStringLiteral("definately"), QStringLiteral("Kelvarin")};
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        checker.ignore(u"qqzzqq"); // forgets every answer
        state.ResumeTiming();
        benchmark::DoNotOptimize(checker.correction(words[i++ % words.size()]));
    }
}

} // namespace

BENCHMARK(BM_CorrectionGuess)->Unit(benchmark::kMillisecond)->Iterations(25);
BENCHMARK(BM_FindAsYouType)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);
BENCHMARK(BM_ReplaceAll10000)->Arg(5'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SpellCheckScreen)->Args({1'000'000, 1})->Args({1'000'000, 0})->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_KeystrokeWithSpelling)->Args({1'000'000, 0})->Args({1'000'000, 1})->Args({5'000'000, 1})->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);
