#include "platform/text/Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>

#include <gtest/gtest.h>

using namespace lumora;

TEST(Fonts, ObliqueFacesCountAsItalic)
{
    // DejaVu Sans has an "Oblique" face where fonts-dejavu-extra is
    // installed, and none with fonts-dejavu-core alone.
    const QString family = QStringLiteral("DejaVu Sans");
    bool hasOblique = false;
    for (const QString& style : QFontDatabase::styles(family)) hasOblique |= style.contains("Oblique");
    const auto sans = fonts::named(family, 14);
    ASSERT_TRUE(sans);
    EXPECT_EQ(fonts::withTraits(*sans, fonts::Italic).has_value(), hasOblique);
}

TEST(Fonts, SizesArePointsDrawnAsPixels)
{
    const auto serif = fonts::named(QStringLiteral("dejavu serif"), 17);
    ASSERT_TRUE(serif);
    EXPECT_EQ(QFontInfo(*serif).family(), QStringLiteral("DejaVu Serif"));
    EXPECT_DOUBLE_EQ(fonts::size(*serif), 17.0);
    EXPECT_FALSE(fonts::named(QStringLiteral("No Such Family 42"), 17));
    EXPECT_TRUE(fonts::symbolicTraits(*fonts::named(QStringLiteral("DejaVu Sans Mono"), 12)) & fonts::MonoSpace);
}
