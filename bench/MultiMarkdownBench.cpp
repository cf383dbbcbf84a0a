// MultiMarkdown conversion of generated documents of 100 KB, 1 MB and 5 MB
// with the options every caller in Lumora uses, beside cmark-gfm alone on the
// same text (same extensions and options, no dialect layer); and of texts of
// one construct repeated, or one character many times over, at 10 KB, 100 KB
// and 1 MB.
//
// Goals: the generated documents within 1.15 times cmark-gfm alone (which
// runs its own smart punctuation here; the conversion does MultiMarkdown's
// instead), and every text linear in size: the 5 MB document within 6 times
// the 1 MB one, and each repeated construct about 10 times slower for 10
// times the text (the fitted O(N) line of each shape has an RMS of a few
// percent; caches make the largest size somewhat dearer everywhere, cmark-gfm
// alone included).
#include "multimarkdown_binding/MultiMarkdown.h"

#include <benchmark/benchmark.h>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <QString>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

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
void BM_CmarkGfmAlone(benchmark::State& state)
{
    const std::string& text = document(size_t(state.range(0)));
    cmark_gfm_core_extensions_ensure_registered();
    const int options = CMARK_OPT_UNSAFE | CMARK_OPT_SMART | CMARK_OPT_STRIKETHROUGH_DOUBLE_TILDE;
    for (auto _ : state) {
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
