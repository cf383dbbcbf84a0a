#include "document/InfoView.h"

#include "document/DocumentData.h"
#include "settings/ViewUtilities.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QImage>

#include <gtest/gtest.h>

using namespace lumora;

TEST(InfoView, ShowsTheSelectionOrTheWholeTextUnderASeparator)
{
    DocumentData data;
    data.textStorage().replaceCharacters(Range(0, 0), QStringLiteral("One two three"));
    InfoView info;
    info.resize(400, info.sizeHint().height());
    info.updateInfo(data, Range(4, 3));
    EXPECT_TRUE(info.infoLabel()->text().startsWith(QStringLiteral("Words: 1, Characters: 3,")));
    info.updateInfo(data, Range(4, 0));
    EXPECT_TRUE(info.infoLabel()->text().startsWith(QStringLiteral("Words: 3, Characters: 13,")));

    // The label's height plus 12 points above and below.
    EXPECT_EQ(info.sizeHint().height(), info.infoLabel()->sizeHint().height() + 24);

    info.show();
    QCoreApplication::processEvents();
    QImage image(info.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    info.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_GT(qAlpha(image.pixel(200, 0)), 0) << "the separator along the top";
    EXPECT_EQ(qAlpha(image.pixel(200, 1)), 0);
}
