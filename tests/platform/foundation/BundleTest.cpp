#include "platform/foundation/Bundle.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace lumora;

TEST(Bundle, FindsItsResources)
{
    EXPECT_TRUE(Bundle::hasResource("Stylesheet", "json"));
    EXPECT_TRUE(Bundle::hasResource("typing", "wav")); // found inside its subfolder
    EXPECT_FALSE(Bundle::hasResource("NoSuchResource", "json"));
    EXPECT_TRUE(Bundle::resourcePath("NoSuchResource", "json").isEmpty());
    EXPECT_EQ(Bundle::resourceUrl("Stylesheet", "json").scheme(), QStringLiteral("qrc"));
    EXPECT_FALSE(Bundle::resourceData("Stylesheet", "json").isEmpty());
}

TEST(Bundle, LogLevelComesFromTheFirstLogArgument)
{
    const std::pair<QStringList, int> table[] = {
        {{"lumora", "-log", "2"}, 2},
        {{"lumora", "-log", "0"}, 0},
        {{"lumora", "-log", "3"}, 3},
        {{"lumora", "-log", "7"}, 0},
        {{"lumora", "-log", "-1"}, 0},
        {{"lumora", "-log", "two"}, 0},
        {{"lumora", "-log", ""}, 0},
        {{"lumora", "-log"}, 0},
        {{"lumora", "-log", "1", "-log", "3"}, 1},
        {{"lumora", "file.md", "-log", "2"}, 2},
        {{"lumora", "--log", "2"}, 0},
        {{"lumora"}, 0},
    };
    for (const auto& [arguments, level] : table)
        EXPECT_EQ(parseLogLevel(arguments), level) << arguments.join(' ').toStdString();
    EXPECT_EQ(logLevel(), 0); // the test runner passes no "-log"
}
