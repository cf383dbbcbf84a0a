#include "MultiMarkdownSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <thread>
#include <vector>

namespace lumora {
namespace {

using test::htmlOf;
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

TEST(MultiMarkdownConvert, ControlKeysAloneGiveAFragment)
{
    const QString html = htmlOf(QStringLiteral("Base Header Level: 2\nLanguage: fr\nQuotes Language: french\n"
                                               "LaTeX Mode: memoir\nHTML Header Level: 3\n\n# One\n\n## Two\n"));
    EXPECT_FALSE(html.contains(QLatin1String("<html")));
    EXPECT_FALSE(html.contains(QLatin1String("Language")));
    // htmlheaderlevel wins over baseheaderlevel for HTML.
    EXPECT_TRUE(html.contains(QLatin1String("<h3 id=\"one\">One</h3>")));
    EXPECT_TRUE(html.contains(QLatin1String("<h4 id=\"two\">Two</h4>")));
}

TEST(MultiMarkdownConvert, BaseHeaderLevelShiftsHeadingsUpToSix)
{
    const QString html = htmlOf(QStringLiteral("Base Header Level: 3\n\n# One\n\n#### Four\n\nFive\n====\n"));
    EXPECT_TRUE(html.contains(QLatin1String("<h3 id=\"one\">")));
    EXPECT_TRUE(html.contains(QLatin1String("<h6 id=\"four\">")));
    EXPECT_TRUE(html.contains(QLatin1String("<h3 id=\"five\">")));
    EXPECT_TRUE(htmlOf(QStringLiteral("Base Header Level: 9\n\n# One\n")).contains(QLatin1String("<h1")));
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

TEST(MultiMarkdownConvert, SmartTypographyOnlyWithTheFlag)
{
    const QString text = QStringLiteral("\"Quoted\" and 'single' -- en --- em ... it's\n");
    EXPECT_TRUE(htmlOf(text).contains(QString::fromUtf8("\u201CQuoted\u201D and \u2018single\u2019 \u2013 en \u2014 em \u2026 it\u2019s")));
    EXPECT_TRUE(htmlOf(text, Extensions::notes).contains(QLatin1String("&quot;Quoted&quot; and 'single' -- en --- em ... it's")));
}

TEST(MultiMarkdownConvert, TablesStrikethroughAndAutolinks)
{
    const QString html = htmlOf(QStringLiteral("| Name | Value |\n|:-----|------:|\n| a | 1 |\n\n"
                                               "~~gone~~ but H~2~O and ~single~ stay\n\n"
                                               "See https://example.com and www.example.org.\n"));
    EXPECT_TRUE(html.contains(QLatin1String("<td align=\"right\">1</td>")));
    EXPECT_TRUE(html.contains(QLatin1String("<del>gone</del>")));
    EXPECT_TRUE(html.contains(QLatin1String("H<sub>2</sub>O and <sub>single</sub> stay")));
    EXPECT_TRUE(html.contains(QLatin1String("<a href=\"https://example.com\">https://example.com</a>")));
    EXPECT_TRUE(html.contains(QLatin1String("<a href=\"http://www.example.org\">www.example.org</a>")));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownConvert, HeadingsGetUniqueLowerCasedLabels)
{
    const QString html = htmlOf(QStringLiteral("# Heading One\n\n## Heading One\n\n### Ça *va* `x`, 2.0!\n\n#### !!!\n"));
    EXPECT_TRUE(html.contains(QLatin1String("<h1 id=\"headingone\">Heading One</h1>")));
    EXPECT_TRUE(html.contains(QLatin1String("<h2 id=\"headingone-1\">Heading One</h2>")));
    EXPECT_TRUE(html.contains(QString::fromUtf8("<h3 id=\"çavax2.0\">")));
    EXPECT_TRUE(html.contains(QLatin1String("<h4>!!!</h4>")));

    const QString nested = htmlOf(QStringLiteral("Base Header Level: 2\n\n> # In a quote\n\n- item\n\n  ## In a list\n\n"
                                                 "1. > Setext in both\n   > ---\n"));
    EXPECT_TRUE(nested.contains(QLatin1String("<h2 id=\"inaquote\">In a quote</h2>")));
    EXPECT_TRUE(nested.contains(QLatin1String("<h3 id=\"inalist\">In a list</h3>")));
    EXPECT_TRUE(nested.contains(QLatin1String("<h3 id=\"setextinboth\">Setext in both</h3>")));

    const QString unlabelled = htmlOf(QStringLiteral("# Heading One\n"), test::systemExtensions | Extensions::noLabels);
    EXPECT_TRUE(unlabelled.contains(QLatin1String("<h1>Heading One</h1>")));
}

TEST(MultiMarkdownConvert, RawHtmlPassesThrough)
{
    const QString html = htmlOf(QStringLiteral("<div class=\"box\">\n*not emphasis*\n</div>\n\n"
                                               "Inline <span style=\"color:red\">red</span> text.\n"));
    EXPECT_TRUE(html.contains(QLatin1String("<div class=\"box\">\n*not emphasis*\n</div>")));
    EXPECT_TRUE(html.contains(QLatin1String("<span style=\"color:red\">red</span>")));
}

TEST(MultiMarkdownConvert, TransclusionReadsNoFile)
{
    const QString html = htmlOf(QStringLiteral("Before {{chapter1.md}} after.\n"));
    EXPECT_TRUE(html.contains(QLatin1String("Before {{chapter1.md}} after.")));
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

TEST(MultiMarkdownConvert, CarriageReturnsAreLineBreaks)
{
    const QString html = htmlOf(QStringLiteral("# Title\r\n\r\nLine one\rline two\r\n"));
    EXPECT_TRUE(html.contains(QLatin1String("<h1 id=\"title\">Title</h1>")));
    EXPECT_TRUE(html.contains(QLatin1String("<p>Line one\nline two</p>")));
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
