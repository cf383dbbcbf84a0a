#include "MultiMarkdownSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <thread>
#include <vector>

namespace lumora {
namespace {

using test::htmlOf;
using test::checkConversions;
using test::isWellFormed;
using Extensions = MultiMarkdown::Extensions;
using OutputFormat = MultiMarkdown::OutputFormat;
using Language = MultiMarkdown::LocalizationLanguage;

int count(const QString& text, const QString& needle)
{
    return int(text.count(needle));
}

TEST(MultiMarkdownConvert, EmptyTextGivesEmptyHtmlNotNothing)
{
    const std::optional<QString> html =
        MultiMarkdown::convert(QString(), test::systemExtensions, OutputFormat::html, Language::english);
    ASSERT_TRUE(html.has_value());
    EXPECT_TRUE(html->trimmed().isEmpty());
    EXPECT_TRUE(htmlOf(QStringLiteral("\n\n  \n")).trimmed().isEmpty());
}

TEST(MultiMarkdownConvert, MetadataWithATitleMakesACompleteDocument)
{
    const QString body = QStringLiteral("# Chapter\n\nText.\n");
    const QString document = htmlOf(QStringLiteral("Title: A \"Walk\" <Home>\nAuthor: Kim\nCSS: style.css\n\n") + body);
    EXPECT_TRUE(document.startsWith(QLatin1String("<!DOCTYPE html>")));
    EXPECT_TRUE(document.contains(QLatin1String("<html lang=\"en\">")));
    EXPECT_TRUE(document.contains(QLatin1String("<meta charset=\"utf-8\"/>")));
    EXPECT_TRUE(document.contains(QLatin1String("<title>A &quot;Walk&quot; &lt;Home&gt;</title>")));
    EXPECT_TRUE(document.contains(QLatin1String("<link type=\"text/css\" rel=\"stylesheet\" href=\"style.css\"/>")));
    EXPECT_TRUE(document.contains(QLatin1String("<meta name=\"author\" content=\"Kim\"/>")));
    EXPECT_FALSE(document.contains(QLatin1String("Title:")));
    EXPECT_TRUE(document.contains(QLatin1String("<body>")));
    EXPECT_TRUE(document.trimmed().endsWith(QLatin1String("</html>")));
    EXPECT_TRUE(isWellFormed(document));

    const QString fragment = htmlOf(body);
    EXPECT_FALSE(fragment.contains(QLatin1String("<html")));
    EXPECT_FALSE(fragment.contains(QLatin1String("<head")));
    EXPECT_TRUE(fragment.contains(QLatin1String("<h1")));
}

TEST(MultiMarkdownConvert, HeadingsTakeTheirLevelsFromTheMetadataAndGetUniqueLowerCasedLabels)
{
    checkConversions({
        // Control keys alone give a fragment; htmlheaderlevel wins over
        // baseheaderlevel for HTML.
        {.text = "Base Header Level: 2\nLanguage: fr\nQuotes Language: french\nLaTeX Mode: memoir\n"
                 "HTML Header Level: 3\n\n# One\n\n## Two\n",
         .expected = {"<h3 id=\"one\">One</h3>", "<h4 id=\"two\">Two</h4>"},
         .absent = {"<html", "Language"}},
        // The base level shifts headings, up to six.
        {.text = "Base Header Level: 3\n\n# One\n\n#### Four\n\nFive\n====\n",
         .expected = {"<h3 id=\"one\">", "<h6 id=\"four\">", "<h3 id=\"five\">"}},
        {.text = "Base Header Level: 9\n\n# One\n", .expected = {"<h1"}},
        {.text = "# Heading One\n\n## Heading One\n\n### \u00C7a *va* `x`, 2.0!\n\n#### !!!\n",
         .expected = {"<h1 id=\"headingone\">Heading One</h1>", "<h2 id=\"headingone-1\">Heading One</h2>",
                      "<h3 id=\"\u00E7avax2.0\">", "<h4>!!!</h4>"}},
        {.text = "Base Header Level: 2\n\n> # In a quote\n\n- item\n\n  ## In a list\n\n1. > Setext in both\n   > ---\n",
         .expected = {"<h2 id=\"inaquote\">In a quote</h2>", "<h3 id=\"inalist\">In a list</h3>",
                      "<h3 id=\"setextinboth\">Setext in both</h3>"}},
        {.text = "# Heading One\n",
         .expected = {"<h1>Heading One</h1>"},
         .extensions = test::systemExtensions | Extensions::noLabels},
    });
}

TEST(MultiMarkdownConvert, CompleteAndSnippetFlagsForceTheForm)
{
    const QString plain = QStringLiteral("Just text.\n");
    const QString complete = htmlOf(plain, test::systemExtensions | Extensions::complete);
    EXPECT_TRUE(complete.startsWith(QLatin1String("<!DOCTYPE html>")));
    EXPECT_FALSE(complete.contains(QLatin1String("<title>")));
    EXPECT_TRUE(isWellFormed(complete));

    const QString withTitle = QStringLiteral("Title: T\n\nJust text.\n");
    const QString snippet = htmlOf(withTitle, test::systemExtensions | Extensions::snippet);
    EXPECT_FALSE(snippet.contains(QLatin1String("<html")));
    EXPECT_FALSE(snippet.contains(QLatin1String("Title")));
    EXPECT_TRUE(snippet.contains(QLatin1String("<p>Just text.</p>")));

    const QString german =
        *MultiMarkdown::convert(plain, test::systemExtensions | Extensions::complete, OutputFormat::html, Language::german);
    EXPECT_TRUE(german.contains(QLatin1String("<html lang=\"de\">")));
}

TEST(MultiMarkdownConvert, MetadataRules)
{
    struct Case {
        const char* text;
        bool complete;
        bool metadataRead;
    };
    const Case cases[] = {
        {"Title: T\n\nBody\n", true, true},
        {"title:T\n\nBody\n", false, false},                  // no space after the colon: text
        {"https://example.com\n\nBody\n", false, false},      // a URL is not a key
        {"Title: T\nwrapped line\n\nBody\n", true, true},    // a line without a key continues the value
        {"Title: T\n    continued\nAuthor: A\n\nBody\n", true, true},
        {"\nTitle: T\n\nBody\n", false, false},               // metadata only at the very start
        {"Title: T", true, true},                             // metadata alone
        {"# Title: T\n\nBody\n", false, false},
    };
    for (const Case& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        const QString html = htmlOf(text);
        EXPECT_EQ(html.startsWith(QLatin1String("<!DOCTYPE")), c.complete) << c.text;
        EXPECT_EQ(MultiMarkdown::hasMetadata(text, test::systemExtensions), c.metadataRead) << c.text;
    }
    // With metadata switched off, the block is ordinary text.
    const QString off = htmlOf(QStringLiteral("Title: T\n\nBody\n"), test::systemExtensions | Extensions::noMetadata);
    EXPECT_TRUE(off.contains(QLatin1String("Title: T")));
    EXPECT_FALSE(off.contains(QLatin1String("<html")));
}

TEST(MultiMarkdownConvert, CmarkGfmsBlocksAndSmartTypographyWithItsFlag)
{
    const char* typography = "\"Quoted\" and 'single' -- en --- em ... it's\n";
    checkConversions({
        {.text = typography,
         .expected = {"\u201CQuoted\u201D and \u2018single\u2019 \u2013 en \u2014 em \u2026 it\u2019s"}},
        {.text = typography,
         .expected = {"&quot;Quoted&quot; and 'single' -- en --- em ... it's"},
         .extensions = Extensions::notes},
        // Tables, strikethrough, autolinks.
        {.text = "| Name | Value |\n|:-----|------:|\n| a | 1 |\n\n~~gone~~ but H~2~O and ~single~ stay\n\n"
                 "See https://example.com and www.example.org.\n",
         .expected = {"<td style=\"text-align:right;\">1</td>", "<del>gone</del>", "H<sub>2</sub>O and <sub>single</sub> stay",
                      "<a href=\"https://example.com\">https://example.com</a>",
                      "<a href=\"http://www.example.org\">www.example.org</a>"}},
        // Raw HTML passes through.
        {.text = "<div class=\"box\">\n*not emphasis*\n</div>\n\nInline <span style=\"color:red\">red</span> text.\n",
         .expected = {"<div class=\"box\">\n*not emphasis*\n</div>", "<span style=\"color:red\">red</span>"}},
        // Transclusion reads no file.
        {.text = "Before {{chapter1.md}} after.\n", .expected = {"Before {{chapter1.md}} after."}},
        // Carriage returns are line breaks.
        {.text = "# Title\r\n\r\nLine one\rline two\r\n",
         .expected = {"<h1 id=\"title\">Title</h1>", "<p>Line one\nline two</p>"}},
    });
}

TEST(MultiMarkdownConvert, NulSurrogatesAndControlsBecomeReplacementsAndNeverCutTheText)
{
    const QString text = QStringLiteral("before") + QChar(0) + QStringLiteral(" after *end* a") + QChar(0xD800)
        + QStringLiteral("b") + QChar(0xDC00) + QStringLiteral("c") + QChar(0x01) + QStringLiteral("d \U0001F600")
        + QStringLiteral("\n\nNext paragraph.");
    const QString html = htmlOf(text);
    EXPECT_TRUE(html.contains(QString::fromUtf8("before\uFFFD after <em>end</em> a\uFFFDb\uFFFDc\uFFFDd \U0001F600")));
    EXPECT_TRUE(html.contains(QLatin1String("Next paragraph.")));
    for (QChar c : html) EXPECT_FALSE(c.unicode() < 0x20 && c != QLatin1Char('\n'));
}

TEST(MultiMarkdownConvert, OnlyHtmlAndMultiMarkdownTextAreProduced)
{
    const QString text = QStringLiteral("# Title\n\nText with a note[^1].\n\n[^1]: Note.\n");
    const QByteArray html = *MultiMarkdown::convertToData(text, test::systemExtensions, OutputFormat::html,
                                                          Language::english, QStringLiteral("/nonexistent"));
    EXPECT_EQ(html, htmlOf(text).toUtf8());
    EXPECT_EQ(MultiMarkdown::convert(text, test::systemExtensions, OutputFormat::multiMarkdown, Language::english),
              std::optional<QString>(text));
    EXPECT_EQ(MultiMarkdown::convertToData(text, test::systemExtensions, OutputFormat::multiMarkdown,
                                           Language::english, QString()),
              std::optional<QByteArray>(text.toUtf8()));
    for (OutputFormat format : {OutputFormat::epub, OutputFormat::latex, OutputFormat::memoir, OutputFormat::beamer,
                                OutputFormat::odt, OutputFormat::fodt, OutputFormat::opml, OutputFormat::itmz,
                                OutputFormat::textBundle, OutputFormat::textBundleCompressed}) {
        EXPECT_FALSE(MultiMarkdown::convert(text, test::systemExtensions, format, Language::english).has_value())
            << format.rawValue;
        EXPECT_FALSE(MultiMarkdown::convertToData(text, test::systemExtensions, format, Language::english, QString())
                         .has_value())
            << format.rawValue;
    }
}

TEST(MultiMarkdownConvert, ApplicationHtmlIsTheOneConversionOfEveryOutput)
{
    const QString text = QStringLiteral("Title: T\n\n# H\n\n\"Quote\" {++in++} note[^1] {{other.md}}\n\n[^1]: N.\n");
    const std::optional<QString> html = MultiMarkdown::applicationHtml(text);
    ASSERT_TRUE(html.has_value());
    EXPECT_EQ(*html, *MultiMarkdown::convert(text, Extensions(0x2218), OutputFormat::html, Language::english));
    EXPECT_TRUE(html->startsWith(QLatin1String("<!DOCTYPE html>")));
    // An excerpt, such as a selection, never begins with metadata.
    const std::optional<QString> excerpt = MultiMarkdown::applicationHtmlOfExcerpt(QStringLiteral("Note: call me\n\n\"Text\"\n"));
    ASSERT_TRUE(excerpt.has_value());
    EXPECT_EQ(*excerpt, QString::fromUtf8("<p>Note: call me</p>\n<p>\u201CText\u201D</p>\n"));
}

TEST(MultiMarkdownConvert, VersionNamesTheEngine)
{
    const QString version = MultiMarkdown::version();
    EXPECT_TRUE(version.startsWith(QLatin1String("cmark-gfm 0.29"))) << version.toStdString();
    EXPECT_TRUE(version.contains(QLatin1String("Lumora MultiMarkdown layer")));
    EXPECT_FALSE(version.contains(QLatin1String("6.6.0")));
}

TEST(MultiMarkdownConvert, ConvertsOnSeveralThreadsAtOnce)
{
    // cmark-gfm switches its inline trigger table at every parse; parses on
    // other threads must not see a half-switched table.
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("Para %1 with ~~strike~~ and {++ins++} and a note[^n].\n\n").arg(i);
    text += QStringLiteral("[^n]: Note.\n");
    const QString expected = htmlOf(text);
    EXPECT_EQ(count(expected, QStringLiteral("<del>strike</del>")), 200);

    std::vector<QString> results(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < results.size(); ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) results[t] = htmlOf(text);
        });
    for (std::thread& thread : threads) thread.join();
    for (const QString& result : results) EXPECT_EQ(result, expected);
}

} // namespace
} // namespace lumora
