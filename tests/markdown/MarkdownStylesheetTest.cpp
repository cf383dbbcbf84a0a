#include "markdown/MarkdownStylesheet.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using lumora::MarkdownStylesheet;

namespace {

MarkdownStylesheet decode(const char* json) { return MarkdownStylesheet::decode(QByteArray(json)); }

bool rejects(const char* json)
{
    try {
        decode(json);
        return false;
    } catch (const MarkdownStylesheet::DecodingError&) {
        return true;
    }
}

QByteArray wrapStyle(const char* style)
{
    return QByteArray(R"({"version": 1, "base": {}, "styles": {"s": )") + style + "}}";
}

} // namespace

TEST(MarkdownStylesheet, DecodesEveryFieldAndExportsSortedPrettyWithoutNulls)
{
    const auto sheet = decode(R"({
        "version": 3, "base": {"font": "DejaVu Serif", "size": 16},
        "styles": {"zeta": {"bold": true}, "empty": {}, "all": {
            "font": "DejaVu Sans", "size": 12.5, "weight": 0.4, "italic": true, "bold": false,
            "underlineStyle": "double", "underlineColor": {"r": 1, "g": 0, "b": 0, "a": 1},
            "foregroundColor": {"r": 0.1, "g": 0.2, "b": 0.3, "a": 0.75},
            "backgroundColor": {"r": 2, "g": -1, "b": 0, "a": 1},
            "kern": 1.5, "obliqueness": 0.2, "shadowRadius": 3,
            "strikethroughStyle": "patternDash", "strikethroughColor": {"r": 0, "g": 0, "b": 1, "a": 0.5}
        }}})");
    using U = MarkdownStylesheet::UnderlineStyle;
    using C = MarkdownStylesheet::Color;
    MarkdownStylesheet expected;
    expected.version = 3;
    expected.base.font = QStringLiteral("DejaVu Serif");
    expected.base.size = 16.0;
    expected.styles[QStringLiteral("zeta")].bold = true;
    expected.styles[QStringLiteral("empty")];
    // Colour components outside 0...1 are passed on unchanged.
    expected.styles[QStringLiteral("all")] = {QStringLiteral("DejaVu Sans"), 12.5, 0.4, true, false, U::doubleLine,
                                             C{1, 0, 0, 1}, C{0.1, 0.2, 0.3, 0.75}, C{2, -1, 0, 1}, 1.5, 0.2, 3.0,
                                             U::patternDash, C{0, 0, 1, 0.5}};
    EXPECT_EQ(sheet, expected);

    const QByteArray json = sheet.encode();
    EXPECT_FALSE(json.contains("null"));
    EXPECT_TRUE(json.contains("\n    \"base\": {\n")) << json.constData(); // one key a line, indented
    // Keys in ascending order at every level.
    for (const auto& [before, after] : {std::pair{"\"base\"", "\"styles\""}, {"\"styles\"", "\"version\""},
                                        {"\"all\"", "\"empty\""}, {"\"empty\"", "\"zeta\""},
                                        {"\"backgroundColor\"", "\"bold\""}, {"\"size\"", "\"strikethroughColor\""},
                                        {"\"a\": 0.75", "\"b\": 0.3"}})
        EXPECT_LT(json.indexOf(before), json.indexOf(after)) << before << " " << after;
    EXPECT_TRUE(json.contains("\"patternDash\""));
    EXPECT_EQ(MarkdownStylesheet::decode(json), sheet);
}

TEST(MarkdownStylesheet, AcceptsWhatTheFormatAllows)
{
    // Empty styles, empty style objects, nulls as absent, unknown keys.
    const auto sheet = decode(R"({"version": 1, "base": {"size": null, "extra": [1]}, "other": 1,
                                  "styles": {"empty": {}, "n": {"font": null, "bold": null}}})");
    EXPECT_EQ(sheet.base, MarkdownStylesheet::Style{});
    EXPECT_EQ(sheet.styles.at(QStringLiteral("empty")), MarkdownStylesheet::Style{});
    EXPECT_EQ(sheet.styles.at(QStringLiteral("n")), MarkdownStylesheet::Style{});
    EXPECT_TRUE(decode(R"({"version": 1, "base": {}, "styles": {}})").styles.empty());
    // 12 and 12.0 are the same size; 1.0 is a whole version number.
    EXPECT_EQ(MarkdownStylesheet::decode(wrapStyle(R"({"size": 12})")),
              MarkdownStylesheet::decode(wrapStyle(R"({"size": 12.0})")));
    EXPECT_EQ(decode(R"({"version": 1.0, "base": {}, "styles": {}})").version, 1);
}

