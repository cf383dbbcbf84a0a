// The text storage alone on texts of 100 KB, 1 MB and 5 MB with styled-looking
// attribute runs: edits at the start, middle and end, small attribute
// changes, look-ups and enumeration. Each should cost the same whatever the
// length of the text (apart from moving the string's characters).
#include "platform/text/TextStorage.h"

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <random>

using namespace lumora;

namespace {

// A text with runs like a styled document's: a colour and font change every
// few words, a paragraph element every 80 characters, sparse inline marks.
TextStorage& storage(qsizetype bytes)
{
    static std::map<qsizetype, std::unique_ptr<TextStorage>> storages;
    auto& s = storages[bytes];
    if (s) return *s;
    QString text;
    text.reserve(bytes);
    while (text.size() < bytes) text += QStringLiteral("Lorem ipsum dolor sit amet, consectetur adipiscing elit sed do.\n");
    s = std::make_unique<TextStorage>(text, Attributes{{AttributeKey::ForegroundColor, Color(0, 0, 0, 0.3)}});
    std::mt19937 rng(3);
    const QFont font = QFont(QStringLiteral("DejaVu Serif"), 13);
    QFont bold = font;
    bold.setBold(true);
    for (qsizetype at = 0; at + 64 < s->length(); at += 64) {
        s->addAttribute(AttributeKey::FullLineMarkdown, AttributeValue::Object(std::make_shared<AttributeObject>()),
                        Range(at, 64));
        s->addAttribute(AttributeKey::Font, font, Range(at, 64));
        const qsizetype word = at + qsizetype(rng() % 50);
        s->addAttribute(AttributeKey::Font, bold, Range(word, 6));
        s->addAttribute(AttributeKey::ForegroundColor, Color(0, 0.2, 0.8, 0.3), Range(word + 2, 4));
        s->addAttribute(AttributeKey::InlineMarkdown, AttributeValue::Object(std::make_shared<AttributeObject>()),
                        Range(word, 6));
    }
    return *s;
}

qsizetype sizeArg(const benchmark::State& state) { return qsizetype(state.range(0)) * 1024; }

qsizetype positionArg(const benchmark::State& state, qsizetype length)
{
    switch (state.range(1)) {
    case 0: return 100;
    case 1: return length / 2;
    default: return length - 100;
    }
}

void Positions(benchmark::internal::Benchmark* b)
{
    b->ArgsProduct({{100, 1024, 5120}, {0, 1, 2}})->ArgNames({"KB", "start/middle/end"})->Unit(benchmark::kMicrosecond);
}

void BM_TypeAndDeleteCharacter(benchmark::State& state)
{
    TextStorage& s = storage(sizeArg(state));
    const qsizetype at = positionArg(state, s.length());
    for (auto _ : state) {
        s.replaceCharacters(Range(at, 0), QStringLiteral("x"));
        s.replaceCharacters(Range(at, 1), QString());
    }
}
BENCHMARK(BM_TypeAndDeleteCharacter)->Apply(Positions);

void BM_AddAttributeOverAWord(benchmark::State& state)
{
    // Recolour a word back and forth where colours already change every few words.
    TextStorage& s = storage(sizeArg(state));
    const qsizetype at = positionArg(state, s.length());
    const Color before = *s.attribute(AttributeKey::ForegroundColor, at).color();
    bool on = false;
    for (auto _ : state) {
        on = !on;
        s.addAttribute(AttributeKey::ForegroundColor, on ? Color(1, 0, 0) : before, Range(at, 5));
    }
    s.addAttribute(AttributeKey::ForegroundColor, before, Range(at, 5));
}
BENCHMARK(BM_AddAttributeOverAWord)->Apply(Positions);

void BM_AttributesAtIndex(benchmark::State& state)
{
    TextStorage& s = storage(sizeArg(state));
    const qsizetype at = positionArg(state, s.length());
    for (auto _ : state) {
        Range effective;
        benchmark::DoNotOptimize(s.attributes(at, &effective));
    }
}
BENCHMARK(BM_AttributesAtIndex)->Apply(Positions);

void BM_EnumerateParagraphRuns(benchmark::State& state)
{
    TextStorage& s = storage(sizeArg(state));
    const qsizetype at = positionArg(state, s.length()) / 64 * 64;
    for (auto _ : state) {
        int n = 0;
        s.enumerateAttributes(Range(at, 64), [&](const Attributes&, Range) { return ++n > 0; });
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_EnumerateParagraphRuns)->Apply(Positions);

} // namespace
