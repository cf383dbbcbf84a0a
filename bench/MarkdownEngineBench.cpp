// The Markdown engine on generated documents of 100 KB, 1 MB and 5 MB:
// whole-text restyle, one paragraph after a one-character edit, one focus
// update after a caret move, the memory of a styled storage, and Link on an
// inline link in the middle of the text (the conversion's reading of the
// text and the edits that turn the link and renumber the rest; as
// "reading_ms", the reading's share).
#include "markdown/FocusHighlighting.h"
#include "markdown/MarkdownInsertion.h"
#include "markdown/MarkdownScanner.h"
#include "markdown/MarkdownStylesheet.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/text/TextBoundaries.h"
#include "platform/text/TextStorage.h"
#include "multimarkdown_binding/SourceReading.h"
#include "support/MarkdownCorpus.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <malloc.h>
#include <map>
#include <memory>

using namespace lumora;

namespace {

const ParsedMarkdownStylesheet& stylesheet()
{
    static const ParsedMarkdownStylesheet parsed(MarkdownStylesheet::defaultStylesheet(),
                                                 Color(0.1, 0.1, 0.1, unhighlightedTextAlpha), 0.0);
    return parsed;
}

const QString& corpus(qsizetype bytes)
{
    static std::map<qsizetype, QString> texts;
    auto it = texts.find(bytes);
    if (it == texts.end()) it = texts.emplace(bytes, bench::markdownCorpus(bytes)).first;
    return it->second;
}

// One styled storage per size, shared by the benchmarks that only edit
// attributes or make a change and take it back.
TextStorage& styledStorage(qsizetype bytes)
{
    static std::map<qsizetype, std::unique_ptr<TextStorage>> storages;
    auto& s = storages[bytes];
    if (!s) {
        const QString& text = corpus(bytes);
        s = std::make_unique<TextStorage>(QString(text.constData(), text.size()));
        restyleParagraphs(*s, stylesheet(), Range(0, s->length()));
    }
    return *s;
}

qsizetype sizeArg(const benchmark::State& state) { return qsizetype(state.range(0)) * 1024; }

void Sizes(benchmark::internal::Benchmark* b)
{
    for (int kb : {100, 1024, 5120}) b->Arg(kb);
    b->Unit(benchmark::kMillisecond);
}

// ---- Whole text ---------------------------------------------------------------

void BM_StyleNewStorage(benchmark::State& state)
{
    const QString& text = corpus(sizeArg(state));
    for (auto _ : state) {
        TextStorage s(text);
        restyleParagraphs(s, stylesheet(), Range(0, s.length()));
        benchmark::DoNotOptimize(s.length());
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_StyleNewStorage)->Apply(Sizes);

void BM_ResetAndRestyleWholeStorage(benchmark::State& state)
{
    TextStorage& s = styledStorage(sizeArg(state));
    for (auto _ : state) restyleParagraphs(s, stylesheet(), Range(0, s.length()));
    state.SetBytesProcessed(state.iterations() * s.length());
}
BENCHMARK(BM_ResetAndRestyleWholeStorage)->Apply(Sizes);

// ---- One paragraph after a keystroke --------------------------------------------

// The first plain word character of a paragraph holding an inline element,
// from `fraction` of the text on.
qsizetype editPoint(const QString& text, double fraction)
{
    qsizetype at = qsizetype(double(text.size()) * fraction);
    if (at >= text.size() - 200) at = text.size() - 200;
    for (;; ++at) {
        const text::ParagraphBounds p = text::paragraphBounds(text, Range(at, 0));
        const QStringView para = QStringView(text).sliced(p.start, p.end - p.start);
        if (para.size() > 40 && para[0].isLetter() && para.contains(u'*')) {
            qsizetype i = p.start + 3;
            while (!(text[i].isLetter() && text[i + 1].isLetter())) ++i;
            return i + 1;
        }
        at = p.end;
    }
}

// The same paragraph at each place, so that sizes and places compare.
const QString kSampleParagraph = QStringLiteral(
    "The quick brown fox jumps over the *lazy* dog near the [river](https://example.org/river), "
    "and then it **rests** in the garden[^1] until the evening comes and the lanterns are lit.\n");

qsizetype placeSample(TextStorage& s, double fraction)
{
    const qsizetype at = editPoint(s.string(), fraction);
    const text::ParagraphBounds p = text::paragraphBounds(s.string(), Range(at, 0));
    if (s.string().mid(p.start, p.end - p.start) != kSampleParagraph) {
        s.replaceCharacters(Range(p.start, p.end - p.start), kSampleParagraph);
        restyleParagraphs(s, stylesheet(), Range(p.start, kSampleParagraph.size()));
    }
    return p.start + 6; // inside "quick"
}

// Types a letter inside a word of the sample paragraph, or takes it back, so
// that the text keeps its size; `after` runs after each edit.
template <typename After>
void typeInWord(benchmark::State& state, After after)
{
    TextStorage& s = styledStorage(sizeArg(state));
    const double fraction = state.range(1) == 0 ? 0.001 : state.range(1) == 1 ? 0.5 : 0.999;
    const qsizetype at = placeSample(s, fraction);
    bool inserted = false;
    for (auto _ : state) {
        if (inserted) s.replaceCharacters(Range(at, 1), QString());
        else s.replaceCharacters(Range(at, 0), QStringLiteral("x"));
        inserted = !inserted;
        after(s, Range(at, inserted ? 1 : 0));
    }
    if (inserted) s.replaceCharacters(Range(at, 1), QString());
}

void KeystrokePlaces(benchmark::internal::Benchmark* b)
{
    b->ArgsProduct({{100, 1024, 5120}, {0, 1, 2}})->ArgNames({"KB", "start/middle/end"})->Unit(benchmark::kMicrosecond);
}

// The restyle of the edited paragraph alone is timed.
void BM_RestyleParagraphAfterEdit(benchmark::State& state)
{
    typeInWord(state, [&](TextStorage& s, Range edited) {
        const auto start = std::chrono::steady_clock::now();
        restyleParagraphs(s, stylesheet(), edited);
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    });
}
BENCHMARK(BM_RestyleParagraphAfterEdit)->Apply(KeystrokePlaces)->UseManualTime();

// Restyling one paragraph again without an edit: the styling work alone.
void BM_RestyleParagraphOnly(benchmark::State& state)
{
    TextStorage& s = styledStorage(sizeArg(state));
    const qsizetype at = placeSample(s, 0.5);
    for (auto _ : state) restyleParagraphs(s, stylesheet(), Range(at, 0));
}
BENCHMARK(BM_RestyleParagraphOnly)->Arg(100)->Arg(1024)->Arg(5120)->ArgName("KB")->Unit(benchmark::kMicrosecond);

// The edit itself (the string and every key's runs), for comparison.
void BM_OneCharacterEdit(benchmark::State& state)
{
    typeInWord(state, [](TextStorage&, Range) {});
}
BENCHMARK(BM_OneCharacterEdit)->Apply(KeystrokePlaces);

// ---- Focus ----------------------------------------------------------------------

void BM_FocusMovesToNextSentence(benchmark::State& state)
{
    TextStorage& s = styledStorage(sizeArg(state));
    const QString& text = s.string();
    const qsizetype first = editPoint(text, 0.5);
    Range focus = focusRange(text, Range(first, 0), Highlighting::sentence);
    highlightFocus(s, focus, true);
    for (auto _ : state) {
        qsizetype caret = focus.end();
        if (caret > first + 20000) caret = first; // stay in one stretch of the text
        focus = focusRange(text, Range(caret, 0), Highlighting::sentence);
        highlightFocus(s, focus, false);
    }
    highlightFocus(s, Range(0, s.length()), false);
}
BENCHMARK(BM_FocusMovesToNextSentence)->Arg(100)->Arg(1024)->Arg(5120)->ArgName("KB")->Unit(benchmark::kMicrosecond);

// ---- Memory ---------------------------------------------------------------------

void BM_MemoryOfStyledStorage(benchmark::State& state)
{
    const QString& text = corpus(sizeArg(state));
    for (auto _ : state) {
        malloc_trim(0);
        const size_t before = mallinfo2().uordblks;
        auto s = std::make_unique<TextStorage>(QString(text.constData(), text.size()));
        restyleParagraphs(*s, stylesheet(), Range(0, s->length()));
        const size_t after = mallinfo2().uordblks;
        const double utf16 = double(text.size()) * 2.0;
        state.counters["MB"] = double(after - before) / 1e6;
        state.counters["xUTF16"] = double(after - before) / utf16;
        state.counters["runsMB"] = double(s->attributeMemoryUsage()) / 1e6;
        int runs = 0;
        for (int k = 0; k < kAttributeKeyCount; ++k) runs += s->runs(AttributeKey(k)).runCount();
        state.counters["runs"] = runs;
    }
}
BENCHMARK(BM_MemoryOfStyledStorage)->Arg(100)->Arg(1024)->Arg(5120)->ArgName("KB")->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- Link -------------------------------------------------------------------

void BM_LinkTurnsAnInlineLinkInTheMiddle(benchmark::State& state)
{
    TextStorage& storage = styledStorage(sizeArg(state));
    const QString& text = storage.string();
    std::optional<Range> caret;
    for (qsizetype at = text.size() / 2; !caret && at < text.size(); at = text.indexOf(u'\n', at) + 1) {
        if (at <= 0) break;
        const qsizetype end = text.indexOf(u'\n', at) < 0 ? text.size() : text.indexOf(u'\n', at);
        for (qsizetype from = at; from < end;) {
            const auto element = nextInlineMarkdown(text, from, end - from);
            if (!element) break;
            if (element->element.kind() == Markdown::Kind::LinkInline) {
                caret = Range(element->range.location + 1, 0);
                break;
            }
            from = std::max(element->range.end(), from + 1);
        }
    }
    if (!caret) {
        state.SkipWithError("no inline link in the second half");
        return;
    }
    double readingNs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const SourceReading source(text);
        ConversionReading reading;
        for (const TextStretch& s : source.literalStretches()) reading.literal.emplace_back(s.start, s.length);
        for (const TextStretch& s : source.noteDefinitions()) reading.noteDefinitions.emplace_back(s.start, s.length);
        readingNs += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        const std::vector<MarkdownEdit> edits = insertMarkdownLink(storage, *caret, reading);
        if (edits.empty()) state.SkipWithError("the link did not turn");
        benchmark::DoNotOptimize(edits);
    }
    state.counters["reading_ms"] = benchmark::Counter(readingNs / 1e6, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_LinkTurnsAnInlineLinkInTheMiddle)->Arg(100)->Arg(1024)->Arg(5120)->ArgName("KB")->Unit(benchmark::kMillisecond);

} // namespace
