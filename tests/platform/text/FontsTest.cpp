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

TEST(Fonts, EveryTextFamilyIsMadeInItsOwnFace)
{
    // A family installed from two foundries is listed by the database with
    // the foundry ("Nimbus Sans [urw]"); the writer sees and stores it
    // without. Debian's fonts-urw-base35 installs such families.
    bool anyFoundry = false;
    for (const QString& family : QFontDatabase::families()) anyFoundry |= family != fonts::familyWithoutFoundry(family);
    if (!anyFoundry) GTEST_SKIP() << "no family here is installed from more than one foundry";

    for (const QString& family : fonts::textFamilies()) {
        const auto font = fonts::named(family, 17);
        ASSERT_TRUE(font) << family.toStdString();
        EXPECT_EQ(fonts::familyWithoutFoundry(QFontInfo(*font).family()).compare(family, Qt::CaseInsensitive), 0)
            << family.toStdString() << " shows as " << QFontInfo(*font).family().toStdString();
        EXPECT_DOUBLE_EQ(fonts::size(*font), 17.0);
    }
    // The database's own name, foundry and all, still names the family.
    const QString withFoundry = QFontDatabase::families().filter(QLatin1String(" [")).front();
    const auto exact = fonts::named(withFoundry, 12);
    ASSERT_TRUE(exact);
    EXPECT_EQ(QFontInfo(*exact).family(), withFoundry);
}
