#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/application/Menu.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

using namespace lumora;

TEST(DocumentWindowBase, DrawsItsStripAndContentWithoutAWindowManager)
{
    DocumentWindowBase window;
    auto* content = new QLabel(QStringLiteral("text"));
    content->setAutoFillBackground(true);
    window.setCentralWidget(content);
    window.setColors(QColor(20, 20, 20), QColor(230, 230, 230), QColor(30, 30, 30));
    window.setWindowTitle(QStringLiteral("Notes.md[*]"));
    window.resize(400, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window.titleStrip()->title(), QStringLiteral("Notes.md"));
    // Inside a one-pixel border.
    EXPECT_EQ(window.titleStrip()->geometry(), QRect(1, 1, 398, TitleStrip::stripHeight));
    EXPECT_EQ(content->geometry().top(), 1 + TitleStrip::stripHeight);
    QImage image = window.grab().toImage();
    EXPECT_EQ(image.pixel(200, 2), QColor(30, 30, 30).rgb());
    EXPECT_NE(image.pixel(200, 200), image.pixel(200, 2)); // the content below it
    const QColor border = window.borderColor();
    EXPECT_NE(border, QColor(20, 20, 20));
    for (const QPoint& p : {QPoint(0, 0), QPoint(0, 150), QPoint(399, 150), QPoint(200, 299), QPoint(200, 0)})
        EXPECT_EQ(image.pixel(p), border.rgb()) << p.x() << "," << p.y();
    window.setBorderColor(QColor(200, 0, 0));
    EXPECT_EQ(window.grab().toImage().pixel(0, 150), QColor(200, 0, 0).rgb());

    window.setTitleStripVisible(false);
    QTest::qWait(0);
    EXPECT_FALSE(window.isTitleStripVisible());
    EXPECT_EQ(content->geometry().top(), 1);
    window.setTitleStripVisible(true);

    EXPECT_EQ(window.edgesAt({1, 150}), Qt::LeftEdge);
    EXPECT_EQ(window.edgesAt({399, 299}), Qt::RightEdge | Qt::BottomEdge);
    EXPECT_EQ(window.edgesAt({200, 150}), Qt::Edges());
    EXPECT_FALSE(DocumentWindowBase::applicationIcon().pixmap(32).isNull());
}

TEST(DocumentWindowBase, CarriesTheWindowCommands)
{
    DocumentWindowBase window;
    window.resize(400, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // An untitled standard item gets the platform's title.
    MenuItem fullScreen({}, Command::toggleFullScreen);
    ActionDispatcher::instance().validateItem(fullScreen, &window);
    EXPECT_EQ(fullScreen.title(), QStringLiteral("Enter Full Screen"));

    window.toggleMaximized();
    EXPECT_TRUE(window.isMaximized());
    // A maximised window has no border: its edges are the screen's.
    EXPECT_FALSE(window.hasBorder());
    QTest::qWait(0);
    EXPECT_EQ(window.titleStrip()->geometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(window.titleStrip()->maximizeButton()->kind(), TitleStripButton::Kind::restore);
    QTest::mouseDClick(window.titleStrip(), Qt::LeftButton, {}, QPoint(200, 10));
    EXPECT_FALSE(window.isMaximized());

    // Without a window manager to move it, dragging the strip moves the window.
    const QPoint before = window.pos();
    QTest::mousePress(window.titleStrip(), Qt::LeftButton, {}, QPoint(200, 10));
    QTest::mouseMove(window.titleStrip(), QPoint(230, 30));
    QTest::mouseMove(window.titleStrip(), QPoint(260, 50));
    QTest::mouseRelease(window.titleStrip(), Qt::LeftButton, {}, QPoint(260, 50));
    EXPECT_EQ(window.pos() - before, QPoint(60, 40));

    QTest::mouseClick(window.titleStrip()->closeButton(), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
}
