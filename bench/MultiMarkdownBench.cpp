// MultiMarkdown conversion of generated documents of 100 KB, 1 MB and 5 MB
// with the options every caller in Lumora uses, beside cmark-gfm alone on the
// same text (same extensions and options, no dialect layer); and of texts of
// one construct repeated, or one character many times over, at 10 KB, 100 KB
// and 1 MB; and of hostile texts a fuzzer found, or made like them, beside
// cmark-gfm alone at one, two and four times their size.
//
// Goals: the generated documents within 1.15 times cmark-gfm alone (which
// runs its own smart punctuation here; the conversion does MultiMarkdown's
// instead), and every text linear in size: the 5 MB document within 6 times
// the 1 MB one, and each repeated construct about 10 times slower for 10
// times the text (the fitted O(N) line of each shape has an RMS of a few
// percent; caches make the largest size somewhat dearer everywhere, cmark-gfm
// alone included). The hostile text the fuzzer found within 1.5 times
// cmark-gfm alone on the same text, at every size (cmark-gfm itself grows
// faster than the text on lists nested thousands deep, so each size compares
// with its own); the texts made like it, lists nested up to 130,000 deep at
// four times, as near as memory lets: there both sides wait on it, and the
// difference is the dialect's own passes over the tree, each linear.
#include "multimarkdown_binding/MultiMarkdown.h"

#include <benchmark/benchmark.h>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <QFile>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

double fastest(const std::vector<double>& times);

