#include "platform/Bundle.h"

#include <gtest/gtest.h>

TEST(Bundle, IdentifiesTheApplication)
{
    EXPECT_EQ(lumora::Bundle::name(), QStringLiteral("Lumora"));
    EXPECT_GE(lumora::Bundle::buildNumber(), 100);
}
