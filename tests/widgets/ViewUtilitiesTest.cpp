#include "widgets/ViewUtilities.h"

#include "platform/files/UserDefaults.h"
#include "settings/Theme.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QScreen>
#include <QStandardItemModel>
#include <QTest>

#include <gtest/gtest.h>

using namespace lumora;

namespace {

void settle(QWidget* window)
{
    window->show();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

TEST(ViewUtilities, FormRowsInAColumnLineUpWhereTheirGroupsMeet)
{
    QList<QWidget*> trailing;
    QList<QWidget*> rows;
    for (const char* text : {"Foreground", "A", "Much longer label text"}) {
        auto* field = new QLineEdit;
        trailing << field;
        rows << new PivotedStackView({views::label(QString::fromUtf8(text))}, {field});
    }
    trailing << new QLineEdit; // a row with nothing leading lines up too
    rows << new PivotedStackView({}, {trailing.last()});
    std::unique_ptr<QWidget> column(views::verticalStack(rows, Qt::AlignLeft, 8, edgeInsets(8, 8, 8, 8)));
    settle(column.get());
    const int x = trailing[0]->mapTo(column.get(), QPoint()).x();
    EXPECT_GT(x, 8);
    for (QWidget* field : trailing) EXPECT_EQ(field->mapTo(column.get(), QPoint()).x(), x);
}

TEST(ViewUtilities, ACentredLabelKeepsItsInsetsAndCutsItsText)
{
    QWidget line;
    line.resize(300, 60);
    auto* label = views::label(QStringLiteral("Words: 3"));
    views::centerHorizontally(label, &line, edgeInsets(12, 16, 12, 16));
    settle(&line);
    EXPECT_NEAR(label->geometry().center().x(), 150, 1);
    EXPECT_GE(label->x(), 16);

    // Narrower than its text: cut with an ellipsis, whole in the tool tip,
    // never closer than 16 points to the sides.
    line.resize(80, 60);
    label->setText(QStringLiteral("Words: 1,234, Characters: 5,678, Reading: 4 min, 56 sec"));
    QCoreApplication::processEvents();
    label->repaint();
    EXPECT_GE(label->x(), 16);
    EXPECT_LE(label->geometry().right(), 80 - 16);
    EXPECT_EQ(label->toolTip(), label->text());
}

TEST(ViewUtilities, RowsToActOnPreferTheClickedRowOutsideTheSelection)
{
    QStandardItemModel model;
    for (int i = 0; i < 8; ++i) model.appendRow(new QStandardItem(QString::number(i)));
    QListView list;
    list.setModel(&model);
    list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    list.selectionModel()->select(model.index(3, 0), QItemSelectionModel::Select);
    list.selectionModel()->select(model.index(2, 0), QItemSelectionModel::Select);
    const auto rows = [](const QModelIndexList& indexes) {
        QList<int> list;
        for (const auto& index : indexes) list << index.row();
        return list;
    };
    EXPECT_EQ(rows(views::rowsToActOn(&list, model.index(5, 0))), QList<int>{5});
    EXPECT_EQ(rows(views::rowsToActOn(&list, model.index(3, 0))), (QList<int>{2, 3}));
    EXPECT_EQ(rows(views::rowsToActOn(&list, QModelIndex())), (QList<int>{2, 3}));
}

TEST(ViewUtilities, AWindowFirstRestoredIsCentredAndThenComesBackWhereItWas)
{
    const QString name = QStringLiteral("testWindow");
    UserDefaults::standard().remove(QStringLiteral("NSWindow Frame testWindow"));
    {
        QWidget window;
        new QLabel(QStringLiteral("content"), &window); // a window with children, as every real one
        window.resize(400, 300);
        views::restoreFrame(&window, name);
        const QRect area = window.screen()->availableGeometry();
        EXPECT_EQ(window.size(), QSize(400, 300));
        EXPECT_NEAR(window.geometry().center().x(), area.center().x(), 1);
        EXPECT_NEAR(window.geometry().center().y(), area.center().y(), 1);
        settle(&window);
        window.setGeometry(30, 40, 320, 200);
        QCoreApplication::processEvents();
        window.hide(); // saves at once
    }
    EXPECT_TRUE(UserDefaults::standard().contains(QStringLiteral("NSWindow Frame testWindow")));
    QWidget again;
    EXPECT_TRUE(views::restoreFrame(&again, name));
    EXPECT_EQ(again.geometry(), QRect(30, 40, 320, 200));

    // Saved on a screen that is gone: its size, centred where it can be
    // seen, and the caller is told it is not where it was.
    const QRect area = again.screen()->availableGeometry();
    again.setGeometry(area.right() + 4000, area.bottom() + 4000, 330, 210);
    UserDefaults::standard().set(QStringLiteral("NSWindow Frame testWindow"), again.saveGeometry());
    QWidget faraway;
    EXPECT_FALSE(views::restoreFrame(&faraway, name));
    EXPECT_EQ(faraway.size(), QSize(330, 210));
    EXPECT_NEAR(faraway.geometry().center().x(), area.center().x(), 1);
    EXPECT_NEAR(faraway.geometry().center().y(), area.center().y(), 1);
    UserDefaults::standard().remove(QStringLiteral("NSWindow Frame testWindow"));
}

TEST(ViewUtilities, ASplitViewRemembersWidthsAndCollapsedPanes)
{
    const QString name = QStringLiteral("testSplit");
    UserDefaults::standard().remove(QStringLiteral("NSSplitView Subview Frames testSplit"));
    EXPECT_FALSE(SplitView::hasSavedState(name));
    const auto make = [&] {
        return std::make_unique<SplitView>(QList<SplitView::Item>{{new QWidget, true, true, 251},
                                                                  {new QWidget, false, false, 250},
                                                                  {new QWidget, true, true, 251}},
                                           name);
    };
    {
        auto split = make();
        split->resize(900, 400);
        settle(split.get());
        EXPECT_TRUE(split->isItemCollapsed(0));
        EXPECT_TRUE(split->isItemCollapsed(2));
        EXPECT_EQ(split->sizes()[1], 900);

        split->setItemCollapsed(2, false);
        EXPECT_FALSE(split->isItemCollapsed(2));
        split->setSizes({0, 700, 200 - split->handleWidth()});
        split->setItemCollapsed(2, true);
        EXPECT_EQ(split->sizes()[1], 900) << "the editor takes the room back";
        split->setItemCollapsed(2, false);
        EXPECT_EQ(split->sizes()[2], 200 - split->handleWidth()) << "the pane comes back at its width";
    }
    EXPECT_TRUE(SplitView::hasSavedState(name));
    auto split = make();
    split->resize(900, 400);
    settle(split.get());
    EXPECT_TRUE(split->isItemCollapsed(0));
    EXPECT_FALSE(split->isItemCollapsed(2));
    EXPECT_EQ(split->sizes()[2], 200 - split->handleWidth());
}

// Many desktops draw no shadow around a window without a frame: the edge
// alone keeps a window apart from another of the same theme behind it, on
// the page and on the chrome of its panes and strip, in every theme.
TEST(ViewUtilities, AWindowEdgeStandsApartFromItsOwnThemeInEveryTheme)
{
    EXPECT_NEAR(views::contrastRatio(Qt::black, Qt::white), 21.0, 0.01);
    EXPECT_NEAR(views::contrastRatio(QColor(90, 90, 90), QColor(90, 90, 90)), 1.0, 1e-9);
    std::vector<std::pair<QColor, QColor>> themes; // background, text
    for (const auto& theme : Theme::defaultThemes())
        themes.emplace_back(theme->backgroundColor.toQColor(), theme->foregroundColor.toQColor());
    // Themes of the writer's own: mid-grey, a text colour the page's own,
    // a text colour barely apart, saturated pages.
    themes.insert(themes.end(), {{QColor(128, 128, 128), QColor(20, 20, 20)},
                                 {QColor(200, 200, 200), QColor(200, 200, 200)},
                                 {QColor(20, 24, 30), QColor(28, 30, 36)},
                                 {QColor(0, 0, 255), QColor(255, 255, 0)},
                                 {QColor(255, 255, 255), QColor(0, 0, 0)},
                                 {QColor(0, 0, 0), QColor(0, 0, 0)},
                                 {QColor(255, 255, 255), QColor(255, 255, 255)}});
    for (const auto& [background, foreground] : themes) {
        const QColor edge = views::windowEdgeColor(background, foreground);
        const QColor chrome = views::chromeColor(background, foreground);
        SCOPED_TRACE(background.name().toStdString() + " " + foreground.name().toStdString() + " -> " +
                     edge.name().toStdString());
        EXPECT_GE(views::contrastRatio(edge, background), views::windowEdgeContrast);
        EXPECT_GE(views::contrastRatio(edge, chrome), views::windowEdgeContrast);
        // No louder than it needs to be: never the text colour itself when
        // a shade between does.
        if (views::contrastRatio(background, foreground) > 3.0) {
            EXPECT_NE(edge.rgb(), foreground.rgb());
        }
    }
}
