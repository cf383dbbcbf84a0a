#include "markdown/ParsedMarkdownStylesheet.h"

#include "platform/text/Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QStringList>

#include <gtest/gtest.h>

using namespace lumora;

namespace {

const Color kText(0.2, 0.3, 0.4, 1.0);

MarkdownStylesheet sheet(std::optional<QString> font = QStringLiteral("DejaVu Serif"),
                         std::optional<double> size = 16.0)
{
    MarkdownStylesheet s;
    s.base.font = std::move(font);
    s.base.size = size;
    return s;
}

Attributes resolve(const MarkdownStylesheet::Style& style, const MarkdownStylesheet& base = sheet())
{
    return ParsedMarkdownStylesheet(base, kText, 0.0).attributes(style);
}

QString family(const QFont& f) { return QFontInfo(f).family(); }

QStringList g_messages;
void collect(QtMsgType, const QMessageLogContext&, const QString& message) { g_messages.append(message); }

bool familyHasItalicFace(const QString& family)
{
    for (const QString& style : QFontDatabase::styles(family))
        if (QFontDatabase::italic(family, style) || style.contains(QLatin1String("Oblique"))) return true;
    return false;
}

} // namespace

TEST(ParsedMarkdownStylesheet, BaseCarriesFontColourAndWhatTheBaseStyleSets)
{
    MarkdownStylesheet s = sheet();
    s.base.kern = 0.5;
    s.base.foregroundColor = MarkdownStylesheet::Color{1, 0, 0, 1};
    const ParsedMarkdownStylesheet parsed(s, kText, 0.5);
    ASSERT_TRUE(parsed.base.font());
    EXPECT_EQ(family(*parsed.base.font()), QStringLiteral("DejaVu Serif"));
    EXPECT_DOUBLE_EQ(fonts::size(*parsed.base.font()), 16.0);
    // The base style's own colour replaces the text colour given.
    EXPECT_EQ(*parsed.base.foregroundColor(), Color(1, 0, 0, 1));
    EXPECT_EQ(*parsed.base.get(AttributeKey::Kern)->number(), 0.5);
    EXPECT_TRUE(parsed.base.paragraphStyle());
    EXPECT_EQ(parsed.paragraphSpacing, 0.5);
    EXPECT_EQ(parsed.foregroundColor, kText);
}

TEST(ParsedMarkdownStylesheet, MissingBaseFontAndSizeComeFromTheDefaultStylesheet)
{
    const auto& fallback = MarkdownStylesheet::defaultStylesheet().base;
    const ParsedMarkdownStylesheet parsed(sheet(std::nullopt, std::nullopt), kText, 0);
    EXPECT_EQ(family(*parsed.base.font()), *fallback.font);
    EXPECT_DOUBLE_EQ(fonts::size(*parsed.base.font()), *fallback.size);
    // Each falls back on its own; an unusable size counts as absent.
    const ParsedMarkdownStylesheet sized(sheet(std::nullopt, 21.0), kText, 0);
    EXPECT_DOUBLE_EQ(fonts::size(*sized.base.font()), 21.0);
    for (double bad : {0.0, -4.0, std::numeric_limits<double>::infinity()}) {
        const ParsedMarkdownStylesheet p(sheet(QStringLiteral("DejaVu Sans"), bad), kText, 0);
        EXPECT_DOUBLE_EQ(fonts::size(*p.base.font()), *fallback.size) << bad;
    }
}

TEST(ParsedMarkdownStylesheet, UnknownBaseFontIsLoggedAndReplacedByTheMonospacedSystemFont)
{
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    const ParsedMarkdownStylesheet parsed(sheet(QStringLiteral("No Such Family 42"), 18.0), kText, 0);
    qInstallMessageHandler(previous);
    ASSERT_EQ(g_messages.size(), 1);
    EXPECT_EQ(g_messages.front(),
              QStringLiteral("Error creating font with name No Such Family 42 and size 18, default to system font."));
    EXPECT_EQ(family(*parsed.base.font()), family(fonts::monospacedSystem(18)));
    EXPECT_DOUBLE_EQ(fonts::size(*parsed.base.font()), 18.0);
}

