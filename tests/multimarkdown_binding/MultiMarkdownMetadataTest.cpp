#include "MultiMarkdownSupport.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using Extensions = MultiMarkdown::Extensions;

const QString withMetadata = QStringLiteral("Title: A Walk\nBase Header Level: 2\nAuthor Name: Kim\n"
                                            "    and Lee\ntitle: Later Title\n\n# Body\n");

TEST(MultiMarkdownMetadata, KeysInOrderLowerCasedWithoutSpaces)
{
    EXPECT_TRUE(MultiMarkdown::hasMetadata(withMetadata, test::systemExtensions));
    const std::optional<QStringList> keys = MultiMarkdown::metadataKeys(withMetadata, test::systemExtensions);
    ASSERT_TRUE(keys.has_value());
    EXPECT_EQ(*keys, (QStringList{QStringLiteral("title"), QStringLiteral("baseheaderlevel"),
                                  QStringLiteral("authorname")}));
}

TEST(MultiMarkdownMetadata, ValuesByKeyAndAsADictionary)
{
    EXPECT_EQ(MultiMarkdown::metadataValue(withMetadata, test::systemExtensions, QStringLiteral("Author Name")),
              std::optional<QString>(QStringLiteral("Kim\nand Lee")));
    // A key met twice keeps the later value.
    EXPECT_EQ(MultiMarkdown::metadataValue(withMetadata, test::systemExtensions, QStringLiteral("TITLE")),
              std::optional<QString>(QStringLiteral("Later Title")));
    EXPECT_EQ(MultiMarkdown::metadataValue(withMetadata, test::systemExtensions, QStringLiteral("missing")),
              std::nullopt);

    const std::optional<QHash<QString, QString>> all = MultiMarkdown::metadata(withMetadata, test::systemExtensions);
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(all->size(), 3);
    EXPECT_EQ(all->value(QStringLiteral("title")), QStringLiteral("Later Title"));
    EXPECT_EQ(all->value(QStringLiteral("baseheaderlevel")), QStringLiteral("2"));
}

TEST(MultiMarkdownMetadata, ATextWithoutMetadataHasNone)
{
    const QString text = QStringLiteral("# Just a heading\n\nTitle: not metadata here\n");
    EXPECT_FALSE(MultiMarkdown::hasMetadata(text, test::systemExtensions));
    EXPECT_EQ(MultiMarkdown::metadataKeys(text, test::systemExtensions), std::nullopt);
    EXPECT_EQ(MultiMarkdown::metadata(text, test::systemExtensions), std::nullopt);
    EXPECT_EQ(MultiMarkdown::metadataValue(text, test::systemExtensions, QStringLiteral("title")), std::nullopt);
    EXPECT_EQ(MultiMarkdown::metadata(QString(), test::systemExtensions), std::nullopt);
}

// A first line with nothing after its colon ("Ingredients:") is text; later
// in a block, a key may have no value.
TEST(MultiMarkdownMetadata, AFirstKeyWithoutAValueIsText)
{
    for (const char* text : {"Ingredients:\n- flour\n- sugar\n\nMix.\n", "Todo:\n\n- milk\n", "Ingredients:\nflour\n"}) {
        EXPECT_FALSE(MultiMarkdown::hasMetadata(QString::fromUtf8(text), test::systemExtensions)) << text;
    }
    test::checkConversions({
        {.text = "Ingredients:\n- flour\n- sugar\n\nMix.\n",
         .expected = {"<p>Ingredients:</p>\n<ul>\n<li>flour</li>\n<li>sugar</li>\n</ul>\n<p>Mix.</p>"},
         .absent = {"<head>"}},
        {.text = "Todo:\n\n- milk\n", .expected = {"<p>Todo:</p>\n<ul>\n<li>milk</li>"}, .absent = {"<head>"}},
        {.text = "Ingredients:\nflour\n", .expected = {"<p>Ingredients:\nflour</p>"}, .absent = {"<head>"}},
    });
    const QString later = QStringLiteral("Title: Notes\nTodo:\n\nBody.\n");
    EXPECT_EQ(MultiMarkdown::metadataValue(later, test::systemExtensions, QStringLiteral("todo")),
              std::optional<QString>(QString()));
    const QString html = test::htmlOf(later);
    EXPECT_TRUE(html.contains(QLatin1String("<title>Notes</title>"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QLatin1String("<p>Body.</p>"))) << html.toStdString();
    EXPECT_FALSE(html.contains(QLatin1String("Todo"))) << html.toStdString();
}

TEST(MultiMarkdownMetadata, TheNoMetadataFlagHidesIt)
{
    for (Extensions flag : {Extensions::noMetadata, Extensions::compatibility}) {
        EXPECT_FALSE(MultiMarkdown::hasMetadata(withMetadata, flag));
        EXPECT_EQ(MultiMarkdown::metadataKeys(withMetadata, flag), std::nullopt);
        EXPECT_EQ(MultiMarkdown::metadata(withMetadata, flag), std::nullopt);
    }
}

} // namespace
} // namespace lumora
