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