TEST(ParsedMarkdownStylesheet, StylesHoldOnlyWhatTheySet)
{
    MarkdownStylesheet::Style colourOnly;
    colourOnly.foregroundColor = MarkdownStylesheet::Color{0, 0, 1, 1};
    EXPECT_EQ(resolve(colourOnly), (Attributes{{AttributeKey::ForegroundColor, Color(0, 0, 1, 1)}}));

    // A size gives the base font at that size and its paragraph style, no colour.
    MarkdownStylesheet::Style sized;
    sized.size = 24;
    const Attributes b = resolve(sized);
    ASSERT_TRUE(b.font());
    EXPECT_EQ(family(*b.font()), QStringLiteral("DejaVu Serif"));
    EXPECT_DOUBLE_EQ(fonts::size(*b.font()), 24.0);
    const ParsedMarkdownStylesheet parsed(sheet(), kText, 0);
    EXPECT_EQ(b, (Attributes{{AttributeKey::Font, *b.font()},
                             {AttributeKey::ParagraphStyle, parsed.paragraphStyle(*b.font())}}));

    // A style that sets nothing stays under its name with nothing in it.
    MarkdownStylesheet s = sheet();
    s.styles[QStringLiteral("empty")];
    const ParsedMarkdownStylesheet withEmpty(s, kText, 0);
    ASSERT_TRUE(withEmpty.styles.contains(QStringLiteral("empty")));
    EXPECT_TRUE(withEmpty.styles.value(QStringLiteral("empty")).isEmpty());
}

TEST(ParsedMarkdownStylesheet, NamedFontsAreMadeAtTheDefaultSizeUnlessSized)
{
    const double defaultSize = *MarkdownStylesheet::defaultStylesheet().base.size;
    MarkdownStylesheet::Style named;
    named.font = QStringLiteral("DejaVu Sans Mono");
    const Attributes a = resolve(named, sheet(QStringLiteral("DejaVu Serif"), 25.0));
    EXPECT_EQ(family(*a.font()), QStringLiteral("DejaVu Sans Mono"));
    EXPECT_DOUBLE_EQ(fonts::size(*a.font()), defaultSize);

    named.size = 12;
    EXPECT_DOUBLE_EQ(fonts::size(*resolve(named, sheet(QStringLiteral("DejaVu Serif"), 25.0)).font()), 12.0);

    // A family that does not exist gives the style no font of its own;
    // later font fields then work on the base font.
    MarkdownStylesheet::Style unknown;
    unknown.font = QStringLiteral("No Such Family 42");
    EXPECT_FALSE(resolve(unknown).font());
    unknown.bold = true;
    EXPECT_EQ(family(*resolve(unknown).font()), QStringLiteral("DejaVu Serif"));
}

TEST(ParsedMarkdownStylesheet, FontFieldsCompose)
{
    MarkdownStylesheet::Style s;
    s.size = 20;
    s.bold = true;
    const QFont f = *resolve(s).font();
    EXPECT_EQ(family(f), QStringLiteral("DejaVu Serif"));
    EXPECT_DOUBLE_EQ(fonts::size(f), 20.0);
    EXPECT_TRUE(fonts::symbolicTraits(f) & fonts::Bold);

    // "italic": false sets nothing: an italic base stays italic.
    MarkdownStylesheet italicBase = sheet();
    italicBase.base.italic = true;
    MarkdownStylesheet::Style notItalic;
    notItalic.italic = false;
    const ParsedMarkdownStylesheet parsed(italicBase, kText, 0);
    EXPECT_TRUE(parsed.attributes(notItalic).isEmpty());
    EXPECT_TRUE(parsed.base.font()->italic());

    // Weight comes after the traits and keeps them.
    MarkdownStylesheet::Style weighted;
    weighted.italic = true;
    weighted.weight = 0.4;
    const QFont w = *resolve(weighted).font();
    EXPECT_TRUE(w.italic());
    EXPECT_EQ(w.weight(), QFont::Bold);
}

