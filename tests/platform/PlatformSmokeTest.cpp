#include "platform/Bundle.h"

#include <gtest/gtest.h>

TEST(Bundle, IdentifiesTheApplication)
{
    EXPECT_EQ(lumora::Bundle::name(), QStringLiteral("Lumora"));
    EXPECT_GE(lumora::Bundle::buildNumber(), 100);
}

TEST(Bundle, FindsResourcesInSubfolders)
{
    EXPECT_TRUE(lumora::Bundle::hasResource(QStringLiteral("typing"), QStringLiteral("wav")));
    EXPECT_TRUE(lumora::Bundle::hasResource(QStringLiteral("Stylesheet"), QStringLiteral("json")));
    EXPECT_FALSE(lumora::Bundle::hasResource(QStringLiteral("nothing-here"), QStringLiteral("wav")));
}