namespace {

using lumora::MultiMarkdown;

// A document like a long manuscript: headings, paragraphs with emphasis,
// quotes, dashes, links and code spans, lists, quotes, code blocks, tables,
// and now and then a footnote, a citation or a CriticMarkup change.
std::string generatedMarkdown(size_t size)
{
    std::string text = "Title: A Generated Manuscript\nAuthor: Lumora\n\n";
    std::string notes;
    int section = 0;
    while (text.size() + notes.size() < size) {
        ++section;
        const std::string n = std::to_string(section);
        text += "## Section " + n + "\n\n";
        text += "It was a \"bright\" morning -- the kind of day when *everything* seemed possible... "
                "She walked to the **old bridge** and read the [notice](https://example.com/notice/" + n
            + ") pinned to the rail, then checked `item_" + n + "` twice. It's the third time this week.\n\n";
        text += "The river ran fast under the stones; a heron stood in the shallows and watched her pass. "
                "Nobody had crossed since dawn, and the path on the far side was still wet with dew.";
        if (section % 4 == 0) text += " Later she noted it down.[^n" + n + "]";
        if (section % 6 == 0) text += " See the survey [p. " + n + "][#survey].";
        if (section % 5 == 0) text += " The {~~green~>grey~~} door was {++finally++} open.";
        text += "\n\n";
        text += "- first point of section " + n + "\n- second point, with _emphasis_\n- third point\n\n";
        if (section % 3 == 0) {
            text += "> A quoted line from an older letter,\n> continued on a second line.\n\n";
            text += "```\nint main() { return " + n + "; }\n```\n\n";
        }
        if (section % 7 == 0) text += "| Name | Value |\n|------|------:|\n| alpha | " + n + " |\n| beta | 2 |\n\n";
        if (section % 4 == 0) notes += "[^n" + n + "]: A note for section " + n + ", with *emphasis*.\n\n";
    }
    text += notes;
    text += "[#survey]: The Survey of Rivers, 1901.\n";
    return text;
}

const std::string& document(size_t size)
{
    static std::string small = generatedMarkdown(100 * 1024);
    static std::string medium = generatedMarkdown(1024 * 1024);
    static std::string large = generatedMarkdown(5 * 1024 * 1024);
    return size <= 100 * 1024 ? small : size <= 1024 * 1024 ? medium : large;
}

void BM_MultiMarkdownConvert(benchmark::State& state)
{
    const std::string& text = document(size_t(state.range(0)));
    const QString string = QString::fromStdString(text);
    for (auto _ : state) {
        std::optional<QString> html = MultiMarkdown::applicationHtml(string);
        benchmark::DoNotOptimize(html);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

// cmark-gfm by itself: the same extensions and options, the text already in
// UTF-8 and the HTML left in UTF-8 (so this side has no conversions to do).
void convertWithCmarkGfmAlone(const std::string& text)
{
    cmark_gfm_core_extensions_ensure_registered();
    const int options = CMARK_OPT_UNSAFE | CMARK_OPT_SMART | CMARK_OPT_STRIKETHROUGH_DOUBLE_TILDE;
    cmark_parser* parser = cmark_parser_new(options);
    for (const char* name : {"table", "strikethrough", "autolink"})
        cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension(name));
    cmark_parser_feed(parser, text.data(), text.size());
    cmark_node* root = cmark_parser_finish(parser);
    char* html = cmark_render_html(root, options, cmark_parser_get_syntax_extensions(parser));
    benchmark::DoNotOptimize(html);
    std::free(html);
    cmark_node_free(root);
    cmark_parser_free(parser);
}

void BM_CmarkGfmAlone(benchmark::State& state)
{
    const std::string& text = document(size_t(state.range(0)));
    for (auto _ : state) convertWithCmarkGfmAlone(text);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

// Texts that would cost the square of their length if a scan started again
// at every character or pair: one character many times over, constructs left
// open, and the constructs with lists of their own (terms, headings and the
// tables of contents, notes) many times over.
struct Shape {
    const char* name;
    std::string (*text)(size_t size);
};

std::string repeatedTo(std::string_view piece, size_t size, std::string text = {})
{
    while (text.size() < size) text += piece;
    return text;
}

const Shape shapes[] = {
    {"carets", [](size_t n) { return std::string(n, '^'); }},
    {"tildes", [](size_t n) { return std::string(n, '~'); }},
    {"open_brackets", [](size_t n) { return std::string(n, '['); }},
    {"close_brackets", [](size_t n) { return std::string(n, ']'); }},
    {"pipes", [](size_t n) { return std::string(n, '|'); }},
    {"double_quotes", [](size_t n) { return std::string(n, '"'); }},
    {"single_quotes", [](size_t n) { return std::string(n, '\''); }},
    {"backticks", [](size_t n) { return std::string(n, '`'); }},
    {"stars", [](size_t n) { return std::string(n, '*'); }},
    {"underscores", [](size_t n) { return std::string(n, '_'); }},
    {"braces", [](size_t n) { return std::string(n, '{'); }},
    {"dollars", [](size_t n) { return std::string(n, '$'); }},
    {"less_thans", [](size_t n) { return std::string(n, '<'); }},
    {"parentheses", [](size_t n) { return std::string(n, '('); }},
    {"quote_nesting", [](size_t n) { return std::string(n, '>') + " a\n"; }},
    {"item_numbers", [](size_t n) { return repeatedTo("1. ", n, "* ") + "x\n"; }},
    {"short_superscripts", [](size_t n) { return repeatedTo("x^", n); }},
    {"short_subscripts", [](size_t n) { return repeatedTo("H~", n); }},
    {"scripts_and_dollars", [](size_t n) { return repeatedTo(" a^b~c $d", n); }},
    {"note_openings", [](size_t n) { return repeatedTo("[^", n); }},
    {"citation_openings", [](size_t n) { return repeatedTo("[#", n); }},
    {"bracket_pairs", [](size_t n) { return repeatedTo("[a][b]", n); }},
    {"link_openings_with_equals", [](size_t n) { return repeatedTo("](", n / 2) + std::string(n / 2, '='); }},
    {"critic_openings", [](size_t n) { return repeatedTo("{++a{~~b~>", n); }},
    {"tex_quotes", [](size_t n) { return repeatedTo("``a ", n); }},
    {"one_word_term", [](size_t n) {
         return repeatedTo("MMD ", n, "[>MMD]: MultiMarkdown\n[?a b c d e f g h]: A long term\n\n");
     }},
    {"term_prefixes", [](size_t n) {
         return repeatedTo("a b c d e f g ", n, "[>MMD]: MultiMarkdown\n[?a b c d e f g h]: A long term\n\n");
     }},
    {"headings_and_contents", [](size_t n) {
         std::string text = "{{TOC}}\n\n";
         for (int i = 0; text.size() < n; ++i) text += "## Heading " + std::to_string(i) + "\n";
         return text;
     }},
    {"same_headings", [](size_t n) { return repeatedTo("# Heading\n", n, "{{TOC}}\n\n"); }},
    {"notes", [](size_t n) {
         std::string references;
         std::string definitions;
         for (int i = 0; references.size() + definitions.size() < n; ++i) {
             references += "Text[^n" + std::to_string(i) + "] ";
             definitions += "[^n" + std::to_string(i) + "]: A note.\n";
         }
         return references + "\n\n" + definitions;
     }},
    {"inline_notes", [](size_t n) { return repeatedTo("Text[^an inline note] ", n); }},
    {"cross_references", [](size_t n) { return repeatedTo("[Methods][meth] ", n, "# Methods [meth]\n\n"); }},
    {"table_rows", [](size_t n) { return repeatedTo("| 1 | 2 |\n", n, "[Caption]\n| a | b |\n|---|---|\n"); }},
};

void BM_MultiMarkdownShape(benchmark::State& state, const Shape* shape)
{
    const QString text = QString::fromStdString(shape->text(size_t(state.range(0))));
    for (auto _ : state) {
        std::optional<QString> html = MultiMarkdown::applicationHtml(text);
        benchmark::DoNotOptimize(html);
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

const bool shapesRegistered = [] {
    for (const Shape& shape : shapes)
        benchmark::RegisterBenchmark((std::string("BM_MultiMarkdownShape/") + shape.name).c_str(),
                                     BM_MultiMarkdownShape, &shape)
            ->RangeMultiplier(10)
            ->Range(10 * 1000, 1000 * 1000)
            ->Unit(benchmark::kMillisecond)
            ->Complexity(benchmark::oN);
    return true;
}();

// Hostile texts: the one a fuzzer found (data/number-chains.md: math, "1. "
// many times over inside a paragraph, then a line of thousands of "1. ",
// each a list in the item before, ending on a fence of tildes that holds the
// rest), and texts of its kind. At scale 1 numberChains gives that file byte
// for byte; at 2 and 4 every run in it is so many times longer.
std::string numberChains(size_t scale)
{
    const auto times = [scale](std::string_view piece, size_t count) {
        std::string run;
        for (size_t i = 0; i < count * scale; ++i) run += piece;
        return run;
    };
    return "Inline $x_1 + y^2$ and $$\\frac{a}{b}$% and \\\\(e* " + times("1. ", 1704) + "1-  . " + times("1. ", 274)
        + "1   \n. " + times("1. ", 5478) + "1.^{i\\pi}\\\\) and \\\\[x\\\\], H~8~O x^2^, $5 and $6.\n "
        + times("1. ", 22569) + times("~", 1322) + " " + times("1. ", 243) + "1" + times("~", 2515) + "**"
        + times("~", 76) + ". " + times("1. ", 3286) + "x\n";
}

std::string foundNumberChains()
{
    QFile file(QStringLiteral(LUMORA_BENCH_DATA "/number-chains.md"));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    std::string text = file.readAll().toStdString();
    if (text != numberChains(1)) {
        std::fprintf(stderr, "%s is no longer what numberChains(1) makes\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    return text;
}

// Each about 100 KB at scale 1: a chain of numbers over a block that is no
// paragraph (a fence of tildes or backticks, a heading), in a quote, or with
// bullets between, after a paragraph it interrupts; or a run of
// dollars or carets deep in lists or quotes.
std::string repeatedTimes(std::string_view piece, size_t count)
{
    std::string text;
    text.reserve(piece.size() * count);
    for (size_t i = 0; i < count; ++i) text += piece;
    return text;
}

const Shape hostileTexts[] = {
    {"number_chains", [](size_t scale) { return scale == 1 ? foundNumberChains() : numberChains(scale); }},
    {"number_chain_over_tildes",
     [](size_t scale) { return "Text\n " + repeatedTimes("1. ", 33000 * scale) + "~~~\ncode\n~~~\n"; }},
    {"number_chain_over_backticks",
     [](size_t scale) { return "Text\n" + repeatedTimes("1. ", 33000 * scale) + "```\ncode\n```\n"; }},
    {"number_chain_over_heading", [](size_t scale) { return "* " + repeatedTimes("1. ", 33000 * scale) + "# Heading\n"; }},
    {"number_chain_in_quote", [](size_t scale) { return "> " + repeatedTimes("1. ", 33000 * scale) + "~~~\n> x\n"; }},
    {"number_chains_with_bullets", [](size_t scale) { return "- " + repeatedTimes("1. - ", 20000 * scale) + "~~~\n"; }},
    {"short_number_chains",
     [](size_t scale) { return repeatedTimes("* " + repeatedTimes("1. ", 100) + "~~~\n", 330 * scale); }},
    // A run of dollars or of carets that opens nothing, in a paragraph
    // thousands of lists or quotes deep (texts the fuzzer found were made
    // so).
    {"dollars_after_number_chain",
     [](size_t scale) { return repeatedTimes("1. ", 6400 * scale) + "1" + repeatedTimes("$", 80000 * scale) + "\n"; }},
    {"carets_in_deep_quote",
     [](size_t scale) { return repeatedTimes(">", 15000 * scale) + " " + repeatedTimes("^", 50000 * scale) + "\n"; }},
    // Dollars between letters, and carets between spaces: none opens.
    {"dollars_between_letters_after_number_chain",
     [](size_t scale) { return repeatedTimes("1. ", 6400 * scale) + "x\n" + repeatedTimes("$a", 40000 * scale) + "\n"; }},
    {"spaced_carets_after_number_chain",
     [](size_t scale) { return repeatedTimes("1. ", 6400 * scale) + "x\n" + repeatedTimes("^ ", 40000 * scale) + "x\n"; }},
    // CriticMarkup openers that no closer follows.
    {"critic_openers_after_number_chain",
     [](size_t scale) { return repeatedTimes("1. ", 6400 * scale) + "x\n" + repeatedTimes("{++ a {== b {>> c ", 4400 * scale) + "\n"; }},
};

// The texts are made once, in UTF-8 and as a QString, for every run.
struct HostileText {
    std::string utf8;
    QString string;
};

const HostileText& hostileText(const Shape* shape, size_t scale)
{
    static std::vector<std::pair<std::pair<const Shape*, size_t>, HostileText>> made;
    for (const auto& [key, text] : made)
        if (key.first == shape && key.second == scale) return text;
    std::string utf8 = shape->text(scale);
    QString string = QString::fromStdString(utf8);
    made.push_back({{shape, scale}, {std::move(utf8), std::move(string)}});
    return made.back().second;
}

void BM_MultiMarkdownHostile(benchmark::State& state, const Shape* shape)
{
    const HostileText& text = hostileText(shape, size_t(state.range(0)));
    for (auto _ : state) {
        std::optional<QString> html = MultiMarkdown::applicationHtml(text.string);
        benchmark::DoNotOptimize(html);
    }
    state.SetComplexityN(int64_t(text.utf8.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.utf8.size()));
}

void BM_CmarkGfmAloneHostile(benchmark::State& state, const Shape* shape)
{
    const HostileText& text = hostileText(shape, size_t(state.range(0)));
    for (auto _ : state) convertWithCmarkGfmAlone(text.utf8);
    state.SetComplexityN(int64_t(text.utf8.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.utf8.size()));
}

const bool hostileRegistered = [] {
    for (const Shape& shape : hostileTexts) {
        using Function = void (*)(benchmark::State&, const Shape*);
        const std::pair<const char*, Function> sides[] = {{"BM_MultiMarkdownHostile/", BM_MultiMarkdownHostile},
                                                          {"BM_CmarkGfmAloneHostile/", BM_CmarkGfmAloneHostile}};
        for (const auto& [prefix, function] : sides)
            benchmark::RegisterBenchmark((std::string(prefix) + shape.name).c_str(), function, &shape)
                ->Arg(1)
                ->Arg(2)
                ->Arg(4)
                ->Unit(benchmark::kMillisecond)
                ->Complexity(benchmark::oN)
                ->ComputeStatistics("min", fastest);
    }
    return true;
}();

} // namespace

// On a busy machine compare the fastest repetitions: run with
// --benchmark_repetitions=9 --benchmark_report_aggregates_only=true.
double fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

BENCHMARK(BM_MultiMarkdownConvert)
    ->Arg(100 * 1024)
    ->Arg(1024 * 1024)
    ->Arg(5 * 1024 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_CmarkGfmAlone)
    ->Arg(100 * 1024)
    ->Arg(1024 * 1024)
    ->Arg(5 * 1024 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", fastest);