TEST(ParsedMarkdownStylesheet, ItalicFallsBackToTheSystemFontWhenTheFamilyHasNoItalicFace)
{
    // Which families have italic faces depends on the installed fonts
    // (fonts-dejavu-core has none, fonts-dejavu-extra adds them).
    const QFont serif = *fonts::named(QStringLiteral("DejaVu Serif"), 16);
    const QFont italic = withTrait(serif, fonts::Italic);
    EXPECT_TRUE(italic.italic());
    EXPECT_DOUBLE_EQ(fonts::size(italic), 16.0);
    const QFont system = fonts::system(16);
    if (familyHasItalicFace(QStringLiteral("DejaVu Serif"))) {
        EXPECT_EQ(family(italic), QStringLiteral("DejaVu Serif"));
    } else if (familyHasItalicFace(family(system))) {
        EXPECT_EQ(family(italic), family(system));
        EXPECT_TRUE(fonts::symbolicTraits(italic) & fonts::Italic);
    } else {
        EXPECT_EQ(family(italic), QStringLiteral("DejaVu Serif")); // synthesised slant, same family
    }
    // Bold exists in every DejaVu family.
    EXPECT_TRUE(fonts::symbolicTraits(withTrait(serif, fonts::Bold)) & fonts::Bold);
    EXPECT_EQ(family(withTrait(serif, fonts::Bold)), QStringLiteral("DejaVu Serif"));
}

TEST(ParsedMarkdownStylesheet, ResolvesEveryNonFontField)
{
    MarkdownStylesheet::Style s;
    s.backgroundColor = MarkdownStylesheet::Color{1, 1, 0, 0.5};
    s.underlineStyle = MarkdownStylesheet::UnderlineStyle::thick;
    s.underlineColor = MarkdownStylesheet::Color{1, 0, 0, 1};
    s.kern = 2;
    s.obliqueness = 0.25;
    s.strikethroughStyle = MarkdownStylesheet::UnderlineStyle::patternDot;
    s.strikethroughColor = MarkdownStylesheet::Color{0, 1, 0, 1};
    s.shadowRadius = 2;
    // No font and no paragraph style; without a colour of its own, the shadow takes the text colour.
    Shadow shadow;
    shadow.color = kText;
    shadow.blurRadius = 2.0;
    EXPECT_EQ(resolve(s), (Attributes{{AttributeKey::BackgroundColor, Color(1, 1, 0, 0.5)},
                                      {AttributeKey::UnderlineStyle, 2},
                                      {AttributeKey::UnderlineColor, Color(1, 0, 0, 1)},
                                      {AttributeKey::Kern, 2.0},
                                      {AttributeKey::Obliqueness, 0.25},
                                      {AttributeKey::StrikethroughStyle, 256},
                                      {AttributeKey::StrikethroughColor, Color(0, 1, 0, 1)},
                                      {AttributeKey::Shadow, shadow}}));

    s.foregroundColor = MarkdownStylesheet::Color{0.5, 0.5, 0.5, 1};
    EXPECT_EQ(resolve(s).get(AttributeKey::Shadow)->shadow()->color, Color(0.5, 0.5, 0.5, 1));
}

TEST(ParsedMarkdownStylesheet, ParagraphStyleFollowsTheFont)
{
    ParsedMarkdownStylesheet parsed(sheet(), kText, 0.5);
    const QFont font = *fonts::named(QStringLiteral("DejaVu Serif"), 16);
    const ParagraphStyle p = parsed.paragraphStyle(font);
    // h = 27.2: line heights 24.48 -> 24, spacing 2.72 -> 3, after 13.6 -> 14.
    EXPECT_EQ(p.minimumLineHeight, 24.0);
    EXPECT_EQ(p.maximumLineHeight, 24.0);
    EXPECT_EQ(p.lineSpacing, 3.0);
    EXPECT_EQ(p.paragraphSpacing, 14.0);
    EXPECT_EQ(p.firstLineHeadIndent, 60.0);
    EXPECT_EQ(p.headIndent, 60.0);
    EXPECT_EQ(p.tailIndent, -60.0);
    const double w = 4 * QFontMetricsF(font).horizontalAdvance(QStringLiteral(" "));
    ASSERT_EQ(p.tabStops.size(), 8);
    EXPECT_DOUBLE_EQ(p.tabStops.front(), 60.0 + w);
    EXPECT_DOUBLE_EQ(p.tabStops.back(), 60.0 + 8 * w);
    EXPECT_DOUBLE_EQ(p.defaultTabInterval, w);

    // Halves round away from zero: a 15-point font gives h = 25.5, line
    // spacing 2.55 -> 3, and with one line of spacing 25.5 -> 26.
    parsed.paragraphSpacing = 1.0;
    const ParagraphStyle q = parsed.paragraphStyle(*fonts::named(QStringLiteral("DejaVu Serif"), 15));
    EXPECT_EQ(q.paragraphSpacing, 26.0);
    EXPECT_EQ(q.lineSpacing, 3.0);
}
