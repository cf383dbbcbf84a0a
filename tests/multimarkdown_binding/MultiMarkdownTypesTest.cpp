#include "multimarkdown_binding/MultiMarkdown.h"

#include <gtest/gtest.h>

#include <QSet>

#include <unordered_set>

namespace lumora {
namespace {

using Extensions = MultiMarkdown::Extensions;
using OutputFormat = MultiMarkdown::OutputFormat;
using TokenType = MultiMarkdown::TokenType;

TEST(MultiMarkdownExtensions, TheApplicationsFlagsMake0x2218AndFollowTheOptionSetAlgebra)
{
    Extensions flags{Extensions::smart, Extensions::notes, Extensions::critic, Extensions::transclude};
    EXPECT_EQ(flags.rawValue, 0x2218u);
    EXPECT_EQ(Extensions::application, flags);
    EXPECT_EQ((Extensions{Extensions::snippet, Extensions::smart, Extensions::notes}).rawValue, 0x1Cu);
    EXPECT_EQ(Extensions::randomLabels.rawValue, 1u << 16);
    EXPECT_TRUE(flags.isSuperset(Extensions::notes) && !flags.contains(Extensions::complete));
    EXPECT_EQ(flags.subtracting(Extensions::transclude) ^ Extensions::critic, (Extensions{Extensions::smart, Extensions::notes}));
    // insert, remove and update say what was there before.
    EXPECT_FALSE(flags.insert(Extensions::critic));
    EXPECT_EQ(flags.remove(Extensions::critic), std::optional<Extensions>(Extensions::critic));
    EXPECT_EQ(flags.remove(Extensions::critic), std::nullopt);
    EXPECT_EQ(flags.update(Extensions::smart), std::optional<Extensions>(Extensions::smart));
    EXPECT_EQ(flags.update(Extensions::critic), std::nullopt);
    EXPECT_EQ(flags.rawValue, 0x2218u);
}

TEST(MultiMarkdownOutputFormat, CarriesTheLibrarysNumbersNotTheDeclarationOrder)
{
    EXPECT_EQ(OutputFormat::memoir.rawValue, 4);
    EXPECT_EQ(OutputFormat::beamer.rawValue, 3);
    EXPECT_EQ(OutputFormat::multiMarkdown.rawValue, 11);
    EXPECT_EQ(MultiMarkdown::SmartQuotesLanguage::unknown.rawValue, 7);
}

TEST(MultiMarkdownTypes, EqualRawValuesAreEqualAndHashAlike)
{
    EXPECT_EQ(qHash(Extensions(0x2218)), qHash(Extensions(8728)));
    EXPECT_EQ(std::hash<Extensions>()(Extensions(5)), std::hash<Extensions>()(Extensions(5)));
    EXPECT_EQ(TokenType(62), TokenType::blockH1);
    QSet<OutputFormat> formats{OutputFormat::memoir, OutputFormat(4), OutputFormat::beamer};
    EXPECT_EQ(formats.size(), 2);
    std::unordered_set<TokenType> tokens{TokenType::lineHR, TokenType(1)};
    EXPECT_EQ(tokens.size(), 1u);
}

TEST(MultiMarkdownTokenType, NamesTheLibrarysTwoHundredThirteenCodes)
{
    int named = 0;
    for (int code = 0; code <= 300; ++code)
        if (!TokenType(std::uint16_t(code)).description().startsWith(QLatin1String("token"))) ++named;
    EXPECT_EQ(named, 213);

    EXPECT_EQ(TokenType::docStartToken.rawValue, 0);
    EXPECT_EQ(TokenType::lineHR.rawValue, 1);
    EXPECT_EQ(TokenType::lineYAML.rawValue, 4);
    EXPECT_EQ(TokenType::lineStartComment.rawValue, 39);
    EXPECT_EQ(TokenType::blockBlockquote.rawValue, 50);
    EXPECT_EQ(TokenType::blockH1.rawValue, 62);
    EXPECT_EQ(TokenType::manualLabel.rawValue, 222);

    EXPECT_EQ(TokenType(1).description(), QStringLiteral("lineHR"));
    EXPECT_EQ(TokenType(4).description(), QStringLiteral("lineYAML"));
    EXPECT_EQ(TokenType(62).description(), QStringLiteral("blockH1"));
    EXPECT_EQ(TokenType(45).description(), QStringLiteral("token45"));
    EXPECT_EQ(TokenType(223).description(), QStringLiteral("token223"));
}

} // namespace
} // namespace lumora