TEST(MarkdownStylesheet, RejectsTheWholeDocumentOnAnyError)
{
    const char* documents[] = {
        "",
        "not json",
        "[1, 2]",
        R"({"base": {}, "styles": {}})",
        R"({"version": 1, "styles": {}})",
        R"({"version": 1, "base": {}})",
        R"({"version": null, "base": {}, "styles": {}})",
        R"({"version": "1", "base": {}, "styles": {}})",
        R"({"version": 1.5, "base": {}, "styles": {}})",
        R"({"version": 1, "base": [], "styles": {}})",
        R"({"version": 1, "base": {}, "styles": []})",
        R"({"version": 1, "base": {}, "styles": {"a": null}})",
        R"({"version": 1, "base": {}, "styles": {"a": 3}})",
    };
    for (const char* d : documents) EXPECT_TRUE(rejects(d)) << d;

    const char* styles[] = {
        R"({"size": "12"})",
        R"({"bold": 1})",
        R"({"italic": "yes"})",
        R"({"font": 12})",
        R"({"underlineStyle": "Single"})",
        R"({"underlineStyle": "wavy"})",
        R"({"strikethroughStyle": 1})",
        R"({"foregroundColor": {"r": 1, "g": 1, "b": 1}})",
        R"({"foregroundColor": {"r": 1, "g": 1, "b": 1, "a": null}})",
        R"({"foregroundColor": {"r": "1", "g": 1, "b": 1, "a": 1}})",
        R"({"foregroundColor": "red"})",
    };
    for (const char* s : styles) EXPECT_TRUE(rejects(wrapStyle(s).constData())) << s;
}

TEST(MarkdownStylesheet, UnderlineStylesMapToAttributeNumbers)
{
    using U = MarkdownStylesheet::UnderlineStyle;
    const std::pair<U, int> table[] = {{U::single, 1}, {U::thick, 2}, {U::doubleLine, 9},
                                       {U::patternDot, 256}, {U::patternDash, 512}};
    for (const auto& [style, number] : table) {
        EXPECT_EQ(MarkdownStylesheet::attributeValue(style), number);
        EXPECT_EQ(MarkdownStylesheet::underlineStyleFromRawValue(MarkdownStylesheet::rawValue(style)), style);
    }
}

TEST(MarkdownStylesheet, DefaultStylesheetCoversEveryStyleName)
{
    const MarkdownStylesheet& sheet = MarkdownStylesheet::defaultStylesheet();
    EXPECT_EQ(&sheet, &MarkdownStylesheet::defaultStylesheet());
    ASSERT_TRUE(sheet.base.font && sheet.base.size);
    EXPECT_EQ(*sheet.base.font, QStringLiteral("DejaVu Serif"));

    const char* names[] = {
        "heading", "heading.text", "italic", "italic.text", "bold", "bold.text", "italicAndBold",
        "italicAndBold.text", "orderedList", "orderedList.text", "unorderedList", "unorderedList.text",
        "blockquote", "blockquote.text", "linkInline", "linkInline.text", "linkInline.url", "linkReference",
        "linkReference.text", "linkReference.reference", "linkDefinition", "linkDefinition.reference",
        "linkDefinition.url", "footnoteInline", "footnoteInline.text", "footnoteDefinition",
        "footnoteDefinition.reference", "footnoteDefinition.text", "citationInline", "citationInline.locator",
        "citationInline.text", "citation", "citationDefinition.reference", "citationDefinition.text",
        "glossaryInline", "glossaryInline.term", "glossaryInline.definition", "glossaryReference",
        "glossaryReference.reference", "glossaryDefinition", "glossaryDefinition.reference",
        "glossaryDefinition.definition", "acronymInline", "acronymInline.term", "acronymInline.definition",
        "acronymReference", "acronymReference.reference", "acronymDefinition", "acronymDefinition.reference",
        "acronymDefinition.definition", "codeblock", "heading.1", "heading.2", "heading.3", "heading.4",
        "heading.5", "heading.6",
    };
    for (const char* name : names) EXPECT_TRUE(sheet.styles.count(QLatin1String(name))) << name;

    // Headings grow with their rank and are bold; code is monospaced.
    double previous = 1000;
    for (int level = 1; level <= 6; ++level) {
        const auto& h = sheet.styles.at(QStringLiteral("heading.%1").arg(level));
        ASSERT_TRUE(h.size);
        EXPECT_LE(*h.size, previous);
        EXPECT_GE(*h.size, *sheet.base.size);
        EXPECT_EQ(h.bold, true);
        previous = *h.size;
    }
    EXPECT_EQ(sheet.styles.at(QStringLiteral("codeblock")).font, QStringLiteral("DejaVu Sans Mono"));
    // The file is in the written form already: exporting it reproduces it.
    EXPECT_EQ(MarkdownStylesheet::decode(sheet.encode()), sheet);
}
